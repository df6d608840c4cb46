#pragma once
// One writer per program folder: the program and every vexa-cli command that writes the folder hold
// an exclusive lock on its lock file while they run, so two of them never overwrite each other's
// saves. The lock is the system's (flock), so it goes with its process however that ends; the file
// names the holder for the message of a writer that is refused.

#include <QString>
#include <optional>

#include "core/FileDescriptor.h"

namespace vexa {

// Who holds a folder, as its lock file says.
struct TFolderHolder {
  QString Program;  // "vexa", "vexa-cli run"; empty when the file does not say
  qint64 Pid = 0;
  QString Host;  // the computer it runs on
};

class TFolderLock {
 public:
  enum class TOutcome {
    Taken,  // this process holds the folder
    Busy,   // another process holds it: Holder() says which
    // No lock can be made there (no such folder, no rights, a read-only disk, something other
    // than a file in the lock file's place, a system without locks): Why() says which. A writer
    // is refused then as when the folder is busy, since nothing would keep a second one out.
    Unavailable,
  };

  TFolderLock() = default;
  ~TFolderLock() { Release(); }
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

  // Takes the lock of folder for `program` (the name the refused writers read) without waiting.
  TOutcome Take(const QString& folder, const QString& program);
  bool Held() const { return fd_.Valid(); }
  // Gives the lock up; the system also does when the process ends.
  void Release();

  // After Busy: the holder. After Unavailable: why, in Russian.
  const TFolderHolder& Holder() const { return holder_; }
  const QString& Why() const { return why_; }

  // The lock file of a program folder.
  static QString LockFilePath(const QString& folder);

 private:
  TFileDescriptor fd_;
  bool written_ = false;  // the holder's description is ours to clear
  TFolderHolder holder_;
  QString why_;
};

// The program folder that a configuration or archive file lies in (the folder above its Config/ or
// Archives/); nothing for a file elsewhere.
std::optional<QString> ProgramFolderOf(const QString& file);

// "Папку программы DIR не удалось запереть от других программ: не могу открыть '…': на месте
// файла папка." after Unavailable.
QString FolderLockFailedText(const QString& folder, const QString& why);
// "Папка программы DIR занята: её использует vexa-cli run (процесс 1234)."
QString FolderBusyText(const QString& folder, const TFolderHolder& holder);

}  // namespace vexa
