#pragma once
// A benchmark's setup step that must not fail: a figure measured on a failed save or load means
// nothing, so the run ends with the faults' texts.

#include <cstdio>
#include <cstdlib>

#include "core/Faults.h"

namespace vexa {

inline void MustSucceed(const TFaults& faults) {
  if (faults.Empty()) return;
  std::fprintf(stderr, "setup failed: %s\n", qPrintable(faults.Texts().join(QStringLiteral("; "))));
  std::exit(1);
}

}  // namespace vexa
