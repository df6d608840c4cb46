#include "ui/PositionUnit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTransform>

#include "ui/MainUnit.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

const char* const kTag = "Tag";

// The image list has the left and right arrows; up and down are the left one turned, so that the
// four look alike.
QIcon TurnedLeftArrow(int degrees) {
  const QPixmap left = ImagePixmap(ImageIndexOf(QStringLiteral("LEFT")));
  return QIcon(left.transformed(QTransform().rotate(degrees)));
}

}  // namespace

// ---- TPositionForm ------------------------------------------------------------------------------

TPositionForm::TPositionForm(TMainForm* mainForm, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("X-Y"));
  setFixedSize(kClientWidth, kClientHeight);
  // Keys come to the window, not to a button: the buttons never take the focus.
  setFocusPolicy(Qt::StrongFocus);
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window
  InstallHelpShortcut(this, kHelpContext);

  constexpr int middle = (kClientWidth - kButtonSize) / 2;
  constexpr int side = 8;
  constexpr int gap = 3;
  constexpr int top = (kClientHeight - 3 * kButtonSize - 2 * gap) / 2;
  constexpr int row = kButtonSize + gap;
  upButton_ = MakeButton(drUp, TurnedLeftArrow(90), middle, top);
  leftButton_ = MakeButton(drLeft, ImageIcon(ImageIndexOf(QStringLiteral("LEFT"))), side, top + row);
  rightButton_ = MakeButton(drRight, ImageIcon(ImageIndexOf(QStringLiteral("RIGHT"))),
                            kClientWidth - side - kButtonSize, top + row);
  downButton_ = MakeButton(drDown, TurnedLeftArrow(-90), middle, top + 2 * row);
  upButton_->setObjectName(QStringLiteral("upButton"));
  leftButton_->setObjectName(QStringLiteral("leftButton"));
  rightButton_->setObjectName(QStringLiteral("rightButton"));
  downButton_->setObjectName(QStringLiteral("downButton"));

  SetRepeatTimer(std::make_unique<TQtRepeatTimer>());
}

TPositionForm::~TPositionForm() = default;

QPushButton* TPositionForm::MakeButton(TDirection direction, const QIcon& icon, int x, int y) {
  auto* b = new QPushButton(this);
  b->setProperty(kTag, int(direction));
  b->setIcon(icon);
  b->setIconSize(QSize(kButtonSize - 4, kButtonSize - 4));
  b->setGeometry(x, y, kButtonSize, kButtonSize);
  b->setFocusPolicy(Qt::NoFocus);
  b->setAutoDefault(false);
  b->installEventFilter(this);
  return b;
}

void TPositionForm::SetLabel(TLabelDisplay* label) {
  timer_->Stop();
  label_ = label;
}

void TPositionForm::SetRepeatTimer(std::unique_ptr<TRepeatTimer> timer) {
  if (timer_) timer_->Stop();
  timer_ = std::move(timer);
  timer_->Stop();
  timer_->OnTimer = [this] { TimerTick(); };
}

void TPositionForm::Step(int pixels) {
  if (!label_) return;
  switch (direction_) {
    case drUp:
      label_->SetTop(label_->Top() - pixels);
      break;
    case drDown:
      label_->SetTop(label_->Top() + pixels);
      break;
    case drLeft:
      label_->SetLeft(label_->Left() - pixels);
      break;
    case drRight:
      label_->SetLeft(label_->Left() + pixels);
      break;
    case drNone:
      break;
  }
}

void TPositionForm::ButtonPressed(TDirection direction, bool shift) {
  direction_ = direction;
  Step(shift ? kLargeStep : kSmallStep);
  timer_->SetInterval(kFirstRepeatMs);
  timer_->Start();
}

void TPositionForm::TimerTick() {
  // The repeat is always the small step, also after a large first one.
  timer_->SetInterval(kRepeatMs);
  Step(kSmallStep);
}

bool TPositionForm::eventFilter(QObject* watched, QEvent* event) {
  auto* button = qobject_cast<QPushButton*>(watched);
  if (button && button->parent() == this) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
      const auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() == Qt::LeftButton)
        ButtonPressed(static_cast<TDirection>(button->property(kTag).toInt()),
                      e->modifiers().testFlag(Qt::ShiftModifier));
    } else if (event->type() == QEvent::MouseButtonRelease) {
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) timer_->Stop();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TPositionForm::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      direction_ = drUp;
      break;
    case Qt::Key_Left:
      direction_ = drLeft;
      break;
    case Qt::Key_Right:
      direction_ = drRight;
      break;
    case Qt::Key_Down:
      direction_ = drDown;
      break;
    case Qt::Key_Escape:
      direction_ = drNone;
      reject();
      return;
    default:
      // Every other key stops a direction; F1 and the like have reached their shortcuts before.
      direction_ = drNone;
      QDialog::keyPressEvent(event);
      return;
  }
  Step(event->modifiers().testFlag(Qt::ShiftModifier) ? kLargeStep : kSmallStep);
}

void TPositionForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  setFocus();
}

void TPositionForm::hideEvent(QHideEvent* event) {
  // A button held while the window goes keeps no repeat running behind it.
  timer_->Stop();
  QDialog::hideEvent(event);
}

}  // namespace vexa
