// Component streams against byte sequences worked out from the format tables.

#include <QVariant>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportNode.h"
#include "storage/CompoundFile.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StoredRanges.h"
#include "storage/StrHandlerUnit.h"
#include "support/TestSupport.h"
#include "alarms/model/AlarmNode.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

// A short string as the format lays it out: one length byte, then the bytes.
QByteArray S(const QByteArray& text) {
  return char(text.size()) + text;
}
QByteArray H(const char* hex) {
  return QByteArray::fromHex(hex);
}
QByteArray Header(const char* cls, const QByteArray& name) {
  return "TPF0" + S(cls) + S(name);
}
const QByteArray kEnd = H("0000");
std::string Hex(const QByteArray& b) {
  return b.toHex(' ').toStdString();
}

class StreamTest : public test::TVexaTest {};

TEST_F(StreamTest, RootNodeGolden) {
  TRootNode root(nullptr);
  root.SetName("NET");
  root.SetCaption(QStringLiteral("Сеть"));
  root.SetImageIndex(6);
  const QByteArray expected = Header("TRootNode", "NET") +          //
                              S("Caption") + H("06 04 D1E5F2FC") +  // Сеть in 1251
                              S("ImageIndex") + H("02 06") +        //
                              S("Changed") + H("09") + kEnd;
  EXPECT_EQ(Hex(WriteComponent(root)), Hex(expected));

  // Everything at its default except Changed, which has none and is written as false.
  TRootNode plain(nullptr);
  plain.SetChanged(false);
  EXPECT_EQ(WriteComponent(plain), Header("TRootNode", "") + S("Changed") + H("08") + kEnd);

  TRootNode other(nullptr);
  other.SetTag(300);
  other.SetEnabled(true);
  other.SetComments("c");
  other.SetVisible(false);
  other.SetImageIndex(2);
  EXPECT_EQ(WriteComponent(other).toHex(' '),
            (Header("TRootNode", "") + S("Tag") + H("03 2C01") + S("Enabled") + H("09") + S("Comments") +
             H("06 01 63") + S("Visible") + H("08") + S("Changed") + H("09") + kEnd)
                .toHex(' '));
}

TEST_F(StreamTest, RegisterNodeWithHistoryAndColourGolden) {
  TRegisterNode reg(nullptr);
  reg.SetName("D001C002R003");
  reg.SetEnabled(true);
  reg.SetCaption("T1");
  reg.SetImageIndex(40);
  reg.SetRegisterType(rtINT);
  reg.SetLastIOResult(iorOK);
  reg.SetLastStringData(QStringLiteral("12,5"));
  reg.SetPoints({"07.12.2026 12:00:00", "07.12.2026 12:00:03"});
  reg.SetDataList({"12,5", "-3"});
  reg.SetXScale(1.0);
  reg.SetYScale(2.5);
  reg.SetDigits(1);
  reg.SetUserCanWRITE(true);
  reg.SetZero(0);
  reg.SetNotch(10);
  reg.SetPenColor(0x0000FF);
  const QByteArray expected =
      Header("TRegisterNode", "D001C002R003") + S("Enabled") + H("09") + S("Caption") + H("06") + S("T1") +
      S("ImageIndex") + H("02 28") + S("Changed") + H("09") + S("RegisterType") + H("07") + S("rtINT") +
      S("LastIOResult") + H("07") + S("iorOK") + S("LastStringData") + H("06") + S("12,5") +
      S("Points.Strings") + H("01") + H("06") + S("07.12.2026 12:00:00") + H("06") +
      S("07.12.2026 12:00:03") + H("00") + S("DataList.Strings") + H("01 06") + S("12,5") + H("06") +
      S("-3") + H("00") +                                       //
      S("XScale") + H("05 0000000000000080 FF3F") +             // 1.0
      S("YScale") + H("05 00000000000000A0 0040") +             // 2.5
      S("Digits") + H("02 01") + S("UserCanWRITE") + H("09") +  //
      S("StringData") + H("06") + S("12,5") +                   // the cached text, not a device read
      S("FloatData") + H("05 00000000000000C8 0240") +          // 12.5
      S("Zero") + H("02 00") + S("Notch") + H("02 0A") + S("PenColor") + H("07") + S("clRed") + kEnd;
  EXPECT_EQ(Hex(WriteComponent(reg)), Hex(expected));
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(reg.ComponentState() & csWriting, 0u);

  reg.SetPenColor(0x123456);
  EXPECT_TRUE(WriteComponent(reg).endsWith(S("PenColor") + H("04 56341200") + kEnd));
  reg.SetPenColor(static_cast<int>(0x80000008u));  // a system colour travels by name too
  EXPECT_TRUE(WriteComponent(reg).endsWith(S("PenColor") + H("07") + S("clWindowText") + kEnd));
}

TEST_F(StreamTest, AlarmNodesGolden) {
  TAlarmNode alarm(nullptr);
  alarm.SetName("D001C002R003");
  alarm.SetEnabled(true);
  alarm.SetHiEnabled(true);
  alarm.SetHiLimit(50);
  alarm.SetDeadband(2);
  alarm.SetPriority(1);
  // Nothing at its default is stored: the flags off, the limits and the deadband at 0 (as every
  // float), no delay, priority 2.
  const QByteArray expected = Header("TAlarmNode", "D001C002R003") + S("Enabled") + H("09") + S("Changed") +
                              H("09") + S("HiEnabled") + H("09") + S("HiLimit") +
                              H("05 00000000000000C8 0440") +                  // 50.0
                              S("Deadband") + H("05 0000000000000080 0040") +  // 2.0
                              S("Priority") + H("02 01") + kEnd;
  EXPECT_EQ(Hex(WriteComponent(alarm)), Hex(expected));
  alarm.SetDelaySeconds(300);
  alarm.SetLoLoEnabled(true);
  EXPECT_TRUE(WriteComponent(alarm).contains(S("LoLoEnabled") + H("09") + S("Deadband")));
  EXPECT_TRUE(
      WriteComponent(alarm).endsWith(S("DelaySeconds") + H("03 2C01") + S("Priority") + H("02 01") + kEnd));

  TAlarmJournalNode journal(nullptr);
  journal.SetName(kJournalNodeName);
  journal.SetChanged(false);
  EXPECT_EQ(Hex(WriteComponent(journal)),
            Hex(Header("TAlarmJournalNode", "JOURNAL") + S("Changed") + H("08") + kEnd));
  journal.SetKeepDays(30);
  EXPECT_TRUE(WriteComponent(journal).endsWith(S("KeepDays") + H("02 1E") + kEnd));
}

