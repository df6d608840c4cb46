#include "ui/parts/ColorSwatch.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>

#include "ui/parts/Colors.h"

namespace vexa {

TColorSwatch::TColorSwatch(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
}

void TColorSwatch::SetColor(int color) {
  if (color_ == color) return;
  color_ = color;
  update();
}

void TColorSwatch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(ToQColor(color_));
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.drawRoundedRect(r, 5, 5);
}

void TColorSwatch::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  // The program's own dialog, the same on every desktop (and one a test can drive).
  QColorDialog dialog(ToQColor(color_), this);
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted) return;
  SetColor(FromQColor(dialog.selectedColor()));
  Q_EMIT ColorChosen(color_);
}

}  // namespace vexa
