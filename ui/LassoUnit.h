#pragma once
// TLasso: the frame that marks the label of the register selected in the network tree or a channel
// table: two dotted frames, 3 pixels around the label, on the label's page.

#include <QWidget>
#include <functional>

namespace vexa {

class TComponent;
class TLabelDisplay;

class TLasso : public QWidget {
  Q_OBJECT
 public:
  // rest: where the lasso waits while it marks nothing (the main window).
  explicit TLasso(QWidget* rest);

  TComponent* REG() const { return reg_; }
  // Marks the label of reg (none: marks nothing). Setting the same register again makes the frame
  // follow the label's new size.
  void SetREG(TComponent* reg);
  // Puts the lasso on a page (or back where it rests) without changing what it marks.
  void PutOn(QWidget* parent);

  // The widget that shows a label, if it has one.
  std::function<QWidget*(const TLabelDisplay&)> ViewOf;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Place();

  QWidget* rest_;
  TComponent* reg_ = nullptr;
};

}  // namespace vexa
