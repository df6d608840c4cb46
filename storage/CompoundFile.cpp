#include "storage/CompoundFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>

#include "core/FileDescriptor.h"
#include "core/Services.h"
#include "storage/AtomicFile.h"
#include "storage/CompoundFormat.h"
#include "storage/CompoundReader.h"
#include "storage/CompoundWriter.h"

namespace vexa {

using compound::SetError;

ECompoundFileError::ECompoundFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

// ---------------------------------------------------------------------------------------------
// CompoundFile

namespace {

std::unique_ptr<CompoundFile> ReadFrom(compound::TSource& source, QString* why) {
  auto file = CompoundFile::Create();
  if (!compound::ReadCompound(source, file->Root(), why)) return nullptr;
  return file;
}

// The writer of a tree Open would read back, or nullopt with the reason.
std::optional<compound::TCompoundWriter> WriterFor(const CompoundStorage& root, QString* why) {
  if (!compound::CheckWritable(root, why)) return std::nullopt;
  std::optional<compound::TCompoundWriter> writer(std::in_place, root);
  if (writer->Size() > CompoundFile::MaxFileSize()) {
    SetError(why, QStringLiteral("файл вышел бы размером %1, больше допустимых %2")
                      .arg(FileSizeText(writer->Size()), FileSizeText(CompoundFile::MaxFileSize())));
    return std::nullopt;
  }
  return writer;
}

}  // namespace

namespace {
std::atomic<qint64> gMaxFileSize{CompoundFile::kMaxFileSize};
}  // namespace

qint64 CompoundFile::MaxFileSize() {
  return gMaxFileSize.load(std::memory_order_relaxed);
}

CompoundFile::TLowerSizeBound::TLowerSizeBound(qint64 bound) : previous_(gMaxFileSize.exchange(bound)) {}

CompoundFile::TLowerSizeBound::~TLowerSizeBound() {
  gMaxFileSize.store(previous_);
}

CompoundFile::CompoundFile() : root_(std::make_unique<CompoundStorage>(QStringLiteral("Root Entry"))) {}

std::unique_ptr<CompoundFile> CompoundFile::Create() {
  return std::unique_ptr<CompoundFile>(new CompoundFile);
}

bool CompoundFile::IsStorageFile(const QString& path) {
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return false;
  const QByteArray header = file.read(compound::kHeaderSize);
  if (header.size() < compound::kHeaderSize) return false;
  return compound::ReadHeader(reinterpret_cast<const uchar*>(header.constData()), file.size(), nullptr)
      .has_value();
}

std::unique_ptr<CompoundFile> CompoundFile::Open(const QString& path, QString* error) {
  const QFileInfo info(path);
  if (!info.exists()) {
    SetError(error, QStringLiteral("file '%1' does not exist").arg(path));
    return nullptr;
  }
  QFile file(path);
  if (!info.isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    SetError(error, QStringLiteral("cannot open '%1'").arg(path));
    return nullptr;
  }
  if (file.size() > MaxFileSize()) {
    SetError(error, QStringLiteral("'%1' is too large for a compound file").arg(path));
    return nullptr;
  }
  compound::TFileSource source(file.handle(), file.size());
  QString why;
  auto result = ReadFrom(source, &why);
  if (!result && !source.Failure().isEmpty())
    SetError(error, QStringLiteral("cannot read '%1': %2").arg(path, source.Failure()));
  else if (!result)
    SetError(error, QStringLiteral("'%1' is not a sound compound file: %2").arg(path, why));
  return result;
}

std::unique_ptr<CompoundFile> CompoundFile::OpenLazily(const QString& path, QString* error, TStreamUse use) {
  const QFileInfo info(path);
  if (!info.exists()) {
    SetError(error, QStringLiteral("file '%1' does not exist").arg(path));
    return nullptr;
  }
  auto lazy = std::make_shared<compound::TLazyFile>();
  lazy->Fd.Reset(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!info.isFile() || !lazy->Fd.Valid() || ::fstat(lazy->Fd.Get(), &st) != 0) {
    SetError(error, QStringLiteral("cannot open '%1'").arg(path));
    return nullptr;
  }
  if (st.st_size > MaxFileSize()) {
    SetError(error, QStringLiteral("'%1' is too large for a compound file").arg(path));
    return nullptr;
  }
  lazy->WholeMini = use == TStreamUse::Every;
  lazy->Path = path;
  compound::TFileSource source(lazy->Fd.Get(), st.st_size);
  auto file = CompoundFile::Create();
  QString why;
  if (compound::ReadCompoundLazily(source, file->Root(), lazy, &why)) {
    file->file_ = std::move(lazy);
    return file;
  }
  if (!source.Failure().isEmpty())
    SetError(error, QStringLiteral("cannot read '%1': %2").arg(path, source.Failure()));
  else
    SetError(error, QStringLiteral("'%1' is not a sound compound file: %2").arg(path, why));
  return nullptr;
}

std::unique_ptr<CompoundFile> CompoundFile::OpenBytes(const QByteArray& bytes, QString* error) {
  if (bytes.size() > MaxFileSize()) {
    SetError(error, QStringLiteral("file too large"));
    return nullptr;
  }
  compound::TMemorySource source(bytes);
  return ReadFrom(source, error);
}

std::optional<QByteArray> CompoundFile::ToBytes(QString* error) const {
  const auto writer = WriterFor(*root_, error);
  if (!writer) return std::nullopt;
  QByteArray bytes(static_cast<qsizetype>(writer->Size()), Qt::Uninitialized);
  TMemorySink sink(bytes.data(), bytes.size());
  if (!writer->Emit(sink, error) || sink.Filled() != bytes.size()) return std::nullopt;
  return bytes;
}

namespace {

// The kept trees, the latest last. A state folder has seven files; twice that leaves room for a
// second folder and for archives without holding on to trees for long.
constexpr size_t kKeptTrees = 16;
std::mutex gKeptMutex;
std::vector<std::pair<QString, std::unique_ptr<CompoundFile>>> gKept;

std::unique_ptr<CompoundFile> TakeKeptLocked(const QString& path) {
  const auto it =
      std::find_if(gKept.begin(), gKept.end(), [&](const auto& kept) { return kept.first == path; });
  if (it == gKept.end()) return nullptr;
  std::unique_ptr<CompoundFile> tree = std::move(it->second);
  gKept.erase(it);
  return tree;
}

// The file being written: room is lent in its buffer, so that streams are made in place.
class TFileSink final : public TByteSink {
 public:
  explicit TFileSink(TFdWriter& out) : out_(out) {}
  bool Put(const char* data, qsizetype size) override { return out_.Put(data, size); }
  char* Room(qsizetype size) override { return out_.Room(size); }
  bool Commit(qsizetype size) override { return out_.Commit(size); }

