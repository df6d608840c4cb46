// vexa-cli search on the simulated network and on vexa-sim's line, with channel templates saved
// beforehand so it is quick: the three modes, their counters, a search interrupted half-way, one
// whose line dies under it, the removal of every regulator of a silent line, and the summary of a
// lossy line.

#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/NetDescription.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

// vexa-sim with only `addresses` answering.
class TSim : public TSimLine {
 public:
  explicit TSim(const QString& addresses, const QStringList& options = {})
      : TSimLine(QStringList{"--seed", "3", "--addresses", addresses} + options) {}
};

class SearchCliTest : public TVexaTest {
 protected:
  TRun Cli(const QStringList& args) { return Run(QStringList{"--demo"} + args); }
  // The search on vexa-sim's line, over the first four addresses only: a silent address costs
  // three full attempts.
  TRun OnLine(const TSim& sim, const QStringList& args) {
    return Run(QStringList{"--port", sim.Link(), "search", "--last", "3", "--save"} + args);
  }
  TRun Run(const QStringList& args) {
    TRunOptions options;
    options.WorkDir = Dir->path();
    return RunProgram(QStringLiteral(VEXA_CLI_PATH), QStringList{"--dir", Dir->path()} + args, options);
  }

  // The regulators of the saved network, in order.
  QStringList SavedRegulators() {
    Current().RecreateRoot("NET");
    LoadTreeFile(Current(), Net());
    QStringList names;
    for (int i = 0; i < Net()->NodeCount(); ++i) names << Net()->Node(i)->Name();
    return names;
  }

  // The regulators of the network file as saved, written by hand.
  void SaveRegulators(const QStringList& names) {
    Current().RecreateRoot("NET");
    for (const QString& name : names) {
      auto* regulator = new TRootNode(Net().get());
      regulator->SetName(name);
      regulator->SetCaption("Регулятор " + name.mid(1));
    }
    QDir(Current().Dir()).mkdir("Config");
    ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  }
  QByteArray SavedBytes() {
    QFile f(ConfigFilePath(Current().Dir(), "NET"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  void SaveTemplates() {
    QDir(Current().Dir()).mkdir("Config");
    AddChannelTemplate("000", "Аналоговый вход", {"Температура", "Уставка"}, rtFLOAT);
    AddChannelTemplate("001", "Дискретный выход", {"Состояние"}, rtBOOL);
    ASSERT_TRUE(SaveTreeFile(Current(), *Registry()));
  }
};

TEST_F(SearchCliTest, SearchPrintsTheDescriptionAndSavesTheNetwork) {
  SaveTemplates();
  const TRun run = Cli({"search", "--save"});
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();

  EXPECT_TRUE(
      run.Out.startsWith("Сеть\r\n\r\n\tРегулятор: \"Регулятор 000\"\tСетевой адрес: 000\r\n\r\n"
                         "\t\tКанал: \"Канал 000\"\tТип: Аналоговый вход\r\n\r\n"
                         "\t\t\tРегистр: \"Температура\"\t\tТип: Вещественный\r\n"
                         "\t\t\tРегистр: \"Уставка\"\t\tТип: Вещественный\r\n\r\n"))
      << run.Out.toStdString();
  EXPECT_EQ(run.Out.count("\tКанал: "), 9);
  EXPECT_EQ(run.Out.count("Тип: Аналоговый вход"), 6);
  EXPECT_TRUE(
      run.Out.endsWith("\t\tКанал: \"Канал 002\"\tТип: Дискретный выход\r\n\r\n"
                       "\t\t\tРегистр: \"Состояние\"\t\tТип: Логический\r\n"));
  EXPECT_TRUE(run.Err.contains("адрес 255 из 255")) << run.Err.toStdString();

  // The saved network reads back as the tree that was described.
  ASSERT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), "NET")));
  Current().RecreateRoot("NET");
  LoadTreeFile(Current(), Net());
  EXPECT_EQ(NetworkDescription(*Net()), run.Out);
  ASSERT_EQ(Net()->NodeCount(), 2);
  EXPECT_EQ(Net()->Node(1)->Name(), "D001");
  const auto* identifier = dynamic_cast<TRegisterNode*>(FindNode(Net().get(), "D001C002R000"));
  ASSERT_NE(identifier, nullptr);
  EXPECT_FALSE(identifier->Visible());
  EXPECT_EQ(identifier->ImageIndex(), 40);
}

