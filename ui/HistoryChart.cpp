#include "ui/HistoryChart.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <algorithm>

#include "ui/HistoryUnit.h"

namespace vexa {

// ---- THistoryAxis -------------------------------------------------------------------------------

THistoryAxis::THistoryAxis(THistoryForm& form) : QWidget(&form), form_(form) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void THistoryAxis::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  // The chart's rows start at the scroll box's viewport; the labels keep to them.
  const int top =
      form_.ScrollBox->viewport()->mapTo(&form_, QPoint(0, 0)).y() - mapTo(&form_, QPoint(0, 0)).y();
  const int textHeight = fontMetrics().height();
  const int chartHeight = form_.Chart->height();
  painter.setPen(palette().color(QPalette::WindowText));
  const TValueAxis axis = form_.Axis();  // held: the loop runs over its ticks
  for (const TAxisTick& tick : axis.Ticks()) {
    // A label is drawn whole, beside its tick where there is room and against the edge otherwise.
    const int y = std::clamp(top + tick.Y - textHeight / 2, top, top + chartHeight - textHeight);
    painter.drawText(QRect(0, y, width() - 4, textHeight), Qt::AlignRight | Qt::AlignVCenter, tick.Text);
  }
}

// ---- THistoryChart ------------------------------------------------------------------------------

THistoryChart::THistoryChart(THistoryForm& form) : QWidget(&form), form_(form) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void THistoryChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  form_.PaintChart(painter, height());
}

void THistoryChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton &&
      (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0)
    form_.SetCursor(event->position().toPoint().x());
  QWidget::mousePressEvent(event);
}

void THistoryChart::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() == Qt::LeftButton &&
      (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0)
    form_.SetCursor(std::clamp(event->position().toPoint().x(), 0, form_.ChartWidth() - 1));
}

void THistoryChart::keyPressEvent(QKeyEvent* event) {
  // The arrows move the cursor, never the scroll box; Left stops at 1, as it always has.
  if (event->key() == Qt::Key_Left) {
    if (form_.Cursor() > 1) form_.SetCursor(form_.Cursor() - 1);
  } else if (event->key() == Qt::Key_Right) {
    if (form_.Cursor() < form_.ChartWidth() - 1) form_.SetCursor(form_.Cursor() + 1);
  } else {
    QWidget::keyPressEvent(event);
  }
}

}  // namespace vexa
