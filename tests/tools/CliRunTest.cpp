// vexa-cli run on the virtual clock: a state made by the program's own code, a process ramping a
// setpoint and a report archiving its windows, run without windows and saved as at exit.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>

#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "historian/HistoryStore.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportNode.h"
#include "storage/TreeFiles.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QString kSetpoint = QStringLiteral("D000C000R004");
const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 0));

class CliRunTest : public TVexaTest {
 protected:
  // The report archives of the folder, without the historian's files beside them.
  QStringList ReportArchives() const {
    QStringList names = QDir(Dir->filePath("Archives")).entryList(QDir::Files, QDir::Name);
    names.removeIf([](const QString& name) { return IsHistoryFile(name); });
    return names;
  }

  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    Clock->SetNow(DateTimeFromQt(kStart));
    TRootNode& zone =
        AddChannelNode(AddRegulatorNode(*Net(), 0, QStringLiteral("Печь")), 0, QStringLiteral("Зона 1"));
    AddRegisterNode(zone, 4, {.Caption = QStringLiteral("Уставка"), .Writable = true});  // kSetpoint
  }

  // Saves the trees and runs vexa-cli on them; its standard error (the trace) when it succeeded.
  QString Run(const QStringList& args) {
    for (TRootNode* root : {Net().get(), Tasks().get(), Reports().get()})
      EXPECT_TRUE(SaveTreeFile(Current(), *root));
    const TRun run = Cli(QStringList{"--demo", "--dir", Dir->path()} + args);
    EXPECT_EQ(run.Code, 0) << run.Err.right(2000).toStdString();
    out = run.Out;
    return run.Err;
  }

  // vexa-cli archive-to-txt on an archive: the text's lines as a spreadsheet reads them.
  static QStringList ArchiveLines(const QString& archive) {
    const TRun run = Cli({"archive-to-txt", archive});
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    QFile text(archive + ".txt");
    if (!text.open(QIODevice::ReadOnly)) return {};
    return FromCp1251(text.readAll()).split("\r\n", Qt::SkipEmptyParts);
  }

  QString out;
};

// The values written to the setpoint, in order, read from the traced request frames.
std::vector<int> WrittenValues(const QString& trace) {
  std::vector<int> values;
  for (const QString& line : trace.split('\n', Qt::SkipEmptyParts)) {
    const QStringList b = line.split(' ', Qt::SkipEmptyParts);
    if (b.size() < 9 || b[0] != ">" || b[1] != "00" || b[2] != "00" || b[3] != "04" || b[4] != "01") continue;
    values.push_back(static_cast<int16_t>(b[6].toInt(nullptr, 16) | (b[7].toInt(nullptr, 16) << 8)));
  }
  return values;
}

TEST_F(CliRunTest, AProcessRampsItsRegisterTickByTickOnTheVirtualClock) {
  auto* process = new TRootNode(Tasks().get());
  process->SetName(QStringLiteral("P0"));
  process->SetCaption(QStringLiteral("Отжиг"));
  auto* node = new TCommandNode(process);
  node->SetName(kSetpoint);
  node->SetRegisterType(rtINT);
  node->SetUserCanWRITE(true);
  node->SetDataList(QStringList{"20", "80", "80", "20"});
  node->SetPoints(QStringList{"0", "60", "600", "120"});
  node->Reset();
  process->SetImageIndex(iiPLAY);
  process->SetEnabled(true);
  node->Start();

  const QString trace = Run({"--trace", "run", "--seconds", "900", "--virtual-clock", "07.12.2026 9:00:00"});
  EXPECT_TRUE(out.contains("07.12.2026 9:15:00")) << out.toStdString();
  const std::vector<int> written = WrittenValues(trace);
  // Every 10 s: the ramp up over 60 s, the hold for 600 s, the ramp down over 120 s, then the end.
  std::vector<int> expected;
  for (int t = 0; t < 60; t += 10) expected.push_back(20 + t);
  for (int t = 0; t < 600; t += 10) expected.push_back(80);
  for (int t = 0; t < 120; t += 10) expected.push_back(80 - t / 2);
  expected.push_back(20);
  ASSERT_GE(written.size(), expected.size());
  EXPECT_EQ(std::vector<int>(written.begin(), written.begin() + static_cast<long>(expected.size())),
            expected);

  // Saved as at exit: the process has finished and is stopped.
  LoadTreeFile(Current(), Tasks());
  ASSERT_EQ(Tasks()->NodeCount(), 1);
  EXPECT_FALSE(Tasks()->Node(0)->Enabled());
}

