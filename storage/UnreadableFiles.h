#pragma once
// Files that exist but cannot be read: the error that names them, and keeping such a file aside
// before a save replaces it, so that what it holds can still be sent for recovery.

#include <QString>
#include <vector>

#include "storage/StreamFormat.h"

namespace vexa {

struct TUnreadableFile {
  QString Path;
  QString Reason;  // in the operator's language
};

// One or more files that exist but cannot be read; the message has a line "path: reason" for each.
class EUnreadableFiles : public EStreamError {
 public:
  explicit EUnreadableFiles(std::vector<TUnreadableFile> files);
  const std::vector<TUnreadableFile>& Files() const { return files_; }

 private:
  std::vector<TUnreadableFile> files_;
};

// Notes path as unreadable (a later save keeps it aside first) and raises EUnreadableFiles for it.
[[noreturn]] void RaiseUnreadable(const QString& path, const QString& reason);
// Whether a load found path unreadable since it was last read, kept aside or replaced.
bool NotedUnreadable(const QString& path);
void ForgetUnreadable(const QString& path);

// Where path goes aside at local time `when`: "<path>.unreadable-yyyyMMdd-HHmm", with "-2", "-3"
// ... added when that name is taken.
QString UnreadableAsidePath(const QString& path, double when);
// Renames path aside at the program clock's time; *aside gets the new name. False with *why set
// when the rename failed.
bool KeepUnreadableAside(const QString& path, QString* aside, QString* why);

// The lines "path: reason" of the files, for a message or standard error.
QString UnreadableFilesText(const std::vector<TUnreadableFile>& files);
// Adds the files of more that files does not name yet.
void MergeUnreadable(std::vector<TUnreadableFile>& files, const std::vector<TUnreadableFile>& more);

}  // namespace vexa
