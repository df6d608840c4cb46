// Configuration files as text: what dump prints reads back into the file the program saved, and a
// faulty text is refused at its line and column with nothing written.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <functional>
#include <optional>

#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportNode.h"
#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StoredRanges.h"
#include "storage/TreeFiles.h"
#include "storage/UnreadableFiles.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

class ConfigTextTest : public test::TVexaTest {
 protected:
  QByteArray Bytes(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
  }
  QString Dump(const QString& path) {
    QString why;
    auto file = CompoundFile::Open(path, &why);
    EXPECT_TRUE(file) << why.toStdString();
    return file ? ConfigTextLines(file->Root()).join('\n') + '\n' : QString();
  }
  // Writes the file a text describes; the text's fault when there is one.
  std::optional<ETextError> Load(const QString& text, const QString& path) {
    try {
      auto file = CompoundFileFromText(text);
      QString why;
      EXPECT_TRUE(file->Save(path, &why)) << why.toStdString();
      return std::nullopt;
    } catch (const ETextError& e) {
      return e;
    }
  }
};

// The kinds of tree the program keeps in files, each with values that test the notation: texts
// with quotes, line breaks and Cyrillic, negative and fractional floats, sets, empty lists.
struct TTreeCase {
  const char* Name;
  std::function<std::unique_ptr<TComponent>()> Build;
};

std::unique_ptr<TComponent> NetworkTree() {
  auto net = std::make_unique<TRootNode>(nullptr);
  net->SetName("NET");
  net->SetCaption(QStringLiteral("Сеть 'цех №2'"));
  auto* d = new TRootNode(net.get());
  d->SetName("D001");
  d->SetCaption(QStringLiteral("Печь\r\nвторая"));
  for (int r = 0; r < 3; ++r) {
    auto* reg = new TRegisterNode(d);
    reg->SetName(TCustomRegister::RegisterName(1, 0, r));
    reg->SetCaption(QStringLiteral("Т%1").arg(r));
    if (r == 1) {
      auto* label = new TLabelDisplay(reg);
      label->Font().SetStyle(fsBold);
      label->SetLeft(-12);
    }
    reg->SetPoints({"07.12.2026 12:00:00", "07.12.2026 12:00:03"});
    reg->SetDataList({"-1,25", "1E-7"});
  }
  return net;
}

std::unique_ptr<TComponent> Templates() {
  auto templates = std::make_unique<TRootNode>(nullptr);
  templates->SetName("TTEMPLATES");
  auto* process = new TRootNode(templates.get());
  process->SetName("P001");
  process->SetCaption(QStringLiteral("Отжиг"));
  auto* cmd = new TCommandNode(process);
  cmd->SetName(TCustomRegister::RegisterName(0, 0, 4));
  cmd->SetStartValue(20.5);
  cmd->SetStopValue(-3);
  cmd->SetPoints({"0", "60", "600"});
  cmd->SetDataList({"20", "80", "80"});
  auto* empty = new TCommandNode(process);
  empty->SetName(TCustomRegister::RegisterName(0, 1, 4));
  return templates;
}

std::unique_ptr<TComponent> Report() {
  auto report = std::make_unique<TReportNode>(nullptr);
  report->SetName("R001");
  report->SetCaption(QStringLiteral("Смена"));
  report->SetHeader({QStringLiteral("Цех"), QString()});
  report->SetLoggingIntervalIndex(3);
  auto* reg = new TRegisterNode(report.get());
  reg->SetName(TCustomRegister::RegisterName(2, 3, 1));
  reg->SetDataList({"***"});
  return report;
}

std::unique_ptr<TComponent> SetupTree() {
  auto setup = std::make_unique<TSetupNode>(nullptr);
  setup->SetName("SETUP");
  return setup;
}

const TTreeCase kTrees[] = {
    {"network", &NetworkTree}, {"templates", &Templates}, {"report", &Report}, {"setup", &SetupTree}};

TEST_F(ConfigTextTest, ASavedFileDumpedAndLoadedGivesTheSameBytesAndTheSameText) {
  for (const TTreeCase& c : kTrees) {
    SCOPED_TRACE(c.Name);
    auto tree = c.Build();
    const QString saved = Dir->filePath(QStringLiteral("%1.cfg").arg(c.Name));
    ASSERT_TRUE(TStgHandler::Create(saved)->SaveTree(*tree));
    const QString text = Dump(saved);
    const QString loaded = Dir->filePath(QStringLiteral("%1-loaded.cfg").arg(c.Name));
    const auto fault = Load(text, loaded);
    ASSERT_FALSE(fault) << fault->what() << "\n" << text.toStdString();
    EXPECT_EQ(Bytes(loaded), Bytes(saved));
    EXPECT_EQ(Dump(loaded), text);
  }
}