TEST_F(SearchCliTest, WithoutSaveNothingIsWrittenAndBadArgumentsAreRefused) {
  SaveTemplates();
  const TRun run = Cli({"search"});
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out.count("\tРегулятор: "), 2);
  EXPECT_FALSE(QFileInfo::exists(ConfigFilePath(Current().Dir(), "NET")));

  const struct {
    QStringList Args;
    QString Says;
  } bad[] = {
      {{"--sve"}, "неизвестный параметр --sve"},
      {{"--mode", "sideways"}, "недопустимое значение sideways параметра --mode"},
      {{"--mode"}, "у параметра --mode нет значения"},
      {{"--last", "256"}, "недопустимое значение 256 параметра --last"},
      {{"--last", "x"}, "недопустимое значение x параметра --last"},
      {{"fresh"}, "лишний аргумент fresh"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.Args.join(' ').toStdString());
    const TRun run = Cli(QStringList{"search"} + c.Args);
    EXPECT_EQ(run.Code, 2);
    EXPECT_TRUE(run.Err.contains("vexa-cli: " + c.Says + "; справка: vexa-cli --help"))
        << run.Err.toStdString();
  }
}

TEST_F(SearchCliTest, AddedAndRemovedWorkOnTheSavedNetworkAndCountInTheirOwnWay) {
  SaveTemplates();
  ASSERT_EQ(Cli({"search", "--mode", "fresh", "--save"}).Code, 0);
  // The saved network forgot D001 and holds a regulator at 5 that the line does not have.
  ASSERT_EQ(SavedRegulators(), QStringList({"D000", "D001"}));
  Net()->RemoveComponent(Net()->Node(1)).reset();
  AddRegulatorNode(*Net(), 5, QStringLiteral("Регулятор 005"));
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));

  const struct {
    QString Mode;
    QString Summary;
    QStringList Saved;
  } steps[] = {
      // What this search found or removed, then what the network holds now.
      {"added", "Найдено регуляторов: 1, каналов: 3.\n", {"D000", "D005", "D001"}},
      {"added", "Найдено регуляторов: 0, каналов: 0.\n", {"D000", "D005", "D001"}},
      {"removed", "Удалено регуляторов: 1.\n", {"D000", "D001"}},
      {"removed", "Удалено регуляторов: 0.\n", {"D000", "D001"}},
      {"fresh", "Найдено регуляторов: 2, каналов: 9.\n", {"D000", "D001"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Mode.toStdString() + ": " + step.Summary.toStdString());
    const TRun run = Cli({"search", "--mode", step.Mode, "--save"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(step.Summary)) << run.Err.toStdString();
    const int channels = step.Saved.contains("D001") ? 9 : 6;
    EXPECT_TRUE(run.Err.contains(
        QStringLiteral("В сети регуляторов: %1, каналов: %2.\n").arg(step.Saved.size()).arg(channels)))
        << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), step.Saved);
    EXPECT_EQ(NetworkDescription(*Net()), run.Out);
  }
}

TEST_F(SearchCliTest, RegulatorsPluggedInAndOutBetweenSearchesOnALine) {
  SaveTemplates();
  {
    const TSim sim("0");
    const TRun run = OnLine(sim, {"--mode", "fresh"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("адрес 003 из 003")) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("Найдено регуляторов: 1, каналов: 6.\n")) &&
                run.Err.contains(QStringLiteral("В сети регуляторов: 1, каналов: 6.\n")))
        << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), QStringList({"D000"}));
  }
  {
    const TSim sim("0,1");  // a regulator at 1 is plugged in
    const TRun run = OnLine(sim, {"--mode", "added"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("Найдено регуляторов: 1, каналов: 3.\n")) &&
                run.Err.contains(QStringLiteral("В сети регуляторов: 2, каналов: 9.\n")))
        << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), QStringList({"D000", "D001"}));
    const auto* setpoint = FindNode(Net().get(), "D001C002R001");
    ASSERT_NE(setpoint, nullptr);
    EXPECT_EQ(dynamic_cast<const TRootNode*>(setpoint)->Caption(), "Состояние");
  }
  {
    const TSim sim("1");  // and the one at 0 unplugged
    const TRun run = OnLine(sim, {"--mode", "removed"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("Удалено регуляторов: 1.\n")) &&
                run.Err.contains(QStringLiteral("В сети регуляторов: 1, каналов: 3.\n")))
        << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), QStringList({"D001"}));
  }
}

