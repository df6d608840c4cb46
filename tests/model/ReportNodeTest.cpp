// Reports on the test clock: interval numbers, aligned windows, where samples fall, progress, the
// copy, the report tick with its archives, stored settings that cannot run, reports destroyed in the
// middle of a tick; and the rules of the report properties dialog.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportRules.h"
#include "reports/model/ReportTick.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

constexpr double kDay = 46363;  // 07.12.2026

// A time of 07.12.2026 ("08:25", "23:59:59.999"), `days` days later.
double At(const char* time, int days = 0) {
  const QString text = QString::fromLatin1(time);
  const QTime t = QTime::fromString(text, text.size() > 8   ? QStringLiteral("HH:mm:ss.zzz")
                                          : text.size() > 5 ? QStringLiteral("HH:mm:ss")
                                                            : QStringLiteral("HH:mm"));
  EXPECT_TRUE(t.isValid()) << time;
  return kDay + days + t.msecsSinceStartOfDay() / 86400000.0;
}

QString Text(double t) {
  return DateTimeToStr(t);
}

// Indexes of the two tables by what they stand for.
enum : int { i1s = 0, i3s = 1, i12s = 3, i1min = 5, i12min = 8, i3h = 11 };
enum : int { d1min = 0, d1h = 5, d3h = 6, d6h = 7, d8h = 8, d12h = 9, d1day = 10, d3days = 11, d30days = 14 };

// A message service whose next message runs an operator command before it returns, as a message
// box's own event loop would.
class TReenteringMessages : public TScriptedMessages {
 public:
  TMsgButton Show(const QString& text, TMsgIcon icon, unsigned buttons, TMsgButton def) override {
    const TMsgButton answer = TScriptedMessages::Show(text, icon, buttons, def);
    if (auto command = std::exchange(OnShow, nullptr)) command();
    return answer;
  }
  std::function<void()> OnShow;
};

class ReportNodeTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Settings()->SetDemo(true);  // the registers answer from the simulator
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
    hooks.ShowProgress = [this](TReportNode& r, int p) { progress[r.Caption()] = p; };
    hooks.ShowStopped = [this](TReportNode& r) { stopped << r.Caption(); };
  }

  // A stopped report under REPORTS, as a copy of a template, with two registers.
  TReportNode* AddReport(const QString& caption, int interval, int duration, int maxCount = 100) {
    auto* r = new TReportNode(Reports().get());
    r->SetName(QStringLiteral("R%1").arg(++made));
    r->SetCaption(caption);
    r->SetLoggingIntervalIndex(interval);
    r->SetLoggingDurationIndex(duration);
    r->SetMaxCount(maxCount);
    r->SetImageIndex(iiSTOP);
    for (const char* name : {"D000C001R005", "D001C000R003"}) {
      auto* reg = new TRegisterNode(r);
      reg->SetName(QString::fromLatin1(name));
      reg->SetCaption(QString::fromLatin1(name));
      reg->SetImageIndex(iiREPORTN);
      reg->SetMaxCount(maxCount);
    }
    return r;
  }

  // "Старт" at the given time.
  void Start(TReportNode* r, double t) {
    Clock->SetNow(t);
    r->Reset();
    ASSERT_TRUE(r->StartReport().Empty());
    r->SetImageIndex(iiPLAY);
  }

  static TRegisterNode* Reg(TReportNode* r, int i = 0) {
    return dynamic_cast<TRegisterNode*>(r->Component(i));
  }

  void Tick(double t) {
    Clock->SetNow(t);
    ShowFaults(ReportTick(Current(), hooks));
  }
  // Ticks a second apart from `from` through `to`.
  void Ticks(double from, double to) {
    const qint64 end = DateTimeToMs(to);
    for (qint64 ms = DateTimeToMs(from); ms <= end; ms += 1000) Tick(MsToDateTime(ms));
  }

  QString Archives() const { return Dir->filePath(QStringLiteral("Archives")); }
  QString ArchiveFile(const QString& name) const { return Dir->filePath(QStringLiteral("Archives/") + name); }
  std::unique_ptr<TReportNode> LoadArchived(const QString& name) {
    auto archived = std::make_unique<TReportNode>(nullptr);
    archived->SetCaption(name);
    LoadArchive(Current().Dir(), archived);
    return archived;
  }

  TReportTickHooks hooks;
  std::map<QString, int> progress;
  QStringList stopped;
  int made = 0;
};

// --- interval numbers and aligned windows ----------------------------------------------------------

TEST_F(ReportNodeTest, IntervalNumbersCountFromMidnightOnWholeMilliseconds) {
  // Every minute and every second of a day, reached as fractions of a day: none lands a hair short.
  for (int k = 0; k < 1440; ++k) ASSERT_EQ(IntervalNumber(60, kDay + k / 1440.0), k) << k;
  for (int k = 0; k < 86400; ++k) ASSERT_EQ(IntervalNumber(1, kDay + k / 86400.0), k) << k;
  const struct {
    int Period;
    double T;
    int N;
  } cases[] = {
      {60, At("08:00:59.999"), 480},
      {60, At("08:01"), 481},
      {43200, At("11:59:59.999"), 0},
      {43200, At("12:00"), 1},
      {3, At("00:00:02.999"), 0},
      {1, At("23:59:59.999"), 86399},
      {60, At("00:00:30", 1), 0},
      {86400, At("12:00"), 46363},
      {259200, At("12:00"), 15454},
      {2592000, At("23:59:59.999"), 1545},  // 30-day windows since 30 Dec 1899
  };
  for (const auto& c : cases)
    EXPECT_EQ(IntervalNumber(c.Period, c.T), c.N) << c.Period << " " << Text(c.T).toStdString();
}

