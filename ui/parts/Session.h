#pragma once
// What the program's windows share, apart from the main window that holds it: whether the network
// is open for configuration, how many tool windows are open, the secondary windows by role, and
// where a window is placed near a diagram page. A window below the main window in the layers (the
// processes', reports' and alarms' windows, the shared parts) sees the main window only as this.

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>

class QWidget;

namespace vexa {

// The secondary windows the main window opens; each is registered when it has been created.
enum class TWindowRole {
  NetTree,
  NodeProperties,
  RegisterProperties,
  LabelProperties,
  XY,
  Archives,
  Reports,
  ReportProperties,
  Processes,
  CycloEdit,
  PrintPreview,
  Password,
  Channel,
  Setup,
  Registry,
  Alarms,
  Count
};

class TSession : public QObject {
  Q_OBJECT
 public:
  explicit TSession(QObject* parent = nullptr) : QObject(parent) {}

  bool NetworkOpen() const { return networkOpen_; }
  void SetNetworkOpen(bool open);
  int ToolWindowCount() const { return toolWindowCount_; }
  void AdjustToolWindowCount(int delta);

  void SetWindow(TWindowRole role, QWidget* window);
  QWidget* Window(TWindowRole role) const;

  // Placed near a point of the active diagram page, then shown; modally, with a dialog's result.
  // Given by the main window; without it a window is shown where it is.
  std::function<void(QWidget* window, int x, int y)> PlaceNearPage;
  std::function<int(QWidget* window, int x, int y)> PlaceModalNearPage;
  void ShowNearPage(QWidget* window, int x, int y);
  int ShowModalNearPage(QWidget* window, int x, int y);

 Q_SIGNALS:
  void NetworkOpenChanged(bool open);
  void ToolWindowCountChanged(int count);
  void WindowSet(TWindowRole role, QWidget* window);

 private:
  bool networkOpen_ = false;
  int toolWindowCount_ = 0;
  std::array<QPointer<QWidget>, static_cast<size_t>(TWindowRole::Count)> windows_;
};

}  // namespace vexa