TEST_F(ConfigTextTest, AWrittenTextLoadsIntoTheTreeItDescribes) {
  const QString text = QStringLiteral(
      "TRootNode TTEMPLATES Caption='Шаблоны'\r\n"
      "  TRootNode P001 Caption='Отжиг'#13#10'печи' Changed=True\r\n"
      "\r\n"
      "    TCommandNode D000C000R004 StartValue=2.5e1 Points.Strings=('0', '60') "
      "DataList.Strings=('20', '80')\r\n"
      "  TRootNode 'P 002'\r\n");
  const QString path = Dir->filePath("TEMPLATES.cfg");
  ASSERT_FALSE(Load(text, path));
  std::unique_ptr<TRootNode> tree;
  LoadTreeInto(tree, path);
  ASSERT_TRUE(tree);
  ASSERT_EQ(tree->ComponentCount(), 2);
  auto* process = dynamic_cast<TRootNode*>(tree->Component(0));
  ASSERT_TRUE(process);
  EXPECT_EQ(process->Caption(), QStringLiteral("Отжиг\r\nпечи"));
  auto* cmd = dynamic_cast<TCommandNode*>(process->Component(0));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(cmd->StartValue(), 25.0);
  EXPECT_EQ(cmd->Points().ToStringList(), QStringList({"0", "60"}));
  EXPECT_EQ(cmd->DataList().ToStringList(), QStringList({"20", "80"}));
  EXPECT_EQ(tree->Component(1)->Name(), "P 002");
}

struct TBadText {
  const char* What;
  const char* Text;
  int Line;
  int Column;
  const char* Says;  // a piece of the reason
};

const TBadText kBadTexts[] = {
    {"unknown class", "TRootNode NET\n  TNoSuchNode D001\n", 2, 3, "TNoSuchNode"},
    {"unknown property", "TRootNode NET\n  TRootNode D001 Colour=5\n", 2, 18, "Colour"},
    {"wrong kind of value", "TRootNode NET\n  TRootNode D001 Caption=12\n", 2, 26, "Caption"},
    {"unclosed quote", "TRootNode NET Caption='Сеть\n", 1, 23, "unclosed quote"},
    {"odd indentation", "TRootNode NET\n   TRootNode D001\n", 2, 1, "odd indentation"},
    {"indented two levels", "TRootNode NET\n    TRootNode D001\n", 2, 5, "one level"},
    {"tab indentation", "TRootNode NET\n\tTRootNode D001\n", 2, 1, "tab"},
    {"name clash", "TRootNode NET\n  TRootNode D001\n  TRootNode D002\n  TRootNode D001\n", 4, 13, "line 2"},
    {"second root", "TRootNode NET\nTRootNode NET2\n", 2, 1, "second root"},
    {"indented root", "  TRootNode NET\n", 1, 1, "root"},
    {"decimal comma", "TRootNode NET\n  TCommandNode D000C000R001 StartValue=1,5\n", 2, 41, "decimal point"},
    {"integer too large", "TSetupNode SETUP BaudRateIndex=99999999999\n", 1, 32, "32-bit"},
    {"unclosed list", "TCommandNode X Points.Strings=('0', '1'\n", 1, 31, "unclosed list"},
    {"no object", "\n   \n", 1, 1, "no object"},
    {"character outside the code page", "TRootNode NET Caption='€ ok ✓'\n", 1, 29, "code page 1251"},
};

TEST_F(ConfigTextTest, AFaultyTextNamesItsLineAndColumnAndWritesNothing) {
  const QString path = Dir->filePath("NET.cfg");
  for (const TBadText& c : kBadTexts) {
    SCOPED_TRACE(c.What);
    const auto fault = Load(QString::fromUtf8(c.Text), path);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->Line, c.Line) << fault->what();
    EXPECT_EQ(fault->Column, c.Column) << fault->what();
    EXPECT_TRUE(fault->Reason.contains(QString::fromUtf8(c.Says))) << fault->what();
    EXPECT_FALSE(QFile::exists(path));
  }
}

