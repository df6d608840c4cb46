#include "ui/StatusLine.h"

#include <QLabel>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

namespace vexa {

// A notice as wide as the room left: the text cut short to fit, the whole of it on hover.
class TNoticePanel : public QLabel {
 public:
  explicit TNoticePanel(QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setMinimumWidth(40);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  void SetNotice(const QString& text) {
    notice_ = text;
    setToolTip(text);
    setVisible(!text.isEmpty());
    Fit();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Fit();
  }

 private:
  void Fit() {
    setText(fontMetrics().elidedText(notice_, Qt::ElideRight, std::max(0, contentsRect().width() - 4)));
  }
  QString notice_;
};

namespace {

QLabel* Panel(QStatusBar* bar, const char* name) {
  auto* panel = new QLabel(bar);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return panel;
}

QTimer* NewsTimer(QObject* owner, QString& news, const std::function<void()>& update) {
  auto* timer = new QTimer(owner);
  timer->setSingleShot(true);
  QObject::connect(timer, &QTimer::timeout, owner, [&news, update] {
    news.clear();
    update();
  });
  return timer;
}

}  // namespace

TStatusLine::TStatusLine(QStatusBar* bar, const QString& state) : QObject(bar), programState_(state) {
  stateCaption_ = Panel(bar, "programStateCaption");
  stateCaption_->setText(QStringLiteral("Состояние программы:"));
  // The panel widths are the narrowest; a wider system font still gets its whole caption.
  stateCaption_->setFixedWidth(std::max(130, stateCaption_->sizeHint().width() + 4));
  statePanel_ = Panel(bar, "programStatePanel");
  statePanel_->setText(programState_);
  statePanel_->setFixedWidth(200);
  alarmPanel_ = Panel(bar, "alarmPanel");
  alarmPanel_->setFixedWidth(stateCaption_->width());
  alarmPanel_->hide();
  journalPanel_ = Panel(bar, "journalPanel");
  QPalette journalPalette = journalPanel_->palette();
  journalPalette.setColor(QPalette::WindowText, Qt::red);
  journalPanel_->setPalette(journalPalette);
  journalPanel_->hide();
  linePanel_ = new TNoticePanel(bar);
  linePanel_->setObjectName(QStringLiteral("linePanel"));
  linePanel_->hide();
  brokerPanel_ = new TNoticePanel(bar);
  brokerPanel_->setObjectName(QStringLiteral("brokerPanel"));
  brokerPanel_->hide();
  bar->addWidget(stateCaption_);
  bar->addWidget(statePanel_);
  bar->addWidget(alarmPanel_);
  bar->addWidget(linePanel_, 1);
  bar->addWidget(brokerPanel_, 1);
  bar->addWidget(journalPanel_);
  lineNewsTimer_ = NewsTimer(this, lineNotice_, [this] { Update(); });
  brokerNewsTimer_ = NewsTimer(this, brokerNews_, [this] { Update(); });
}

void TStatusLine::SetProgramState(const QString& text) {
  programState_ = text;
  Update();
  statePanel_->repaint();  // a long operation may hold the event loop right after
}

void TStatusLine::ShowLineNotice(const QString& text, bool lost) {
  lineNotice_ = text;
  if (lost)
    lineNewsTimer_->stop();
  else
    lineNewsTimer_->start(kNewsMs);
  Update();
}

void TStatusLine::ShowBrokerNotice(const QString& text, const QString& outage) {
  brokerOutage_ = outage;
  brokerNews_ = text == outage ? QString() : text;
  if (brokerNews_.isEmpty())
    brokerNewsTimer_->stop();
  else
    brokerNewsTimer_->start(kNewsMs);
  Update();
}

void TStatusLine::SetAlarmCounts(int active, int unacked) {
  active_ = active;
  unacked_ = unacked;
  Update();
}

void TStatusLine::SetJournal(const QString& waiting, const QString& why) {
  journalPanel_->setText(waiting);
  journalPanel_->setToolTip(why);
  journalPanel_->setVisible(!waiting.isEmpty());
  Update();
}

// The caption gives its room to the notices.
void TStatusLine::Update() {
  const bool alarmed = active_ > 0 || unacked_ > 0;
  alarmPanel_->setVisible(alarmed);
  if (alarmed) {
    alarmPanel_->setText(QStringLiteral("Тревоги: %1 / %2").arg(active_).arg(unacked_));
    alarmPanel_->setToolTip(
        QStringLiteral("Активных тревог: %1, не квитировано: %2").arg(active_).arg(unacked_));
    QPalette pal = alarmPanel_->palette();
    pal.setColor(QPalette::WindowText,
                 unacked_ > 0 ? QColor(Qt::red) : statePanel_->palette().color(QPalette::WindowText));
    alarmPanel_->setPalette(pal);
  }
  linePanel_->SetNotice(lineNotice_);
  brokerPanel_->SetNotice(brokerNews_.isEmpty() ? brokerOutage_ : brokerNews_);
  const bool crowded =
      alarmed || !lineNotice_.isEmpty() || !brokerPanel_->isHidden() || !journalPanel_->isHidden();
  stateCaption_->setVisible(!crowded);
  statePanel_->setText(programState_);
  statePanel_->setToolTip(programState_);
  // Alone it has the caption beside it; among notices, only the room its word needs. A fixed width
  // is its own size hint: the text's own width, measured.
  const auto textWidth = [](const QLabel* label) {
    return label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->frameWidth() + 8;
  };
  statePanel_->setFixedWidth(crowded ? std::min(200, textWidth(statePanel_)) : 200);
  alarmPanel_->setFixedWidth(textWidth(alarmPanel_));
}

}  // namespace vexa
