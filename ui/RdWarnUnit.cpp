#include "ui/RdWarnUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"

namespace vexa {

TRdWarnForm::TRdWarnForm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  InitResources();
  setWindowTitle(QStringLiteral("Ждите ..."));
  setWindowIcon(ProgramIcon());
  // Closing the wait window must never end the program, whatever else is open at that moment.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(300, 225);
  splash_.load(QString::fromLatin1(kSplashPicture));

  statusLabel_ = new QLabel(QStringLiteral("Инициализация..."), this);
  statusLabel_->setObjectName(QStringLiteral("statusLabel"));
  QFont font;
  font.setFamilies(
      {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setPointSize(8);
  statusLabel_->setFont(font);
  QPalette palette = statusLabel_->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  statusLabel_->setPalette(palette);
  statusLabel_->setAutoFillBackground(false);
  statusLabel_->setGeometry(12, 170, width() - 24, statusLabel_->sizeHint().height());

  InstallHelpShortcut(this, hcWaitWindow);
  qApp->installEventFilter(this);

  CentreOnScreen();
  show();
  WaitUntilExposed();
  PaintNow();
}

TRdWarnForm::~TRdWarnForm() {
  qApp->removeEventFilter(this);
}

void TRdWarnForm::CentreOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->geometry();
  move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

// A new window gets its first expose from the window system through the event queue; until then
// painting has nowhere to go.
void TRdWarnForm::WaitUntilExposed() {
  QElapsedTimer timer;
  timer.start();
  while (isVisible() && windowHandle() && !windowHandle()->isExposed() && timer.elapsed() < 500)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

void TRdWarnForm::SetStatus(const QString& text) {
  statusLabel_->setText(text);
  statusLabel_->resize(width() - 24, statusLabel_->sizeHint().height());
  if (isVisible()) PaintNow();
}

void TRdWarnForm::PaintNow() {
  repaint();
  // Painting reaches the window system only when the event loop flushes the connection; user input
  // stays queued so that nothing starts while the program is still being set up.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TRdWarnForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (splash_.isNull())
    painter.fillRect(rect(), palette().window());
  else
    painter.drawPixmap(rect(), splash_);
}

void TRdWarnForm::closeEvent(QCloseEvent* event) {
  closed_ = true;
  QWidget::closeEvent(event);
}

bool TRdWarnForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::Show && type != QEvent::Hide) return false;
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w || w == this || !w->isWindow()) return false;
  if (type == QEvent::Show) {
    if (w->windowModality() == Qt::NonModal || modals_.contains(w)) return false;
    modals_.append(w);
    // A message box deleted while shown sends no Hide.
    connect(w, &QObject::destroyed, this, &TRdWarnForm::ComeBack, Qt::UniqueConnection);
    if (isVisible()) {
      steppedAside_ = true;
      hide();
    }
  } else if (modals_.removeAll(w) > 0) {
    ComeBack();
  }
  return false;
}

void TRdWarnForm::ComeBack() {
  modals_.removeAll(nullptr);
  if (!modals_.isEmpty() || !steppedAside_) return;
  steppedAside_ = false;
  if (closed_) return;
  show();
  WaitUntilExposed();
  PaintNow();
}

}  // namespace vexa