TEST_F(ReportNodeTest, StartReportAlignsTheWindowToItsDurationAndShift) {
  const struct {
    const char* Name;
    int Duration;
    bool Align;
    bool Shift;
    int ShiftHour;
    double Now;
    double Start;
  } cases[] = {
      {"1 h at 08:25", d1h, true, false, 0, At("08:25"), At("08:00")},
      {"1 min a hair before the next", d1min, true, false, 0, At("08:25:59.999"), At("08:25")},
      {"8 h at the day's last moment", d8h, true, false, 0, At("23:59:59.999"), At("16:00")},
      {"8 h, shift 7, at 03:00", d8h, true, true, 7, At("03:00"), At("23:00", -1)},
      {"8 h, shift 7, at 07:00", d8h, true, true, 7, At("07:00"), At("07:00")},
      {"12 h, shift 8, at 07:59", d12h, true, true, 8, At("07:59"), At("20:00", -1)},
      {"12 h, shift 8, at 08:00", d12h, true, true, 8, At("08:00"), At("08:00")},
      {"12 h, shift 8, at 08:01", d12h, true, true, 8, At("08:01"), At("08:00")},
      {"12 h, shift 8, at 21:00", d12h, true, true, 8, At("21:00"), At("20:00")},
      {"3 h, shift 1, at 00:30", d3h, true, true, 1, At("00:30"), At("22:00", -1)},
      {"shift switched off", d12h, true, false, 8, At("07:59"), At("00:00")},
      {"1 day at 17:00", d1day, true, false, 0, At("17:00"), At("00:00")},
      {"1 day, shift 8, at 07:00", d1day, true, true, 8, At("07:00"), At("08:00", -1)},
      {"1 day, shift 8, at 09:00", d1day, true, true, 8, At("09:00"), At("08:00")},
      // Windows of days lie on a grid from 30 Dec 1899: 46362 = 3 x 15454 = 6 x 7727, 46350 = 30 x 1545.
      {"3 days", d3days, true, false, 0, At("12:00"), At("00:00", -1)},
      {"3 days, next day", d3days, true, false, 0, At("12:00", 2), At("00:00", 2)},
      {"6 days", 12, true, false, 0, At("12:00"), At("00:00", -1)},
      {"12 days", 13, true, false, 0, At("12:00"), At("00:00", -7)},
      {"30 days", d30days, true, false, 0, At("12:00"), At("00:00", -13)},
      // Across the ends of a month and of a year (the base day is 07.12.2026).
      {"8 h, shift 7, on New Year's night", d8h, true, true, 7, At("03:00", 25), At("23:00", 24)},
      {"1 h just after New Year", d1h, true, false, 0, At("00:25", 25), At("00:00", 25)},
      {"1 day, shift 8, on the 1st of December", d1day, true, true, 8, At("07:00", -6), At("08:00", -7)},
      {"1 day on New Year's Eve's last moment", d1day, true, false, 0, At("23:59:59.999", 24),
       At("00:00", 24)},
      {"unaligned", d1h, false, false, 0, At("08:25:17.250"), At("08:25:17.250")},
      {"unaligned with a shift", d8h, false, true, 7, At("03:00"), At("03:00")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TReportNode* r = AddReport(QString::fromUtf8(c.Name), i1min, c.Duration);
    r->SetAlignEnabled(c.Align);
    r->SetOffsetEnabled(c.Shift);
    r->SetTimeOffset(c.ShiftHour);
    Start(r, c.Now);
    EXPECT_EQ(Text(r->StartPoint()), Text(c.Start));
    EXPECT_EQ(DateTimeToMs(r->StartPoint()), DateTimeToMs(c.Start));
    EXPECT_EQ(DateTimeToMs(r->LastPoint()) - DateTimeToMs(r->StartPoint()),
              kLoggingDurations[static_cast<size_t>(c.Duration)] * qint64{1000});
    EXPECT_EQ(r->LastIntervalNumber(), IntervalNumber(60, c.Start));
    EXPECT_TRUE(r->Enabled());
    EXPECT_TRUE(Reg(r)->Enabled()) << "the registers read only while enabled";
  }
}

// --- sampling ----------------------------------------------------------------------------------------

TEST_F(ReportNodeTest, SamplesFallOnTheIntervalGridFromMidnightWithinTheWindow) {
  const auto grid = [](const char* first, int count, int stepSeconds) {
    QStringList times;
    for (int i = 0; i < count; ++i)
      times << Text(MsToDateTime(DateTimeToMs(At(first)) + qint64{1000} * i * stepSeconds));
    return times;
  };
  const struct {
    const char* Name;
    int Interval;
    int Duration;
    bool Align;
    double Start;  // the start command
    int PhaseMs;   // of the ticks after the start
    QStringList Samples;
  } cases[] = {
      // The start's interval (08:00) takes none, the window ends before 09:00's.
      {"1 min in 1 h, running on", i1min, d1h, true, At("08:00:00.300"), 300, grid("08:01", 59, 60)},
      {"ticks exactly on the minute", i1min, d1h, true, At("08:00"), 0, grid("08:01", 59, 60)},
      // Started late: the first tick samples, nothing for the time before the start.
      {"started at 08:25", i1min, d1h, true, At("08:25:00.500"), 500, grid("08:25:00.500", 35, 60)},
      // The grid runs from midnight, not from the start at 08:25:17.
      {"12 min, unaligned", i12min, d1h, false, At("08:25:17"), 0, grid("08:36", 5, 720)},
      {"3 s in 1 min", i3s, d1min, true, At("08:00:00.400"), 400, grid("08:00:03.400", 19, 3)},
      {"3 h in 1 day, started at 04:00", i3h, d1day, true, At("04:00"), 0,
       QStringList{Text(At("04:00"))} + grid("06:00", 6, 3 * 3600)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TReportNode* r = AddReport(QString::fromUtf8(c.Name), c.Interval, c.Duration);
    r->SetAlignEnabled(c.Align);
    r->SetTrigger(1);
    Start(r, c.Start);
    // Every second from the start to well past the end of the window.
    const qint64 end = DateTimeToMs(r->LastPoint()) + 120'000;
    const qint64 first = DateTimeToMs(c.Start) - DateTimeToMs(c.Start) % 1000 + c.PhaseMs;
    for (qint64 ms = first; ms <= end; ms += 1000) {
      Clock->SetNow(MsToDateTime(ms));
      r->Refresh(Line());
    }
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(Reg(r, i)->Points().ToStringList(), c.Samples);
      EXPECT_EQ(Reg(r, i)->DataList().size(), c.Samples.size());
    }
    r->Stop();
  }
}

// Every interval of the table, each in a window of about thirty of its intervals, ticked every second
// from just after the window's start to past its end: the window's first interval takes no sample,
// then one sample per interval on the tick that enters it, none at or after the window's end.
TEST_F(ReportNodeTest, EveryIntervalOfTheTableSamplesOncePerIntervalOfItsWindow) {
  const struct {
    int Interval;
    int Duration;
    double Start;  // the start command, a little after the window's start
    const char* First;
    int FirstDay;
    const char* Last;
    int LastDay;
    int Count;
  } cases[] = {
      {0, 0, At("08:00:00.300"), "08:00:01.300", 0, "08:00:59.300", 0, 59},
      {1, 0, At("08:00:00.450"), "08:00:03.450", 0, "08:00:57.450", 0, 19},
      {2, 1, At("08:00:00.999"), "08:00:06.999", 0, "08:02:54.999", 0, 29},
      {3, 2, At("08:00:00.001"), "08:00:12.001", 0, "08:05:48.001", 0, 29},
      {4, 3, At("08:00:00.500"), "08:00:30.500", 0, "08:11:30.500", 0, 23},
      {5, 4, At("08:00:00.250"), "08:01:00.250", 0, "08:29:00.250", 0, 29},
      {6, 5, At("08:00:00.300"), "08:03:00.300", 0, "08:57:00.300", 0, 19},
      {7, 6, At("09:00:00.300"), "09:06:00.300", 0, "11:54:00.300", 0, 29},
      {8, 7, At("06:00:00.300"), "06:12:00.300", 0, "11:48:00.300", 0, 29},
      {9, 8, At("08:00:00.300"), "08:30:00.300", 0, "15:30:00.300", 0, 15},
      {10, 9, At("12:00:00.300"), "13:00:00.300", 0, "23:00:00.300", 0, 11},
      {11, 10, At("00:00:00.300"), "03:00:00.300", 0, "21:00:00.300", 0, 7},
      // Windows of days lie on a grid from 30 Dec 1899: the 3- and 6-day windows begin on the 6th.
      {12, 11, At("00:00:00.300", -1), "06:00:00.300", -1, "18:00:00.300", 1, 11},
      {13, 12, At("00:00:00.300", -1), "12:00:00.300", -1, "12:00:00.300", 4, 11},
  };
  static_assert(std::size(cases) == kLoggingIntervals.size());
  for (const auto& c : cases) {
    const int seconds = LoggingIntervalSeconds(c.Interval);
    SCOPED_TRACE(testing::Message() << "interval " << seconds << " s");
    TReportNode* r = AddReport(QStringLiteral("R"), c.Interval, c.Duration, kMaxReportCount);
    r->SetTrigger(1);
    Start(r, c.Start);
    ASSERT_LT(DateTimeToMs(r->StartPoint()), DateTimeToMs(c.Start));
    ASSERT_GT(DateTimeToMs(r->StartPoint()) + 1000, DateTimeToMs(c.Start))
        << "started in the window's first second";
    const qint64 end = DateTimeToMs(r->LastPoint()) + 2000LL * seconds;
    for (qint64 ms = DateTimeToMs(c.Start); ms <= end; ms += 1000) {
      Clock->SetNow(MsToDateTime(ms));
      r->Refresh(Line());
    }
    const QStringList samples = Reg(r)->Points().ToStringList();
    ASSERT_EQ(samples.size(), c.Count);
    EXPECT_EQ(Reg(r, 1)->DataList().size(), c.Count);
    EXPECT_EQ(samples.first(), Text(At(c.First, c.FirstDay)));
    EXPECT_EQ(samples.last(), Text(At(c.Last, c.LastDay)));
    // Read back as times, one interval apart to the millisecond.
    for (int i = 1; i < samples.size(); ++i) {
      const std::optional<double> a = StrToDateTime(samples[i - 1]);
      const std::optional<double> b = StrToDateTime(samples[i]);
      ASSERT_TRUE(a && b) << samples[i].toStdString();
      ASSERT_EQ(DateTimeToMs(*b) - DateTimeToMs(*a), 1000LL * seconds) << samples[i].toStdString();
    }
    r->Stop();
  }
}

TEST_F(ReportNodeTest, ARestoredRunningReportSamplesAtItsFirstTick) {
  TReportNode* r = AddReport(QStringLiteral("Печь"), i1min, d1h);
  Start(r, At("08:00:00.300"));
  ASSERT_TRUE(SaveTreeFile(Current(), *Reports()));
  LoadTreeFile(Current(), Reports());
  auto* restored = dynamic_cast<TReportNode*>(Reports()->Component(0));
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(restored->LastIntervalNumber(), -1);
  EXPECT_EQ(restored->StartPoint(), At("08:00"));
  Clock->SetNow(At("08:00:05"));
  restored->Refresh(Line());
  EXPECT_EQ(Reg(restored)->Count(), 1);
  Clock->SetNow(At("08:00:06"));
  restored->Refresh(Line());
  EXPECT_EQ(Reg(restored)->Count(), 1) << "the same interval again";
}

TEST_F(ReportNodeTest, ProgressIsTheElapsedShareOfTheWindow) {
  TReportNode* r = AddReport(QStringLiteral("Печь"), i1min, d1h);
  const struct {
    double Start;
    double Last;
    double Now;
    int Progress;
  } cases[] = {
      {At("08:00"), At("09:00"), At("08:00"), 0},         {At("08:00"), At("09:00"), At("08:30"), 50},
      {At("08:00"), At("09:00"), At("08:35:59.999"), 59}, {At("08:00"), At("09:00"), At("08:59:59.999"), 99},
      {At("08:00"), At("09:00"), At("09:00"), 100},       {At("08:00"), At("09:00"), At("10:00"), 100},
      {At("08:00"), At("09:00"), At("07:00"), 0},         {At("00:00"), At("00:00", 30), At("12:00", 15), 51},
      {At("08:00"), At("08:00"), At("09:00"), 0},  // a window of no length
      {At("08:00"), At("07:00"), At("09:00"), 0},         {NAN, At("09:00"), At("08:30"), 0},
  };
  for (const auto& c : cases) {
    r->SetStartPoint(c.Start);
    r->SetLastPoint(c.Last);
    Clock->SetNow(c.Now);
    EXPECT_EQ(r->Progress(), c.Progress) << Text(c.Start).toStdString() << " " << Text(c.Now).toStdString();
  }
}

// --- the copy, reset and stop ------------------------------------------------------------------------

TEST_F(ReportNodeTest, AssignCopiesEveryReportPropertyButNoChildren) {
  TReportNode source(nullptr);
  source.SetName(QStringLiteral("T1"));
  source.SetCaption(QStringLiteral("Котел"));
  source.SetStartPoint(At("08:00"));
  source.SetLastPoint(At("16:00"));
  source.SetLoggingIntervalIndex(7);
  source.SetLoggingDurationIndex(d8h);
  source.SetTrigger(1);
  source.SetAlignEnabled(false);
  source.SetTimeOffset(7);
  source.SetOffsetEnabled(true);
  source.SetSave(1);
  source.SetMaxCount(80);
  source.SetHeader({QStringLiteral("Цех 2"), QString(), QStringLiteral("Смена")});
  source.SetFooter({QStringLiteral("Подпись")});
  new TRegisterNode(&source);

  TReportNode copy(nullptr);
  copy.Assign(source);
  for (const TPropInfo* p : TReportNode::StaticClassInfo().Properties()) {
    if (p->Name == QLatin1String("PData") || p->Name == QLatin1String("Changed")) continue;
    EXPECT_EQ(p->Get(copy), p->Get(source)) << p->Name.toStdString();
  }
  EXPECT_EQ(copy.ComponentCount(), 0);
  EXPECT_TRUE(copy.Changed());

  // From a plain node only the node's own properties.
  TRootNode plain(nullptr);
  plain.SetCaption(QStringLiteral("Узел"));
  copy.Assign(plain);
  EXPECT_EQ(copy.Caption(), QStringLiteral("Узел"));
  EXPECT_EQ(copy.MaxCount(), 80);
}

TEST_F(ReportNodeTest, ResetEmptiesTheLogsAndStopsWhileStopKeepsThem) {
  TReportNode* r = AddReport(QStringLiteral("Печь"), i1min, d1h);
  Start(r, At("08:00:00.300"));
  for (const char* t : {"08:01:00.300", "08:02:00.300"}) {
    Clock->SetNow(At(t));
    r->Refresh(Line());
  }
  ASSERT_EQ(Reg(r, 1)->Count(), 2);

  r->Stop();
  EXPECT_FALSE(r->Enabled());
  EXPECT_FALSE(Reg(r)->Enabled());
  EXPECT_EQ(Reg(r, 1)->Count(), 2);
  Clock->SetNow(At("08:03:00.300"));
  r->Refresh(Line());
  EXPECT_EQ(Reg(r, 1)->Count(), 2) << "a stopped report samples nothing";

  for (int i = 0; i < 2; ++i) Reg(r, i)->SetChanged(false);
  r->Reset();
  EXPECT_FALSE(r->Enabled());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Reg(r, i)->Count(), 0);
    EXPECT_TRUE(Reg(r, i)->DataList().isEmpty());
    EXPECT_TRUE(Reg(r, i)->Changed());
  }
}

