// vexa: the operator shell for a network of Gelmark regulators.

#include <QApplication>
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
  vexa::Services().Messages = std::make_unique<vexa::TMessageBoxService>();
  vexa::TProgram program(QCoreApplication::applicationDirPath());
  return program.Run();
}