TEST_F(CliRunTest, AReportArchivesEveryFinishedWindowUnderItsName) {
  auto* report = new TReportNode(Reports().get());
  report->SetName(QStringLiteral("R0"));
  report->SetCaption(QStringLiteral("Печь"));
  report->SetLoggingIntervalIndex(1);  // 3 s
  report->SetLoggingDurationIndex(0);  // 1 min
  report->SetMaxCount(20);
  auto* reg = new TRegisterNode(report);
  reg->SetName(kSetpoint);
  reg->SetCaption(QStringLiteral("Уставка.Зона 1.Печь"));
  reg->SetRegisterType(rtINT);
  reg->SetMaxCount(20);
  ASSERT_TRUE(report->StartReport().Empty());

  Run({"run", "--seconds", "185", "--virtual-clock", "07.12.2026 9:00:00"});
  EXPECT_EQ(ReportArchives(),
            QStringList({"Печь_07_12_2026_0900", "Печь_07_12_2026_0901", "Печь_07_12_2026_0902"}));
  LoadTreeFile(Current(), Reports());
  ASSERT_EQ(Reports()->NodeCount(), 1);
  EXPECT_TRUE(Reports()->Node(0)->Enabled()) << "periodic: the fourth window runs on";

  // The second window as a spreadsheet reads it: a heading and one line per 3-second sample after
  // the window's first interval, the last at 9:01:57.
  const QStringList lines = ArchiveLines(Dir->filePath("Archives/Печь_07_12_2026_0901"));
  ASSERT_EQ(lines.size(), 1 + 19);
  EXPECT_EQ(lines[0], QStringLiteral("Дата и время\tУставка.Зона 1.Печь"));
  EXPECT_TRUE(lines[1].startsWith("07.12.2026 9:01:03\t")) << lines[1].toStdString();
  EXPECT_TRUE(lines.last().startsWith("07.12.2026 9:01:57\t")) << lines.last().toStdString();
}

// The virtual clock is plant time: 5,000 registers at 1 s take the line far longer than a second
// to read, yet the run ends 61 simulated seconds after its start, and a report sampling every
// second has sampled every second of its minute.
TEST_F(CliRunTest, TheVirtualClockRunsItsSecondsWhateverTheLineTakes) {
  for (int address = 10; address < 30; ++address) {
    TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), address), 0);
    for (int r = 1; r <= 250; ++r) AddRegisterNode(channel, r, {.Enabled = true, .LoggingInterval = 1});
  }
  auto* report = new TReportNode(Reports().get());
  report->SetName(QStringLiteral("R0"));
  report->SetCaption(QStringLiteral("Печь"));
  report->SetLoggingIntervalIndex(0);  // 1 s
  report->SetLoggingDurationIndex(0);  // 1 min
  report->SetMaxCount(100);
  auto* reg = new TRegisterNode(report);
  reg->SetName(kSetpoint);
  reg->SetCaption(QStringLiteral("Уставка"));
  reg->SetRegisterType(rtINT);
  reg->SetMaxCount(100);
  ASSERT_TRUE(report->StartReport().Empty());

  Run({"run", "--seconds", "61", "--virtual-clock", "07.12.2026 9:00:00"});
  EXPECT_TRUE(out.contains(QStringLiteral("по виртуальным часам, до 07.12.2026 9:01:01;")))
      << out.toStdString();
  const QStringList lines = ArchiveLines(Dir->filePath("Archives/Печь_07_12_2026_0900"));
  // Restored running, it samples at its first tick.
  ASSERT_EQ(lines.size(), 1 + 60);
  for (int s = 0; s < 60; ++s)
    EXPECT_TRUE(lines[s + 1].startsWith(QStringLiteral("07.12.2026 9:00:%1\t").arg(s, 2, 10, QChar('0'))))
        << lines[s + 1].toStdString();
}