TEST_F(SearchCliTest, AnInterruptedSearchKeepsTheRegulatorsItCompletedAndSavesNothing) {
  SaveTemplates();
  const TSim sim("0,1");
  QProcess p;
  p.start(QStringLiteral(VEXA_CLI_PATH),
          {"--dir", Dir->path(), "--port", sim.Link(), "search", "--last", "39", "--save"});
  ASSERT_TRUE(p.waitForStarted(3000));
  // Ctrl-C once the probe has moved past both regulators: the first tenth of the addresses.
  QByteArray err;
  QElapsedTimer t;
  t.start();
  while (!err.contains("адрес 003") && t.elapsed() < 30000) {
    p.waitForReadyRead(100);
    err += p.readAllStandardError();
  }
  ASSERT_TRUE(err.contains("адрес 003")) << err.toStdString();
  ::kill(static_cast<pid_t>(p.processId()), SIGINT);
  ASSERT_TRUE(p.waitForFinished(10000));
  err += p.readAllStandardError();
  const QString out = QString::fromUtf8(p.readAllStandardOutput());

  EXPECT_EQ(p.exitCode(), 1);
  const QString said = QString::fromUtf8(err);
  EXPECT_TRUE(
      said.contains(QStringLiteral("Поиск остановлен оператором.\nНайдено регуляторов: 2, каналов: 9.\n")))
      << err.toStdString();
  EXPECT_TRUE(said.contains(QStringLiteral("vexa-cli: поиск остановлен; NET.cfg не записан")));
  EXPECT_FALSE(err.contains("адрес 039"));
  // Both regulators are there whole.
  EXPECT_EQ(out.count("\tРегулятор: "), 2);
  EXPECT_EQ(out.count("\tКанал: "), 9);
  EXPECT_EQ(out.count("Регистр: \"Состояние\""), 3);
  EXPECT_FALSE(QFileInfo::exists(ConfigFilePath(Current().Dir(), "NET")));
}

TEST_F(SearchCliTest, ALineThatDiesUnderTheSearchEndsItAndNothingChanges) {
  SaveTemplates();
  // Two regulators of the line and ten silent ones, so every mode still probes after address 11.
  QStringList names = {"D000", "D001"};
  for (int a = 10; a < 20; ++a) names << QString::asprintf("D%03d", a);
  SaveRegulators(names);
  const QByteArray saved = SavedBytes();

  for (const char* mode : {"fresh", "added", "removed"}) {
    SCOPED_TRACE(mode);
    TSim sim("0,1");
    QProcess p;
    p.start(QStringLiteral(VEXA_CLI_PATH),
            {"--dir", Dir->path(), "--port", sim.Link(), "search", "--mode", mode, "--last", "39", "--save"});
    ASSERT_TRUE(p.waitForStarted(3000));
    QByteArray err;
    QElapsedTimer t;
    t.start();
    while (!err.contains("адрес 011") && t.elapsed() < 30000) {
      p.waitForReadyRead(50);
      err += p.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("адрес 011")) << err.toStdString();
    sim.Kill();  // the adapter is pulled out
    ASSERT_TRUE(p.waitForFinished(10000));
    err += p.readAllStandardError();

    EXPECT_EQ(p.exitCode(), 1);
    // The settings window's words.
    EXPECT_TRUE(
        err.contains(QStringLiteral("Поиск прерван: порт %1: устройство отключено.\nСеть не изменена.")
                         .arg(sim.Link())
                         .toUtf8()) ||
        err.contains(QStringLiteral("потерян: устройство отключено.\nСеть не изменена.").toUtf8()))
        << err.toStdString();
    EXPECT_FALSE(err.contains("адрес 039"));
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_EQ(SavedBytes(), saved);
  }
}

