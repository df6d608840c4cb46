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

// What a stream writer takes from a list without looking at its entries: whether all are plain
// ASCII (never true while one is not) and how many are longer than 255 bytes, and the walk over
// the entries, through appends, removals past compaction, clears, copies and an appender.
TEST(TextListTest, KnowsItsLongEntriesAndWhetherItIsAscii) {
  const auto check = [](const TTextList& list, const QStringList& model, const std::string& where) {
    qsizetype longEntries = 0;
    bool ascii = true;
    for (const QString& s : model) {
      longEntries += s.toUtf8().size() > 255 ? 1 : 0;
      ascii = ascii && IsAsciiBytes(s.toUtf8());
    }
    EXPECT_EQ(list.LongEntries(), longEntries) << where;
    if (list.KnownAscii()) {
      EXPECT_TRUE(ascii) << where;
    }
    qsizetype k = 0;
    list.ForEachUtf8([&](QByteArrayView entry) {
      EXPECT_EQ(entry, list.Utf8At(k)) << where << " entry " << k;
      ++k;
    });
    EXPECT_EQ(k, list.size()) << where;
  };
  QRandomGenerator random(5);
  const QStringList samples = {QStringLiteral("12,5"), QString(256, QLatin1Char('x')),
                               QString(255, QLatin1Char('y')), QStringLiteral("Температура"),
                               QString(200, QChar(0x0416))};
  TTextList list;
  QStringList model;
  for (int step = 0; step < 3000; ++step) {
    const int op = random.bounded(100);
    if (op < 55) {
      const QString s = samples.at(random.bounded(samples.size()));
      list.append(s);
      model.append(s);
    } else if (op < 98) {
      list.removeFirst();
      if (!model.isEmpty()) model.removeFirst();
    } else {
      list.clear();
      model.clear();
      EXPECT_TRUE(list.KnownAscii()) << "a cleared list is ASCII again";
    }
    if (step % 50 == 0) check(list, model, "step " + std::to_string(step));
  }
  const TTextList copy = list;
  check(copy, model, "a copy");

  TTextList ascii{"07.12.2026 09:05:03", QString(300, QLatin1Char('1'))};
  check(ascii, {"07.12.2026 09:05:03", QString(300, QLatin1Char('1'))}, "built from a list");
  EXPECT_TRUE(ascii.KnownAscii());
  const QByteArray entries = QByteArray("a") + QByteArray(400, 'b') + QByteArray("c");
  {
    TTextList::TAppender out(ascii, 3, entries.size());
    out.Add(QByteArrayView(entries).sliced(0, 1), entries.size());
    out.Add(QByteArrayView(entries).sliced(1, 400), entries.size() - 1);
    out.Add(QByteArrayView(entries).sliced(401, 1), 1);
  }
  EXPECT_EQ(ascii.LongEntries(), 2);
  EXPECT_TRUE(ascii.KnownAscii());
  {
    const QByteArray cyrillic = QStringLiteral("Ж").toUtf8();
    TTextList::TAppender out(ascii, 1, cyrillic.size());
    out.Add(cyrillic);
  }
  EXPECT_FALSE(ascii.KnownAscii()) << "an appender adding other text";
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

// The appender against append: on empty lists and after removals from the front, with room used
// up exactly, left over (given back) or exceeded (refused, the entries so far kept).
TEST(TextListTest, AppenderAddsWhatAppendWouldAdd) {
  struct TCase {
    const char* Name;
    int Before;   // entries appended one by one first
    int Removed;  // then removed from the front
    QStringList Added;
    qsizetype ExtraEntries;  // room asked for beyond Added
    qsizetype ExtraBytes;
  };
  const QString longText(300, QLatin1Char('7'));
  const std::vector<TCase> cases = {
      {"nothing", 0, 0, {}, 0, 0},
      {"into an empty list", 0, 0, {"07.12.2026 9:05:03", "12,5", QString(), longText}, 0, 0},
      {"after entries", 5, 0, {"a", "bc"}, 0, 0},
      {"after removals past compaction", 200, 150, {"x", QString(), "yz"}, 0, 0},
      {"after removing every entry", 3, 3, {"q"}, 0, 0},
      {"with room left over", 2, 1, {"a", "b"}, 5, 40},
      {"Cyrillic as UTF-8", 1, 0, {QStringLiteral("Давление")}, 0, 0},
  };
  for (const TCase& c : cases) {
    TTextList list;
    QStringList model;
    for (int i = 0; i < c.Before; ++i) {
      list.append(QString::number(i));
      model.append(QString::number(i));
    }
    for (int i = 0; i < c.Removed; ++i) {
      list.removeFirst();
      model.removeFirst();
    }
    const TTextList shared = list;  // the appender must not write into a copy's buffers
    qsizetype bytes = c.ExtraBytes;
    for (const QString& s : c.Added) bytes += s.toUtf8().size();
    {
      // Every other entry from a buffer with plenty behind it, copied as one fixed move.
      TTextList::TAppender out(list, c.Added.size() + c.ExtraEntries, bytes);
      for (qsizetype i = 0; i < c.Added.size(); ++i) {
        const QByteArray utf8 = c.Added[i].toUtf8();
        if (i % 2 == 0)
          out.Add(utf8);
        else
          out.Add(QByteArrayView(utf8 + QByteArray(64, '#')).first(utf8.size()), utf8.size() + 64);
      }
    }
    model += c.Added;
    EXPECT_EQ(list, model) << c.Name;
    EXPECT_EQ(shared, model.mid(0, model.size() - c.Added.size())) << c.Name;
    EXPECT_EQ(list.Utf8Text(), model.join(QString()).toUtf8()) << c.Name;
    // The list goes on as any other afterwards.
    list.append("end");
    list.removeFirst();
    model.append("end");
    model.removeFirst();
    EXPECT_EQ(list, model) << c.Name;
  }

  TTextList list{"kept"};
  {
    TTextList::TAppender out(list, 2, 4);
    out.Add(QByteArrayView("abc"));
    EXPECT_THROW(out.Add(QByteArrayView("de")), std::length_error) << "more bytes than asked for";
    out.Add(QByteArrayView("d"));
    EXPECT_THROW(out.Add(QByteArrayView("")), std::length_error) << "more entries than asked for";
  }
  EXPECT_EQ(list, (QStringList{"kept", "abc", "d"}));
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