// --- the report tick ---------------------------------------------------------------------------------

TEST_F(ReportNodeTest, APeriodicReportArchivesItsWindowAndBeginsTheNext) {
  TReportNode* r = AddReport(QStringLiteral("Котел 1.2"), i1min, d1h);
  Start(r, At("08:00:00.300"));
  Ticks(At("08:00:01.300"), At("08:59:59.300"));
  EXPECT_EQ(Reg(r)->Count(), 59);
  EXPECT_EQ(progress[QStringLiteral("Котел 1.2")], 99);
  EXPECT_FALSE(QFileInfo::exists(ArchiveFile(QStringLiteral("Котел_1_2_07_12_2026_0800"))));

  Tick(At("09:00:00.300"));
  EXPECT_EQ(progress[QStringLiteral("Котел 1.2")], 100);
  const auto archived = LoadArchived(QStringLiteral("Котел_1_2_07_12_2026_0800"));
  ASSERT_EQ(archived->ComponentCount(), 2);
  EXPECT_EQ(archived->StartPoint(), At("08:00"));
  EXPECT_EQ(archived->LastPoint(), At("09:00"));
  EXPECT_EQ(Reg(archived.get(), 1)->Count(), 59);
  EXPECT_EQ(Reg(archived.get())->Points().first(), Text(At("08:01")));
  EXPECT_EQ(Reg(archived.get())->Points().last(), Text(At("08:59")));

  // The next window, aligned to now, with empty logs; the caption as it was; the tree saved.
  EXPECT_TRUE(r->Enabled());
  EXPECT_EQ(r->Caption(), QStringLiteral("Котел 1.2"));
  EXPECT_EQ(r->StartPoint(), At("09:00"));
  EXPECT_EQ(r->LastPoint(), At("10:00"));
  EXPECT_EQ(Reg(r)->Count(), 0);
  EXPECT_EQ(r->ImageIndex(), iiPLAY);
  EXPECT_TRUE(stopped.isEmpty());
  EXPECT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("REPORTS"))));
  EXPECT_TRUE(Messages->Shown.empty());

  Ticks(At("09:00:01.300"), At("09:01:00.300"));
  EXPECT_EQ(Reg(r)->Count(), 1) << "09:00 is the new window's first interval";
}

