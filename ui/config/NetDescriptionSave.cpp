#include "ui/config/NetDescriptionSave.h"

#include <QFileDialog>
#include <QFileInfo>

#include "core/Network.h"
#include "core/RootNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "storage/NetDescription.h"
#include "ui/parts/FileDialogs.h"
#include "ui/parts/Tell.h"

namespace vexa {

std::optional<QString> AskDescriptionPath(QWidget* parent, QString& folder) {
  // Qt's own dialog: only it tells which folder the operator was in when he cancelled.
  QFileDialog dialog(parent, QStringLiteral("Сохранение параметров сети в виде таблицы"), folder);
  PrepareFileDialog(dialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QStringLiteral("Текстовые файлы (*.txt)"), QStringLiteral("Все файлы (*.*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  folder = dialog.directory().absolutePath();
  if (!accepted) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

void SaveNetworkDescriptionDialog(TNetwork& network, QWidget* parent, const TAskDescriptionPath& ask) {
  std::unique_ptr<TSetupNode>& setup = network.Setup();
  if (!setup || !network.Net()) return;
  // There is no process-wide current folder that a dialog moves on this system: the next export
  // starts where this one ended because the folder comes back from the question and is stored.
  QString folder = setup->TablesDir();
  const std::optional<QString> path = ask ? ask(parent, folder) : AskDescriptionPath(parent, folder);
  if (path) {
    TFaults faults;
    {
      TBusyCursor busy;
      faults = SaveNetworkDescription(*path, *network.Net());
    }
    if (!faults.Empty()) {
      ShowFaults(faults);
      return;
    }
    folder = QFileInfo(*path).absolutePath();
  }
  setup->SetTablesDir(folder);
}

}  // namespace vexa
