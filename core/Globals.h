#pragma once
// The program's global objects: the six tree roots, the settings object and the serial port. They
// live from start-up to shutdown and are never null in between.

#include <memory>
#include <vector>

#include "core/CommInt.h"
#include "core/ImageIndex.h"
#include "core/Protocol.h"
#include "core/RootNode.h"
#include "core/SetupNode.h"

namespace vexa {

extern std::unique_ptr<TRootNode> NET;
extern std::unique_ptr<TRootNode> TTEMPLATES;
extern std::unique_ptr<TRootNode> TASKS;
extern std::unique_ptr<TRootNode> RTEMPLATES;
extern std::unique_ptr<TRootNode> REPORTS;
extern std::unique_ptr<TRootNode> REGISTRY;
extern std::unique_ptr<TSetupNode> SETUP;
extern std::unique_ptr<TCustomComm> Comm;

// One of the six roots: how start-up makes it and how the network state stores it.
struct TRootInfo {
  const char* Name;     // component name; its file is Config/<Name>.cfg
  const char* Caption;  // caption of a fresh root
  int ImageIndex;
  const char* LoadingText;  // told while its file loads with the network state
  bool InNetworkState;      // saved and restored with the network state
  std::unique_ptr<TRootNode>* Slot;
};
// The six roots in start-up order: NET, TTEMPLATES, TASKS, RTEMPLATES, REPORTS, REGISTRY.
const std::vector<TRootInfo>& Roots();
// The settings object follows the roots in the network state.
inline constexpr const char* kSetupLoadingText = "Загрузка параметров сети...";

// Frees the root in `slot` and puts a fresh, empty one there (Caption, Name, ImageIndex in order).
void CreateTreeRoot(std::unique_ptr<TRootNode>& slot, const QString& name, const QString& caption,
                    int imageIndex);
// Replaces the root of that name (NET, TASKS, ...) by an empty one.
void RecreateRoot(const QString& name);
// The slot of the root of that name; null for any other name.
std::unique_ptr<TRootNode>* RootSlot(const QString& name);

// The program's line, as every exchange of the program runs on it: the port, and the settings'
// simulation mode and speed, read at each exchange.
TLineContext ProgramLine();

// Start-up of the core: the roots, the settings object, then the port given (the program's TComm,
// or a test port).
void CreateGlobals(std::unique_ptr<TCustomComm> comm);
// Shutdown: the port, the settings object, then the roots from REGISTRY back to NET.
void DestroyGlobals();

}  // namespace vexa
