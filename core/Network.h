#pragma once
// One regulator network: its trees (six and the alarm settings), its settings, its program folder,
// the line it runs on and its poller. The program makes one; vexa-cli one per command; tests their
// own, so that two networks on two lines can live in one process without anything crossing.

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/CustomComm.h"
#include "core/Faults.h"
#include "core/ImageIndex.h"
#include "core/Line.h"
#include "core/Observers.h"
#include "core/Protocol.h"
#include "core/RootNode.h"
#include "core/SetupNode.h"

namespace vexa {

class TCustomRegister;
class TExecuter;
class TLineWriter;

enum class TRootId { Net, TTemplates, Tasks, RTemplates, Reports, Registry, Alarms };
inline constexpr int kRootCount = 7;

// One of the roots: how a network makes it and how the network state stores it.
struct TRootInfo {
  const char* Name;     // component name; its file is Config/<Name>.cfg
  const char* Caption;  // caption of a fresh root
  int ImageIndex;
  const char* LoadingText;  // told while its file loads with the network state (null: nothing)
  bool InNetworkState;      // saved and restored with the network state
  TRootId Id;
};
// The roots in start-up order: NET, TTEMPLATES, TASKS, RTEMPLATES, REPORTS, REGISTRY, then ALARMS
// (the alarm settings, in a file of their own so that the others stay as they were; no window's tree
// shows it).
const std::vector<TRootInfo>& Roots();
// The settings object follows the roots in the network state.
inline constexpr const char* kSetupLoadingText = "Загрузка параметров сети...";

// Frees the root in `slot` and puts a fresh, empty one there (Caption, Name, ImageIndex in order).
void CreateTreeRoot(std::unique_ptr<TRootNode>& slot, const QString& name, const QString& caption,
                    int imageIndex);

class TNetwork {
 public:
  // `dir` is the program folder (Config/, Archives/, Ports/); the port is the line's (null: none).
  // Makes the roots, the settings object, then the line, in start-up order.
  TNetwork(QString dir, std::unique_ptr<TCustomComm> port);
  // Stops the poller, then frees the line, the settings and the roots from REGISTRY back to NET.
  ~TNetwork();
  TNetwork(const TNetwork&) = delete;
  TNetwork& operator=(const TNetwork&) = delete;

  const QString& Dir() const { return dir_; }

  // The roots' slots: a load replaces the tree in its slot.
  std::unique_ptr<TRootNode>& Root(TRootId id) { return roots_[static_cast<size_t>(id)]; }
  const std::unique_ptr<TRootNode>& Root(TRootId id) const { return roots_[static_cast<size_t>(id)]; }
  std::unique_ptr<TRootNode>& Net() { return Root(TRootId::Net); }
  std::unique_ptr<TRootNode>& TTemplates() { return Root(TRootId::TTemplates); }
  std::unique_ptr<TRootNode>& Tasks() { return Root(TRootId::Tasks); }
  std::unique_ptr<TRootNode>& RTemplates() { return Root(TRootId::RTemplates); }
  std::unique_ptr<TRootNode>& Reports() { return Root(TRootId::Reports); }
  std::unique_ptr<TRootNode>& Registry() { return Root(TRootId::Registry); }
  std::unique_ptr<TRootNode>& Alarms() { return Root(TRootId::Alarms); }
  std::unique_ptr<TSetupNode>& Setup() { return setup_; }
  const TSetupNode& Setup() const { return *setup_; }
  // The slot of the root of that name (NET, TASKS, ...); null for any other name.
  std::unique_ptr<TRootNode>* RootSlot(const QString& name);
  // Replaces the root of that name by an empty one.
  void RecreateRoot(const QString& name);

  TLine& Line() { return line_; }
  // The line's writer: writes asked without waiting, in order (core/LineWriter.h). Stop it at
  // shutdown to drop what is queued and finish the write in flight.
  TLineWriter& Writer() { return line_.Writer(); }
  // The line as an exchange runs on it now: the port, and the settings' simulation mode and speed.
  TLineContext LineContext();

  // Opens COM(index+1) on the line's port and keeps the index in the settings, also when the port
  // cannot be opened (the faults say why).
  TFaults SetPortIndex(int index);
  // Sets the speed on the port and keeps the index in the settings.
  TFaults SetBaudRateIndex(int index);

  // The poller over NET. Start replaces a stopped one and resets its walk; Stop waits for it (a
  // main-thread call it was waiting for is dropped, so the two threads never wait for each other);
  // Terminate asks it to end without waiting (the main window's close; Stop finishes it). Suspend
  // and Resume nest, around a save (safe without a poller and from inside its own automatic save).
  void StartPoller();
  void StopPoller();
  void TerminatePoller();
  void SuspendPoller();
  void ResumePoller();
  bool PollerRunning() const;
  // The status line's word for the poller's state: "Работа" while it runs, else "Останов".
  const QString& PollerStateText() const;
  TExecuter* Executer() { return executer_.get(); }

  // The windows' side: told by the poller's own start and stop, and the automatic save the poller
  // runs on the main thread (the network state save).
  std::function<void(bool running)> PollerState;
  std::function<void()> AutoSave;
  // Followers of the network's news, on the main thread (the alarms, the broker's publisher): every
  // refresh of a register the poller ran, stored; a report's window archived under the name given.
  TObservers<const TCustomRegister&> RegisterRead;
  TObservers<const TRootNode&, const QString&> ReportArchived;

 private:
  void ReapRetired();

  QString dir_;
  std::unique_ptr<TRootNode> roots_[kRootCount];
  std::unique_ptr<TSetupNode> setup_;
  TLine line_;
  std::unique_ptr<TExecuter> executer_;
  // Pollers stopped from inside their own call, joined once that call has returned.
  std::vector<std::unique_ptr<TExecuter>> retired_;
};

}  // namespace vexa
