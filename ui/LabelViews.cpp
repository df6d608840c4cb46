#include "ui/LabelViews.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QTabWidget>
#include <QTimer>
#include <utility>

#include "core/RegisterNode.h"
#include "ui/LassoUnit.h"
#include "ui/MnemoPages.h"
#include "ui/config/NetUnit.h"
#include "alarms/model/AlarmTexts.h"
#include "ui/parts/Colors.h"

namespace vexa {

const QString TMnemoLabels::kNodeFormat = QString::fromLatin1(TNetForm::kNodeMimeType);

// --- TLabelView --------------------------------------------------------------------------------

TLabelView::TLabelView(TLabelDisplay& label, QWidget* page) : QLabel(page), label_(&label) {
  setObjectName(QStringLiteral("Label_") + (label.Owner() != nullptr ? label.Owner()->Name() : QString()));
  setTextFormat(Qt::PlainText);
  setAutoFillBackground(true);
  setMargin(1);
  setLineWidth(1);
  setContextMenuPolicy(Qt::DefaultContextMenu);
}

void TLabelView::Mirror() {
  if (label_ == nullptr || mirroring_) return;
  mirroring_ = true;
  const TFont& f = label_->Font();
  QFont font(f.Name());
  font.setPixelSize(std::max(1, std::abs(f.Height())));
  font.setBold((f.Style() & fsBold) != 0);
  font.setItalic((f.Style() & fsItalic) != 0);
  font.setUnderline((f.Style() & fsUnderline) != 0);
  font.setStrikeOut((f.Style() & fsStrikeOut) != 0);
  // A new value changes only the text: the look is set again only when it changed, since setting
  // a font or palette restyles the widget, and this runs for every poll of the register.
  if (font != this->font()) setFont(font);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ToQColor(label_->Color()));
  pal.setColor(QPalette::WindowText, ToQColor(f.Color()));
  if (pal != palette()) setPalette(pal);
  int frame = QFrame::NoFrame;
  switch (label_->BorderStyle()) {
    case sbsNone:
      break;
    case sbsSingle:
      frame = QFrame::Box | QFrame::Plain;
      break;
    case sbsSunken:
      frame = QFrame::Panel | QFrame::Sunken;
      break;
  }
  if (frameStyle() != frame) setFrameStyle(frame);
  setText(label_->Caption());
  // The label takes the size of its text; the model keeps it, as it is saved with the label. A
  // fixed size, not adjustSize: a widget whose size may vary tells its page's layout of every new
  // text, and the whole window would be laid out and repainted on every poll.
  setFixedSize(sizeHint());
  // A label on the page in front is kept wholly inside it, also when a longer value widens it.
  // (A page behind may not have its size yet.)
  if (parentWidget() != nullptr && parentWidget()->isVisible()) {
    const QPoint kept = KeptInsidePage({label_->Left(), label_->Top()}, size(), parentWidget()->size());
    label_->SetLeft(kept.x());
    label_->SetTop(kept.y());
  }
  move(label_->Left(), label_->Top());
  label_->SetWidth(width());
  label_->SetHeight(height());
  if (!isVisible()) {
    show();
    raise();
  }
  mirroring_ = false;
}

void TLabelView::Forget() {
  label_ = nullptr;
  hide();
  deleteLater();
}

void TLabelView::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (label_ != nullptr) Q_EMIT DoubleClicked(this);
}

void TLabelView::contextMenuEvent(QContextMenuEvent* event) {
  if (label_ != nullptr) Q_EMIT PopupRequested(this, event->globalPos());
  event->accept();
}

void TLabelView::SetAlarm(TAlarmState state, int priority) {
  if (state == alarmState_ && priority == alarmPriority_) return;
  alarmState_ = state;
  alarmPriority_ = priority;
  update();
}

void TLabelView::SetShelved(bool shelved) {
  if (shelved_ == shelved) return;
  shelved_ = shelved;
  setToolTip(shelved ? QStringLiteral("Тревога отложена") : QString());
  update();
}

void TLabelView::SetFlashPhase(bool on) {
  if (flashOn_ == on) return;
  flashOn_ = on;
  if (Flashing()) update();
}

