#pragma once
// A tool window counts in the main window's tool-window count while it is shown: restoring the
// network state waits until none is open.

#include <QObject>
#include <QPointer>

class QWidget;

namespace vexa {

class TMainForm;

// Watches a window's show and hide and adjusts the count by +1 and -1, once each way, whether the
// window was closed, hidden, rejected or destroyed. With no main window it does nothing.
class TToolWindowCount : public QObject {
 public:
  TToolWindowCount(QWidget* window, TMainForm* mainForm);
  ~TToolWindowCount() override;

  void SetMainForm(TMainForm* mainForm);
  bool Counted() const { return counted_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Adjust(bool shown);

  QPointer<TMainForm> mainForm_;
  bool counted_ = false;
};

}  // namespace vexa
