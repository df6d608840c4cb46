// libFuzzer target: a configuration text read into a file (see PersistFuzzBodies.h).
//
// scripts/fuzz ConfigTextFuzz SECONDS builds it in build-fuzz/ and runs it on a copy of
// tests/fuzz/corpus/text.

#include "fuzz/PersistFuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vexa::fuzz::ConfigTextOne(data, size);
}
