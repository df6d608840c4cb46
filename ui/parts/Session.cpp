#include "ui/parts/Session.h"

#include <QDialog>
#include <QWidget>

namespace vexa {

void TSession::SetNetworkOpen(bool open) {
  networkOpen_ = open;
  Q_EMIT NetworkOpenChanged(open);
}

void TSession::AdjustToolWindowCount(int delta) {
  toolWindowCount_ += delta;
  Q_EMIT ToolWindowCountChanged(toolWindowCount_);
}

void TSession::SetWindow(TWindowRole role, QWidget* window) {
  windows_.at(static_cast<size_t>(role)) = window;
  Q_EMIT WindowSet(role, window);
}

QWidget* TSession::Window(TWindowRole role) const {
  return windows_.at(static_cast<size_t>(role)).data();
}

void TSession::ShowNearPage(QWidget* window, int x, int y) {
  if (window == nullptr) return;
  if (PlaceNearPage) return PlaceNearPage(window, x, y);
  window->show();
  window->raise();
}

int TSession::ShowModalNearPage(QWidget* window, int x, int y) {
  if (window == nullptr) return QDialog::Rejected;
  if (PlaceModalNearPage) return PlaceModalNearPage(window, x, y);
  auto* dialog = qobject_cast<QDialog*>(window);
  return dialog != nullptr ? dialog->exec() : QDialog::Rejected;
}

}  // namespace vexa
