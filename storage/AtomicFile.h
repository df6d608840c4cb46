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
// file's permissions; on failure path is left as it was and *why says what went wrong. After a
// replace, temporaries that killed saves of the same target left behind are removed.
bool ReplaceFileAtomically(const QString& path, const TFileContent& content, QString* why);

// Whether a file name is one of the temporaries a replace makes (".NAME.<random>.tmp"), of the
// given target's name or, without one, of any target: listings leave them out.
bool IsReplaceTemporary(const QString& fileName, const QString& targetName = {});

// Gathers small pieces into few system calls; big pieces go straight through.
class TFdWriter {
 public:
  explicit TFdWriter(int fd);
  bool Put(const char* data, qsizetype size);
  bool Flush();

 private:
  static constexpr qsizetype kCapacity = 256 * 1024;
  int fd_;
  QByteArray buffer_;
};

}  // namespace vexa
