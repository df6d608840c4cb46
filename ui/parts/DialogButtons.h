#pragma once
// The "OK" and "Отмена" buttons of the property dialogs: right-aligned, "OK" the default button,
// "Отмена" rejecting the dialog.

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace vexa {

inline QHBoxLayout* OkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton(QStringLiteral("OK"), dialog);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  cancel = new QPushButton(QStringLiteral("Отмена"), dialog);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

}  // namespace vexa