TEST_F(ReportNodeTest, EndOfWindowByTriggerAndArchiving) {
  const struct {
    const char* Name;
    int Trigger;
    int Save;
    bool Archived;
    bool Running;
    int SamplesLeft;
  } cases[] = {
      {"periodic, archived", 0, 0, true, true, 0},
      {"periodic, not archived", 0, 1, false, true, 0},
      {"one-time, archived", 1, 0, true, false, 19},
      {"one-time, not archived", 1, 1, false, false, 19},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Current().RecreateRoot(QStringLiteral("REPORTS"));
    QDir(Archives()).removeRecursively();
    QDir(Dir->path()).mkpath(QStringLiteral("Archives"));
    stopped.clear();
    TReportNode* r = AddReport(QStringLiteral("Печь"), i3s, d1min);
    r->SetTrigger(c.Trigger);
    r->SetSave(c.Save);
    Start(r, At("10:00:00.500"));
    Ticks(At("10:00:01.500"), At("10:01:05.500"));
    EXPECT_EQ(QFileInfo::exists(ArchiveFile(QStringLiteral("Печь_07_12_2026_1000"))), c.Archived);
    EXPECT_EQ(QDir(Archives()).entryList(QDir::Files).size(), c.Archived ? 1 : 0);
    EXPECT_EQ(r->Enabled(), c.Running);
    EXPECT_EQ(r->ImageIndex(), c.Running ? iiPLAY : iiSTOP);
    EXPECT_EQ(stopped, c.Running ? QStringList() : QStringList({QStringLiteral("Печь")}));
    if (c.Running) {
      EXPECT_EQ(r->StartPoint(), At("10:01")) << "one roll-over only";
    }
    const int lateSamples = c.Running ? 1 : 0;  // 10:01:03, in the next window
    EXPECT_EQ(Reg(r)->Count(), c.SamplesLeft + lateSamples);
    EXPECT_TRUE(Messages->Shown.empty());
  }
}

