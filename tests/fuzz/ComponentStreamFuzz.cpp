// libFuzzer target for the component stream reader (see PersistFuzzBodies.h).
//
// Build and run: see tests/fuzz/README-persist.md.

#include "fuzz/PersistFuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vexa::fuzz::ComponentStreamOne(data, size);
}