TEST_F(StreamTest, SetupNodeWithListsGolden) {
  TSetupNode setup(nullptr);
  setup.SetName("SETUP");
  setup.SetPassword("x");
  setup.SetTablesDir("");
  setup.SetAutoSaveEnabled(true);
  setup.SetDemo(true);
  setup.SetMNames({QStringLiteral("Печь")});
  setup.SetMFiles({"/a.bmp"});
  const QByteArray expected = Header("TSetupNode", "SETUP") + S("Password") + H("06 01 78") + S("PortIndex") +
                              H("02 FF") + S("BaudRateIndex") + H("02 03") + S("AutoSaveEnabled") + H("09") +
                              S("Demo") + H("09") + S("MNames.Strings") + H("01 06 04 CFE5F7FC 00") +
                              S("MFiles.Strings") + H("01 06") + S("/a.bmp") + H("00") + kEnd;
  EXPECT_EQ(Hex(WriteComponent(setup)), Hex(expected));

  std::unique_ptr<TComponent> back = ReadComponent(expected);
  auto* s = dynamic_cast<TSetupNode*>(back.get());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->MNames(), QStringList{QStringLiteral("Печь")});
  EXPECT_EQ(s->MFiles(), QStringList{"/a.bmp"});
  EXPECT_EQ(s->PortIndex(), -1);
  EXPECT_TRUE(s->Demo());
  EXPECT_FALSE(s->NewConfig());
}

TEST_F(StreamTest, LabelWithFontGolden) {
  TLabelDisplay label(nullptr);
  label.SetLeft(100);
  label.SetTop(200);
  label.SetWidth(60);
  label.SetHeight(17);
  label.SetBorderStyle(sbsSunken);
  label.Font().SetCharset(204);
  label.Font().SetHeight(-13);
  label.Font().SetName("Arial");
  label.Font().SetStyle(fsBold | fsItalic);
  label.SetPrefix("T1 =");
  label.SetValue("12,5");
  label.SetUnits(QStringLiteral("°C"));
  label.SetParentName("ts0");
  const QByteArray expected = Header("TLabelDisplay", "") + S("Left") + H("02 64") + S("Top") + H("03 C800") +
                              S("Width") + H("02 3C") + S("Height") + H("02 11") + S("BorderStyle") +
                              H("07") + S("sbsSunken") + S("Font.Charset") + H("07") + S("RUSSIAN_CHARSET") +
                              S("Font.Color") + H("07") + S("clBlack") + S("Font.Height") + H("02 F3") +
                              S("Font.Name") + H("06") + S("Arial") + S("Font.Style") + H("0B") +
                              S("fsBold") + S("fsItalic") + H("00") + S("Caption") + H("06 0C") +
                              "T1 = 12,5 \xB0"
                              "C" +
                              S("Units") + H("06 02 B0 43") + S("Value") + H("06") + S("12,5") + S("Prefix") +
                              H("06") + S("T1 =") + S("ParentName") + H("06") + S("ts0") + kEnd;
  EXPECT_EQ(Hex(WriteComponent(label)), Hex(expected));

  std::unique_ptr<TComponent> back = ReadComponent(expected);
  auto* l = dynamic_cast<TLabelDisplay*>(back.get());
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->Font().Charset(), 204);
  EXPECT_EQ(l->Font().Style(), quint32(fsBold | fsItalic));
  EXPECT_EQ(l->Font().Name(), "Arial");
  EXPECT_EQ(l->BorderStyle(), sbsSunken);
  EXPECT_EQ(l->Color(), 0x00FFFF);
  EXPECT_EQ(l->Caption(), QStringLiteral("T1 = 12,5 °C"));
  EXPECT_EQ(WriteComponent(*l), expected);

  // An empty style has no default and is still written, as an empty set.
  label.Font().SetStyle(0);
  EXPECT_TRUE(WriteComponent(label).contains(S("Font.Style") + H("0B 00")));
}

TEST_F(StreamTest, SmallestIntegerTag) {
  const struct {
    int Value;
    const char* Hex;
  } cases[] = {{127, "02 7F"},      {128, "03 8000"},        {-128, "02 80"},
               {-129, "03 7FFF"},   {32767, "03 FF7F"},      {32768, "04 00800000"},
               {-32768, "03 0080"}, {-32769, "04 FF7FFFFF"}, {INT32_MIN, "04 00000080"}};
  for (const auto& c : cases) {
    TRootNode n(nullptr);
    n.SetTag(c.Value);
    n.SetChanged(false);
    const QByteArray bytes = WriteComponent(n);
    EXPECT_EQ(bytes, Header("TRootNode", "") + S("Tag") + H(c.Hex) + S("Changed") + H("08") + kEnd)
        << c.Value;
    EXPECT_EQ(ReadComponent(bytes)->Tag(), c.Value);
  }
}

TEST_F(StreamTest, ShortAndLongStrings) {
  for (int length : {0, 1, 255, 256, 70000}) {
    TRootNode n(nullptr);
    n.SetCaption(QString(length, QChar(0x0416)));  // Ж, one byte in 1251
    n.SetChanged(false);
    const QByteArray bytes = WriteComponent(n);
    QByteArray value;
    if (length == 0)
      value = QByteArray();
    else if (length <= 255)
      value = S("Caption") + char(0x06) + char(length) + QByteArray(length, char(0xC6));
    else
      value = S("Caption") + char(0x0C) + QByteArray::fromRawData(reinterpret_cast<const char*>(&length), 4) +
              QByteArray(length, char(0xC6));
    EXPECT_EQ(bytes, Header("TRootNode", "") + value + S("Changed") + H("08") + kEnd) << length;
    auto back = ReadComponent(bytes);
    EXPECT_EQ(static_cast<TRootNode&>(*back).Caption(), n.Caption());
  }
}

// Histories are kept compactly; every text they can hold comes back as it was, and the bytes are
// those of any string list.
TEST_F(StreamTest, HistoriesKeepEveryKindOfText) {
  TRegisterNode reg(nullptr);
  reg.SetName("D000C000R002");
  const QString longText(300, QLatin1Char('7'));
  const QStringList values = {"12,5", QString(), QStringLiteral("Авария"), longText, "***"};
  reg.SetDataList(values);
  const QStringList times = {"07.12.2026 9:00:01", "07.12.2026 9:00:02", "07.12.2026 9:00:03",
                             "07.12.2026 9:00:04", "07.12.2026 9:00:05"};
  reg.SetPoints(times);
  reg.SetChanged(false);
  const QByteArray bytes = WriteComponent(reg);
  EXPECT_TRUE(bytes.contains(S("DataList.Strings") + H("01") + H("06") + S("12,5") + H("06 00") + H("06") +
                             S(ToCp1251(QStringLiteral("Авария"))) + H("0C 2C010000") + longText.toLatin1() +
                             H("06") + S("***") + H("00")))
      << Hex(bytes);
  auto back = ReadComponent(bytes);
  auto* r = dynamic_cast<TRegisterNode*>(back.get());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->DataList(), values);
  EXPECT_EQ(r->Points(), times);
  EXPECT_EQ(WriteComponent(*r), bytes);

  // A listing shows a list's elements in order, texts and others alike.
  const TParsedStream parsed = ParseComponentStream(Header("TRootNode", "") + S("X.Strings") +
                                                    H("01 06 01 61 02 05 06 01 62 00") + kEnd);
  ASSERT_EQ(parsed.Records.size(), 1u);
  EXPECT_EQ(StreamValueText(parsed.Records[0].Value), "('a', 5, 'b')");
  const TParsedStream texts =
      ParseComponentStream(Header("TRootNode", "") + S("X.Strings") + H("01 06 01 61 06 01 62 00") + kEnd);
  EXPECT_EQ(StreamValueText(texts.Records[0].Value), "('a', 'b')");
}