 private:
  TFdWriter& out_;
};

// Writes the tree's file over path; once it has replaced the old one, `written` is told the writer
// and the new file's status as it was when complete (nullptr when it could not be had).
bool WriteFile(const CompoundStorage& root, const QString& path, QString* error,
               const std::function<void(compound::TCompoundWriter&, const struct stat*)>& written) {
  std::unique_ptr<CompoundFile> stale;
  {
    // The file changes: a tree kept for it no longer stands for it, whatever happens now.
    const std::lock_guard lock(gKeptMutex);
    stale = TakeKeptLocked(path);
  }
  QString why;
  auto writer = WriterFor(root, &why);
  if (!writer) {
    SetError(error, QStringLiteral("не могу сохранить '%1': %2").arg(path, why));
    return false;
  }
  // Why a stream's bytes could not be had; a failed write of the file tells errno.
  QString contentWhy;
  struct stat st {};
  bool known = false;
  const auto content = [&](int fd) {
    TFdWriter out(fd);
    TFileSink sink(out);
    if (!writer->Emit(sink, &contentWhy) || !out.Flush()) return false;
    known = ::fstat(fd, &st) == 0;
    return true;
  };
  // The file layer's reason names the file already.
  const bool ok = ReplaceFileAtomically(path, content, &why);
  if (!ok && !contentWhy.isEmpty())
    SetError(error, QStringLiteral("не могу записать '%1': %2").arg(path, contentWhy));
  else if (!ok)
    SetError(error, why);
  if (ok && written) {
    // Told as the file stands at path now (its time of change moved with the rename), and only
    // when that is the file just written.
    struct stat now {};
    const bool same = known && ::stat(QFile::encodeName(path).constData(), &now) == 0 &&
                      now.st_dev == st.st_dev && now.st_ino == st.st_ino && now.st_size == st.st_size &&
                      now.st_mtim.tv_sec == st.st_mtim.tv_sec && now.st_mtim.tv_nsec == st.st_mtim.tv_nsec;
    written(*writer, same ? &now : nullptr);
  }
  return ok;
}

// The elements of every storage in the order a reader of the file meets them: by the format's
// sibling order, as the writer laid each storage's children out.
void SortAsRead(CompoundStorage& root, const std::function<void(CompoundStorage&)>& sort) {
  std::vector<CompoundStorage*> todo{&root};
  while (!todo.empty()) {
    CompoundStorage* s = todo.back();
    todo.pop_back();
    sort(*s);
    for (qsizetype i = 0; i < s->StorageCount(); ++i) todo.push_back(&s->StorageAt(i));
  }
}

}  // namespace

// Nothing but a change of the file changes these together: a replace gives another file (and a
// new status change time, which no program can set back), a write another time of change.
struct CompoundFile::TWritten {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  timespec StatusChanged{};