TEST_F(ReportNodeTest, AFailedArchiveWriteIsToldOnceAndKeepsTheWindowForTheNextAttempt) {
  const struct {
    const char* Name;
    std::function<void(const QString& archives, const QString& file)> Obstruct;
  } obstacles[] = {
      {"a file where the folder should be",
       [](const QString& archives, const QString&) {
         QDir(archives).removeRecursively();
         QFile f(archives);
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
       }},
      {"a folder where the archive should be",
       [](const QString&, const QString& file) { ASSERT_TRUE(QDir().mkpath(file)); }},
  };
  for (const auto& o : obstacles) {
    for (int trigger : {0, 1}) {
      SCOPED_TRACE(testing::Message() << o.Name << ", trigger " << trigger);
      Current().RecreateRoot(QStringLiteral("REPORTS"));
      const QString archives = Archives();
      QFile::remove(archives);
      QDir(archives).removeRecursively();
      QDir(Dir->path()).mkpath(QStringLiteral("Archives"));
      Messages->Shown.clear();
      TReportNode* r = AddReport(QStringLiteral("Печь"), i3s, d1min);
      r->SetTrigger(trigger);
      const QString name = QStringLiteral("Печь_07_12_2026_1000");
      o.Obstruct(archives, ArchiveFile(name));
      Start(r, At("10:00:00.500"));
      Ticks(At("10:00:01.500"), At("10:01:10.500"));

      ASSERT_EQ(Messages->Texts(), QStringList({ArchiveFailedText(name)}));
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
      EXPECT_TRUE(r->Enabled()) << "the window is not over until it is stored";
      EXPECT_EQ(r->StartPoint(), At("10:00"));
      EXPECT_EQ(Reg(r)->Count(), 19);
      EXPECT_EQ(r->Caption(), QStringLiteral("Печь"));
      EXPECT_FALSE(r->Changed());

      // The way cleared, the next tick stores the window and carries on.
      QFile::remove(archives);
      QDir(archives).removeRecursively();
      QDir(Dir->path()).mkpath(QStringLiteral("Archives"));
      Tick(At("10:01:11.500"));
      EXPECT_EQ(Messages->Shown.size(), 1u);
      EXPECT_EQ(Reg(LoadArchived(name).get())->Count(), 19);
      EXPECT_EQ(r->Enabled(), trigger == 0);
      EXPECT_EQ(Reg(r)->Count(), trigger == 0 ? 0 : 19);
    }
  }
}

