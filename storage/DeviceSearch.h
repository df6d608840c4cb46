#pragma once
// Device search: probes the RS-485 line address by address and builds the network tree (NET) from
// the regulators that answer, their channels and registers, using the channel templates (REGISTRY)
// for channels of a known type. No windows here: the settings window drives it through callbacks.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "core/CustomRegister.h"
#include "core/Protocol.h"

namespace vexa {

class TRegisterNode;
class TRootNode;
class TNetwork;

enum TSearchMode {
  smAfresh,  // "Начать заново": a new network tree; processes and reports emptied
  smAdded,  // "Только добавленных": regulators not in the tree yet, appended behind the others
  smRemoved,  // "Только удаленных": regulators of the tree that no longer answer are removed
};

// What one search did and how it ended, for the window's report and vexa-cli's summary.
struct TSearchResult {
  TSearchMode Mode = smAfresh;
  int Regulators = 0;  // found (fresh, added) or removed (removed)
  int Channels = 0;    // of the regulators found
  // Exchanges with a regulator known to be there that stayed unanswered after all their attempts
  // (the silence that ends a list of channels or registers is how absence answers, not a failure).
  int Failed = 0;
  int Retried = 0;  // exchanges answered only after their request was repeated
  // Addresses of the regulators that left some of the requests counted in Failed unanswered and
  // answered others, in address order: empty exactly when Failed is 0.
  std::vector<int> Partial;
  // Removed mode: silent regulators kept because no regulator answered and removing them was not
  // confirmed.
  int Kept = 0;
  bool Stopped = false;  // asked to stop before the last address
  // The port failed (its device went away, or it is not open): the search ended there and every
  // tree is as it was before it.
  bool PortError = false;
  QString PortErrorText;  // what happened to the port, in words
};

// The operator's report of a search, one line each, in Russian.
QStringList SearchReport(const TSearchResult& result);
// The warning about a regulator that answered some requests but not others.
QString PartialAnswerText(int address);

// NET as a search of the simulated network (core/SimulatedNetwork) builds it with the
// demonstration's channel templates, less the channels' hidden identifier registers: every
// register typed as the simulator's table types it.
void BuildSimulatedNet(TRootNode& net);

class TDeviceSearch {
 public:
  static constexpr int kAddressCount = 256;

  // Searches the network's line and builds its trees.
  explicit TDeviceSearch(TNetwork& network) : network_(network) {}

  // The channel type read from register 0 of the channel; -1 when the channel does not answer or
  // its identifier is no integer.
  static int ProbeChannel(const TLineContext& line, int address, int channel);
  // The type a read of the register establishes; rtUnknown when there is no such register.
  static TRegisterType ProbeRegister(const TLineContext& line, int address, int channel, int reg);

  // Runs one search to its end, to a stop request or to a port error, and says what it did.
  // NewConfig of the settings is True afterwards, also after a stop or a failure; a failure (a
  // damaged template file, ...) reaches the caller after the clean-up. A port error (the device
  // behind the port went away, a port that is not open) ends the search and puts every tree back
  // as it was: a dead line never removes or replaces a regulator. Called while a search runs (from
  // OnIdle), it only asks that search to stop and returns an empty result.
  TSearchResult Run(TSearchMode mode);
  // Honoured between addresses: the regulator being built is completed first.
  void Stop() { stopRequested_ = running_; }
  bool Running() const { return running_; }

  int DevicesFound() const { return devicesFound_; }
  int DevicesPassed() const { return devicesPassed_; }

  // Counter of the mode (regulators found, or removed) and the address being probed.
  std::function<void(int)> OnDevicesFound;
  std::function<void(int)> OnDevicesPassed;
  // Before every address: the window lets pending events run here (its stop button, repainting).
  std::function<void()> OnIdle;
  // Before the search touches any tree, and after it has ended however it ended: views showing
  // nodes of NET, TASKS, REPORTS or REGISTRY drop their items first and rebuild them afterwards.
  std::function<void()> OnBeforeChange;
  std::function<void()> OnAfterChange;
  // Every register probed while a channel without a template is explored (long on a busy line).
  std::function<void(int address, int channel, int reg)> OnProbe;
  // Removed mode, when no regulator answered at all, so the line itself may be dead: whether the
  // `count` silent regulators are to be removed all the same. Without it they are kept.
  std::function<bool(int count)> ConfirmRemoval;

 private:
  std::unique_ptr<TRootNode>& Net() const;
  TNetwork& network_;
  void Afresh();
  void Added();
  void Removed();
  // Stops between addresses when asked; counts the addresses passed.
  void ForEachAddress(const std::function<void(int)>& visit);
  void BuildRegulator(TRootNode& net, int address);
  void BuildChannel(TRootNode& regulator, int address, int channel, int type);
  // Reloads the templates from their file: unsaved edits never take part in a search.
  void ReloadTemplates();
  // One read of the search on its line, counted for the regulator at `address` when it is known to
  // be there (`expected`): an answer after a repeated request counts as retried, none at all as
  // failed and marks the regulator partial.
  // A port error ends the search from here.
  bool Exchange(TRegisterNode& reg, int address, bool expected);
  int ProbeChannelOf(int address, int channel, bool expected);
  void CheckPort() const;
  void MarkPartial(int address);
  void SetDevicesFound(int value);
  void SetDevicesPassed(int value);
  // Lets events run; false when the search is to stop before this address.
  bool Continue();

  bool running_ = false;
  bool stopRequested_ = false;
  struct TRun;
  TRun* run_ = nullptr;  // the search under way
  int devicesFound_ = 0;
  int devicesPassed_ = 0;
};

}  // namespace vexa
