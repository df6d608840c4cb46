#pragma once
// The bodies of the persistence fuzz targets, shared with the corpus regression test: each takes
// one input, must never crash, and checks what it can about what it read.

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/Component.h"
#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "ui/model/PersistentClasses.h"

namespace vexa::fuzz {

[[noreturn]] inline void Fail(const char* what, const QByteArray& a, const QByteArray& b) {
  std::fprintf(stderr, "%s\n%s\n%s\n", what, a.toHex(' ').constData(), b.toHex(' ').constData());
  std::abort();
}

inline void Init() {
  static const bool done = (RegisterPersistentClasses(), true);
  (void)done;
}

// A stream that reads must write and read again; after one pass through the writer (properties at
// their defaults drop out) the bytes no longer change.
inline int ComponentStreamOne(const uint8_t* data, size_t size) {
  Init();
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  std::unique_ptr<TComponent> first;
  try {
    first = ReadComponent(bytes);
  } catch (const EStreamError&) {
    return 0;
  }
  try {
    const QByteArray once = WriteComponent(*first);
    auto second = ReadComponent(once);
    const QByteArray twice = WriteComponent(*second);
    auto third = ReadComponent(twice);
    const QByteArray thrice = WriteComponent(*third);
    if (twice != thrice) Fail("writing is not stable", twice, thrice);
  } catch (const EStreamError& e) {
    Fail(e.what(), bytes, QByteArray());
  }
  return 0;
}

inline int CountNodes(const TComponent& c) {
  int n = 1;
  for (int i = 0; i < c.ComponentCount(); ++i) n += CountNodes(*c.Component(i));
  return n;
}

// Compound-file bytes loaded as a tree: either a tree comes back or EStreamError, nothing else.
inline int CompoundLoadOne(const uint8_t* data, size_t size) {
  Init();
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  auto handler = TStgHandler::OpenImage(bytes);
  std::unique_ptr<TComponent> tree;
  try {
    handler->LoadTree(tree);
  } catch (const EStreamError&) {
    if (tree) Fail("a failed load left a tree behind", bytes, QByteArray());
    return 0;
  }
  if (tree && CountNodes(*tree) < 1) Fail("empty tree", bytes, QByteArray());
  return 0;
}

// A configuration text: either refused with a place and a reason, or read into a file whose own
// text reads back into the same text.
inline int ConfigTextOne(const uint8_t* data, size_t size) {
  Init();
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  std::unique_ptr<CompoundFile> file;
  try {
    file = CompoundFileFromText(QString::fromUtf8(bytes));
  } catch (const ETextError& e) {
    if (e.Line < 1 || e.Column < 1 || e.Reason.isEmpty())
      Fail("a fault without a place", bytes, QByteArray());
    return 0;
  }
  const QString text = ConfigTextLines(file->Root()).join(QLatin1Char('\n'));
  try {
    const QString again = ConfigTextLines(CompoundFileFromText(text)->Root()).join(QLatin1Char('\n'));
    if (again != text) Fail("the text does not read back", text.toUtf8(), again.toUtf8());
  } catch (const ETextError& e) {
    Fail(e.what(), bytes, text.toUtf8());
  }
  return 0;
}

}  // namespace vexa::fuzz