// A text of one object with one property, as load takes it: the settings alone, anything else
// under a network root. Returns the column of the value.
int RangeText(const QString& className, const QString& path, const QString& value, QString* text) {
  const QString name = test::ObjectName(className);
  const QString indent = className == QLatin1String("TSetupNode") ? QString() : QStringLiteral("  ");
  const QString line =
      indent + className + ' ' + (name.isEmpty() ? QStringLiteral("-") : name) + ' ' + path + '=';
  *text = (indent.isEmpty() ? QString() : QStringLiteral("TRootNode NET\n")) + line + value + '\n';
  return static_cast<int>(line.size()) + 1;
}

// The object a loaded text put into its file, read back.
std::unique_ptr<TComponent> LoadedObject(const CompoundFile& file, const QString& className) {
  const CompoundStorage& root = file.Root();
  if (className == QLatin1String("TSetupNode")) return ReadComponent(root.Stream("Object"));
  return ReadComponent(root.OpenStorage(TStgHandler::ChildName(0))->Stream("Object"));
}

TEST_F(ConfigTextTest, AValuePastItsRangeIsRefusedAtItsColumnAndTheEndsLoad) {
  const auto check = [&](const QString& cls, const QString& path, const QString& value, bool accepted,
                         const std::function<void(TComponent&)>& stored) {
    SCOPED_TRACE((cls + "." + path + "=" + value.left(40)).toStdString());
    QString text;
    const int column = RangeText(cls, path, value, &text);
    const int line = cls == QLatin1String("TSetupNode") ? 1 : 2;
    try {
      auto file = CompoundFileFromText(text);
      EXPECT_TRUE(accepted) << "accepted";
      if (accepted) stored(*LoadedObject(*file, cls));
    } catch (const ETextError& e) {
      EXPECT_FALSE(accepted) << e.what();
      EXPECT_EQ(e.Line, line) << e.what();
      EXPECT_EQ(e.Column, column) << e.what();
      EXPECT_TRUE(e.Reason.startsWith(test::ObjectText(cls) + ": " + path + "=")) << e.what();
      EXPECT_TRUE(e.Reason.contains("out of range")) << e.what();
    }
  };
  for (const test::TIntRange& c : test::kIntRanges) {
    for (const qint64 v : {c.Low, c.High})
      check(c.Class, c.Path, QString::number(v), true,
            [&](TComponent& o) { EXPECT_EQ(test::StoredValue(o, c.Path).toLongLong(), v); });
    for (const qint64 v : {c.Low - 1, c.High + 1})
      if (v >= INT32_MIN && v <= INT32_MAX) check(c.Class, c.Path, QString::number(v), false, {});
  }
  const auto list = [](int lines, bool dated) {
    QStringList items;
    for (int i = 0; i < lines; ++i) items << QStringLiteral("'%1'").arg(test::ListLine(i, dated));
    return QStringLiteral("(") + items.join(", ") + QStringLiteral(")");
  };
  for (const test::TListRange& c : test::kListRanges) {
    check(c.Class, c.Path, list(c.MaxLines, c.Dated), true, [&](TComponent& o) {
      const TParsedStream back = ParseComponentStream(WriteComponent(o));
      for (const TStreamRecord& r : back.Records)
        if (r.Name == QLatin1String(c.Path)) {
          EXPECT_EQ(r.Value.Lines.size(), c.MaxLines);
        }
    });
    check(c.Class, c.Path, list(c.MaxLines + 1, c.Dated), false, {});
  }
  for (const auto& colour : test::kColourProperties) {
    const QString cls = colour.first;
    const QString path = colour.second;
    for (const qint64 v : test::kColoursAccepted)
      check(cls, path, QString::number(AsInt32(v)), true,
            [&](TComponent& o) { EXPECT_EQ(test::StoredValue(o, path).toLongLong(), AsInt32(v)); });
    for (const qint64 v : test::kColoursRefused) check(cls, path, QString::number(AsInt32(v)), false, {});
  }
  for (const test::TFloatRange& c : test::kFloatRanges) {
    for (const double v : {c.Low, c.High})
      check(c.Class, c.Path, test::FloatText(v), true,
            [&](TComponent& o) { EXPECT_EQ(test::StoredValue(o, c.Path).toDouble(), v); });
    for (const double v : {1e308, -1e308, 0.0})
      if (v < c.Low || v > c.High) check(c.Class, c.Path, test::FloatText(v), false, {});
  }
  for (const char* cls : test::kStoredClasses)
    for (const QString& path : test::FloatProperties(cls))
      for (const char* v : {"NaN", "Inf", "-Inf"}) check(cls, path, v, false, {});
  for (const test::TTimeLine& c : test::kTimeLines)
    check("TRegisterNode", "Points.Strings",
          QStringLiteral("('07.12.2026 9:00:00', %1)").arg(QuotedText(c.Text)), c.Accepted,
          [](TComponent&) {});
}

