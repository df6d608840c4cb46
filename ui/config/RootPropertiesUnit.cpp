#include "ui/config/RootPropertiesUnit.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/RootNode.h"
#include "ui/parts/DialogButtons.h"
#include "ui/parts/HelpUnit.h"

namespace vexa {

TRootPropertiesForm::TRootPropertiesForm(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("RootPropertiesForm"));
  setWindowTitle(QStringLiteral("Свойства узла"));

  nameEdit_ = new QLineEdit(QStringLiteral("Название"), this);
  nameEdit_->setObjectName(QStringLiteral("nameEdit"));
  commentsEdit_ = new QPlainTextEdit(QStringLiteral("Комментарии"), this);
  commentsEdit_->setObjectName(QStringLiteral("commentsEdit"));
  QHBoxLayout* buttons = OkCancelRow(this, okButton_, cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(nameEdit_);
  layout->addWidget(commentsEdit_, 1);
  layout->addLayout(buttons);

  connect(okButton_, &QPushButton::clicked, this, &TRootPropertiesForm::OkClick);

  setFixedSize(kClientWidth, kClientHeight);
  InstallHelpShortcut(this, kHelpContext);
}

void TRootPropertiesForm::SetNode(TRootNode* node) {
  node_ = node;
  Load();
}

QString TRootPropertiesForm::Comments() const {
  return commentsEdit_->toPlainText();
}
void TRootPropertiesForm::SetComments(const QString& value) {
  commentsEdit_->setPlainText(value);
}
QString TRootPropertiesForm::RCaption() const {
  return nameEdit_->text();
}
void TRootPropertiesForm::SetRCaption(const QString& value) {
  nameEdit_->setText(value);
}
bool TRootPropertiesForm::ReadOnly() const {
  return nameEdit_->isReadOnly();
}
void TRootPropertiesForm::SetReadOnly(bool readOnly) {
  nameEdit_->setReadOnly(readOnly);
  commentsEdit_->setReadOnly(readOnly);
}

void TRootPropertiesForm::Load() {
  if (node_ == nullptr) return;
  SetComments(node_->Comments());
  SetRCaption(node_->Caption());
}

void TRootPropertiesForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    Load();
    nameEdit_->setFocus();
    nameEdit_->selectAll();
  }
  QDialog::showEvent(event);
}

void TRootPropertiesForm::OkClick() {
  if (node_ != nullptr) {
    node_->SetComments(Comments());
    node_->SetCaption(RCaption());
  }
  accept();
}

}  // namespace vexa
