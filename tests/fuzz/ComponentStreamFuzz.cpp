// libFuzzer target for the component stream reader (see PersistFuzzBodies.h).
//
// scripts/fuzz ComponentStreamFuzz SECONDS builds it in build-fuzz/ and runs it on a copy of
// tests/fuzz/corpus/stream.

#include "fuzz/PersistFuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vexa::fuzz::ComponentStreamOne(data, size);
}
