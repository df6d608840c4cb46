#pragma once
// Writing one persistent object as a component stream.

#include <QByteArray>

#include "core/Component.h"
#include "storage/StreamFormat.h"
#include "storage/StreamParser.h"

namespace vexa {

// The component stream of one object. Marks it as being written meanwhile, so registers answer
// from their cached values and never touch the line. Raises EStreamError for a name that does not
// fit the format.
QByteArray WriteComponent(TComponent& component);
// The same stream written over `stream` from its start: when the old content is longer its tail
// stays behind the new bytes. The buffer is reused, so a save that rewrites a file it read takes
// no more memory than the file. After an error the stream is left part written.
void WriteComponentOver(TComponent& component, QByteArray& stream);
// The same, into a buffer used as room: it grows when the stream needs more and never shrinks.
// Returns the stream's length; the buffer's bytes after it are left as they were.
qsizetype WriteComponentInto(TComponent& component, QByteArray& buffer);
// The length of the stream WriteComponent would give, found without making it; raises as
// WriteComponent does.
qsizetype ComponentStreamSize(TComponent& component);
// The stream into `room`, of the length ComponentStreamSize gave: raises EStreamError when it
// comes out of another length (the object changed meanwhile), having written no byte past room.
void WriteComponentTo(TComponent& component, char* room, qsizetype length);
// The bytes of a parsed stream, its records in their order, each value encoded as WriteComponent
// encodes it: the smallest integer tag, vaString or vaLString by length, extended floats from
// doubles. Raises EStreamRecordError for a name or an identifier longer than 255 bytes.
QByteArray WriteParsedStream(const TParsedStream& stream);

}  // namespace vexa