void TLabelView::paintEvent(QPaintEvent* event) {
  const QColor colour = QColor::fromRgb(PriorityColour(alarmPriority_));
  const bool filled =
      alarmState_ == TAlarmState::ActiveAcked || (alarmState_ == TAlarmState::ActiveUnacked && flashOn_);
  if (filled) {
    QPainter p(this);
    p.fillRect(rect(), colour);
  }
  QLabel::paintEvent(event);
  if (alarmState_ == TAlarmState::ReturnedUnacked && flashOn_) {
    QPainter p(this);
    p.setPen(QPen(colour, 2));
    p.drawRect(rect().adjusted(1, 1, -1, -1));
  } else if (shelved_) {
    QPainter p(this);
    p.setPen(QPen(Qt::darkGray, 2, Qt::DashLine));
    p.drawRect(rect().adjusted(1, 1, -1, -1));
  }
}

// --- TMnemoLabels ------------------------------------------------------------------------------

TMnemoLabels::TMnemoLabels(QTabWidget* pcMnemo, QWidget* lassoRest)
    : QObject(pcMnemo), pcMnemo_(pcMnemo), lasso_(new TLasso(lassoRest)) {
  lasso_->ViewOf = [this](const TLabelDisplay& label) -> QWidget* { return ViewOf(label); };
  for (int i = 0; i < pcMnemo_->count(); ++i) {
    if (auto* page = qobject_cast<TMnemoPage*>(pcMnemo_->widget(i))) {
      page->Picture()->setAcceptDrops(true);
      page->Picture()->installEventFilter(this);
    }
  }
  TLabelDisplay::Host() = this;
  flash_ = new QTimer(this);
  flash_->setInterval(kFlashMs);
  connect(flash_, &QTimer::timeout, this, [this] {
    flashOn_ = !flashOn_;
    for (const QPointer<TLabelView>& view : std::as_const(views_))
      if (view != nullptr) view->SetFlashPhase(flashOn_);
  });
}

void TMnemoLabels::AlarmsChanged() {
  bool flashing = false;
  for (const QPointer<TLabelView>& view : std::as_const(views_)) {
    if (view == nullptr || view->Label() == nullptr || view->Label()->Owner() == nullptr) continue;
    const auto [state, priority] =
        AlarmOf ? AlarmOf(view->Label()->Owner()->Name()) : std::pair{TAlarmState::Normal, 2};
    view->SetAlarm(state, priority);
    view->SetShelved(ShelvedOf && ShelvedOf(view->Label()->Owner()->Name()));
    flashing = flashing || view->Flashing();
  }
  if (flashing && !flash_->isActive()) {
    flash_->start();
  } else if (!flashing && flash_->isActive()) {
    flash_->stop();
    flashOn_ = true;
    for (const QPointer<TLabelView>& view : std::as_const(views_))
      if (view != nullptr) view->SetFlashPhase(true);
  }
}

TMnemoLabels::~TMnemoLabels() {
  if (TLabelDisplay::Host() == this) TLabelDisplay::Host() = nullptr;
  // History windows are nobody's children; without the host nothing would close them before
  // their labels go.
  CloseHistoryForms();
  // The labels outlive their views: they stay in the network tree.
  for (TLabelDisplay* label : std::as_const(live_)) {
    label->OnChange = nullptr;
    label->SetOnPage(false);
  }
}

TLabelView* TMnemoLabels::ViewOf(const TLabelDisplay& label) const {
  return views_.value(const_cast<TLabelDisplay*>(&label)).data();
}

TLabelDisplay* TMnemoLabels::PopupLabel() const {
  return live_.contains(popupLabel_) ? popupLabel_ : nullptr;
}

