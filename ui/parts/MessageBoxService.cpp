#include "ui/parts/MessageBoxService.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace vexa {

namespace {

QMessageBox::Icon BoxIcon(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Information:
      return QMessageBox::Information;
    case TMsgIcon::Warning:
      return QMessageBox::Warning;
    case TMsgIcon::Question:
      return QMessageBox::Question;
    case TMsgIcon::Error:
      return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

struct TButtonDef {
  TMsgButton Button;
  QMessageBox::StandardButton Standard;
  const char* Text;
};
// In the order the operator reads them, with the program's own Russian captions.
const TButtonDef kButtons[] = {
    {mbYes, QMessageBox::Yes, "Да"},
    {mbNo, QMessageBox::No, "Нет"},
    {mbOK, QMessageBox::Ok, "OK"},
    {mbCancel, QMessageBox::Cancel, "Отмена"},
};

}  // namespace

TMsgButton TMessageBoxService::Show(const QString& text, TMsgIcon icon, unsigned buttons,
                                    TMsgButton defaultButton) {
  if (buttons == 0) buttons = mbOK;
  // The texts carry CR LF line breaks; a lone CR would show as a box glyph.
  QString shown = text;
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QMessageBox box(BoxIcon(icon), QStringLiteral("Vexa"), shown, QMessageBox::NoButton,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  for (const TButtonDef& def : kButtons) {
    if (!(buttons & def.Button)) continue;
    QPushButton* b = box.addButton(def.Standard);
    b->setText(QString::fromUtf8(def.Text));
    if (def.Button == defaultButton) box.setDefaultButton(b);
  }
  // Esc and the close box answer as the system does: Cancel, else No, else OK.
  if (buttons & mbCancel)
    box.setEscapeButton(QMessageBox::Cancel);
  else if (buttons & mbNo)
    box.setEscapeButton(QMessageBox::No);
  else if (buttons & mbOK)
    box.setEscapeButton(QMessageBox::Ok);
  box.exec();
  for (const TButtonDef& def : kButtons)
    if (box.clickedButton() == box.button(def.Standard)) return def.Button;
  return (buttons & mbCancel) ? mbCancel : (buttons & mbNo) ? mbNo : mbOK;
}

}  // namespace vexa