// Histories of plain ASCII are written and parsed in bulk, the others entry by entry; every mix
// gives the bytes the format lays out entry by entry, reads back as it was and keeps working as a
// history afterwards.
TEST_F(StreamTest, HistoriesOfEveryMixFollowTheFormatEntryByEntry) {
  std::mt19937 random(25);
  const auto text = [&random](char kind) -> QString {
    const auto pick = [&random](int lo, int hi) {
      return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    switch (kind) {
      case 'd':  // a time stamp
        return QStringLiteral("%1.12.2026 %2:%3:%4")
            .arg(pick(1, 31))
            .arg(pick(0, 23))
            .arg(pick(10, 59))
            .arg(pick(10, 59));
      case 'v':  // a value
        return QString::number(pick(-99999, 99999) / 10.0, 'f', 1)
            .replace(QLatin1Char('.'), QLatin1Char(','));
      case 'e':
        return QString();
      case 'l':  // a long string, as long as the short form allows or longer
        return QString(pick(0, 1) != 0 ? 255 : pick(256, 700), QLatin1Char('7'));
      case 'c':  // control characters and DEL are ASCII too
        return QStringLiteral("a\u0001\t\u007Fz");
      case 'r':
        return QStringLiteral("Авария №%1").arg(pick(1, 9));
    }
    return QStringLiteral("?");
  };
  struct TCase {
    const char* Name;
    const char* Kinds;  // drawn at random for each entry
    int Count;
    const char* Last;  // kinds of entries appended after the drawn ones
  };
  const std::vector<TCase> cases = {
      {"one empty entry", "", 0, "e"},
      {"times and values", "dv", 1200, ""},
      {"with empty entries", "dve", 400, "e"},
      {"with long entries", "vl", 60, "l"},
      {"with control characters", "vc", 50, ""},
      {"one Cyrillic entry at the end", "dv", 300, "r"},
      {"Cyrillic among the rest", "dvelr", 300, ""},
  };
  for (const TCase& c : cases) {
    QStringList history;
    const std::string kinds = c.Kinds;
    for (int i = 0; i < c.Count; ++i)
      history << text(kinds[std::uniform_int_distribution<size_t>(0, kinds.size() - 1)(random)]);
    for (const char* k = c.Last; *k != 0; ++k) history << text(*k);
    QByteArray listBytes;
    for (const QString& entry : history) {
      const QByteArray b = ToCp1251(entry);
      if (b.size() <= 255) {
        listBytes += char(0x06) + S(b);
      } else {
        const auto n = static_cast<quint32>(b.size());
        listBytes += char(0x0C) + QByteArray(reinterpret_cast<const char*>(&n), 4) + b;
      }
    }
    TRegisterNode reg(nullptr);
    reg.SetName("D000C000R002");
    reg.SetDataList(history);
    reg.SetChanged(false);
    const QByteArray bytes = WriteComponent(reg);
    const QByteArray expected = S("DataList.Strings") + H("01") + listBytes + H("00");
    EXPECT_TRUE(bytes.contains(expected)) << c.Name;

    const TParsedStream parsed = ParseComponentStream(bytes);
    const auto record = std::find_if(parsed.Records.begin(), parsed.Records.end(),
                                     [](const TStreamRecord& r) { return r.Name == "DataList.Strings"; });
    ASSERT_NE(record, parsed.Records.end()) << c.Name;
    EXPECT_EQ(record->Value.Lines, history) << c.Name;
    EXPECT_TRUE(record->Value.List.empty()) << c.Name;
    EXPECT_EQ(WriteParsedStream(parsed), bytes) << c.Name;

    auto back = ReadComponent(bytes);
    auto& r = dynamic_cast<TRegisterNode&>(*back);
    EXPECT_EQ(r.DataList(), history) << c.Name;
    EXPECT_EQ(WriteComponent(r), bytes) << c.Name;
    // The list read goes on as a history: it slides past the point where it drops removed entries.
    TTextList slid = r.DataList();
    QStringList model = history;
    for (int i = 0; i < 150; ++i) {
      slid.append(QString::number(i));
      slid.removeFirst();
      model.append(QString::number(i));
      model.removeFirst();
    }
    EXPECT_EQ(slid, model) << c.Name;

    // Cut inside its last entry, the stream is refused.
    const qsizetype cut = bytes.indexOf(expected) + expected.size() - 2;
    EXPECT_THROW(ParseComponentStream(bytes.left(cut)), EStreamError) << c.Name;
  }
}

TEST_F(StreamTest, StaleBytesAfterTheEndAreIgnored) {
  TRegisterNode reg(nullptr);
  reg.SetName("D000C000R001");
  reg.SetPoints({"07.12.2026 9:00:00"});
  reg.SetDataList({"1"});
  const QByteArray clean = WriteComponent(reg);
  const QByteArray stale = clean + QByteArray("garbage of an older, longer stream \x01\x02\xFF");
  EXPECT_EQ(WriteComponent(*ReadComponent(stale)), WriteComponent(*ReadComponent(clean)));
}

TEST_F(StreamTest, ReadingRestoresEveryKindAndNeverTouchesTheLine) {
  test::TFakeComm* port = Port;
  TRegisterNode reg(nullptr);
  reg.SetName("D001C002R003");
  reg.SetRegisterType(rtFLOAT);
  reg.SetLastIOResult(iorWRONGDATA);
  reg.SetLastStringData("-0,25");
  reg.SetMaxCount(5);
  reg.SetXScale(3e-9);  // near the narrowest a cyclogram takes
  reg.SetYScale(1000.5);
  reg.SetUserCanREAD(false);
  reg.SetLoggingInterval(60);
  reg.SetZero(-5);
  reg.SetNotch(10000);  // the most the register dialog offers
  reg.SetPenWidth(1);
  reg.SetPenColor(0x1FFFFFFF);
  const QByteArray bytes = WriteComponent(reg);
  auto back = ReadComponent(bytes);
  auto* r = dynamic_cast<TRegisterNode*>(back.get());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Name(), "D001C002R003");
  EXPECT_EQ(r->RegisterType(), rtFLOAT);
  EXPECT_EQ(r->LastIOResult(), iorWRONGDATA);
  EXPECT_EQ(r->LastStringData(), "-0,25");
  EXPECT_EQ(r->MaxCount(), 5);
  EXPECT_EQ(r->XScale(), 3e-9);
  EXPECT_EQ(r->YScale(), 1000.5);
  EXPECT_FALSE(r->UserCanREAD());
  EXPECT_EQ(r->LoggingInterval(), 60);
  EXPECT_EQ(r->Zero(), -5);
  EXPECT_EQ(r->Notch(), 10000);
  EXPECT_EQ(r->PenWidth(), 1);
  EXPECT_EQ(r->PenColor(), 0x1FFFFFFF);
  EXPECT_TRUE(bytes.contains(S("PenColor") + H("07") + S("clNone")));
  EXPECT_FALSE(r->Changed());  // reading ends with Loaded
  EXPECT_EQ(r->ComponentState() & (csLoading | csReading | csWriting), 0u);
  EXPECT_TRUE(r->Points().isEmpty());
  EXPECT_FALSE(bytes.contains("Points.Strings"));
  if (port != nullptr) {
    EXPECT_TRUE(port->Written.empty());
  }

  TReportNode report(nullptr);
  report.SetStartPoint(46363.5);
  report.SetLastPoint(46364.0);
  report.SetLoggingIntervalIndex(0);
  report.SetAlignEnabled(false);
  report.SetOffsetEnabled(true);
  report.SetMaxCount(20);
  report.SetHeader({"h1", "h2"});
  const QByteArray rb = WriteComponent(report);
  EXPECT_TRUE(rb.contains(S("LoggingIntervalIndex") + H("02 00") + S("AlignEnabled") + H("08") +
                          S("OffsetEnabled") + H("09") + S("Header.Strings")));
  EXPECT_FALSE(rb.contains("MaxCount"));
  EXPECT_FALSE(rb.contains("Footer"));
  auto rback = ReadComponent(rb);
  auto* rep = dynamic_cast<TReportNode*>(rback.get());
  ASSERT_NE(rep, nullptr);
  EXPECT_EQ(rep->StartPoint(), 46363.5);
  EXPECT_EQ(rep->LastPoint(), 46364.0);
  EXPECT_EQ(rep->Header(), (QStringList{"h1", "h2"}));
  EXPECT_FALSE(rep->AlignEnabled());
  EXPECT_TRUE(rep->OffsetEnabled());
  EXPECT_EQ(rep->LoggingIntervalIndex(), 0);
}