TEST_F(ReportNodeTest, StoredSettingsThatCannotRunStopTheirReportOnceAndTheOthersGoOn) {
  const struct {
    const char* Caption;
    std::function<void(TReportNode&)> Spoil;
    const char* Shown;  // in the message
  } faults[] = {
      {"interval high", [](TReportNode& r) { r.SetLoggingIntervalIndex(14); }, " 14 "},
      {"interval low", [](TReportNode& r) { r.SetLoggingIntervalIndex(-1); }, " -1 "},
      {"duration high", [](TReportNode& r) { r.SetLoggingDurationIndex(15); }, " 15 "},
      {"no points", [](TReportNode& r) { r.SetMaxCount(0); }, " 0 "},
      {"too many points", [](TReportNode& r) { r.SetMaxCount(8001); }, " 8001 "},
      {"bad trigger", [](TReportNode& r) { r.SetTrigger(2); }, " 2 "},
      {"bad save", [](TReportNode& r) { r.SetSave(5); }, " 5 "},
      {"bad shift",
       [](TReportNode& r) {
         r.SetOffsetEnabled(true);
         r.SetTimeOffset(24);
       },
       " 24 "},
      {"no window", [](TReportNode& r) { r.SetLastPoint(r.StartPoint()); }, "длины"},
  };
  TReportNode* good = AddReport(QStringLiteral("good"), i1s, d1min);
  Start(good, At("10:00:00.500"));
  for (const auto& f : faults) {
    TReportNode* r = AddReport(QString::fromUtf8(f.Caption), i1s, d1min);
    Start(r, At("10:00:00.500"));
    f.Spoil(*r);
  }
  // A file holding them is refused when it is read (the stored ranges); the tick copes with them
  // wherever else they come from.
  ASSERT_TRUE(SaveTreeFile(Current(), *Reports()));
  // Read into a tree of its own, only the good report comes back; the running ones stay as they are.
  auto read = std::make_unique<TRootNode>(nullptr);
  read->SetName(QStringLiteral("REPORTS"));
  EXPECT_THROW(LoadTreeFile(Current(), read), EUnreadableFiles);
  // The good one and the one whose window has no length, which no range of a single value tells.
  EXPECT_EQ(read->ComponentCount(), 2);
  ForgetUnreadable(ConfigFilePath(Current().Dir(), "REPORTS"));

  Ticks(At("10:00:01.500"), At("10:00:05.500"));
  ASSERT_EQ(Messages->Shown.size(), std::size(faults));
  QStringList expectStopped;
  for (size_t i = 0; i < std::size(faults); ++i) {
    const QString caption = QString::fromUtf8(faults[i].Caption);
    SCOPED_TRACE(faults[i].Caption);
    const QString& text = Messages->Shown[i].Text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Отчет '") + caption + QStringLiteral("' остановлен:\r\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8(faults[i].Shown))) << text.toStdString();
    EXPECT_EQ(Messages->Shown[i].Icon, TMsgIcon::Error);
    auto* r = dynamic_cast<TReportNode*>(Reports()->Component(static_cast<int>(i) + 1));
    EXPECT_FALSE(r->Enabled());
    EXPECT_EQ(r->ImageIndex(), iiSTOP);
    EXPECT_EQ(Reg(r)->Count(), 0);
    expectStopped << caption;
  }
  EXPECT_EQ(stopped, expectStopped);
  auto* goodNow = dynamic_cast<TReportNode*>(Reports()->Component(0));
  EXPECT_TRUE(goodNow->Enabled());
  EXPECT_EQ(Reg(goodNow)->Count(), 5);

  // Starting one again is refused with one message.
  auto* first = dynamic_cast<TReportNode*>(Reports()->Component(1));
  EXPECT_FALSE(first->Enabled());
  Messages->Shown.clear();
  Clock->SetNow(At("11:00"));
  const TFaults refused = first->StartReport();
  EXPECT_FALSE(first->Enabled());
  ASSERT_EQ(refused.Items().size(), 1);
  EXPECT_EQ(refused.Items()[0].Icon, TMsgIcon::Error);
  EXPECT_TRUE(refused.Texts()[0].startsWith(QStringLiteral("Отчет 'interval high' не запущен:\r\n")));
}

TEST_F(ReportNodeTest, ReportsDestroyedDuringTheTickAreNotTouched) {
  const auto run = [this](const char* name, const std::function<void(int call)>& during) {
    SCOPED_TRACE(name);
    Current().RecreateRoot(QStringLiteral("REPORTS"));
    progress.clear();
    stopped.clear();
    for (const char* caption : {"A", "B", "C"})
      Start(AddReport(QString::fromLatin1(caption), i1s, d1min), At("10:00"));
    int calls = 0;
    hooks.ProcessEvents = [&] { during(calls++); };
    Tick(At("10:00:01"));
    hooks.ProcessEvents = nullptr;
    return calls;
  };
  const auto destroy = [this](const char* caption) {
    for (int i = 0; i < Reports()->ComponentCount(); ++i)
      if (auto* r = dynamic_cast<TReportNode*>(Reports()->Component(i));
          r->Caption() == QLatin1String(caption)) {
        delete r;
        return;
      }
  };
  const auto samples = [this](const char* caption) {
    for (int i = 0; i < Reports()->ComponentCount(); ++i)
      if (auto* r = dynamic_cast<TReportNode*>(Reports()->Component(i));
          r->Caption() == QLatin1String(caption))
        return Reg(r)->Count();
    return -1;
  };

  // The operator deletes the report about to be handled, and one still to come.
  EXPECT_EQ(run("next and later",
                [&](int call) {
                  if (call == 1) {
                    destroy("B");
                    destroy("C");
                  }
                }),
            3);
  EXPECT_EQ(samples("A"), 1);
  EXPECT_EQ(progress.size(), 1u);

  // A report added during the tick waits for the next one.
  run("added", [&](int call) {
    if (call == 0) Start(AddReport(QStringLiteral("D"), i1s, d1min), At("10:00:01"));
  });
  EXPECT_EQ(samples("D"), 0);
  EXPECT_EQ(progress.size(), 3u);

  // A state load replaces the whole tree.
  run("tree replaced", [&](int call) {
    if (call == 1) Current().RecreateRoot(QStringLiteral("REPORTS"));
  });
  EXPECT_EQ(Reports()->ComponentCount(), 0);
  EXPECT_EQ(progress.size(), 1u);

  // A message box of one report lets the operator delete it and the next.
  auto messages = std::make_unique<TReenteringMessages>();
  TReenteringMessages* reentering = messages.get();
  Messages = messages.get();
  Services().Messages = std::move(messages);
  run("during a stop message", [&](int call) {
    if (call != 0) return;
    auto* a = dynamic_cast<TReportNode*>(Reports()->Component(0));
    a->SetLoggingIntervalIndex(99);
    reentering->OnShow = [&] {
      destroy("A");
      destroy("B");
    };
  });
  EXPECT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(samples("C"), 1);
  EXPECT_EQ(stopped, QStringList({QStringLiteral("A")}));

  // ... and the message of a failed archive.
  Messages->Shown.clear();
  Current().RecreateRoot(QStringLiteral("REPORTS"));
  QDir(Archives()).removeRecursively();
  ASSERT_TRUE(QFile(Archives()).open(QIODevice::WriteOnly));
  for (const char* caption : {"A", "B"})
    Start(AddReport(QString::fromLatin1(caption), i3s, d1min), At("10:00:00.500"));
  Ticks(At("10:00:01.500"), At("10:00:59.500"));
  reentering->OnShow = [&] { destroy("A"); };
  Tick(At("10:01:00.500"));
  EXPECT_EQ(Messages->Shown.size(), 2u) << "both archives failed";
  EXPECT_EQ(Reports()->ComponentCount(), 1);
  EXPECT_EQ(samples("B"), 19);
}

