#include "ui/LassoUnit.h"

#include <QPainter>

#include "core/RegisterNode.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {

namespace {
constexpr int kMargin = 3;
}  // namespace

TLasso::TLasso(QWidget* rest) : QWidget(rest), rest_(rest) {
  setObjectName(QStringLiteral("lasso"));
  // It lies over the label and the picture; clicks and drops go to them.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(0, 0, 0, 0);
  hide();
}

void TLasso::SetREG(TComponent* reg) {
  reg_ = reg;
  Place();
}

void TLasso::PutOn(QWidget* parent) {
  QWidget* target = parent != nullptr ? parent : rest_;
  if (parentWidget() != target) setParent(target);
  Place();
}

void TLasso::Place() {
  // Only a plain register node's label is marked; anything else leaves the frame empty.
  const auto* reg =
      reg_ != nullptr && &reg_->ClassInfo() == &TRegisterNode::StaticClassInfo() ? reg_ : nullptr;
  const TLabelDisplay* label = LabelOf(reg);
  QWidget* view = label != nullptr && ViewOf ? ViewOf(*label) : nullptr;
  if (view == nullptr || view->parentWidget() == nullptr) {
    if (parentWidget() != rest_) setParent(rest_);
    setGeometry(0, 0, 0, 0);
    hide();
    return;
  }
  if (parentWidget() != view->parentWidget()) setParent(view->parentWidget());
  // Moving a child repaints what it uncovered, so the old frame never stays behind.
  setGeometry(view->geometry().adjusted(-kMargin, -kMargin, kMargin, kMargin));
  show();
  raise();
  update();
}

void TLasso::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter p(this);
  // Black dots over white, so the frame shows on any picture, as an inverted one would.
  auto frame = [&](const QRect& r) {
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(r);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.drawRect(r);
  };
  frame(rect().adjusted(0, 0, -1, -1));
  frame(rect().adjusted(1, 1, -2, -2));
}

}  // namespace vexa