// Every way a stream can be wrong raises, and the handler's target keeps its object.
TEST_F(StreamTest, MalformedStreamsRaiseAndLeaveTheTargetAlone) {
  TRootNode n(nullptr);
  n.SetName("X");
  n.SetCaption("abc");
  const QByteArray good = WriteComponent(n);
  const QByteArray head = Header("TRootNode", "X");
  const std::vector<std::pair<const char*, QByteArray>> bad = {
      {"empty", QByteArray()},
      {"signature", "TPF1" + good.mid(4)},
      {"prefix byte", "TPF0" + H("F1") + good.mid(4)},
      {"unknown class", Header("TNoSuchNode", "X") + kEnd},
      {"unknown property", head + S("Colour") + H("02 01") + kEnd},
      {"read-only property", Header("TRegisterNode", "") + S("Count") + H("02 01") + kEnd},
      {"wrong kind: text for integer", head + S("ImageIndex") + H("06 01 41") + kEnd},
      {"wrong kind: integer for Boolean", head + S("Enabled") + H("02 01") + kEnd},
      {"unknown enumeration", Header("TRegisterNode", "") + S("RegisterType") + H("07") + S("rtHUGE") + kEnd},
      {"unknown colour", Header("TRegisterNode", "") + S("PenColor") + H("07") + S("clNavyBlue") + kEnd},
      {"string list without list", Header("TRegisterNode", "") + S("Points.Strings") + H("06 01 41") + kEnd},
      {"string list by plain name", Header("TRegisterNode", "") + S("Points") + H("01 00") + kEnd},
      {"unknown set element",
       Header("TLabelDisplay", "") + S("Font.Style") + H("0B") + S("fsHuge") + H("00") + kEnd},
      {"path into a non-object", head + S("Caption.Strings") + H("01 00") + kEnd},
      {"nested object as a value", Header("TLabelDisplay", "") + S("Font") + H("02 01") + kEnd},
      {"unknown tag", head + S("Caption") + H("0A 00000000") + kEnd},
      {"truncated in a value", head + S("Caption") + H("06 09 41")},
      {"truncated extended", head + S("Tag") + H("05 0000")},
      {"absurd long string", head + S("Caption") + H("0C FFFFFF7F 41") + kEnd},
      {"list never ended", Header("TRegisterNode", "") + S("Points.Strings") + H("01 06 01 41")},
      {"number among the texts of a list",
       Header("TRegisterNode", "") + S("Points.Strings") + H("01 06 01 41 02 05 06 01 42 00") + kEnd},
      {"long text of a list past the end",
       Header("TRegisterNode", "") + S("DataList.Strings") + H("01 0C 10000000 41")},
      {"children inside", head + H("00") + S("TRootNode")},
      {"no end of children", head + H("00")},
      {"truncated name", "TPF0" + H("09") + "TRoot"},
  };
  for (const auto& [what, bytes] : bad) EXPECT_THROW(ReadComponent(bytes), EStreamError) << what;

  // Through the handler: the target keeps its object when the stream is bad.
  auto file = CompoundFile::Create();
  file->Root().CreateStream("Object") = head + S("Colour") + H("02 01") + kEnd;
  auto image = file->ToBytes();
  ASSERT_TRUE(image);
  auto stg = TStgHandler::OpenImage(*image);
  ASSERT_TRUE(stg->Valid());
  std::unique_ptr<TComponent> target = std::make_unique<TRootNode>(nullptr);
  TComponent* before = target.get();
  auto str = TStrHandler::Open("Object", stg.get());
  ASSERT_TRUE(str->Valid());
  EXPECT_THROW(str->LoadComponent(target), EStreamError);
  EXPECT_EQ(target.get(), before);

  auto missing = TStrHandler::Open("Nothing", stg.get());
  EXPECT_FALSE(missing->Valid());
  EXPECT_EQ(missing->ErrorText(), QStringLiteral("Не могу открыть поток: 'Nothing'!"));
  missing->LoadComponent(target);
  EXPECT_EQ(target.get(), before);
}