// --- the rules of the properties dialog ----------------------------------------------------------------

TEST(ReportRulesTest, FieldTextsShowEveryTableEntry) {
  const char* intervals[] = {" 00 00:00:01", " 00 00:00:03", " 00 00:00:06", " 00 00:00:12", " 00 00:00:30",
                             " 00 00:01:00", " 00 00:03:00", " 00 00:06:00", " 00 00:12:00", " 00 00:30:00",
                             " 00 01:00:00", " 00 03:00:00", " 00 06:00:00", " 00 12:00:00"};
  const char* durations[] = {" 00 00:01:00", " 00 00:03:00", " 00 00:06:00", " 00 00:12:00", " 00 00:30:00",
                             " 00 01:00:00", " 00 03:00:00", " 00 06:00:00", " 00 08:00:00", " 00 12:00:00",
                             " 01 00:00:00", " 03 00:00:00", " 06 00:00:00", " 12 00:00:00", " 30 00:00:00"};
  ASSERT_EQ(std::size(intervals), kLoggingIntervals.size());
  ASSERT_EQ(std::size(durations), kLoggingDurations.size());
  for (int i = 0; i < 14; ++i) EXPECT_EQ(IntervalFieldText(i), QString::fromLatin1(intervals[i]));
  for (int i = 0; i < 15; ++i) EXPECT_EQ(DurationFieldText(i), QString::fromLatin1(durations[i]));
}

TEST(ReportRulesTest, HourWordAgreesWithTheNumber) {
  const QString hour = QStringLiteral("час"), hours2 = QStringLiteral("часа"),
                hours = QStringLiteral("часов");
  const QString expected[24] = {hours, hour,  hours2, hours2, hours2, hours, hours,  hours,
                                hours, hours, hours,  hours,  hours,  hours, hours,  hours,
                                hours, hours, hours,  hours,  hours,  hour,  hours2, hours2};
  for (int h = 0; h < 24; ++h) EXPECT_EQ(HourWord(h), expected[h]) << h;
}

TEST(ReportRulesTest, PointCountItsRangeAndTheQuestions) {
  const struct {
    int Interval, Duration, Count;
    const char* Question;
  } cases[] = {
      {i3s, d1min, 20, ""},
      {i1s, d3h, 10800, "В отчете слишком много точек!\r\nЗакрыть окно без сохранения?"},
      {i12s, d1min, 5, "В отчете слишком мало точек!\r\nЗакрыть окно без сохранения?"},
      {0, 2, 360, ""},
      {13, d30days, 60, ""},
      {i1s, d30days, 2592000, "В отчете слишком много точек!\r\nЗакрыть окно без сохранения?"},
      {7, 1, 0, "В отчете слишком мало точек!\r\nЗакрыть окно без сохранения?"},   // 3 min / 6 min
      {10, 4, 0, "В отчете слишком мало точек!\r\nЗакрыть окно без сохранения?"},  // 30 min / 1 h
      {i1min, 3, 12, ""},
      {i12s, d1h, 300, ""},
      {i3s, d1h, 1200, ""},
      {i1s, 4, 1800, ""},
      {4, d3h, 360, ""},
  };
  for (const auto& c : cases) {
    TReportSettings s;
    s.IntervalIndex = c.Interval;
    s.DurationIndex = c.Duration;
    EXPECT_EQ(s.PointCount(), c.Count) << c.Interval << " " << c.Duration;
    EXPECT_EQ(PointCountQuestion(s.PointCount()), QString::fromUtf8(c.Question));
    EXPECT_EQ(PointCountInRange(s.PointCount()), *c.Question == 0);
  }
  for (int n : {9, 10, 8000, 8001}) EXPECT_EQ(PointCountInRange(n), n == 10 || n == 8000) << n;
}

TEST(ReportRulesTest, ShiftOnlyForAlignedWindowsOverAnHourAndUnderTwoDays) {
  for (int d = 0; d < 15; ++d) {
    for (bool align : {true, false}) {
      TReportSettings s;
      s.DurationIndex = d;
      s.SetAlign(align);
      const bool allowed = align && d >= d3h && d <= d1day;
      EXPECT_EQ(s.ShiftAllowed(), allowed) << d << " " << align;
      s.SetShift(true);
      EXPECT_EQ(s.Shift, allowed) << d << " " << align;
    }
  }
  // A shift in force ends with a step out of the range or with the alignment.
  TReportSettings s;
  s.DurationIndex = d8h;
  s.SetShift(true);
  s.StepDuration(-1);
  EXPECT_TRUE(s.Shift) << "6 h";
  s.StepDuration(+5);
  EXPECT_FALSE(s.Shift) << "6 days";
  s.StepDuration(-2);
  EXPECT_FALSE(s.Shift) << "stays off when it applies again";
  s.SetShift(true);
  s.SetAlign(false);
  EXPECT_FALSE(s.Shift);
}