using test::TRun;

using test::Cli;

// vexa-cli in a few seconds or not at all: a command that hangs is stopped and fails the test.
TRun QuickCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(VEXA_CLI_PATH), args);
  TRun run;
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << "vexa-cli " << args.join(' ').toStdString() << " did not end in 20 s";
    return run;
  }
  run.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  run.Out = QString::fromUtf8(p.readAllStandardOutput());
  run.Err = QString::fromUtf8(p.readAllStandardError());
  return run;
}

// A saved network whose register claims two thousand million decimal places: the load refuses the
// file and tells which, before any read could build a text of that many digits.
TEST_F(ConfigTextTest, AStateFileWithAValuePastItsRangeIsUnreadableAndNothingRunsOnIt) {
  ASSERT_TRUE(QDir().mkpath(Dir->filePath("Config")));
  const QString path = ConfigFilePath(Current().Dir(), "NET");
  auto tree = NetworkTree();
  ASSERT_TRUE(TStgHandler::Create(path)->SaveTree(*tree));
  {
    auto file = CompoundFile::Open(path);
    ASSERT_TRUE(file);
    CompoundStorage& reg =
        *file->Root().OpenStorage(TStgHandler::ChildName(0))->OpenStorage(TStgHandler::ChildName(1));
    TParsedStream s = ParseComponentStream(reg.Stream("Object"));
    ASSERT_EQ(s.Name, "D001C000R001");
    s.Records.push_back({"Digits", test::IntValue(INT32_MAX)});
    reg.Stream("Object") = WriteParsedStream(s);
    ASSERT_TRUE(file->Save(path));
  }
  const QByteArray saved = Bytes(path);
  const QString says = QStringLiteral("D001C000R001 (TRegisterNode): Digits=2147483647 is out of range");

  std::unique_ptr<TRootNode> net = std::make_unique<TRootNode>(nullptr);
  net->SetName("NET");
  TRootNode* before = net.get();
  try {
    LoadTreeFile(Current(), net);
    ADD_FAILURE() << "the file was read";
  } catch (const EUnreadableFiles& e) {
    ASSERT_EQ(e.Files().size(), 1u);
    EXPECT_EQ(e.Files()[0].Path, path);
    EXPECT_TRUE(e.Files()[0].Reason.contains(says)) << e.what();
  }
  // The rest of the network is read; the register holding the value is left out and told.
  EXPECT_NE(net.get(), before);
  EXPECT_EQ(net->ComponentCount(), 1);
  EXPECT_EQ(FindNode(net.get(), QStringLiteral("D001C000R001")), nullptr);
  EXPECT_TRUE(NotedUnreadable(path));
  ForgetUnreadable(path);

  // The companion program refuses to run or poll on it, at once, and leaves it as it was.
  for (const QStringList& command :
       {QStringList{"run", "--seconds", "1"}, QStringList{"poll", "--seconds", "1"}}) {
    SCOPED_TRACE(command.join(' ').toStdString());
    const TRun run = QuickCli(QStringList{"--dir", Dir->path(), "--demo"} + command);
    EXPECT_EQ(run.Code, 1) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(path)) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(says)) << run.Err.toStdString();
    EXPECT_EQ(Bytes(path), saved);
  }

  // And load refuses the text of it with its line and column.
  const TRun dump = QuickCli({"dump", path});
  ASSERT_TRUE(dump.Out.contains("Digits=2147483647")) << dump.Out.toStdString();
  const QString copy = Dir->filePath("copy.cfg");
  const TRun load = Cli({"load", "-", copy}, dump.Out.toUtf8());
  EXPECT_EQ(load.Code, 1);
  EXPECT_TRUE(load.Err.contains(
      QRegularExpression("стандартный ввод: строка 4, столбец \\d+: " + QRegularExpression::escape(says))))
      << load.Err.toStdString();
  EXPECT_FALSE(QFile::exists(copy));
}

