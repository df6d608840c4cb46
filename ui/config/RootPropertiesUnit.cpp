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

  edName = new QLineEdit(QStringLiteral("Название"), this);
  edName->setObjectName(QStringLiteral("nameEdit"));
  meComments = new QPlainTextEdit(QStringLiteral("Комментарии"), this);
  meComments->setObjectName(QStringLiteral("commentsEdit"));
  QHBoxLayout* buttons = OkCancelRow(this, btOK, btCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(edName);
  layout->addWidget(meComments, 1);
  layout->addLayout(buttons);

  connect(btOK, &QPushButton::clicked, this, &TRootPropertiesForm::OkClick);

  setFixedSize(kClientWidth, kClientHeight);
  InstallHelpShortcut(this, kHelpContext);
}

void TRootPropertiesForm::SetNode(TRootNode* node) {
  node_ = node;
  Load();
}

QString TRootPropertiesForm::Comments() const {
  return meComments->toPlainText();
}
void TRootPropertiesForm::SetComments(const QString& value) {
  meComments->setPlainText(value);
}
QString TRootPropertiesForm::RCaption() const {
  return edName->text();
}
void TRootPropertiesForm::SetRCaption(const QString& value) {
  edName->setText(value);
}
bool TRootPropertiesForm::ReadOnly() const {
  return edName->isReadOnly();
}
void TRootPropertiesForm::SetReadOnly(bool readOnly) {
  edName->setReadOnly(readOnly);
  meComments->setReadOnly(readOnly);
}

void TRootPropertiesForm::Load() {
  if (node_ == nullptr) return;
  SetComments(node_->Comments());
  SetRCaption(node_->Caption());
}

void TRootPropertiesForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    Load();
    edName->setFocus();
    edName->selectAll();
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
