// libFuzzer target for the component stream reader (see PersistFuzzBodies.h).
//
// With vexa_core built by clang in build-fuzz (CMAKE_CXX_COMPILER=clang++, -DVEXA_GUI=OFF,
// CMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"):
// clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer -fPIC \
//   -DQT_NO_KEYWORDS -I. -Itests -Ibuild-fuzz/generated $(pkg-config --cflags Qt6Core) \
//   tests/fuzz/ComponentStreamFuzz.cpp build-fuzz/libvexa_core.a $(pkg-config --libs Qt6Core) \
//   -o build-fuzz/ComponentStreamFuzz
// build-fuzz/ComponentStreamFuzz -max_total_time=600 tests/fuzz/corpus/stream

#include "fuzz/PersistFuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vexa::fuzz::ComponentStreamOne(data, size);
}
