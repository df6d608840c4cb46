#pragma once
// Replacing a file whole: the new content goes to a temporary file beside the target, is flushed
// to disk and renamed over the target, so a crash or a failed write leaves the old file or the
// new one, never a mixture.

#include <QByteArray>
#include <QString>
#include <functional>

namespace vexa {

// Writes the new content to fd; false (with errno set) when a write failed.
using TFileContent = std::function<bool(int fd)>;

// Replaces path (or the file a link at path points at) with what content writes, keeping the old
// file's permissions; on failure path is left as it was and *why says what went wrong. Before it
// writes, the stale temporaries of its folder are removed (RemoveStaleTemporaries).
bool ReplaceFileAtomically(const QString& path, const TFileContent& content, QString* why);
// The same with bytes at hand.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* why);

// Removes the temporaries of replaces that will never finish from folder: those whose maker (the
// process named in the temporary's name) has ended, or began only after the temporary was last
// written, and those of earlier versions, without a process, unchanged for a minute. The temporary
// of a running process is left alone. Returns how many went.
int RemoveStaleTemporaries(const QString& folder);
// The same for Config/ and Archives/ of a program folder, at start-up.
int RemoveStaleTemporariesOfProgramFolder(const QString& exeDir);

// The system's error code as the operator reads it, in Russian: "на диске нет места".
QString SystemErrorText(int error);

// Renames from to to, never over an existing file; false with *why set otherwise.
bool RenameFile(const QString& from, const QString& to, QString* why);

// Where a replace, a rename or taking a folder's lock can fail.
enum class TFileStep { CreateTemporary, Write, Rename, OpenLock, Lock };
// Failures on demand, for tests (which run as root, so permissions cannot make them): called before
// each step with the file it is about; an errno value fails the step as the system would, 0 lets it
// run. Empty to clear.
using TFileFault = std::function<int(TFileStep step, const QString& path)>;
void SetFileFault(TFileFault fault);
// The failure set for a step, as errno; false when the step may run.
bool FileFaulted(TFileStep step, const QString& path);

// Whether a file name is one of the temporaries a replace makes (".NAME.<pid>-<random>.tmp", or
// ".NAME.<random>.tmp" as earlier versions named them), of the given target's name or, without
// one, of any target: listings leave them out.
bool IsReplaceTemporary(const QString& fileName, const QString& targetName = {});

// Gathers small pieces into few system calls; big pieces go straight through.
class TFdWriter {
 public:
  explicit TFdWriter(int fd);
  ~TFdWriter();
  TFdWriter(const TFdWriter&) = delete;
  TFdWriter& operator=(const TFdWriter&) = delete;
  bool Put(const char* data, qsizetype size);
  // Room for the next `size` bytes in the buffer (what it held written out first when it has too
  // little; the buffer grows for a piece larger than itself), filled by the caller and then taken
  // with Commit. Null when writing out failed.
  char* Room(qsizetype size);
  bool Commit(qsizetype size);
  bool Flush();

 private:
  static constexpr qsizetype kCapacity = 256 * 1024;
  int fd_;
  QByteArray buffer_;
  // The buffer, kept for the thread's next writer: a save then touches no new memory for it.
  static thread_local QByteArray spare_;
  qsizetype lent_ = -1;  // where the room last lent starts, -1 when none is out
};

}  // namespace vexa
