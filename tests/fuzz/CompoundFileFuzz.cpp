// libFuzzer target for the compound-file reader. Whatever opens must also save, and the saved
// image must open again to the same tree.
//
// scripts/fuzz CompoundFileFuzz SECONDS builds it in build-fuzz/ and runs it on a copy of
// tests/fuzz/corpus/compound.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>

#include "storage/CompoundFile.h"

namespace {

using TTreeMap = std::map<QString, std::optional<QByteArray>>;

void Describe(const vexa::CompoundStorage& s, const QString& prefix, TTreeMap& out) {
  for (const QString& name : s.StorageNames()) {
    out[prefix + name] = std::nullopt;
    Describe(*s.OpenStorage(name), prefix + name + QLatin1Char('/'), out);
  }
  for (const QString& name : s.StreamNames()) out[prefix + name] = s.Stream(name);
}

[[noreturn]] void Fail(const char* what, const QString& detail) {
  std::fprintf(stderr, "%s: %s\n", what, qPrintable(detail));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString error;
  const auto file = vexa::CompoundFile::OpenBytes(bytes, &error);
  if (!file) {
    if (error.isEmpty()) Fail("refused without a reason", QString());
    return 0;
  }
  const auto saved = file->ToBytes(&error);
  if (!saved) Fail("a file that opened cannot be saved", error);
  const auto again = vexa::CompoundFile::OpenBytes(*saved, &error);
  if (!again) Fail("a saved file does not open", error);
  TTreeMap before, after;
  Describe(file->Root(), QString(), before);
  Describe(again->Root(), QString(), after);
  if (before != after) Fail("a saved file opens to another tree", QString());
  return 0;
}
