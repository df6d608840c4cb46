// vexa-cli search on the simulated network, with channel templates saved beforehand so it is quick.

#include <QDir>
#include <QFile>
#include <QProcess>

#include "core/Globals.h"
#include "core/RegisterNode.h"
#include "storage/NetDescription.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

struct TRun {
  int Code = -1;
  QString Out;
  QString Err;
};

class SearchCliTest : public TVexaTest {
 protected:
  TRun Cli(const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(Dir->path());
    p.start(QStringLiteral(VEXA_CLI_PATH), QStringList{"--demo", "--dir", Dir->path()} + args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
  }

  void AddTemplate(const QString& caption, const QString& comments, const QStringList& registers,
                   TRegisterType type) {
    auto* pattern = new TRootNode(REGISTRY.get());
    pattern->SetName(QStringLiteral("T") + caption);
    pattern->SetCaption(caption);
    pattern->SetComments(comments);
    const QStringList all = QStringList{"Регистр-идентификатор"} + registers;
    for (int k = 0; k < all.size(); ++k) {
      auto* reg = new TRegisterNode(pattern);
      reg->SetName(QStringLiteral("R%1").arg(k));
      reg->SetCaption(all[k]);
      reg->SetRegisterType(k == 0 ? rtBYTE : type);
      reg->SetVisible(k != 0);
    }
  }

  void SaveTemplates() {
    QDir(ExeDir()).mkdir("Config");
    AddTemplate("000", "Аналоговый вход", {"Температура", "Уставка"}, rtFLOAT);
    AddTemplate("001", "Дискретный выход", {"Состояние"}, rtBOOL);
    ASSERT_TRUE(SaveTreeFile(*REGISTRY));
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
  ASSERT_TRUE(QFileInfo::exists(ConfigFilePath("NET")));
  RecreateRoot("NET");
  LoadTreeFile(NET);
  EXPECT_EQ(NetworkDescription(*NET), run.Out);
  ASSERT_EQ(NET->NodeCount(), 2);
  EXPECT_EQ(NET->Node(1)->Name(), "D001");
  const auto* identifier = dynamic_cast<TRegisterNode*>(FindNode(NET.get(), "D001C002R000"));
  ASSERT_NE(identifier, nullptr);
  EXPECT_FALSE(identifier->Visible());
  EXPECT_EQ(identifier->ImageIndex(), 40);
}

TEST_F(SearchCliTest, WithoutSaveNothingIsWrittenAndBadArgumentsAreRefused) {
  SaveTemplates();
  const TRun run = Cli({"search"});
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out.count("\tРегулятор: "), 2);
  EXPECT_FALSE(QFileInfo::exists(ConfigFilePath("NET")));

  const TRun bad = Cli({"search", "--sve"});
  EXPECT_EQ(bad.Code, 2);
  EXPECT_TRUE(bad.Err.contains("usage: vexa-cli"));
}

}  // namespace
}  // namespace vexa::test
