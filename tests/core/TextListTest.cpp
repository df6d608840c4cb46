#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QVariant>

#include "core/Services.h"
#include "core/TextList.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// Against a QStringList doing the same: appends, removals from the front (past the point where the
// list drops removed entries from its buffers), clears, empty and Cyrillic entries.
TEST(TextListTest, BehavesLikeAStringListUnderRandomEdits) {
  QRandomGenerator random(11);
  TTextList list;
  QStringList model;
  const QStringList samples = {QString(),
                               QStringLiteral("12,5"),
                               QStringLiteral("***"),
                               QStringLiteral("Температура"),
                               QStringLiteral("07.12.2026 9:05:03"),
                               QString(300, QLatin1Char('x'))};
  for (int step = 0; step < 20000; ++step) {
    const int op = random.bounded(100);
    if (op < 60) {
      const QString s = samples.at(random.bounded(samples.size())) + QString::number(step);
      list.append(s);
      model.append(s);
    } else if (op < 99) {
      list.removeFirst();
      if (!model.isEmpty()) model.removeFirst();
    } else {
      list.clear();
      model.clear();
    }
    ASSERT_EQ(list.size(), model.size()) << step;
    if (!model.isEmpty()) {
      ASSERT_EQ(list.first(), model.first()) << step;
      ASSERT_EQ(list.last(), model.last()) << step;
      const qsizetype k = random.bounded(static_cast<int>(model.size()));
      ASSERT_EQ(list.at(k), model.at(k)) << step;
    }
  }
  EXPECT_EQ(list, model);
  EXPECT_EQ(list.ToStringList(), model);
}

TEST(TextListTest, SlidingWindowKeepsTheNewestEntries) {
  TTextList list;
  for (int i = 0; i < 5000; ++i) {
    if (list.size() >= 1200) list.removeFirst();
    list.append(QString::number(i));
  }
  ASSERT_EQ(list.size(), 1200);
  EXPECT_EQ(list.first(), "3800");
  EXPECT_EQ(list.last(), "4999");
  EXPECT_EQ(list.value(1199), "4999");
  EXPECT_EQ(list.value(1200, "none"), "none");
  EXPECT_EQ(list.value(-1), QString());
}

TEST(TextListTest, Cp1251TextIsKeptAsUnicode) {
  TTextList list;
  list.AppendCp1251(QByteArrayView("plain"));
  list.AppendCp1251(ToCp1251(QStringLiteral("Давление, кПа №1")));
  list.AppendCp1251(QByteArrayView(""));
  EXPECT_EQ(list, (QStringList{"plain", QStringLiteral("Давление, кПа №1"), QString()}));
  EXPECT_EQ(list.Utf8At(1), QStringLiteral("Давление, кПа №1").toUtf8());
}

TEST(TextListTest, CopiesAreIndependentAndCompareByContent) {
  TTextList a{"1", "2", "3"};
  TTextList b = a;
  b.append("4");
  EXPECT_EQ(a.size(), 3);
  EXPECT_EQ(b.size(), 4);
  // Equal content compares equal whatever was removed from the front before.
  TTextList c{"0", "1", "2", "3"};
  c.removeFirst();
  EXPECT_EQ(c, a);
  EXPECT_NE(c, b);
  EXPECT_NE(a, (QStringList{"1", "2"}));
  EXPECT_NE(a, (QStringList{"1", "2", "x"}));
  EXPECT_EQ(TTextList(), QStringList());
}

TEST(TextListTest, TravelsInVariantsAsAStringList) {
  RegisterTextListConversions();
  const TTextList list{"a", QStringLiteral("б")};
  const QVariant v = QVariant::fromValue(list);
  EXPECT_EQ(v.toStringList(), (QStringList{"a", QStringLiteral("б")}));
  EXPECT_EQ(v.value<QStringList>(), (QStringList{"a", QStringLiteral("б")}));
  const QVariant fromList(QStringList{"x", "y"});
  EXPECT_EQ(fromList.value<TTextList>(), (QStringList{"x", "y"}));
}

TEST(TextListTest, LongListsAppendAndIndexCheaply) {
  TTextList reserved;
  reserved.Reserve(1000, 19000);
  for (int i = 0; i < 1000; ++i)
    reserved.append(QStringLiteral("07.12.2026 09:05:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
  EXPECT_EQ(reserved.at(999), "07.12.2026 09:05:39");
  // Growth without reserving stays linear: 200000 appends finish at once.
  TTextList grown;
  for (int i = 0; i < 200000; ++i) grown.append(QString::number(i));
  EXPECT_EQ(grown.size(), 200000);
  EXPECT_EQ(grown.at(123456), "123456");
}

}  // namespace
}  // namespace vexa::test
