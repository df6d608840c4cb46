#pragma once
// The program's global objects: the six tree roots, the settings object and the serial port. They
// live from start-up to shutdown and are never null in between.

#include <memory>

#include "core/CommInt.h"
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

// Frees the root in `slot` and puts a fresh, empty one there (Caption, Name, ImageIndex in order).
void CreateTreeRoot(std::unique_ptr<TRootNode>& slot, const QString& name, const QString& caption,
                    int imageIndex);
// Replaces the root of that name (NET, TASKS, ...) by an empty one.
void RecreateRoot(const QString& name);
// The six roots in start-up order: NET, TTEMPLATES, TASKS, RTEMPLATES, REPORTS, REGISTRY.
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