// The state an engineer writes by hand as text and turns into the program's files with vexa-cli load:
// a running process and a running report, taken up by run as the program takes them up at start-up.
TEST_F(CliRunTest, AStateWrittenWithLoadRunsItsProcessAndItsReport) {
  const QString playing = QString::number(iiPLAY);
  const QMap<QString, QString> texts = {
      {"NET",
       "TRootNode NET Caption='Сеть'\n"
       "  TRootNode D000 Caption='Печь'\n"
       "    TRootNode D000C000 Caption='Зона 1'\n"
       "      TRegisterNode D000C000R004 Caption='Уставка' RegisterType=rtINT UserCanWRITE=True\n"},
      {"TASKS",
       "TRootNode TASKS Caption='Процессы'\n"
       "  TRootNode P0 Caption='Отжиг' ImageIndex=" +
           playing +
           " Enabled=True\n"
           "    TCommandNode D000C000R004 RegisterType=rtINT UserCanWRITE=True Enabled=True"
           " Points.Strings=('0', '60', '600', '120') DataList.Strings=('20', '80', '80', '20')\n"},
      // 1-minute windows of 3-second samples, the first from 9:00 (46363.375) to 9:01.
      {"REPORTS",
       "TRootNode REPORTS Caption='Отчеты'\n"
       "  TReportNode R0 Caption='Печь' ImageIndex=" +
           playing +
           " Enabled=True"
           " StartPoint=46363.375 LastPoint=46363.375694444444 LoggingIntervalIndex=1"
           " LoggingDurationIndex=0 MaxCount=20\n"
           "    TRegisterNode D000C000R004 Caption='Уставка.Зона 1.Печь' RegisterType=rtINT"
           " MaxCount=20 Enabled=True\n"},
  };
  for (auto it = texts.begin(); it != texts.end(); ++it) {
    QFile text(Dir->filePath(it.key() + ".txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(it.value().toUtf8());
    text.close();
    const TRun load = Cli({"load", text.fileName(), ConfigFilePath(Current().Dir(), it.key())});
    ASSERT_EQ(load.Code, 0) << it.key().toStdString() << load.Err.toStdString();
  }

  const TRun run = Cli({"--demo", "--dir", Dir->path(), "--trace", "run", "--seconds", "900",
                        "--virtual-clock", "07.12.2026 9:00:00"});
  const QString& trace = run.Err;
  ASSERT_EQ(run.Code, 0) << trace.right(2000).toStdString();

  // The cyclogram: up over 60 s, the hold, down over 120 s, one write every 10 s.
  std::vector<int> expected;
  for (int t = 0; t < 60; t += 10) expected.push_back(20 + t);
  for (int t = 0; t < 600; t += 10) expected.push_back(80);
  for (int t = 0; t < 120; t += 10) expected.push_back(80 - t / 2);
  expected.push_back(20);
  EXPECT_EQ(WrittenValues(trace), expected);

  // One archive per finished window, the last window (9:14) still running at the end.
  QStringList names;
  for (int minute = 0; minute < 14; ++minute)
    names << QStringLiteral("Печь_07_12_2026_09%1").arg(minute, 2, 10, QChar('0'));
  EXPECT_EQ(ReportArchives(), names);

  const QStringList lines = ArchiveLines(Dir->filePath("Archives/Печь_07_12_2026_0905"));
  ASSERT_EQ(lines.size(), 1 + 19);
  EXPECT_EQ(lines[0], QStringLiteral("Дата и время\tУставка.Зона 1.Печь"));
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList fields = lines[i].split('\t');
    ASSERT_EQ(fields.size(), 2) << lines[i].toStdString();
    EXPECT_EQ(fields[0], QStringLiteral("07.12.2026 9:05:%1").arg(3 * i, 2, 10, QChar('0')));
    EXPECT_TRUE(StrToFloat(fields[1]).has_value()) << lines[i].toStdString();
  }

  // Saved as at exit: the process finished and stopped, the report runs on in its window.
  LoadTreeFile(Current(), Tasks());
  ASSERT_EQ(Tasks()->NodeCount(), 1);
  EXPECT_FALSE(Tasks()->Node(0)->Enabled());
  EXPECT_EQ(Tasks()->Node(0)->ImageIndex(), iiSTOP);
  LoadTreeFile(Current(), Reports());
  ASSERT_EQ(Reports()->NodeCount(), 1);
  auto* report = dynamic_cast<TReportNode*>(Reports()->Node(0));
  ASSERT_NE(report, nullptr);
  EXPECT_TRUE(report->Enabled());
  EXPECT_EQ(DateTimeToStr(report->StartPoint()), "07.12.2026 9:14:00");
}

TEST_F(CliRunTest, TheVirtualClockWantsASimulationAndALocalTime) {
  for (const QStringList& args :
       {QStringList{"--dir", Dir->path(), "run", "--seconds", "5", "--virtual-clock", "07.12.2026 9:00:00"},
        QStringList{"--demo", "--dir", Dir->path(), "run", "--seconds", "5", "--virtual-clock", "tomorrow"},
        QStringList{"--demo", "--dir", Dir->path(), "run", "--seconds", "0"}}) {
    EXPECT_EQ(Cli(args).Code, 2) << args.join(' ').toStdString();
  }
}

}  // namespace
}  // namespace vexa::test
