#include "ui/config/DataFolderUnit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <cstdio>

#include "core/Services.h"
#include "ui/parts/FileDialogs.h"
#include "ui/parts/Tell.h"

namespace vexa {

TDataFolderDlg::TDataFolderDlg(const QString& proposed, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Папка данных"));

  lbText =
      new QLabel(QStringLiteral("Выберите папку, в которой Vexa будет хранить настройки (Config), архивы "
                                "отчетов (Archives) и рисунки мнемосхем. Программа запомнит ее; выбрать "
                                "другую можно, запустив vexa --choose-dir."),
                 this);
  lbText->setObjectName(QStringLiteral("explanationLabel"));
  lbText->setWordWrap(true);
  edFolder = new QLineEdit(QDir::toNativeSeparators(proposed), this);
  edFolder->setObjectName(QStringLiteral("folderEdit"));
  btBrowse = new QPushButton(QStringLiteral("Обзор..."), this);
  btBrowse->setObjectName(QStringLiteral("browseButton"));
  btBrowse->setAutoDefault(false);
  btOK = new QPushButton(QStringLiteral("OK"), this);
  btOK->setObjectName(QStringLiteral("okButton"));
  btOK->setDefault(true);
  btCancel = new QPushButton(QStringLiteral("Отмена"), this);
  btCancel->setObjectName(QStringLiteral("cancelButton"));
  btCancel->setAutoDefault(false);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(edFolder, 1);
  folderRow->addWidget(btBrowse);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btOK);
  buttons->addWidget(btCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lbText);
  layout->addLayout(folderRow);
  layout->addLayout(buttons);
  // Wide enough for a home folder's path; the text wraps to it.
  setMinimumWidth(480);

  connect(btBrowse, &QPushButton::clicked, this, &TDataFolderDlg::Browse);
  connect(btOK, &QPushButton::clicked, this, &TDataFolderDlg::accept);
  connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TDataFolderDlg::~TDataFolderDlg() = default;

QString TDataFolderDlg::Folder() const {
  const QString typed = edFolder->text().trimmed();
  return typed.isEmpty() ? typed : QDir::cleanPath(QDir::fromNativeSeparators(typed));
}

void TDataFolderDlg::accept() {
  const QString problem = PrepareProgramFolder(Folder());
  if (!problem.isEmpty()) {
    ShowMessage(problem, TMsgIcon::Error);
    edFolder->setFocus();
    return;
  }
  QDialog::accept();
}

void TDataFolderDlg::Browse() {
  // The proposed folder may not exist yet: start from its nearest existing parent.
  QString start = Folder();
  while (!start.isEmpty() && !QDir(start).exists() && start != QDir::rootPath())
    start = QFileInfo(start).path();
  QFileDialog dialog(this, QStringLiteral("Папка данных"), start);
  PrepareFileDialog(dialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  edFolder->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

std::optional<QString> ChooseDataFolder(const QString& proposed) {
  TDataFolderDlg dialog(proposed);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Folder();
}

std::optional<QString> SettleProgramFolder(TProgramFolder folder, QSettings& settings) {
  // Beside the program file it has always been used as it is.
  if (folder.Source == TFolderSource::BesideProgram) return folder.Path;
  if (folder.Source != TFolderSource::Ask) {
    if (const QString problem = PrepareProgramFolder(folder.Path); !problem.isEmpty()) {
      std::fprintf(stderr, "vexa: %s\n", qPrintable(problem));
      ShowMessage(problem, TMsgIcon::Error);
      if (folder.Source == TFolderSource::CommandLine) return std::nullopt;
      folder.Source = TFolderSource::Ask;
    }
  }
  if (folder.Source != TFolderSource::Ask) return folder.Path;
  std::optional<QString> chosen = ChooseDataFolder(folder.Path);
  if (chosen) RememberDataFolder(settings, *chosen);
  return chosen;
}

}  // namespace vexa
