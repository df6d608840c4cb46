// The storages and streams of a compound file's tree, in memory or read on demand from the file.
#include <algorithm>
#include <cstring>
#include <utility>

#include "storage/CompoundFile.h"
#include "storage/CompoundFormat.h"
#include "storage/CompoundReader.h"

namespace vexa {

using compound::SetError;

// ---------------------------------------------------------------------------------------------
// Streams

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

}  // namespace vexa