TEST_F(StreamTest, IdentifiersAreReadWithoutRegardToCase) {
  const QByteArray bytes = Header("TRegisterNode", "") + S("RegisterType") + H("07") + S("RTbyte") +
                           S("PenColor") + H("07") + S("CLRED") + kEnd;
  auto back = ReadComponent(bytes);
  auto& r = static_cast<TRegisterNode&>(*back);
  EXPECT_EQ(r.RegisterType(), rtBYTE);
  EXPECT_EQ(r.PenColor(), 0x0000FF);
}

TEST_F(StreamTest, HandlerOverwritesFromTheStartWithoutShortening) {
  auto file = CompoundFile::Create();
  const QByteArray old(500, 'z');
  file->Root().CreateStream("Object") = old;
  auto image = file->ToBytes();
  ASSERT_TRUE(image);
  auto stg = TStgHandler::OpenImage(*image);
  TRootNode n(nullptr);
  n.SetName("N");
  auto str = TStrHandler::Create("Object", stg.get());
  ASSERT_TRUE(str->Valid());
  str->SaveComponent(n);
  const QByteArray& now = stg->Storage()->Stream("Object");
  const QByteArray written = WriteComponent(n);
  EXPECT_EQ(now.size(), old.size());
  EXPECT_EQ(now.left(written.size()), written);
  auto back = ReadComponent(now);
  EXPECT_EQ(back->Name(), "N");
}

// Written over an old stream in place, the bytes are those of a fresh write followed by what the
// old stream had past them; a copy of the old stream keeps its own bytes.
TEST_F(StreamTest, WritingOverAStreamGivesTheFreshBytesAndTheOldTail) {
  TRegisterNode reg(nullptr);
  reg.SetName("D000C000R002");
  QStringList history;
  for (int i = 0; i < 300; ++i) history << QString::number(i * 0.5, 'f', 1);
  history << QStringLiteral("Авария");  // an entry not in ASCII
  reg.SetDataList(history);
  reg.SetPoints({"07.12.2026 9:00:00", "07.12.2026 9:00:01"});
  reg.SetChanged(false);
  const QByteArray fresh = WriteComponent(reg);
  struct TCase {
    const char* Name;
    QByteArray Old;
  };
  const std::vector<TCase> cases = {
      {"empty", QByteArray()},
      {"shorter", QByteArray(fresh.size() / 2, 'z')},
      {"as long", QByteArray(fresh.size(), 'z')},
      {"one byte longer", QByteArray(fresh.size() + 1, 'z')},
      {"much longer", QByteArray(3 * fresh.size(), 'z')},
      {"an older state of the object", fresh.left(fresh.size() - 40) + QByteArray(100, 'y')},
  };
  for (const TCase& c : cases) {
    QByteArray stream = c.Old;
    const QByteArray copy = stream;
    WriteComponentOver(reg, stream);
    const QByteArray expected = fresh + c.Old.mid(fresh.size());
    EXPECT_EQ(Hex(stream), Hex(expected)) << c.Name;
    EXPECT_EQ(copy, c.Old) << c.Name;
    EXPECT_EQ(WriteComponent(*ReadComponent(stream)), fresh) << c.Name;
  }
  // A name the format cannot hold is refused written over a stream too.
  TRootNode tooLong(nullptr);
  tooLong.SetName(QString(256, QLatin1Char('N')));
  QByteArray stream(10, 'z');
  EXPECT_THROW(WriteComponentOver(tooLong, stream), EStreamError);
}

// A parsed stream written back gives the bytes the object's own write gave: the encoder of a text
// form depends on it.
// A save measures each node's stream first and makes it later in room of that length: the
// length is the stream's, and the stream made there is the same bytes, for nodes of every class,
// text in code page 1251, histories of every mix (long entries, other text) and empty ones.
TEST_F(StreamTest, MeasuredStreamsAreMadeInRoomOfTheirLength) {
  std::vector<std::pair<const char*, std::unique_ptr<TComponent>>> nodes;
  auto root = std::make_unique<TRootNode>(nullptr);
  root->SetName("NET");
  root->SetCaption(QStringLiteral("Сеть котельной"));
  nodes.emplace_back("root", std::move(root));
  const auto history = [](int entries, const QString& sample) {
    QStringList list;
    for (int k = 0; k < entries; ++k) list << sample + QString::number(k);
    return list;
  };
  const std::vector<std::pair<const char*, QStringList>> histories = {
      {"no history", {}},
      {"plain history", history(1200, "07.12.2026 09:05:")},
      {"long entries", history(3, QString(300, QLatin1Char('x')))},
      {"Cyrillic entries", history(20, QStringLiteral("Авария "))},
      {"an entry of 255 and of 256 bytes", {QString(255, QLatin1Char('a')), QString(256, QLatin1Char('b'))}},
  };
  for (const auto& [name, points] : histories) {
    auto reg = std::make_unique<TRegisterNode>(nullptr);
    reg->SetName("D000C000R002");
    reg->SetCaption(QStringLiteral("Давление, кПа"));
    reg->SetLastStringData(QStringLiteral("12,5"));
    reg->SetPoints(points);
    reg->SetDataList(points);
    nodes.emplace_back(name, std::move(reg));
  }
  for (const char* cls : {"TCommandNode", "TReportNode", "TSetupNode", "TLabelDisplay", "TAlarmNode"}) {
    const TClassInfo* info = TClassRegistry::Find(cls);
    ASSERT_TRUE(info != nullptr && info->Create) << cls;
    nodes.emplace_back(cls, std::unique_ptr<TComponent>(info->Create(nullptr)));
  }
  QByteArray scratch(100000, 's');
  for (const auto& [name, node] : nodes) {
    const QByteArray whole = WriteComponent(*node);
    const qsizetype length = ComponentStreamSize(*node);
    EXPECT_EQ(length, whole.size()) << name;

    QByteArray room(length + 16, '#');
    WriteComponentTo(*node, room.data(), length);
    EXPECT_EQ(room.left(length), whole) << name;
    EXPECT_EQ(room.mid(length), QByteArray(16, '#')) << name;

    // Room of another length is refused, and nothing is written past the room given.
    room.fill('#');
    EXPECT_THROW(WriteComponentTo(*node, room.data(), length - 1), EStreamError) << name;
    EXPECT_EQ(room.mid(length - 1), QByteArray(17, '#')) << name;
    EXPECT_THROW(WriteComponentTo(*node, room.data(), length + 1), EStreamError) << name;

    // Into a buffer used as room, reused from a longer stream: its tail is left as it was.
    const QByteArray before = scratch;
    EXPECT_EQ(WriteComponentInto(*node, scratch), length) << name;
    EXPECT_EQ(scratch.left(length), whole) << name;
    if (before.size() > length) {
      EXPECT_EQ(scratch.mid(length), before.mid(length)) << name;
    }
  }
}

