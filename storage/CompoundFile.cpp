#include "storage/CompoundFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <utility>

#include "storage/AtomicFile.h"
#include "storage/CompoundFormat.h"
#include "storage/CompoundReader.h"
#include "storage/CompoundWriter.h"

namespace vexa {

using compound::SetError;

ECompoundFileError::ECompoundFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

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

CompoundStorage::TChildRef CompoundStorage::FindFolded(const QString& name) const {
  const QString key = name.toCaseFolded();
  if (!children_.isEmpty()) return children_.value(key);
  for (const auto& [folded, child] : few_)
    if (folded == key) return child;
  return {};
}

void CompoundStorage::AddChild(const QString& name, TChildRef child) {
  QString key = name.toCaseFolded();
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
  const QString key = name.toCaseFolded();
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
    existing->Data.clear();
    return existing->Data;
  }
  streams_.push_back(std::make_unique<TStreamEntry>(TStreamEntry{name, {}}));
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

const QByteArray& CompoundStorage::Stream(const QString& name) const {
  if (TStreamEntry* s = FindStream(name)) return s->Data;
  throw ECompoundFileError(QStringLiteral("no stream '%1' in storage '%2'").arg(name, name_));
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
  if (writer->Size() > CompoundFile::kMaxFileSize) {
    SetError(why, QStringLiteral("too large for one compound file"));
    return std::nullopt;
  }
  return writer;
}

}  // namespace

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
  if (file.size() > kMaxFileSize) {
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

std::unique_ptr<CompoundFile> CompoundFile::OpenBytes(const QByteArray& bytes, QString* error) {
  if (bytes.size() > kMaxFileSize) {
    SetError(error, QStringLiteral("file too large"));
    return nullptr;
  }
  compound::TMemorySource source(bytes);
  return ReadFrom(source, error);
}

std::optional<QByteArray> CompoundFile::ToBytes(QString* error) const {
  const auto writer = WriterFor(*root_, error);
  if (!writer) return std::nullopt;
  QByteArray bytes;
  bytes.reserve(static_cast<qsizetype>(writer->Size()));
  writer->Emit([&](const char* data, qsizetype size) {
    bytes.append(data, size);
    return true;
  });
  return bytes;
}

bool CompoundFile::Save(const QString& path, QString* error) const {
  QString why;
  const auto writer = WriterFor(*root_, &why);
  const auto content = [&](int fd) {
    TFdWriter out(fd);
    return writer->Emit([&](const char* data, qsizetype size) { return out.Put(data, size); }) && out.Flush();
  };
  if (!writer) {
    SetError(error, QStringLiteral("не могу сохранить '%1': %2").arg(path, why));
    return false;
  }
  // The file layer's reason names the file already.
  const bool ok = ReplaceFileAtomically(path, content, &why);
  if (!ok) SetError(error, why);
  return ok;
}

}  // namespace vexa