TEST(ReportRulesTest, StepsStopAtTheTablesEnds) {
  TReportSettings s;
  s.IntervalIndex = 0;
  s.StepInterval(-1);
  EXPECT_EQ(s.IntervalIndex, 0);
  for (int i = 0; i < 20; ++i) s.StepInterval(+1);
  EXPECT_EQ(s.IntervalIndex, 13);
  s.DurationIndex = 14;
  s.StepDuration(+1);
  EXPECT_EQ(s.DurationIndex, 14);
  for (int i = 0; i < 20; ++i) s.StepDuration(-1);
  EXPECT_EQ(s.DurationIndex, 0);
}

TEST(ReportRulesTest, SettingsFromANodeStayInTheirControlsRangesAndWriteBack) {
  TReportNode node(nullptr);
  node.SetLoggingIntervalIndex(40);
  node.SetLoggingDurationIndex(-3);
  node.SetTrigger(7);
  node.SetSave(-1);
  node.SetTimeOffset(30);
  node.SetOffsetEnabled(true);  // with a 1-minute window: does not apply
  const TReportSettings s = TReportSettings::From(node);
  EXPECT_EQ(s.IntervalIndex, 13);
  EXPECT_EQ(s.DurationIndex, 0);
  EXPECT_EQ(s.TriggerIndex, 1);
  EXPECT_EQ(s.SaveIndex, 0);
  EXPECT_EQ(s.ShiftHour, 23);
  EXPECT_FALSE(s.Shift);

  TReportSettings w;
  w.IntervalIndex = i1min;
  w.DurationIndex = d8h;
  w.TriggerIndex = 1;
  w.SaveIndex = 1;
  w.ShiftHour = 7;
  w.SetShift(true);
  w.WriteTo(node);
  EXPECT_EQ(node.LoggingIntervalIndex(), i1min);
  EXPECT_EQ(node.LoggingDurationIndex(), d8h);
  EXPECT_EQ(node.Trigger(), 1);
  EXPECT_EQ(node.Save(), 1);
  EXPECT_EQ(node.TimeOffset(), 7);
  EXPECT_TRUE(node.OffsetEnabled());
  EXPECT_TRUE(node.AlignEnabled());
  EXPECT_EQ(node.MaxCount(), 480);
}

TEST(ReportRulesTest, MemoTextBecomesLines) {
  const struct {
    const char* Text;
    QStringList Lines;
  } cases[] = {
      {"", {}},
      {"Цех", {"Цех"}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\n", {""}},
      {"a\n\n", {"a", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(LinesFromText(QString::fromUtf8(c.Text)), c.Lines) << c.Text;
}

// A minute's windows of 3-second samples through a step of the wall clock 90.5 s into the run: each
// window lasts its minute on the monotonic tick, a window begun at a time already archived (the
// clock went back) gets a name of its own, a skipped hour makes no archive, and none has a
// negative length. The samples stay 3 s apart on the tick throughout.
TEST_F(ReportNodeTest, WindowsTakeTheWallClocksStepsWithoutLosingOrOverwritingAny) {
  const struct {
    const char* Name;
    int StepSeconds;
    std::vector<std::pair<const char*, int>> Archives;  // name's time, samples
  } cases[] = {
      {"no step", 0, {{"1200", 19}, {"1201", 19}, {"1202", 19}}},
      {"back 45 s: the rest of 12:01 again, under a name of its own",
       -45,
       {{"1200", 19}, {"1201", 19}, {"1201_2", 15}}},
      {"back an hour, as summer time ends", -3600, {{"1200", 19}, {"1201", 19}, {"1102", 19}}},
      {"a zone change from UTC+3 to UTC+1", -7200, {{"1200", 19}, {"1201", 19}, {"1002", 19}}},
      {"forward an hour, as summer time begins: 12:01 ends at once",
       3600,
       {{"1200", 19}, {"1201", 10}, {"1301", 10}, {"1302", 19}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QDir(Archives()).removeRecursively();
    QDir(Dir->path()).mkpath(QStringLiteral("Archives"));
    Reports()->DestroyComponents();
    TReportNode* r = AddReport(QStringLiteral("Печь"), i3s, d1min);
    Start(r, At("12:00:00.300"));
    const int64_t begin = Clock->TickMs();
    for (int64_t ms = 1000; ms <= 180'000; ms += 1000) {
      if (ms == 91'000) Clock->StepWall(c.StepSeconds);
      Clock->Advance(begin + ms - Clock->TickMs());
      ShowFaults(ReportTick(Current(), hooks));
    }
    QStringList names;
    for (const auto& [time, samples] : c.Archives) {
      const QString name = QStringLiteral("Печь_07_12_2026_") + QString::fromLatin1(time);
      names << name;
      const auto archived = LoadArchived(name);
      ASSERT_EQ(archived->ComponentCount(), 2) << name.toStdString();
      EXPECT_EQ(Reg(archived.get())->Count(), samples) << name.toStdString();
      EXPECT_EQ(DateTimeToMs(archived->LastPoint()) - DateTimeToMs(archived->StartPoint()), 60'000);
    }
    names.sort();
    EXPECT_EQ(QDir(Archives()).entryList(QDir::Files, QDir::Name), names);
    EXPECT_TRUE(Messages->Shown.empty());
  }
}

}  // namespace
}  // namespace vexa::test