  explicit TWritten(const struct stat& st)
      : Device(st.st_dev),
        Inode(st.st_ino),
        Size(st.st_size),
        Modified(st.st_mtim),
        StatusChanged(st.st_ctim) {}
  bool Same(const struct stat& st) const {
    const auto equal = [](const timespec& a, const timespec& b) {
      return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return st.st_dev == Device && st.st_ino == Inode && st.st_size == Size && equal(st.st_mtim, Modified) &&
           equal(st.st_ctim, StatusChanged);
  }
};

CompoundFile::~CompoundFile() = default;

bool CompoundFile::Save(const QString& path, QString* error) const {
  return WriteFile(*root_, path, error, nullptr);
}

bool CompoundFile::SaveAndKeep(const QString& path, QString* error) {
  auto file = std::make_shared<compound::TLazyFile>();
  std::unique_ptr<TWritten> written;
  const bool ok =
      WriteFile(*root_, path, error, [&](compound::TCompoundWriter& writer, const struct stat* st) {
        writer.MoveStreamsTo(file);
        if (st) written = std::make_unique<TWritten>(*st);
      });
  if (!ok) return false;
  file_ = std::move(file);
  written_ = std::move(written);
  SortAsRead(*root_, [](CompoundStorage& s) {
    const auto byName = [](const auto& a, const auto& b) { return compound::NameLess(a->name_, b->name_); };
    const auto streamsByName = [](const auto& a, const auto& b) {
      return compound::NameLess(a->Name, b->Name);
    };
    if (!std::is_sorted(s.storages_.begin(), s.storages_.end(), byName))
      std::stable_sort(s.storages_.begin(), s.storages_.end(), byName);
    if (!std::is_sorted(s.streams_.begin(), s.streams_.end(), streamsByName))
      std::stable_sort(s.streams_.begin(), s.streams_.end(), streamsByName);
  });
  return true;
}

void CompoundFile::Keep(const QString& path, std::unique_ptr<CompoundFile> tree) {
  std::unique_ptr<CompoundFile> stale;
  std::unique_ptr<CompoundFile> oldest;
  const std::lock_guard lock(gKeptMutex);
  stale = TakeKeptLocked(path);
  gKept.emplace_back(path, std::move(tree));
  if (gKept.size() > kKeptTrees) {
    oldest = std::move(gKept.front().second);
    gKept.erase(gKept.begin());
  }
}

std::unique_ptr<CompoundFile> CompoundFile::TakeKept(const QString& path) {
  std::unique_ptr<CompoundFile> tree;
  {
    const std::lock_guard lock(gKeptMutex);
    tree = TakeKeptLocked(path);
  }
  if (tree && !tree->Reattach(path)) tree.reset();
  return tree;
}

bool CompoundFile::Reattach(const QString& path) {
  if (!file_ || !written_) return false;
  TFileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !written_->Same(st)) return false;
  file_->Fd = std::move(fd);
  file_->Path = path;
  return true;
}

}  // namespace vexa
