// vexa: the operator shell for a network of Gelmark regulators.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "core/Services.h"
#include "ui/Application.h"
#include "ui/ImageList.h"
#include "ui/MessageBoxService.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vexa"));
  // The program ends when the main window closes, whatever other windows are still open.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(vexa::ProgramIcon());
  // Qt's own dialogs (colours, files) speak the program's language when the system has Qt's
  // Russian translation; without it they stay in English and work the same.
  QTranslator qtRussian;
  if (qtRussian.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtRussian);
  vexa::Services().Messages = std::make_unique<vexa::TMessageBoxService>();
  vexa::TProgram program(QCoreApplication::applicationDirPath());
  return program.Run();
}