// The worked example of the README, as a reader copies it, loads and means what the README says.
TEST_F(ConfigTextTest, TheReadmeExampleLoads) {
  QFile readme(QStringLiteral(VEXA_SOURCE_DIR "/README.md"));
  ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
  const QString md = QString::fromUtf8(readme.readAll());
  const QRegularExpression block(QStringLiteral("```text\\n(TRootNode TTEMPLATES[^`]*)```"));
  const auto match = block.match(md);
  ASSERT_TRUE(match.hasMatch()) << "the README has no templates example";
  const QString path = Dir->filePath("TEMPLATES.cfg");
  const auto fault = Load(match.captured(1), path);
  ASSERT_FALSE(fault) << fault->what();
  std::unique_ptr<TRootNode> tree;
  LoadTreeInto(tree, path);
  ASSERT_TRUE(tree);
  ASSERT_GE(tree->ComponentCount(), 1);
  ASSERT_GE(tree->Component(0)->ComponentCount(), 1);
  auto* cmd = dynamic_cast<TCommandNode*>(tree->Component(0)->Component(0));
  ASSERT_TRUE(cmd);
  EXPECT_EQ(cmd->Points().size(), cmd->DataList().size());
  EXPECT_GE(cmd->Points().size(), 2);
}

TEST_F(ConfigTextTest, CliLoadsFromAFileOrStandardInputAndKeepsTheOldFileOnAFault) {
  auto tree = NetworkTree();
  const QString saved = Dir->filePath("NET.cfg");
  ASSERT_TRUE(TStgHandler::Create(saved)->SaveTree(*tree));
  const TRun dump = Cli({"dump", saved});
  ASSERT_EQ(dump.Code, 0) << dump.Err.toStdString();

  const QString textPath = Dir->filePath("NET.txt");
  QFile text(textPath);
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(dump.Out.toUtf8());
  text.close();
  const QString fromFile = Dir->filePath("fromfile.cfg");
  const TRun load = Cli({"load", textPath, fromFile});
  EXPECT_EQ(load.Code, 0) << load.Err.toStdString();
  EXPECT_EQ(Bytes(fromFile), Bytes(saved));

  const QString fromInput = Dir->filePath("frominput.cfg");
  EXPECT_EQ(Cli({"load", "-", fromInput}, dump.Out.toUtf8()).Code, 0);
  EXPECT_EQ(Bytes(fromInput), Bytes(saved));

  // A fault: the message names the source, line and column; the file loaded before stays whole.
  const TRun bad = Cli({"load", "-", fromInput}, "TRootNode NET\n  TRootNode D001 Colour=5\n");
  EXPECT_EQ(bad.Code, 1);
  EXPECT_TRUE(bad.Err.contains("стандартный ввод: строка 2, столбец 18")) << bad.Err.toStdString();
  EXPECT_EQ(Bytes(fromInput), Bytes(saved));
  EXPECT_EQ(QDir(Dir->path()).entryList(QDir::Files).size(), 4);  // no temporary left behind

  EXPECT_NE(Cli({"load", Dir->filePath("missing.txt"), fromInput}).Code, 0);
  EXPECT_EQ(Bytes(fromInput), Bytes(saved));
}

// A state file holds its own root: load refuses a text whose root is another, at its line.
TEST_F(ConfigTextTest, AStateFileTakesOnlyItsOwnRoot) {
  struct TRootCase {
    const char* What;
    const char* File;
    const char* Text;
    int Column;
    const char* Says;
  };
  const TRootCase cases[] = {
      {"another root", "NET", "TRootNode TASKS\n", 11, "named NET, not TASKS"},
      {"a path", "NET", "TRootNode '../../elsewhere/x'\n", 11, "not '../../elsewhere/x'"},
      {"no name", "TASKS", "TRootNode -\n", 11, "named TASKS, not -"},
      {"the settings named otherwise", "SETUP", "TSetupNode NET\n", 12, "named SETUP, not NET"},
      {"another class", "SETUP", "TRootNode SETUP\n", 1, "holds a TSetupNode"},
      {"settings in a root's file", "REGISTRY", "TSetupNode REGISTRY\n", 1, "holds a TRootNode"},
  };
  for (const TRootCase& c : cases) {
    SCOPED_TRACE(c.What);
    try {
      CompoundFileFromText(QString::fromUtf8(c.Text), QString::fromLatin1(c.File));
      ADD_FAILURE() << "accepted";
    } catch (const ETextError& e) {
      EXPECT_EQ(e.Line, 1);
      EXPECT_EQ(e.Column, c.Column) << e.what();
      EXPECT_TRUE(e.Reason.contains(QString::fromUtf8(c.Says))) << e.what();
    }
    // Any other file takes the text.
    EXPECT_NO_THROW(CompoundFileFromText(QString::fromUtf8(c.Text)));
  }
  EXPECT_NO_THROW(CompoundFileFromText("TRootNode NET\n  TRootNode D000\n", "NET"));
  EXPECT_EQ(StateRootOfFile("/x/Config/TASKS.cfg"), "TASKS");
  EXPECT_EQ(StateRootOfFile("SETUP.cfg"), "SETUP");
  EXPECT_EQ(StateRootOfFile("/x/Config/NET.cfg.unreadable-20261207-1200"), "");
  EXPECT_EQ(StateRootOfFile("/x/Archives/NET"), "");
}

