#pragma once
// The wait window: covers the start of the program while the settings and the network state are
// read, and tells what is being read.

#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;

namespace vexa {

class TRdWarnForm : public QWidget {
  Q_OBJECT
 public:
  // Shows itself at once, painted, with "Инициализация...".
  explicit TRdWarnForm(QWidget* parent = nullptr);
  ~TRdWarnForm() override;

  // Puts text into the status line and paints it at once: the main thread is busy and will not
  // come back to the event loop before the next caption.
  void SetStatus(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CentreOnScreen();
  void WaitUntilExposed();
  void ComeBack();
  void PaintNow();

  QLabel* statusLabel_ = nullptr;  // owned by the window
  QPixmap splash_;
  // Modal windows (messages shown during start-up) that the wait window steps aside for: a window
  // that stays on top in the middle of the screen would otherwise hide them.
  QList<QPointer<QWidget>> modals_;
  bool steppedAside_ = false;
  bool closed_ = false;
};

}  // namespace vexa
