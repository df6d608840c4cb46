#pragma once
// "Папка данных": asked at the first start of an installed program, where it keeps its settings,
// archives and pictures (an installed program may not write beside its own file).

#include <QDialog>
#include <QString>
#include <optional>

#include "ui/model/ProgramFolder.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;

namespace vexa {

class TDataFolderDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TDataFolderDlg(const QString& proposed, QWidget* parent = nullptr);
  ~TDataFolderDlg() override;

  // The folder typed or browsed to, as it will be used.
  QString Folder() const;

 public Q_SLOTS:
  // OK: the folder is made and checked; a folder that cannot be used is told and the question stays.
  void accept() override;

 private:
  void Browse();

  QLabel* explanationLabel_ = nullptr;
  QLineEdit* folderEdit_ = nullptr;
  QPushButton* browseButton_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};

// Asks for the data folder, proposing `proposed`; the folder, made and writable, or nothing when the
// operator declined (then the program does not start).
std::optional<QString> ChooseDataFolder(const QString& proposed);

// The program folder ready for use. A given or remembered folder is made and checked: one that cannot
// be used is told, and then a --dir folder ends the start while a remembered one (a removed disk) is
// chosen again. An installed program without a folder asks; the answer is remembered. Nothing when
// the program must not start.
std::optional<QString> SettleProgramFolder(TProgramFolder folder, QSettings& settings);

}  // namespace vexa
