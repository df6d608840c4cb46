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
// Streams

namespace {

// A sink over memory with room for what it is given: lends its own bytes.
class TMemorySink final : public TByteSink {
 public:
  TMemorySink(char* into, qint64 size) : into_(into), size_(size) {}
  bool Put(const char* data, qsizetype n) override {
    if (n > size_ - at_) return false;
    if (n > 0) std::memcpy(into_ + at_, data, static_cast<size_t>(n));
    at_ += n;
    return true;
  }
  char* Room(qsizetype n) override { return n <= size_ - at_ ? into_ + at_ : nullptr; }
  bool Commit(qsizetype n) override {
    if (n > size_ - at_) return false;
    at_ += n;
    return true;
  }
  qint64 Filled() const { return at_; }

 private:
  char* into_;
  qint64 size_;
  qint64 at_ = 0;
};

}  // namespace

bool CompoundStorage::TStreamEntry::Emit(QByteArray& scratch, TByteSink& sink, QString* why) const {
  if (Maker && !Maker->Make(Item, Made, sink, why)) return false;
  const qint64 from = Maker ? Made : 0;
  const qint64 old = OldSize();
  if (from >= old) return true;
  if (!File) return sink.Put(Data.constData() + from, old - from);
  // Pieces of up to a megabyte: few reads, and the scratch stays small.
  constexpr qint64 kPiece = 1 << 20;
  for (qint64 at = from; at < old;) {
    const qint64 n = std::min(kPiece, old - at);
    if (scratch.size() < n) scratch.resize(static_cast<qsizetype>(n));
    if (!File->Read(Stored < compound::kMiniStreamCutoff, Start, at, scratch.data(), n, why)) return false;
    if (!sink.Put(scratch.constData(), static_cast<qsizetype>(n))) return false;
    at += n;
  }
  return true;
}

// Bytes in a file are read straight into `into`.
void CompoundStorage::TStreamEntry::CopyTo(char* into) const {
  QString why;
  bool ok = true;
  if (Maker) {
    TMemorySink sink(into, Size());
    QByteArray scratch;
    ok = Emit(scratch, sink, &why) && sink.Filled() == Size();
  } else if (File) {
    ok = File->Read(Stored < compound::kMiniStreamCutoff, Start, 0, into, Stored, &why);
  } else if (!Data.isEmpty()) {
    std::memcpy(into, Data.constData(), static_cast<size_t>(Data.size()));
  }
  if (!ok)
    throw ECompoundReadError(why.isEmpty() ? QStringLiteral("stream '%1' cannot be had").arg(Name) : why);
}

void CompoundStorage::TStreamEntry::Settle() {
  if (!File && !Maker) return;
  QByteArray bytes(static_cast<qsizetype>(Size()), Qt::Uninitialized);
  CopyTo(bytes.data());
  Data = std::move(bytes);
  File = nullptr;
  Start = 0;
  Stored = 0;
  Maker = nullptr;
  Item = nullptr;
  Made = 0;
}

// ---------------------------------------------------------------------------------------------
// CompoundStorage

CompoundStorage::CompoundStorage(QString name) : name_(std::move(name)) {}

CompoundStorage::~CompoundStorage() = default;

QStringList CompoundStorage::StorageNames() const {
  QStringList names;
  names.reserve(static_cast<qsizetype>(storages_.size()));
  for (const auto& s : storages_) names << s->name_;
  return names;
}

QStringList CompoundStorage::StreamNames() const {
  QStringList names;
  names.reserve(static_cast<qsizetype>(streams_.size()));
  for (const auto& s : streams_) names << s->Name;
  return names;
}

namespace {

// The key siblings are told apart by. Most names fold to themselves ("000") and share their text
// then; of those that do not, one (the "Object" of every level) is asked for again and again, as
// one shared string, and its folding is kept rather than made anew each time.
QString FoldedName(const QString& name) {
  thread_local QString lastName;
  thread_local QString lastFolded;
  if (name.constData() == lastName.constData() && name.size() == lastName.size()) return lastFolded;
  QString folded = name.toCaseFolded();
  if (folded.constData() != name.constData()) {
    lastName = name;
    lastFolded = folded;
  }
  return folded;
}

}  // namespace

CompoundStorage::TChildRef CompoundStorage::FindFolded(const QString& name) const {
  const QString key = FoldedName(name);
  if (!children_.isEmpty()) return children_.value(key);
  for (const auto& [folded, child] : few_)
    if (folded == key) return child;
  return {};
}

void CompoundStorage::AddChild(const QString& name, TChildRef child) {
  QString key = FoldedName(name);
  if (children_.isEmpty() && few_.size() < kFewChildren) {
    few_.emplace_back(std::move(key), child);
    return;
  }
  if (children_.isEmpty()) {
    children_.reserve(2 * static_cast<qsizetype>(kFewChildren));
    for (auto& [folded, other] : few_) children_.insert(folded, other);
    std::vector<std::pair<QString, TChildRef>>().swap(few_);
  }
  children_.insert(key, child);
}

void CompoundStorage::RemoveChild(const QString& name) {
  const QString key = FoldedName(name);
  children_.remove(key);
  std::erase_if(few_, [&](const auto& entry) { return entry.first == key; });
}

CompoundStorage* CompoundStorage::FindStorage(const QString& name) const {
  CompoundStorage* s = FindFolded(name).Storage;
  return s && s->name_ == name ? s : nullptr;
}

