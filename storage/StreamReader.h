#pragma once
// Reading one persistent object from a component stream.

#include <QByteArray>
#include <memory>

#include "core/Component.h"
#include "storage/StreamFormat.h"
#include "storage/StreamParser.h"

namespace vexa {

// Reads one object from a component stream: a new instance of the named registered class with no
// owner, its properties assigned while it is marked as loading and reading, then told Loaded.
// Raises EStreamError for a malformed stream; nothing is left behind then.
std::unique_ptr<TComponent> ReadComponent(const QByteArray& bytes);
// The object a parsed stream describes, built as ReadComponent builds it. An unknown class, an
// unknown or read-only property or a value its property cannot take raises EStreamRecordError
// naming the culprit.
std::unique_ptr<TComponent> BuildComponent(const TParsedStream& stream);

}  // namespace vexa