TEST_F(StreamTest, ParsedStreamsWriteBackToTheSameBytes) {
  std::vector<std::unique_ptr<TComponent>> objects;
  auto reg = std::make_unique<TRegisterNode>(nullptr);
  reg->SetName("D001C002R003");
  reg->SetRegisterType(rtFLOAT);
  reg->SetTag(-40000);
  reg->SetXScale(1e-300);
  reg->SetYScale(-46363.5);
  reg->SetNotch(100000);
  reg->SetZero(-129);
  reg->SetPenColor(0x123456);
  reg->SetLastStringData(QString(256, QChar(0x0416)));
  reg->SetPoints({"07.12.2026 12:00:00", QString(), QString(300, QLatin1Char('7'))});
  reg->SetDataList({QStringLiteral("Авария"), "-0,25", "***"});
  objects.push_back(std::move(reg));
  auto label = std::make_unique<TLabelDisplay>(nullptr);
  label->Font().SetCharset(204);
  label->Font().SetStyle(fsBold | fsUnderline);
  label->SetUnits(QStringLiteral("°C"));
  label->SetBorderStyle(sbsSunken);
  objects.push_back(std::move(label));
  auto setup = std::make_unique<TSetupNode>(nullptr);
  setup->SetName("SETUP");
  setup->SetMNames({QStringLiteral("Печь"), "B"});
  objects.push_back(std::move(setup));
  auto report = std::make_unique<TReportNode>(nullptr);
  report->SetStartPoint(46363.5);
  report->SetHeader({"h1", "h2"});
  objects.push_back(std::move(report));
  auto command = std::make_unique<TCommandNode>(nullptr);
  command->SetName("D000C000R004");
  command->SetPoints({"0", "60", "120"});
  command->SetDataList({"20", "80,5", "20"});
  command->SetSlotSize(1.0 / 1440);
  objects.push_back(std::move(command));
  for (const auto& object : objects) {
    const QByteArray bytes = WriteComponent(*object);
    EXPECT_EQ(Hex(WriteParsedStream(ParseComponentStream(bytes))), Hex(bytes))
        << object->ClassName().toStdString();
  }
  // A list that is not all texts keeps its elements in order.
  const QByteArray mixed =
      Header("TRootNode", "") + S("X.Strings") + H("01 06 01 61 02 05 06 01 62 00") + kEnd;
  EXPECT_EQ(WriteParsedStream(ParseComponentStream(mixed)), mixed);

  TParsedStream tooLong = ParseComponentStream(WriteComponent(*objects[0]));
  tooLong.Records[2].Value.Tag = vaIdent;
  tooLong.Records[2].Value.Text = QString(256, QLatin1Char('x'));
  try {
    WriteParsedStream(tooLong);
    ADD_FAILURE() << "an identifier of 256 bytes was written";
  } catch (const EStreamRecordError& e) {
    EXPECT_EQ(e.Record, 2);
    EXPECT_EQ(e.Part, EStreamRecordError::rpValue);
  }
}

// Building from a parsed stream names the record that failed and whether its name or its value.
TEST_F(StreamTest, BuildingBlamesTheFailingRecord) {
  auto parsed = [](const QByteArray& records) {
    return ParseComponentStream(Header("TRegisterNode", "R") + S("Enabled") + H("09") + records + kEnd);
  };
  const struct {
    const char* What;
    TParsedStream Stream;
    EStreamRecordError::TPart Part;
    int Record;
    const char* Says;
  } cases[] = {
      {"unknown class", ParseComponentStream(Header("TNoSuchNode", "X") + kEnd),
       EStreamRecordError::rpClassName, -1, "Unknown class TNoSuchNode"},
      {"unknown property", parsed(S("Colour") + H("02 01")), EStreamRecordError::rpPropertyName, 1,
       "no stored property Colour"},
      {"read-only property", parsed(S("Caption") + H("06 01 41") + S("Count") + H("02 01")),
       EStreamRecordError::rpPropertyName, 2, "no stored property Count"},
      {"list by its plain name", parsed(S("Points") + H("01 00")), EStreamRecordError::rpPropertyName, 1,
       "Points.Strings"},
      {"unknown nested property", parsed(S("Font.Height") + H("02 01")), EStreamRecordError::rpPropertyName,
       1, "no stored property Font.Height"},
      {"text for an integer", parsed(S("Digits") + H("06 01 41")), EStreamRecordError::rpValue, 1,
       "it takes an integer"},
      {"integer for a Boolean", parsed(S("UserCanREAD") + H("02 01")), EStreamRecordError::rpValue, 1,
       "True or False"},
      {"unknown enumeration", parsed(S("RegisterType") + H("07") + S("rtHUGE")), EStreamRecordError::rpValue,
       1, "one of rtBOOL, rtUBYTE"},
      {"number in a string list", parsed(S("DataList.Strings") + H("01 06 01 41 02 05 00")),
       EStreamRecordError::rpValue, 1, "a list of strings"},
      {"unknown colour", parsed(S("PenColor") + H("07") + S("clNavyBlue")), EStreamRecordError::rpValue, 1,
       "a colour name or an integer"},
  };
  for (const auto& c : cases) {
    try {
      BuildComponent(c.Stream);
      ADD_FAILURE() << c.What << " was accepted";
    } catch (const EStreamRecordError& e) {
      EXPECT_EQ(e.Part, c.Part) << c.What;
      EXPECT_EQ(e.Record, c.Record) << c.What;
      EXPECT_TRUE(e.Message().contains(QLatin1String(c.Says))) << c.What << ": " << e.what();
    }
  }
  const auto label = BuildComponent(ParseComponentStream(Header("TLabelDisplay", "") + S("Font.Style") +
                                                         H("0B") + S("fsItalic") + H("00") + kEnd));
  EXPECT_EQ(static_cast<TLabelDisplay&>(*label).Font().Style(), quint32(fsItalic));
}

