#pragma once
// A paint device that keeps what was painted on it, page by page: texts with their baseline points
// and fonts, lines and polylines with their pens, rectangles. The pages of a report are checked by
// what they hold, not by their pixels.

#include <QFont>
#include <QLineF>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <climits>
#include <vector>

namespace vexa::test {

struct TDrawnText {
  int Page = 0;
  QString Text;
  QPointF Baseline;
  QFont Font;
};

struct TDrawnLine {
  int Page = 0;
  QPolygonF Points;  // two for a line, more for a polyline
  QPen Pen;
};

struct TDrawnRect {
  int Page = 0;
  QRectF Rect;
  QPen Pen;
};

class TRecordingEngine : public QPaintEngine {
 public:
  TRecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  Type type() const override { return QPaintEngine::User; }
  void updateState(const QPaintEngineState& state) override {
    if (state.state() & QPaintEngine::DirtyPen) pen_ = state.pen();
    if (state.state() & QPaintEngine::DirtyFont) font_ = state.font();
  }
  void drawTextItem(const QPointF& p, const QTextItem& item) override {
    Texts.push_back({Page, item.text(), p, item.font()});
  }
  void drawLines(const QLineF* lines, int count) override {
    for (int i = 0; i < count; ++i) Lines.push_back({Page, QPolygonF({lines[i].p1(), lines[i].p2()}), pen_});
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode) override {
    Lines.push_back({Page, QPolygonF(QList<QPointF>(points, points + count)), pen_});
  }
  void drawRects(const QRectF* rects, int count) override {
    for (int i = 0; i < count; ++i) Rects.push_back({Page, rects[i], pen_});
  }
  void drawPath(const QPainterPath&) override {}
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}

  int Page = 0;
  std::vector<TDrawnText> Texts;
  std::vector<TDrawnLine> Lines;
  std::vector<TDrawnRect> Rects;

 private:
  QPen pen_;
  QFont font_;
};

class TRecordingDevice : public QPaintDevice {
 public:
  TRecordingDevice(QSize size, int dpi) : size_(size), dpi_(dpi) {}

  QPaintEngine* paintEngine() const override { return &engine_; }
  TRecordingEngine& Engine() { return engine_; }
  // Refuses a new page after kPageLimit, as a printer out of paper would: a page loop that never
  // ends shows as too many pages instead of a test that never ends.
  static constexpr int kPageLimit = 500;
  bool NewPage() {
    if (engine_.Page + 1 >= kPageLimit) return false;
    ++engine_.Page;
    return true;
  }

 protected:
  int metric(PaintDeviceMetric m) const override {
    switch (m) {
      case PdmWidth:
        return size_.width();
      case PdmHeight:
        return size_.height();
      case PdmWidthMM:
        return static_cast<int>(size_.width() * 25.4 / dpi_);
      case PdmHeightMM:
        return static_cast<int>(size_.height() * 25.4 / dpi_);
      case PdmNumColors:
        return INT_MAX;
      case PdmDepth:
        return 32;
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return dpi_;
      case PdmDevicePixelRatio:
        return 1;
      case PdmDevicePixelRatioScaled:
        return static_cast<int>(devicePixelRatioFScale());
    }
    return 0;
  }

 private:
  QSize size_;
  int dpi_;
  mutable TRecordingEngine engine_;
};

}  // namespace vexa::test
