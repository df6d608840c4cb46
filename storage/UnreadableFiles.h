#pragma once
// Files that exist but cannot be read, or only in part: the error that names them, what this run
// knows of each file it reads and writes, and keeping a file aside before a save replaces it, so that
// what it holds can still be sent for recovery.

#include <QString>
#include <vector>

#include "storage/StreamFormat.h"

namespace vexa {

struct TUnreadableFile {
  QString Path;
  QString Reason;       // in the operator's language
  bool Loaded = false;  // damaged in part: what could be read was loaded
};

// One or more files that exist but cannot be read; the message has a line "path: reason" for each.
class EUnreadableFiles : public EStreamError {
 public:
  explicit EUnreadableFiles(std::vector<TUnreadableFile> files);
  const std::vector<TUnreadableFile>& Files() const { return files_; }

 private:
  std::vector<TUnreadableFile> files_;
};

// What this run knows of each file it read or wrote, held per absolute path: unreadable (a load
// refused it or found it damaged), or ours (read whole or written by this run).
// Notes path as unreadable (a later save keeps it aside first) and raises EUnreadableFiles for it.
[[noreturn]] void RaiseUnreadable(const QString& path, const QString& reason);
// Notes path as unreadable without raising: a load that kept what it could read.
void NoteUnreadable(const QString& path);
// Whether a load found path unreadable since it was last read, kept aside or replaced.
bool NotedUnreadable(const QString& path);
void ForgetUnreadable(const QString& path);
// Notes that the file at path holds what this run read or wrote, so a save may replace it.
void NoteOurs(const QString& path);
bool NotedOurs(const QString& path);
// A new run of the program on the folder has read nothing yet.
void ForgetOurs(const QString& path);

// Why a file goes aside: a load found it unreadable, or a save replaces a file this run never read.
enum class TAside { Unreadable, Replaced };

// Where path goes aside at local time `when`: "<path>.unreadable-yyyyMMdd-HHmm" (or
// ".replaced-…"), with "-2", "-3" ... added when that name is taken.
QString AsidePath(const QString& path, TAside why, double when);
QString UnreadableAsidePath(const QString& path, double when);
// Renames path aside at the program clock's time; *aside gets the new name. False with *why set
// when the rename failed.
bool KeepAside(const QString& path, TAside reason, QString* aside, QString* why);
bool KeepUnreadableAside(const QString& path, QString* aside, QString* why);

// The lines "path: reason" of the files, for a message or standard error.
QString UnreadableFilesText(const std::vector<TUnreadableFile>& files);
// Adds the files of more that files does not name yet.
void MergeUnreadable(std::vector<TUnreadableFile>& files, const std::vector<TUnreadableFile>& more);

}  // namespace vexa