// A value past its property's range is refused when it is read, with the object, the property and
// the value named and the record blamed; both ends come back as they were stored.
class StoredRangeTest : public StreamTest {
 protected:
  // The refusal of a record, or an empty text when it was accepted.
  static std::string Refusal(const TParsedStream& stream) {
    try {
      ReadComponent(WriteParsedStream(stream));
      return {};
    } catch (const EStreamRecordError& e) {
      EXPECT_EQ(e.Part, EStreamRecordError::rpValue) << e.what();
      EXPECT_EQ(e.Record, 0) << e.what();
      return e.what();
    }
  }
  static void ExpectRefused(const TParsedStream& stream, const QString& valueText) {
    const QString path = stream.Records[0].Name;
    const std::string why = Refusal(stream);
    ASSERT_FALSE(why.empty()) << path.toStdString() << "=" << valueText.toStdString() << " was accepted";
    const QString says = QString::fromStdString(why);
    EXPECT_TRUE(says.startsWith(test::ObjectText(stream.ClassName) + ": " + path + "=" + valueText + " "))
        << why;
    EXPECT_TRUE(says.contains("out of range")) << why;
  }
};

TEST_F(StoredRangeTest, IntegersAreReadAtBothEndsAndRefusedPastThem) {
  for (const test::TIntRange& c : test::kIntRanges) {
    SCOPED_TRACE(std::string(c.Class) + "." + c.Path);
    for (const qint64 v : {c.Low, c.High}) {
      const auto object =
          ReadComponent(WriteParsedStream(test::OneRecord(c.Class, c.Path, test::IntValue(v))));
      EXPECT_EQ(test::StoredValue(*object, c.Path).toLongLong(), v);
      EXPECT_EQ(object->Name(), test::ObjectName(c.Class));
    }
    for (const qint64 v : {c.Low - 1, c.High + 1}) {
      if (v < INT32_MIN || v > INT32_MAX) continue;  // a stream holds no wider integer
      ExpectRefused(test::OneRecord(c.Class, c.Path, test::IntValue(v)), QString::number(v));
      const std::string why = Refusal(test::OneRecord(c.Class, c.Path, test::IntValue(v)));
      EXPECT_NE(why.find(QStringLiteral("it takes %1 to %2").arg(c.Low).arg(c.High).toStdString()),
                std::string::npos)
          << why;
    }
  }
}

TEST_F(StoredRangeTest, ListsAreReadUpToTheirLengthAndRefusedPastIt) {
  for (const test::TListRange& c : test::kListRanges) {
    SCOPED_TRACE(std::string(c.Class) + "." + c.Path);
    const auto object = ReadComponent(
        WriteParsedStream(test::OneRecord(c.Class, c.Path, test::ListValue(c.MaxLines, c.Dated))));
    const TParsedStream back = ParseComponentStream(WriteComponent(*object));
    const auto record = std::find_if(back.Records.begin(), back.Records.end(),
                                     [&](const TStreamRecord& r) { return r.Name == QLatin1String(c.Path); });
    ASSERT_NE(record, back.Records.end());
    EXPECT_EQ(record->Value.Lines.size(), c.MaxLines);
    EXPECT_EQ(record->Value.Lines.last(), test::ListLine(c.MaxLines - 1, c.Dated));
    ExpectRefused(test::OneRecord(c.Class, c.Path, test::ListValue(c.MaxLines + 1, c.Dated)),
                  QStringLiteral("(%1 lines)").arg(c.MaxLines + 1));
  }
}

TEST_F(StoredRangeTest, ColoursAreRgbOrNamed) {
  for (const auto& [cls, path] : test::kColourProperties) {
    SCOPED_TRACE(std::string(cls) + "." + path);
    for (const qint64 v : test::kColoursAccepted) {
      const auto object = ReadComponent(WriteParsedStream(test::OneRecord(cls, path, test::IntValue(v))));
      EXPECT_EQ(test::StoredValue(*object, path).toLongLong(), AsInt32(v)) << v;
    }
    for (const qint64 v : test::kColoursRefused)
      ExpectRefused(test::OneRecord(cls, path, test::IntValue(v)),
                    QStringLiteral("%1 (0x%2)").arg(AsInt32(v)).arg(v, 8, 16, QLatin1Char('0')));
    // By name as the writer stores them.
    TStreamValue named;
    named.Tag = vaIdent;
    named.Text = "clInfoBk";
    const auto object = ReadComponent(WriteParsedStream(test::OneRecord(cls, path, named)));
    EXPECT_EQ(test::StoredValue(*object, path).toLongLong(), AsInt32(0x80000018));
  }
}

TEST_F(StoredRangeTest, FloatsAreReadAtBothEndsAndRefusedPastThem) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (const test::TFloatRange& c : test::kFloatRanges) {
    SCOPED_TRACE(std::string(c.Class) + "." + c.Path);
    for (const double v : {c.Low, c.High}) {
      const auto object =
          ReadComponent(WriteParsedStream(test::OneRecord(c.Class, c.Path, test::FloatValue(v))));
      EXPECT_EQ(test::StoredValue(*object, c.Path).toDouble(), v);
    }
    for (const double v : {std::nextafter(c.Low, -kInf), std::nextafter(c.High, kInf), 1e308, -1e308}) {
      ExpectRefused(test::OneRecord(c.Class, c.Path, test::FloatValue(v)), test::FloatText(v));
      const std::string why = Refusal(test::OneRecord(c.Class, c.Path, test::FloatValue(v)));
      EXPECT_NE(why.find(QStringLiteral("it takes %1 to %2")
                             .arg(test::FloatText(c.Low), test::FloatText(c.High))
                             .toStdString()),
                std::string::npos)
          << why;
    }
  }
}

// A history's times are real dates, wherever in the list; a cyclogram's seconds are no dates.
TEST_F(StoredRangeTest, HistoryTimesAreRealDates) {
  for (const test::TTimeLine& c : test::kTimeLines) {
    SCOPED_TRACE(c.Text);
    for (const int at : {0, 2}) {
      TStreamValue times = test::ListValue(3, true);
      times.Lines = TTextList();
      for (int i = 0; i < 3; ++i)
        times.Lines.append(i == at ? QString::fromUtf8(c.Text) : test::ListLine(i, true));
      const TParsedStream stream = test::OneRecord("TRegisterNode", "Points.Strings", times);
      if (c.Accepted) {
        EXPECT_EQ(Refusal(stream), "");
      } else {
        ExpectRefused(stream,
                      QStringLiteral("(line %1: %2)").arg(at + 1).arg(QuotedText(QString::fromUtf8(c.Text))));
      }
    }
  }
  const auto command =
      ReadComponent(WriteParsedStream(test::OneRecord("TCommandNode", "Points.Strings", test::ListValue(4))));
  EXPECT_EQ(static_cast<TCommandNode&>(*command).Points().size(), 4);
}