TEST_F(SearchCliTest, RemovingEveryRegulatorOfASilentLineNeedsConfirm) {
  SaveTemplates();
  SaveRegulators({"D005", "D006"});  // the simulated line has neither
  const QByteArray saved = SavedBytes();

  const TRun refused = Cli({"search", "--mode", "removed", "--save"});
  EXPECT_EQ(refused.Code, 1);
  EXPECT_TRUE(refused.Err.contains(QStringLiteral(
      "Удалено регуляторов: 0.\nНи один регулятор не ответил; оставлено в сети без ответа: 2.\n")))
      << refused.Err.toStdString();
  EXPECT_TRUE(refused.Err.contains(QStringLiteral("В сети регуляторов: 2, каналов: 0.\n")));
  EXPECT_TRUE(
      refused.Err.contains(QStringLiteral("vexa-cli: линия, возможно, неисправна: регуляторы без ответа "
                                          "оставлены в сети (--confirm удаляет их); NET.cfg не записан")))
      << refused.Err.toStdString();
  EXPECT_EQ(SavedBytes(), saved);

  const TRun confirmed = Cli({"search", "--mode", "removed", "--confirm", "--save"});
  EXPECT_EQ(confirmed.Code, 0) << confirmed.Err.toStdString();
  EXPECT_TRUE(confirmed.Err.contains(QStringLiteral("Удалено регуляторов: 2.\n")) &&
              confirmed.Err.contains(QStringLiteral("В сети регуляторов: 0, каналов: 0.\n")))
      << confirmed.Err.toStdString();
  EXPECT_EQ(SavedRegulators(), QStringList());
  EXPECT_TRUE(Cli({"--help"}).Out.contains("--confirm"));
}

TEST_F(SearchCliTest, TheSummaryWarnsOfALossyLineAndNotOfACleanOne) {
  SaveTemplates();
  {
    // The simulated line loses nothing (a pseudo-terminal on a busy machine may answer late).
    const TRun run = Cli({"search"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("Найдено регуляторов: 2, каналов: 9.\n")))
        << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral(
        "Запросов без ответа после всех попыток: 0.\nЗапросов с ответом только после повтора: 0.\n")))
        << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains("ответил не на все запросы"));
  }
  {
    // Three answers in ten are lost: some requests are answered only when repeated, and a regulator
    // is warned of exactly when requests stayed unanswered after all attempts.
    const TSim sim("0,1", {"--drop", "0.3"});
    const TRun run = OnLine(sim, {});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains(QStringLiteral("с ответом только после повтора: 0.")))
        << run.Err.toStdString();
    const QRegularExpressionMatch failed =
        QRegularExpression(QStringLiteral("Запросов без ответа после всех попыток: (\\d+)")).match(run.Err);
    ASSERT_TRUE(failed.hasMatch()) << run.Err.toStdString();
    EXPECT_EQ(failed.captured(1) != "0",
              run.Err.contains(QStringLiteral("ответил не на все запросы: поиск стоит повторить.\n")))
        << run.Err.toStdString();
  }
}

// The progress: rewritten in place on a terminal; in a log or a pipe a line for each tenth of the
// addresses, so that a service's journal is not flooded with a line per address.
TEST_F(SearchCliTest, ProgressIsALinePerTenthOffATerminal) {
  SaveTemplates();
  const struct {
    int Last;
    QStringList Percents;
  } searches[] = {
      {255, {"10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}},
      {39, {"10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}},
      {4, {"20", "40", "60", "80", "100"}},  // fewer addresses than tenths: each address its line
  };
  static const QRegularExpression tenth(
      QStringLiteral("^адрес \\d{3} из \\d{3}, найдено регуляторов: \\d+ \\((\\d+) %\\)$"));
  for (const auto& search : searches) {
    SCOPED_TRACE(search.Last);
    const TRun run = Cli({"search", "--last", QString::number(search.Last)});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains('\r')) << run.Err.toStdString();
    QStringList percents;
    for (const QString& line : run.Err.split('\n'))
      if (const auto m = tenth.match(line); m.hasMatch()) percents << m.captured(1);
    EXPECT_EQ(percents, search.Percents) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("адрес %1 из %1").arg(search.Last, 3, 10, QLatin1Char('0'))));
  }
  // On a terminal (script(1) gives it one) the line is rewritten, and no tenth is told apart.
  QProcess terminal;
  terminal.start(
      QStringLiteral("script"),
      {"-qec", QStringLiteral("'%1' --demo --dir '%2' search --last 39").arg(VEXA_CLI_PATH, Dir->path()),
       "/dev/null"});
  if (!terminal.waitForStarted(5000)) GTEST_SKIP() << "no script(1)";
  ASSERT_TRUE(terminal.waitForFinished(30000));
  const QString shown = QString::fromUtf8(terminal.readAllStandardOutput());
  EXPECT_EQ(terminal.exitCode(), 0) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("\rадрес 039 из 039"))) << shown.toStdString();
  EXPECT_FALSE(shown.contains(QStringLiteral(" %)"))) << shown.toStdString();
}

}  // namespace
}  // namespace vexa::test
