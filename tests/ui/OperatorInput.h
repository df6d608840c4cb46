#pragma once
// The operator's mouse and keys as the window system delivers them, and modal windows answered
// from a timer while their own event loop runs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// QtGui's own entry for simulated keys (what QTest uses): tries the shortcut map first.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text, bool autorep, ushort count);

namespace vexa::test {

inline void ProcessEventsFor(int ms) {
  QElapsedTimer t;
  t.start();
  do QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  while (t.elapsed() < ms);
}

// Shows w and waits until it is the active window.
inline bool Activate(QWidget* w) {
  w->show();
  w->activateWindow();
  QElapsedTimer t;
  t.start();
  while (QApplication::activeWindow() != w && t.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return QApplication::activeWindow() == w;
}

inline void MouseEvent(QWidget* w, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers mods = {},
                       QPoint pos = QPoint(-1, -1)) {
  if (pos == QPoint(-1, -1)) pos = w->rect().center();
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, mods);
  QApplication::sendEvent(w, &e);
}
inline void MousePress(QWidget* w, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers mods = {}) {
  MouseEvent(w, QEvent::MouseButtonPress, b, mods);
}
inline void MouseRelease(QWidget* w, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers mods = {}) {
  MouseEvent(w, QEvent::MouseButtonRelease, b, mods);
}
inline void MouseClick(QWidget* w, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers mods = {},
                       QPoint pos = QPoint(-1, -1)) {
  MouseEvent(w, QEvent::MouseButtonPress, b, mods, pos);
  MouseEvent(w, QEvent::MouseButtonRelease, b, mods, pos);
}

// A key pressed and released over target (the focused widget of the active window when null):
// shortcuts first, as the window system's keys go.
inline void KeyClick(QWidget* target, int key, Qt::KeyboardModifiers mods = {}, const QString& text = {}) {
  if (!target) target = QApplication::focusWidget();
  if (!target) {
    ADD_FAILURE() << "no widget to take the key";
    return;
  }
  if (qt_sendShortcutOverrideEvent(target, 0, key, mods, text, false, 1)) return;
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(target, &release);
}

// Types text into target character by character.
inline void TypeText(QWidget* target, const QString& text) {
  for (const QChar c : text) {
    const int key = c.unicode() < 0x80 ? int(c.toUpper().unicode()) : int(Qt::Key_unknown);
    KeyClick(target, key, {}, QString(c));
  }
}

// Runs `inside` on the first modal window of class W that comes up; polls every 10 ms for up to
// ten seconds. `inside` closes the window (or leaves it for the code under test to close).
template <class W>
void WhenModal(std::function<void(W*)> inside) {
  auto poll = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> weak = poll;
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  *poll = [inside, weak, started] {
    const auto self = weak.lock();
    if (!self) return;
    auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
    if (modal == nullptr || !modal->isVisible()) {
      if (started->elapsed() > 10000) {
        ADD_FAILURE() << "no modal " << W::staticMetaObject.className() << " came up";
        return;
      }
      QTimer::singleShot(10, [self] { (*self)(); });
      return;
    }
    inside(modal);
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

// While it lives, a modal window that comes up fails the test and is closed: for commands that
// must not ask anything.
class TNoModalWindow {
 public:
  TNoModalWindow() {
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak = poll;
    *poll = [weak, stopped = stopped_] {
      const auto self = weak.lock();
      if (!self || *stopped) return;
      if (QWidget* modal = QApplication::activeModalWidget()) {
        ADD_FAILURE() << "unexpected modal window " << modal->windowTitle().toStdString();
        modal->close();
        return;
      }
      QTimer::singleShot(10, [self] { (*self)(); });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
  }
  ~TNoModalWindow() { *stopped_ = true; }
  TNoModalWindow(const TNoModalWindow&) = delete;
  TNoModalWindow& operator=(const TNoModalWindow&) = delete;

 private:
  std::shared_ptr<bool> stopped_ = std::make_shared<bool>(false);
};

}  // namespace vexa::test
