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

  explanationLabel_ =
      new QLabel(QStringLiteral("Выберите папку, в которой Vexa будет хранить настройки (Config), архивы "
                                "отчетов (Archives) и рисунки мнемосхем. Программа запомнит ее; выбрать "
                                "другую можно, запустив vexa --choose-dir."),
                 this);
  explanationLabel_->setObjectName(QStringLiteral("explanationLabel"));
  explanationLabel_->setWordWrap(true);
  folderEdit_ = new QLineEdit(QDir::toNativeSeparators(proposed), this);
  folderEdit_->setObjectName(QStringLiteral("folderEdit"));
  browseButton_ = new QPushButton(QStringLiteral("Обзор..."), this);
  browseButton_->setObjectName(QStringLiteral("browseButton"));
  browseButton_->setAutoDefault(false);
  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Отмена"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  cancelButton_->setAutoDefault(false);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folderEdit_, 1);
  folderRow->addWidget(browseButton_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(explanationLabel_);
  layout->addLayout(folderRow);
  layout->addLayout(buttons);
  // Wide enough for a home folder's path; the text wraps to it.
  setMinimumWidth(480);

  connect(browseButton_, &QPushButton::clicked, this, &TDataFolderDlg::Browse);
  connect(okButton_, &QPushButton::clicked, this, &TDataFolderDlg::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

TDataFolderDlg::~TDataFolderDlg() = default;

QString TDataFolderDlg::Folder() const {
  const QString typed = folderEdit_->text().trimmed();
  return typed.isEmpty() ? typed : QDir::cleanPath(QDir::fromNativeSeparators(typed));
}

void TDataFolderDlg::accept() {
  const QString problem = PrepareProgramFolder(Folder());
  if (!problem.isEmpty()) {
    ShowMessage(problem, TMsgIcon::Error);
    folderEdit_->setFocus();
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
  folderEdit_->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
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
