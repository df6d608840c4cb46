#pragma once
// A tool window counts in the session's tool-window count while it is shown: restoring the
// network state waits until none is open.

#include <QObject>
#include <QPointer>

class QWidget;

namespace vexa {

class TSession;

// Watches a window's show and hide and adjusts the count by +1 and -1, once each way, whether the
// window was closed, hidden, rejected or destroyed. With no session it does nothing.
class TToolWindowCount : public QObject {
 public:
  TToolWindowCount(QWidget* window, TSession* session);
  ~TToolWindowCount() override;

  void SetSession(TSession* session);
  bool Counted() const { return counted_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Adjust(bool shown);

  QPointer<TSession> session_;
  bool counted_ = false;
};

}  // namespace vexa