TEST_F(ConfigTextTest, CliLoadRefusesAnotherRootForAStateFileAndWritesNothing) {
  QDir(Dir->path()).mkdir("Config");
  const QString net = Dir->filePath("Config/NET.cfg");
  ASSERT_EQ(Cli({"load", "-", net}, "TRootNode NET\n  TRootNode D000\n").Code, 0);
  const QByteArray before = Bytes(net);
  for (const char* text :
       {"TRootNode TASKS\n  TRootNode D000\n", "TRootNode '../../elsewhere/x'\n", "TRootNode -\n"}) {
    SCOPED_TRACE(text);
    const TRun r = Cli({"load", "-", net}, text);
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(r.Err.contains("стандартный ввод: строка 1, столбец 11: the root of NET.cfg is named NET"))
        << r.Err.toStdString();
    EXPECT_EQ(Bytes(net), before);
  }
  EXPECT_EQ(QDir(Dir->path() + "/Config").entryList(QDir::Files | QDir::Hidden).size(), 1);
  EXPECT_FALSE(QFileInfo::exists(Dir->filePath("elsewhere")));
  // The same text into a file of another name is only a tree.
  EXPECT_EQ(Cli({"load", "-", Dir->filePath("copy.cfg")}, "TRootNode TASKS\n").Code, 0);
}

// dump shows a damaged part as a marked line at its place, the rest as it is, and exits 1.
TEST_F(ConfigTextTest, DumpMarksEveryPartTheLoaderLeavesOutAndFails) {
  auto tree = NetworkTree();
  const QString path = Dir->filePath("NET.cfg");
  ASSERT_TRUE(TStgHandler::Create(path)->SaveTree(*tree));
  const TRun sound = Cli({"dump", path});
  ASSERT_EQ(sound.Code, 0) << sound.Err.toStdString();
  ASSERT_FALSE(sound.Out.contains("# повреждено"));
  const QStringList whole = sound.Out.split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(whole.size(), 4);

  ASSERT_TRUE(test::DamagePart(path, "000/000", test::TPartDamage::ObjectMisnamed));
  ASSERT_TRUE(test::DamagePart(path, "000", test::TPartDamage::Renumbered));
  const TRun damaged = Cli({"dump", path});
  EXPECT_EQ(damaged.Code, 1);
  EXPECT_TRUE(damaged.Err.contains("повреждённых частей: 2")) << damaged.Err.toStdString();
  const QStringList lines = damaged.Out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), whole.size() + 1) << damaged.Out.toStdString();
  EXPECT_EQ(lines[0], whole[0]);
  EXPECT_TRUE(lines[1].startsWith("  # повреждено: 000: нет 000 в нумерации")) << lines[1].toStdString();
  EXPECT_EQ(lines[2], whole[1]) << "the renumbered level still shows";
  EXPECT_TRUE(lines[3].startsWith("    # повреждено: 001/000: нет объекта (есть поток Objecu)"))
      << lines[3].toStdString();
  EXPECT_EQ(lines.mid(4), whole.mid(3));

  // Nesting past what the program loads is refused, and nothing is printed.
  auto deep = CompoundFile::Create();
  CompoundStorage* level = &deep->Root();
  for (int i = 0; i < 2000; ++i) level = &level->CreateStorage("000");
  ASSERT_TRUE(deep->Save(Dir->filePath("deep.cfg")));
  const TRun refused = Cli({"dump", Dir->filePath("deep.cfg")});
  EXPECT_EQ(refused.Code, 1);
  EXPECT_TRUE(refused.Out.isEmpty()) << refused.Out.size();
  EXPECT_TRUE(refused.Err.contains("deeper than 64 levels")) << refused.Err.toStdString();
}

}  // namespace
}  // namespace vexa
