#pragma once
// TColorSwatch: a colour shown as a rounded rectangle; releasing the mouse on it opens the colour
// dialog, and the colour chosen there becomes the swatch's.

#include <QWidget>

namespace vexa {

class TColorSwatch : public QWidget {
  Q_OBJECT
 public:
  explicit TColorSwatch(QWidget* parent = nullptr);

  // In the stored trees' form, 0x00BBGGRR.
  int Color() const { return color_; }
  void SetColor(int color);

  QSize sizeHint() const override { return {65, 21}; }

 Q_SIGNALS:
  // The operator chose a colour in the dialog.
  void ColorChosen(int color);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int color_ = 0xFF0000;
};

}  // namespace vexa