CompoundStorage::TStreamEntry* CompoundStorage::FindStream(const QString& name) const {
  TStreamEntry* s = FindFolded(name).Stream;
  return s && s->Name == name ? s : nullptr;
}

CompoundStorage* CompoundStorage::OpenStorage(const QString& name) {
  return FindStorage(name);
}

const CompoundStorage* CompoundStorage::OpenStorage(const QString& name) const {
  return FindStorage(name);
}

bool CompoundStorage::IsValidName(const QString& name, QString* why) {
  if (name.isEmpty()) {
    SetError(why, QStringLiteral("empty element name"));
    return false;
  }
  if (name.size() > kMaxNameLength) {
    SetError(why,
             QStringLiteral("element name '%1' is longer than %2 characters").arg(name).arg(kMaxNameLength));
    return false;
  }
  if (!name.isValidUtf16() || name.contains(QChar(0))) {
    SetError(why, QStringLiteral("element name '%1' is not valid text").arg(name));
    return false;
  }
  for (QChar c : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':'), QLatin1Char('!')}) {
    if (name.contains(c)) {
      SetError(why, QStringLiteral("element name '%1' contains '%2'").arg(name, c));
      return false;
    }
  }
  return true;
}

void CompoundStorage::CheckNewName(const QString& name, const void* same) const {
  QString why;
  if (!IsValidName(name, &why)) throw ECompoundFileError(why);
  const TChildRef other = FindFolded(name);
  if (other.Storage && other.Storage != same)
    throw ECompoundFileError(
        QStringLiteral("'%1' clashes with storage '%2'").arg(name, other.Storage->name_));
  if (other.Stream && other.Stream != same)
    throw ECompoundFileError(QStringLiteral("'%1' clashes with stream '%2'").arg(name, other.Stream->Name));
}

void CompoundStorage::Clear() {
  storages_.clear();
  streams_.clear();
  few_.clear();
  children_.clear();
}

CompoundStorage& CompoundStorage::CreateStorage(const QString& name) {
  CompoundStorage* existing = FindStorage(name);
  CheckNewName(name, existing);
  if (existing) {
    existing->Clear();
    return *existing;
  }
  storages_.push_back(std::make_unique<CompoundStorage>(name));
  AddChild(name, {storages_.back().get(), nullptr});
  return *storages_.back();
}

QByteArray& CompoundStorage::CreateStream(const QString& name) {
  TStreamEntry* existing = FindStream(name);
  CheckNewName(name, existing);
  if (existing) {
    *existing = TStreamEntry(name);
    return existing->Data;
  }
  streams_.push_back(std::make_unique<TStreamEntry>(TStreamEntry(name)));
  AddChild(name, {nullptr, streams_.back().get()});
  return streams_.back()->Data;
}

bool CompoundStorage::RemoveStorage(const QString& name) {
  const CompoundStorage* s = FindStorage(name);
  if (!s) return false;
  RemoveChild(name);
  std::erase_if(storages_, [&](const auto& p) { return p.get() == s; });
  return true;
}

bool CompoundStorage::RemoveStream(const QString& name) {
  const TStreamEntry* s = FindStream(name);
  if (!s) return false;
  RemoveChild(name);
  std::erase_if(streams_, [&](const auto& p) { return p.get() == s; });
  return true;
}

QByteArray& CompoundStorage::Stream(const QString& name) {
  return const_cast<QByteArray&>(std::as_const(*this).Stream(name));
}

CompoundStorage::TStreamEntry& CompoundStorage::ExistingStream(const QString& name) const {
  if (TStreamEntry* s = FindStream(name)) return *s;
  throw ECompoundFileError(QStringLiteral("no stream '%1' in storage '%2'").arg(name, name_));
}

const QByteArray& CompoundStorage::Stream(const QString& name) const {
  TStreamEntry& s = ExistingStream(name);
  s.Settle();
  return s.Data;
}

void CompoundStorage::SetStreamMade(const QString& name, const TStreamMaker* maker, void* item,
                                    qint64 length) {
  TStreamEntry* s = FindStream(name);
  if (!s) {
    CheckNewName(name, nullptr);
    streams_.push_back(std::make_unique<TStreamEntry>(TStreamEntry(name)));
    AddChild(name, {nullptr, streams_.back().get()});
    s = streams_.back().get();
  }
  // What an earlier maker made is the old content this one is made over.
  if (s->Maker) s->Settle();
  s->Maker = maker;
  s->Item = item;
  s->Made = length;
}

void CompoundStorage::CreateStreamInFile(const QString& name, const compound::TLazyFile* file, quint32 start,
                                         qint64 size) {
  TStreamEntry* existing = FindStream(name);
  CheckNewName(name, existing);
  if (!existing) {
    streams_.push_back(std::make_unique<TStreamEntry>(TStreamEntry(name)));
    AddChild(name, {nullptr, streams_.back().get()});
    existing = streams_.back().get();
  }
  *existing = TStreamEntry(name);
  existing->File = file;
  existing->Start = start;
  existing->Stored = size;
}

qint64 CompoundStorage::StreamSize(const QString& name) const {
  return ExistingStream(name).Size();
}

void CompoundStorage::ReadStream(const QString& name, QByteArray& into) const {
  const TStreamEntry& s = ExistingStream(name);
  into.resize(static_cast<qsizetype>(s.Size()));
  s.CopyTo(into.data());
}

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
