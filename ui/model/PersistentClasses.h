#pragma once
// The classes a component stream may name: every persistent class of the program, from the core's
// nodes to the labels, processes and reports built on it. The stream reader only looks names up
// (TClassRegistry, core/Component.h); every program registers the classes once, first thing in its
// main, and a name not registered reads as an unknown class.

namespace vexa {

// Registers every persistent class with the class registry (idempotent).
void RegisterPersistentClasses();

}  // namespace vexa
