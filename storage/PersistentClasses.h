#pragma once
// The classes a component stream may name: every persistent class of the program, from the core's
// nodes to the labels, processes and reports built on it.

#include <QString>

#include "core/Component.h"

namespace vexa {

// Registers every persistent class with the class registry (idempotent).
void RegisterPersistentClasses();
// The registered class of that streamed name (registering them all first); null when none.
const TClassInfo* FindPersistentClass(const QString& name);

}  // namespace vexa
