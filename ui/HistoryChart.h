#pragma once
// The history window's chart widgets: the chart surface, which the window paints and whose mouse
// and arrow keys move its cursor, and the value axis' labels beside it.

#include <QWidget>

namespace vexa {

class THistoryForm;

// The value axis' labels, left of the scroll box, at the rows of the chart's ticks.
class THistoryAxis : public QWidget {
  Q_OBJECT
 public:
  explicit THistoryAxis(THistoryForm& form);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  THistoryForm& form_;
};

// The chart surface: as wide as the chart, as high as the scroll box.
class THistoryChart : public QWidget {
  Q_OBJECT
 public:
  explicit THistoryChart(THistoryForm& form);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  THistoryForm& form_;
};

}  // namespace vexa
