#pragma once
// "X-Y": moves one value label on its page pixel by pixel, with four arrow buttons that repeat
// while held, or with the arrow keys; Shift makes a step 10 pixels.

#include <QDialog>
#include <functional>
#include <memory>

#include "ui/model/RepeatTimer.h"
#include "ui/parts/HelpUnit.h"

class QPushButton;

namespace vexa {

class TLabelDisplay;
class TMainForm;

enum TDirection { drNone = -1, drUp = 1, drLeft = 2, drRight = 3, drDown = 4 };

class TPositionForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcPosition;
  static constexpr int kClientWidth = 72;
  static constexpr int kClientHeight = 65;
  static constexpr int kButtonSize = 17;
  static constexpr int kSmallStep = 1;
  static constexpr int kLargeStep = 10;
  static constexpr int kFirstRepeatMs = 500;
  static constexpr int kRepeatMs = 50;

  explicit TPositionForm(TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TPositionForm() override;

  // The label to move; set before the window is shown.
  void SetLabel(TLabelDisplay* label);
  TLabelDisplay* Label() const { return label_; }

  // Replaces the repeat timer (the window owns it); a running repeat stops.
  void SetRepeatTimer(std::unique_ptr<TRepeatTimer> timer);
  TRepeatTimer& RepeatTimer() const { return *timer_; }

  TDirection Direction() const { return direction_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QPushButton* MakeButton(TDirection direction, const QIcon& icon, int x, int y);
  void Step(int pixels);
  void ButtonPressed(TDirection direction, bool shift);
  void TimerTick();

  // The buttons' tags are their directions.
  QPushButton* upButton_ = nullptr;
  QPushButton* leftButton_ = nullptr;
  QPushButton* rightButton_ = nullptr;
  QPushButton* downButton_ = nullptr;
  TLabelDisplay* label_ = nullptr;
  TDirection direction_ = drNone;
  std::unique_ptr<TRepeatTimer> timer_;
};

}  // namespace vexa
