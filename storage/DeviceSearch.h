#pragma once
// Device search: probes the RS-485 line address by address and builds the network tree (NET) from
// the regulators that answer, their channels and registers, using the channel templates (REGISTRY)
// for channels of a known type. No windows here: the settings window drives it through callbacks.

#include <QString>
#include <functional>

#include "core/CustomRegister.h"

namespace vexa {

class TRootNode;

enum TSearchMode {
  smAfresh,  // "Начать заново": a new network tree; processes and reports emptied
  smAdded,  // "Только добавленных": regulators not in the tree yet, appended behind the others
  smRemoved,  // "Только удаленных": regulators of the tree that no longer answer are removed
};

class TDeviceSearch {
 public:
  static constexpr int kAddressCount = 256;

  // The channel type read from register 0 of the channel; -1 when the channel does not answer or
  // its identifier is no integer.
  static int ProbeChannel(int address, int channel);
  // The type a read of the register establishes; rtUnknown when there is no such register.
  static TRegisterType ProbeRegister(int address, int channel, int reg);

  // Runs one search to its end or to a stop request. NewConfig of the settings is True afterwards,
  // also after a stop or a failure; a failure (a damaged template file, ...) reaches the caller
  // after the clean-up. Called while a search runs (from OnIdle), it only asks that search to stop.
  void Run(TSearchMode mode);
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

 private:
  void Afresh();
  void Added();
  void Removed();
  // Stops between addresses when asked; counts the addresses passed.
  void ForEachAddress(const std::function<void(int)>& visit);
  void BuildRegulator(int address);
  void BuildChannel(TRootNode& regulator, int address, int channel, int type);
  // Reloads the templates from their file: unsaved edits never take part in a search.
  void ReloadTemplates();
  void SetDevicesFound(int value);
  void SetDevicesPassed(int value);
  // Lets events run; false when the search is to stop before this address.
  bool Continue();

  bool running_ = false;
  bool stopRequested_ = false;
  int devicesFound_ = 0;
  int devicesPassed_ = 0;
};

}  // namespace vexa