void TMnemoLabels::Attach(TLabelDisplay& label) {
  live_.insert(&label);
  TMnemoPage* page = FindMnemoPage(pcMnemo_, label.ParentName());
  QPointer<TLabelView> view = views_.value(&label);
  if (view != nullptr && view->parentWidget() != page) {
    view->Forget();
    views_.remove(&label);
    view = nullptr;
  }
  label.SetOnPage(page != nullptr);
  if (page == nullptr) {
    label.OnChange = nullptr;
    return;
  }
  if (view == nullptr) {
    view = new TLabelView(label, page);
    views_.insert(&label, view);
    connect(view, &TLabelView::DoubleClicked, this, [this](TLabelView* v) {
      if (v->Label() == nullptr) return;
      PutLassoOnActivePage();
      if (auto* reg = dynamic_cast<TRegisterNode*>(v->Label()->Owner())) Q_EMIT LabelDoubleClicked(reg);
    });
    connect(view, &TLabelView::PopupRequested, this, [this](TLabelView* v, QPoint at) {
      popupLabel_ = v->Label();
      if (popup_ != nullptr) popup_->popup(at);
    });
  }
  label.OnChange = [this](TLabelDisplay& changed) {
    if (TLabelView* v = ViewOf(changed)) v->Mirror();
    // The frame follows the label's new size.
    if (lasso_->REG() != nullptr && lasso_->REG() == changed.Owner()) lasso_->SetREG(lasso_->REG());
  };
  view->Mirror();
  if (AlarmOf && label.Owner() != nullptr) {
    const auto [state, priority] = AlarmOf(label.Owner()->Name());
    view->SetAlarm(state, priority);
  }
  if (ShelvedOf && label.Owner() != nullptr) view->SetShelved(ShelvedOf(label.Owner()->Name()));
}

void TMnemoLabels::Orphaned(TLabelDisplay& label) {
  // Destroyed once the caller (a register's refresh) is done with it, if nothing else took it.
  QTimer::singleShot(0, this, [this, target = &label] {
    if (live_.contains(target)) delete target;
  });
}

QWidget* TMnemoLabels::HistoryForm(const TLabelDisplay& label) const {
  return histories_.value(&label);
}

void TMnemoLabels::SetHistoryForm(const TLabelDisplay& label, QWidget* form) {
  if (form == nullptr) {
    histories_.remove(&label);
  } else {
    histories_.insert(&label, form);
  }
}

void TMnemoLabels::CloseHistoryForms() {
  const auto histories = std::exchange(histories_, {});
  for (const QPointer<QWidget>& history : histories) delete history.data();
}

void TMnemoLabels::Destroying(TLabelDisplay& label) {
  live_.remove(&label);
  if (const QPointer<QWidget> history = histories_.take(&label)) history->close();
  if (popupLabel_ == &label) popupLabel_ = nullptr;
  label.OnChange = nullptr;
  if (QPointer<TLabelView> view = views_.take(&label)) view->Forget();
  if (lasso_->REG() != nullptr && LabelOf(lasso_->REG()) == &label) lasso_->SetREG(nullptr);
}

void TMnemoLabels::Mark(TRootNode* node) {
  if (pcMnemo_->count() == 0) return;
  const TLabelDisplay* label = LabelOf(node);
  TMnemoPage* page = label != nullptr ? FindMnemoPage(pcMnemo_, label->ParentName()) : nullptr;
  if (page == nullptr) {
    lasso_->SetREG(nullptr);
    return;
  }
  if (pcMnemo_->currentWidget() != page) pcMnemo_->setCurrentWidget(page);
  lasso_->PutOn(page);
  lasso_->SetREG(node);
}

void TMnemoLabels::ClearMark() {
  lasso_->SetREG(nullptr);
}

void TMnemoLabels::PutLassoOnActivePage() {
  lasso_->PutOn(pcMnemo_->currentWidget());
}

bool TMnemoLabels::CanDrop(const QDropEvent& event) const {
  if (!DropsAllowed || !DropsAllowed() || !SelectedTreeNode) return false;
  if (event.mimeData() == nullptr || !event.mimeData()->hasFormat(kNodeFormat)) return false;
  return dynamic_cast<TRegisterNode*>(SelectedTreeNode()) != nullptr;
}

bool TMnemoLabels::eventFilter(QObject* watched, QEvent* event) {
  auto* picture = qobject_cast<TMnemoPicture*>(watched);
  if (picture == nullptr) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* e = static_cast<QDragMoveEvent*>(event);
      if (CanDrop(*e))
        e->acceptProposedAction();
      else
        e->ignore();
      return true;
    }
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      auto* page = qobject_cast<TMnemoPage*>(picture->parentWidget());
      if (!CanDrop(*e) || page == nullptr) {
        e->ignore();
        return true;
      }
      auto* reg = dynamic_cast<TRegisterNode*>(SelectedTreeNode());
      const QPoint at = picture->pos() + e->position().toPoint();
      PlaceLabel(*reg, page->objectName(), at.x(), at.y());
      PutLassoOnActivePage();
      lasso_->SetREG(reg);
      e->acceptProposedAction();
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

}  // namespace vexa