// NaN and the infinities reach no setter, whatever the property; the largest finite numbers are
// read where the table does not narrow it.
TEST_F(StoredRangeTest, EveryFloatIsFinite) {
  int properties = 0;
  for (const char* cls : test::kStoredClasses)
    for (const QString& path : test::FloatProperties(cls)) {
      SCOPED_TRACE(std::string(cls) + "." + path.toStdString());
      ++properties;
      for (const double v : test::kNonFinite)
        ExpectRefused(test::OneRecord(cls, path, test::FloatValue(v)), test::FloatText(v));
      const bool narrowed =
          std::any_of(std::begin(test::kFloatRanges), std::end(test::kFloatRanges),
                      [&](const test::TFloatRange& r) { return r.Class == QString(cls) && r.Path == path; });
      if (narrowed) continue;
      for (const double v : {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()})
        EXPECT_NO_THROW(ReadComponent(WriteParsedStream(test::OneRecord(cls, path, test::FloatValue(v)))))
            << v;
    }
  EXPECT_GE(properties, 10) << "the walk found the float properties";
}

// Every object as the program makes it saves a stream that reads back: no declared range leaves
// out a value the program starts with.
TEST_F(StoredRangeTest, EveryNewObjectReadsBack) {
  for (const char* cls : test::kStoredClasses) {
    SCOPED_TRACE(cls);
    const TClassInfo* info = TClassRegistry::Find(cls);
    ASSERT_TRUE(info != nullptr && info->Create);
    std::unique_ptr<TComponent> object(info->Create(nullptr));
    EXPECT_NO_THROW(ReadComponent(WriteComponent(*object)));
  }
}

// --- extended floats ---------------------------------------------------------------------------

TEST(ExtendedTest, HandWorkedValues) {
  const struct {
    double Value;
    const char* Hex;
  } cases[] = {
      {0.0, "00000000000000000000"},
      {-0.0, "00000000000000000080"},
      {1.0, "0000000000000080FF3F"},
      {-2.5, "00000000000000A000C0"},
      {46363.5, "0000000000801BB50E40"},  // 1011010100011011.1b = 1.0110101000110111b x 2^15
      {0.5, "0000000000000080FE3F"},
      {3.0, "00000000000000C00040"},
      {std::numeric_limits<double>::infinity(), "0000000000000080FF7F"},
  };
  for (const auto& c : cases) {
    const auto ext = DoubleToExtended(c.Value);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(ext.data()), 10).toHex(), QByteArray(c.Hex).toLower())
        << c.Value;
    const QByteArray raw = QByteArray::fromHex(c.Hex);
    const double back = ExtendedToDouble(reinterpret_cast<const uint8_t*>(raw.constData()));
    EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(c.Value)) << c.Value;
  }
  // 1e-300 = 0x01A56E1FC2F8F359 as a double: exponent 26 - 1023 = -997, so 16383 - 997 = 0x3C1A, and
  // the mantissa is 1 followed by the 52 fraction bits shifted up by 11.
  const auto tiny = DoubleToExtended(1e-300);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(tiny.data()), 10).toHex(),
            QByteArray("00c89ac717fe70ab1a3c"));
  EXPECT_TRUE(std::isnan(ExtendedToDouble(DoubleToExtended(std::nan("")).data())));
}

TEST(ExtendedTest, NarrowingRoundsToNearestEvenAndHandlesTheRanges) {
  auto ext = [](uint64_t mantissa, uint16_t se) {
    std::array<uint8_t, 10> b{};
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(mantissa >> (8 * i));
    b[8] = static_cast<uint8_t>(se);
    b[9] = static_cast<uint8_t>(se >> 8);
    return ExtendedToDouble(b.data());
  };
  // 1 + 2^-53 is a tie: stays at 1 (even); 1 + 3 x 2^-54 rounds up to 1 + 2^-52.
  EXPECT_EQ(ext(0x8000000000000400ull, 0x3FFF), 1.0);
  EXPECT_EQ(ext(0x8000000000000600ull, 0x3FFF), 1.0 + std::ldexp(1.0, -52));
  EXPECT_EQ(ext(0x8000000000000C00ull, 0x3FFF), 1.0 + 2 * std::ldexp(1.0, -52));  // tie up to even
  // All ones round up into the next binade.
  EXPECT_EQ(ext(0xFFFFFFFFFFFFFFFFull, 0x3FFF), 2.0);
  // Beyond the double range: infinity; far below: zero; just below: a subnormal.
  EXPECT_TRUE(std::isinf(ext(0x8000000000000000ull, 0x3FFF + 1024)));
  EXPECT_EQ(ext(0x8000000000000000ull, 0x0001), 0.0);
  EXPECT_EQ(ext(0x8000000000000000ull, 0x3FFF - 1074), std::ldexp(1.0, -1074));
  EXPECT_EQ(ext(0x8000000000000000ull, 0x3FFF - 1075), 0.0);  // exactly half the smallest: even, 0
  EXPECT_EQ(ext(0xC000000000000000ull, 0x3FFF - 1075), std::ldexp(1.0, -1074));
  // An unnormal (integer bit clear) is normalised.
  EXPECT_EQ(ext(0x4000000000000000ull, 0x4000), 1.0);
  EXPECT_EQ(ext(0, 0x4000), 0.0);
}

#if defined(__x86_64__) || defined(__i386__)
// The processor's own 80-bit format is an independent judge of both directions.
TEST(ExtendedTest, AgreesWithTheProcessorsExtendedFormat) {
  std::mt19937_64 random(7);
  auto hardware = [](double d) {
    long double x = d;
    std::array<uint8_t, 10> b{};
    std::memcpy(b.data(), &x, 10);
    return b;
  };
  std::vector<double> values = {
      0.0, 1.0, -2.5, 1e-300, 46363.5, 1e300, -1e-310, 4.9e-324, 1.7976931348623157e308};
  for (int i = 0; i < 20000; ++i) values.push_back(std::bit_cast<double>(random()));
  for (double d : values) {
    if (std::isnan(d)) continue;
    EXPECT_EQ(DoubleToExtended(d), hardware(d)) << d;
  }
  for (int i = 0; i < 20000; ++i) {
    std::array<uint8_t, 10> b{};
    const uint64_t m = random() | (uint64_t{1} << 63);
    // Exponents around the whole double range, including its subnormal and overflow edges.
    const uint16_t e = static_cast<uint16_t>(16383 - 1100 + random() % 2200) | ((random() & 1) << 15);
    std::memcpy(b.data(), &m, 8);
    std::memcpy(b.data() + 8, &e, 2);
    long double x = 0;
    std::memcpy(&x, b.data(), 10);
    EXPECT_EQ(std::bit_cast<uint64_t>(ExtendedToDouble(b.data())),
              std::bit_cast<uint64_t>(static_cast<double>(x)))
        << QByteArray(reinterpret_cast<const char*>(b.data()), 10).toHex().constData();
  }
}
#endif

}  // namespace
}  // namespace vexa
