#pragma once
// The working state in files: one configuration file per tree in <ExeDir>/Config, saved and
// restored together as the network state, and the report archives in <ExeDir>/Archives.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

#include "core/RootNode.h"
#include "core/SetupNode.h"

namespace vexa {

class TReportNode;

// <ExeDir>/Config/<name>.cfg and <ExeDir>/Archives/<caption>.
QString ConfigFilePath(const QString& rootName);
QString ArchivePath(const QString& caption);

// Writes the root's file; with the settings' NewConfig set, a fresh file replaces the old one
// instead of updating it. False when nothing could be written (the reason is dropped).
bool SaveTreeFile(TComponent& root);
// Replaces the root by the tree read from its file. A missing or unreadable file leaves it as it
// was; a malformed stream, or a file holding another kind of object, raises EStreamError and
// leaves it as it was too.
void LoadTreeFile(std::unique_ptr<TRootNode>& root);
void LoadTreeFile(std::unique_ptr<TSetupNode>& setup);

// The six files of the state, poller suspended; NewConfig is cleared afterwards, also when a save
// failed, and an error reaches the caller after the clean-up.
void SaveNetworkState();
// The six files of the state, poller stopped and started again afterwards (also after an error,
// which then reaches the caller).
void LoadNetworkState();
// As LoadNetworkState, telling progress the caption of each tree before it is read.
void LoadNetworkStateWithProgress(const std::function<void(const QString& caption)>& progress);

// Writes the archive named by the report's caption (updated in place when it exists). False when
// nothing could be written, or when the caption is no plain file name.
bool SaveArchive(TReportNode& report);
// Replaces the report by the one stored in the archive its caption names.
void LoadArchive(std::unique_ptr<TReportNode>& report);
// Caption, day, month, year and hour+minute, spaces and full stops (and path separators) made
// underscores: Oven.2 started 07.12.2026 09:05 gives Oven_2_07_12_2026_0905.
QString ArchiveName(const QString& caption, double startPoint);

// The report archive as tab-separated text in code page 1251, lines ended by CR LF: a header line
// "Дата и время" and the register captions, then one line per time stamp of the first register
// with every register's value (an empty field where a register has fewer values).
QByteArray ArchiveText(const TComponent& report);

}  // namespace vexa
