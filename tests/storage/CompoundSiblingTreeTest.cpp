// The sibling trees of written files, read back from the bytes by the format's rules alone: each
// storage's children must form a binary search tree in the format's name order, coloured as a
// valid red-black tree, since writers that change a file in place rebalance by those colours.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "storage/CompoundFile.h"

namespace vexa {
namespace {

constexpr quint32 kNone = 0xFFFFFFFF;
constexpr quint32 kEnd = 0xFFFFFFFE;

quint32 Le32(const QByteArray& b, qint64 at) {
  if (at < 0 || at + 4 > b.size()) return kNone;
  quint32 v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uchar>(b[at + i]);
  return v;
}

quint16 Le16(const QByteArray& b, qint64 at) {
  return static_cast<quint16>(static_cast<uchar>(b[at]) | (static_cast<uchar>(b[at + 1]) << 8));
}

struct TDirEntry {
  QString Name;
  uchar Type = 0;
  uchar Colour = 0;
  quint32 Left = kNone, Right = kNone, Child = kNone;
};

// The directory of a file image: the allocation table's sectors from the header's list and the
// list's own chain, then the directory's chain through the table. Problems go to *problems.
std::vector<TDirEntry> ParseDirectory(const QByteArray& b, QStringList* problems) {
  if (b.size() < 512) {
    *problems << QStringLiteral("shorter than a header");
    return {};
  }
  const qint64 sectorSize = qint64{1} << Le16(b, 0x1E);
  const qint64 perSector = sectorSize / 4;
  auto offset = [&](quint32 sector) { return (static_cast<qint64>(sector) + 1) * sectorSize; };
  const quint32 numFat = Le32(b, 0x2C);
  std::vector<quint32> fatSectors;
  for (int i = 0; i < 109 && fatSectors.size() < numFat; ++i) fatSectors.push_back(Le32(b, 0x4C + 4 * i));
  for (quint32 list = Le32(b, 0x44), k = 0; fatSectors.size() < numFat && k < Le32(b, 0x48); ++k) {
    for (qint64 i = 0; i + 1 < perSector && fatSectors.size() < numFat; ++i)
      fatSectors.push_back(Le32(b, offset(list) + 4 * i));
    list = Le32(b, offset(list) + 4 * (perSector - 1));
  }
  std::vector<quint32> fat;
  for (quint32 s : fatSectors)
    for (qint64 i = 0; i < perSector; ++i) fat.push_back(Le32(b, offset(s) + 4 * i));

  std::vector<TDirEntry> dir;
  for (quint32 s = Le32(b, 0x30); s != kEnd; s = fat[s]) {
    if (s >= fat.size() || offset(s) + sectorSize > b.size() || dir.size() > fat.size() * 4) {
      *problems << QStringLiteral("directory chain broken at sector %1").arg(s);
      return {};
    }
    for (qint64 at = offset(s); at < offset(s) + sectorSize; at += 128) {
      TDirEntry e;
      const int units = std::clamp(Le16(b, at + 0x40) / 2 - 1, 0, 31);
      e.Name = QString(reinterpret_cast<const QChar*>(b.constData() + at), units);
      e.Type = static_cast<uchar>(b[at + 0x42]);
      e.Colour = static_cast<uchar>(b[at + 0x43]);
      e.Left = Le32(b, at + 0x44);
      e.Right = Le32(b, at + 0x48);
      e.Child = Le32(b, at + 0x4C);
      dir.push_back(e);
    }
  }
  return dir;
}

// Sibling order of the format: shorter names first, then upper-cased code units.
bool FormatLess(const QString& a, const QString& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a.toUpper() < b.toUpper();
}

class TSiblingTreeCheck {
 public:
  TSiblingTreeCheck(const std::vector<TDirEntry>& dir, QStringList* problems)
      : dir_(dir), problems_(problems), seen_(dir.size(), false) {}

  // Checks the tree whose top is `top`; returns its names in order.
  QStringList Check(quint32 top, const QString& storage) {
    storage_ = storage;
    names_.clear();
    depth_ = 0;
    if (top < dir_.size() && dir_[top].Colour != 1)
      Problem(QStringLiteral("the top '%1' is red").arg(Name(top)));
    BlackHeight(top, false, 1);
    for (qsizetype i = 1; i < names_.size(); ++i)
      if (!FormatLess(names_[i - 1], names_[i]))
        Problem(QStringLiteral("'%1' comes before '%2'").arg(names_[i - 1], names_[i]));
    return names_;
  }
  int Depth() const { return depth_; }

 private:
  QString Name(quint32 e) const { return dir_[e].Name; }
  void Problem(const QString& text) { *problems_ << storage_ + QStringLiteral(": ") + text; }

