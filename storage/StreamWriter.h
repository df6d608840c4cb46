#pragma once
// Writing one persistent object as a component stream.

#include <QByteArray>

#include "core/Component.h"
#include "storage/StreamFormat.h"

namespace vexa {

// The component stream of one object. Marks it as being written meanwhile, so registers answer
// from their cached values and never touch the line. Raises EStreamError for a name that does not
// fit the format.
QByteArray WriteComponent(TComponent& component);

}  // namespace vexa
