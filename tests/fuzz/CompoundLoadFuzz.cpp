// libFuzzer target: a component tree loaded from compound-file bytes (see PersistFuzzBodies.h).
//
// scripts/fuzz CompoundLoadFuzz SECONDS builds it in build-fuzz/ and runs it on a copy of
// tests/fuzz/corpus/tree.

#include "fuzz/PersistFuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vexa::fuzz::CompoundLoadOne(data, size);
}
