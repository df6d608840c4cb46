#include "ui/model/NetRules.h"

namespace vexa {

TPropertiesDialog PropertiesDialogForLevel(int level) {
  switch (level) {
    case nlNetwork:
    case nlRegulator:
    case nlChannel:
      return TPropertiesDialog::Node;
    case nlRegister:
      return TPropertiesDialog::Register;
    default:
      return TPropertiesDialog::None;
  }
}

QPoint PlaceBesideWindow(const QRect& window, QSize dialog, const QRect& screen) {
  int left = window.x() + window.width() + 4;
  if (left + dialog.width() > screen.x() + screen.width()) left = window.x() - 4 - dialog.width();
  return {left, window.y()};
}

QString FullScaleText(int zero, int notch) {
  // The fields allow at most 10000 + 5 * 10000; a stored value may be anything an int holds.
  const qint64 top = static_cast<qint64>(zero) + 5 * static_cast<qint64>(notch);
  return QStringLiteral("%1 ... %2").arg(zero).arg(top);
}

}  // namespace vexa
