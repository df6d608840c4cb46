#include "ui/parts/ToolWindowCount.h"

#include <QEvent>
#include <QWidget>

#include "ui/parts/Session.h"

namespace vexa {

TToolWindowCount::TToolWindowCount(QWidget* window, TSession* session) : QObject(window), session_(session) {
  window->installEventFilter(this);
}

TToolWindowCount::~TToolWindowCount() {
  Adjust(false);
}

void TToolWindowCount::SetSession(TSession* session) {
  if (session == session_) return;
  // A window that is open moves its count along with it.
  const bool counted = counted_;
  Adjust(false);
  session_ = session;
  if (counted) Adjust(true);
}

bool TToolWindowCount::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    Adjust(true);
  } else if (event->type() == QEvent::Hide && !event->spontaneous()) {
    // A spontaneous hide is the window system minimising the window: it is still open.
    Adjust(false);
  }
  return QObject::eventFilter(watched, event);
}

void TToolWindowCount::Adjust(bool shown) {
  if (shown == counted_) return;
  counted_ = shown;
  if (session_) session_->AdjustToolWindowCount(shown ? +1 : -1);
}

}  // namespace vexa