  // Black entries on every path from e down to a missing link, counting that link as one.
  int BlackHeight(quint32 e, bool parentRed, int depth) {
    if (e == kNone) return 1;
    if (e >= dir_.size() || seen_[e]) {
      Problem(QStringLiteral("link to %1 out of range or repeated").arg(e));
      return 0;
    }
    seen_[e] = true;
    depth_ = std::max(depth_, depth);
    const TDirEntry& d = dir_[e];
    if (d.Colour > 1) Problem(QStringLiteral("'%1' has colour %2").arg(d.Name).arg(d.Colour));
    const bool red = d.Colour == 0;
    if (red && parentRed) Problem(QStringLiteral("red '%1' below a red entry").arg(d.Name));
    const int left = BlackHeight(d.Left, red, depth + 1);
    names_ << d.Name;
    const int right = BlackHeight(d.Right, red, depth + 1);
    if (left != right)
      Problem(QStringLiteral("below '%1' %2 black entries on the left, %3 on the right")
                  .arg(d.Name)
                  .arg(left)
                  .arg(right));
    return std::max(left, right) + (red ? 0 : 1);
  }

  const std::vector<TDirEntry>& dir_;
  QStringList* problems_;
  std::vector<bool> seen_;
  QString storage_;
  QStringList names_;
  int depth_ = 0;
};

// Every storage's sibling tree in a file image, and whether it holds the storage's children.
QStringList CheckEverySiblingTree(const QByteArray& bytes, const CompoundFile& written) {
  QStringList problems;
  const std::vector<TDirEntry> dir = ParseDirectory(bytes, &problems);
  if (dir.empty()) return problems << QStringLiteral("no directory");
  TSiblingTreeCheck check(dir, &problems);
  // Storages by entry, paired with the tree they were written from.
  std::vector<std::pair<quint32, const CompoundStorage*>> todo{{0, &written.Root()}};
  while (!todo.empty()) {
    const auto [e, storage] = todo.back();
    todo.pop_back();
    const QStringList names = check.Check(dir[e].Child, storage->Name());
    QStringList expected = storage->StorageNames() + storage->StreamNames();
    std::sort(expected.begin(), expected.end(), FormatLess);
    if (names != expected)
      problems << QStringLiteral("%1: children %2, expected %3")
                      .arg(storage->Name(), names.join(u','), expected.join(u','));
    // Children of the storages below, found again by walking the written links.
    std::vector<quint32> stack{dir[e].Child};
    while (!stack.empty()) {
      const quint32 c = stack.back();
      stack.pop_back();
      if (c >= dir.size()) continue;
      if (dir[c].Type == 1)
        if (const CompoundStorage* s = storage->OpenStorage(dir[c].Name)) todo.emplace_back(c, s);
      stack.push_back(dir[c].Left);
      stack.push_back(dir[c].Right);
    }
  }
  return problems;
}

// A name of 1 to 31 code units for child i: numbers, Latin of both cases, Cyrillic, so the
// format's order (length first, then upper case) differs from plain string order.
QString ChildName(int i) {
  static const QStringList stems = {QStringLiteral("a"),     QStringLiteral("B"),
                                    QStringLiteral("Канал"), QStringLiteral("объект"),
                                    QStringLiteral("zZ_"),   QStringLiteral("Длинное_имя_для_проверки_")};
  const QString stem = stems[i % stems.size()];
  return (stem + QString::number(i * 7919 % 100003)).left(CompoundStorage::kMaxNameLength);
}

TEST(CompoundSiblingTreeTest, EveryCountOfSiblingsFormsARedBlackTree) {
  // 1 to 200 children of the root, storages and streams mixed; every storage holds a few children
  // of its own, so the trees below the top are checked as well.
  for (int n = 1; n <= 200; ++n) {
    auto f = CompoundFile::Create();
    for (int i = 0; i < n; ++i) {
      const QString name = ChildName(i);
      if (i % 4 == 1) {
        CompoundStorage& s = f->Root().CreateStorage(name);
        for (int k = 0; k < (n + i) % 9; ++k) s.CreateStream(ChildName(k)) = QByteArray::number(k);
      } else {
        f->Root().CreateStream(name) = QByteArray(i % 3 == 0 ? 5000 : i, 'x');
      }
    }
    const auto bytes = f->ToBytes();
    ASSERT_TRUE(bytes) << n;
    const QStringList problems = CheckEverySiblingTree(*bytes, *f);
    ASSERT_TRUE(problems.isEmpty()) << n << " siblings: " << problems.mid(0, 5).join(u'\n').toStdString();
  }
}

TEST(CompoundSiblingTreeTest, SiblingsFormASortedShallowTree) {
  auto f = CompoundFile::Create();
  QStringList names;
  for (int i = 0; i < 300; ++i) names << QString::number(i * 7919 % 1000).rightJustified(i % 3 + 1, u'0');
  names.removeDuplicates();
  for (const QString& n : names) f->Root().CreateStorage(n);
  for (const QString& n : {QStringLiteral("b"), QStringLiteral("A"), QStringLiteral("Объект"),
                           QStringLiteral("объекты"), QStringLiteral("Zz")})
    f->Root().CreateStream(n) = "x";
  const auto bytes = f->ToBytes();
  ASSERT_TRUE(bytes);
  QStringList problems;
  const std::vector<TDirEntry> dir = ParseDirectory(*bytes, &problems);
  ASSERT_FALSE(dir.empty());
  TSiblingTreeCheck check(dir, &problems);
  const QStringList inOrder = check.Check(dir[0].Child, QStringLiteral("Root Entry"));
  EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  EXPECT_EQ(inOrder.size(), names.size() + 5);
  EXPECT_LE(check.Depth(), 9);  // log2 of 305 children, rounded up
}

}  // namespace
}  // namespace vexa
