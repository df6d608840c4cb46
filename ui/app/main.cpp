// vexa: the operator shell for a network of Gelmark regulators.

#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <memory>

#include "Version.h"
#include "core/Services.h"
#include "ui/app/Program.h"
#include "ui/config/DataFolderUnit.h"
#include "ui/model/PersistentClasses.h"
#include "ui/model/ProgramFolder.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/MessageBoxService.h"
#include "ui/parts/QtLanguage.h"

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  // Help and version need no display, so they are answered before the application object exists.
  QStringList raw;
  for (int i = 1; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
  const vexa::TProgramOptions early = vexa::ParseProgramOptions(raw);
  if (early.Help) {
    std::fputs(vexa::kProgramUsage, stdout);
    return 0;
  }
  if (early.Version) {
    std::printf("vexa %s\n", VEXA_VERSION_STRING);
    return 0;
  }

  vexa::TRussianDates russianDates;
  QApplication app(argc, argv);
  russianDates.Settle();
  QApplication::setApplicationName(QStringLiteral("Vexa"));
  // Qt has taken its own options (-platform, -style ...) by now: what is left must be ours.
  const vexa::TProgramOptions options = vexa::ParseProgramOptions(QCoreApplication::arguments().mid(1));
  if (!options.Error.isEmpty()) {
    std::fprintf(stderr, "vexa: %s\n%s", qPrintable(options.Error), vexa::kProgramUsage);
    return 2;
  }
  // The program ends when the main window closes, whatever other windows are still open.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(vexa::ProgramIcon());
  // Qt's own dialogs (colours, files) speak the program's language when the system has Qt's
  // Russian translation; without it they stay in English and work the same.
  const std::unique_ptr<QTranslator> qtRussian = vexa::InstallQtRussian();
  vexa::Services().Messages = std::make_unique<vexa::TMessageBoxService>();

  // ~/.config/Vexa/Vexa.conf remembers the data folder of an installed program.
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vexa"),
                     QStringLiteral("Vexa"));
  const vexa::TProgramFolder folder =
      vexa::DecideProgramFolder(options, QCoreApplication::applicationDirPath(), settings);
  const std::optional<QString> path = vexa::SettleProgramFolder(folder, settings);
  if (!path) return folder.Source == vexa::TFolderSource::CommandLine ? 1 : 0;
  vexa::TProgram program(*path);
  program.SetInstancePerFolder(folder.Source == vexa::TFolderSource::CommandLine);
  return program.Run();
}
