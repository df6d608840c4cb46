#include "storage/StgHandlerUnit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <vector>

#include "core/RootNode.h"
#include "storage/CompoundFile.h"
#include "storage/StrHandlerUnit.h"
#include "storage/UnreadableFiles.h"

namespace vexa {

namespace {

const QString kObject = QStringLiteral("Object");
// Real trees are five levels deep (NET, regulator, channel, register, label); a deeper file is
// damaged or hostile and must not exhaust the stack.
constexpr int kMaxDepth = 64;

bool IsChildName(const QString& name, int* index) {
  if (name.size() < 3 || name.size() > 9) return false;
  for (QChar c : name)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  bool ok = false;
  const int i = name.toInt(&ok);
  if (!ok || TStgHandler::ChildName(i) != name) return false;
  *index = i;
  return true;
}

QString JoinPath(const QString& path, const QString& name) {
  return path.isEmpty() ? name : path + QLatin1Char('/') + name;
}

}  // namespace

QString DamagedPartText(const TDamagedPart& part) {
  return part.Part + (part.Owner.isEmpty() ? QString() : QStringLiteral(" (в %1)").arg(part.Owner)) +
         QStringLiteral(": ") + part.Reason;
}

std::vector<TLevelEntry> TStgHandler::LevelEntries(const CompoundStorage& level) {
  std::vector<std::pair<int, QString>> children;
  std::vector<TLevelEntry> strays;
  for (const QString& name : level.StorageNames()) {
    int index = 0;
    if (IsChildName(name, &index))
      children.emplace_back(index, name);
    else
      strays.push_back({name, QStringLiteral("лишняя часть, не загружена")});
  }
  // A level without its object is told as such, with the streams it has instead.
  if (level.HasStream(kObject))
    for (const QString& name : level.StreamNames())
      if (name != kObject) strays.push_back({name, QStringLiteral("лишний поток, не загружен")});
  std::sort(children.begin(), children.end());
  std::vector<TLevelEntry> entries;
  entries.reserve(children.size() + strays.size());
  int expected = 0;
  for (const auto& [index, name] : children) {
    if (index > expected) {
      const QString missing = index - expected == 1
                                  ? ChildName(expected)
                                  : ChildName(expected) + QStringLiteral("…") + ChildName(index - 1);
      entries.push_back({ChildName(expected),
                         QStringLiteral("нет %1 в нумерации частей; следующие загружены").arg(missing)});
    }
    entries.push_back({name, QString()});
    expected = index + 1;
  }
  entries.insert(entries.end(), strays.begin(), strays.end());
  return entries;
}

QString TStgHandler::MissingObjectText(const CompoundStorage& level) {
  const QStringList streams = level.StreamNames();
  return streams.isEmpty()
             ? QStringLiteral("нет объекта")
             : QStringLiteral("нет объекта (есть поток %1)").arg(streams.join(QStringLiteral(", ")));
}

QString TStgHandler::ChildName(int index) {
  return QString::asprintf("%03d", index);
}

TStgHandler::~TStgHandler() = default;

std::unique_ptr<TStgHandler> TStgHandler::Create(const QString& name, TStgHandler* parent) {
  std::unique_ptr<TStgHandler> h(new TStgHandler);
  h->writable_ = true;
  if (parent == nullptr) {
    h->path_ = name;
    const QFileInfo info(name);
    const QFileInfo dir(info.absolutePath());
    const QString refusal = name.isEmpty()      ? QStringLiteral("нет имени")
                            : info.isDir()      ? QStringLiteral("на месте файла папка")
                            : !dir.isDir()      ? QStringLiteral("папка не существует")
                            : !dir.isWritable() ? QStringLiteral("нет прав на запись")
                                                : QString();
    if (!refusal.isEmpty()) {
      h->error_ = QStringLiteral("Не могу создать файл: '%1': %2!").arg(name, refusal);
      return h;
    }
    if (info.exists()) {
      if (CompoundFile::IsStorageFile(name)) h->file_ = CompoundFile::Open(name);
      // A file that cannot be read as ours, or whose content a load refused, is kept aside before
      // a new file takes its place.
      if (!h->file_ || NotedUnreadable(name)) {
        h->aside_ = TAside::Unreadable;
        h->file_.reset();
      }
    }
    if (!h->file_) h->file_ = CompoundFile::Create();
    h->storage_ = &h->file_->Root();
  } else if (parent->Valid()) {
    try {
      CompoundStorage* s =
          parent->storageNames_.contains(name) ? parent->storage_->OpenStorage(name) : nullptr;
      h->storage_ = s != nullptr ? s : &parent->storage_->CreateStorage(name);
    } catch (const ECompoundFileError&) {
      h->storage_ = nullptr;
    }
  }
  if (!h->Valid() && h->error_.isEmpty())
    h->error_ = QStringLiteral("Не могу создать субпамять: '%1'!").arg(name);
  h->ReadNames();
  return h;
}

std::unique_ptr<TStgHandler> TStgHandler::CreateNew(const QString& path) {
  std::unique_ptr<TStgHandler> h = Create(path);
  if (h->file_) {
    h->file_ = CompoundFile::Create();
    h->storage_ = &h->file_->Root();
    h->ReadNames();
  }
  return h;
}

std::unique_ptr<TStgHandler> TStgHandler::CreateStateFile(const QString& path, bool fresh) {
  std::unique_ptr<TStgHandler> h = fresh ? CreateNew(path) : Create(path);
  if (h->file_ && !h->aside_ && QFileInfo::exists(path) && !NotedOurs(path)) {
    h->aside_ = TAside::Replaced;
    h->file_ = CompoundFile::Create();
    h->storage_ = &h->file_->Root();
    h->ReadNames();
  }
  return h;
}

std::unique_ptr<TStgHandler> TStgHandler::Open(const QString& name, TStgHandler* parent) {
  std::unique_ptr<TStgHandler> h(new TStgHandler);
  if (parent == nullptr) {
    h->path_ = name;
    const QFileInfo info(name);
    if (!info.exists()) {
      h->error_ = QStringLiteral("Файл не существует или испорчен: '%1'!").arg(name);
    } else if (info.isDir()) {
      h->readFailure_ = QStringLiteral("на месте файла папка");
    } else if (!CompoundFile::IsStorageFile(name)) {
      // Only now is it worth telling a file that cannot be opened from one that is not ours.
      QFile probe(name);
      h->readFailure_ = probe.open(QIODevice::ReadOnly)
                            ? QStringLiteral("не составной файл")
                            : QStringLiteral("файл не открывается (%1)").arg(probe.errorString());
    } else {
      QString why;
      h->file_ = CompoundFile::Open(name, &why);
      if (!h->file_) h->readFailure_ = QStringLiteral("структура файла нарушена (%1)").arg(why);
    }
    if (!h->file_) {
      if (h->error_.isEmpty()) h->error_ = QStringLiteral("Не могу открыть файл: '%1'!").arg(name);
      return h;
    }
    h->storage_ = &h->file_->Root();
  } else if (parent->Valid()) {
    h->storage_ = parent->storage_->OpenStorage(name);
  }
  if (!h->Valid()) h->error_ = QStringLiteral("Не могу открыть субпамять: '%1'!").arg(name);
  h->ReadNames();
  return h;
}

std::unique_ptr<TStgHandler> TStgHandler::OpenImage(const QByteArray& bytes) {
  std::unique_ptr<TStgHandler> h(new TStgHandler);
  h->file_ = CompoundFile::OpenBytes(bytes);
  if (!h->file_) {
    h->error_ = QStringLiteral("Файл не существует или испорчен: '%1'!").arg(QStringLiteral("<memory>"));
    return h;
  }
  h->storage_ = &h->file_->Root();
  h->ReadNames();
  return h;
}

void TStgHandler::ReadNames() {
  storageNames_.clear();
  streamNames_.clear();
  if (!Valid()) return;
  storageNames_ = storage_->StorageNames();
  streamNames_ = storage_->StreamNames();
}

bool TStgHandler::SaveTree(TComponent& node) {
  if (!Valid()) return false;
  std::vector<TRootNode*> written;
  Store(node, written);
  if (file_) {
    QString why;
    if (aside_) {
      if (!KeepAside(path_, *aside_, &keptAside_, &why)) {
        error_ = (*aside_ == TAside::Unreadable
                      ? QStringLiteral("нечитаемый файл не удалось отложить, новый не записан: %1")
                      : QStringLiteral("прежний файл не удалось отложить, новый не записан: %1"))
                     .arg(why);
        return false;
      }
      aside_.reset();
    }
    if (!file_->Save(path_, &why)) {
      error_ = why;
      return false;
    }
    ForgetUnreadable(path_);
  }
  // Only a tree that really reached the file counts as saved.
  for (TRootNode* n : written) n->SetChanged(false);
  return true;
}

void TStgHandler::Store(TComponent& node, std::vector<TRootNode*>& written) {
  if (!Valid()) return;
  TStrHandler::Create(kObject, this)->SaveComponent(node);
  if (auto* tree = dynamic_cast<TRootNode*>(&node)) written.push_back(tree);
  const int count = node.ComponentCount();
  for (int i = 0; i < count; ++i) Create(ChildName(i), this)->Store(*node.Component(i), written);
  // Children the tree no longer has.
  for (const QString& name : storageNames_) {
    int index = 0;
    if (IsChildName(name, &index) && index >= count) storage_->RemoveStorage(name);
  }
}

void TStgHandler::LoadTree(std::unique_ptr<TComponent>& target) {
  std::unique_ptr<TComponent> fresh;
  damage_.clear();
  Build(fresh, 0, QString(), QString());
  if (fresh) target = std::move(fresh);
}

void TStgHandler::Build(std::unique_ptr<TComponent>& target, int depth, const QString& path,
                        const QString& owner) {
  if (!Valid()) return;
  if (depth > kMaxDepth)
    throw EStreamError(QStringLiteral("The file nests storages deeper than %1 levels").arg(kMaxDepth));
  // The file level's own object is the file: when it cannot be read the whole load fails. Below it
  // a part that cannot be read is left out and told, and the rest still loads.
  const auto skipped = [&](const QString& reason) {
    damage_.push_back({path, owner, reason + QStringLiteral("; часть пропущена вместе с вложенными")});
  };
  std::unique_ptr<TComponent> node;
  if (depth == 0 || storage_->HasStream(kObject)) {
    try {
      TStrHandler::Open(kObject, this)->LoadComponent(node);
    } catch (const EStreamError& e) {
      if (depth == 0) throw;
      skipped(QStringLiteral("объект не разбирается (%1)").arg(e.Message()));
      return;
    } catch (const EComponentError& e) {
      if (depth == 0) throw EStreamError(e.Message());
      skipped(QStringLiteral("объект не разбирается (%1)").arg(e.Message()));
      return;
    }
  }
  if (!node) {
    if (depth > 0) skipped(MissingObjectText(*storage_));
    return;
  }
  const std::vector<TLevelEntry> entries = LevelEntries(*storage_);
  // Its bytes are not needed again: freed now, they make room for the nodes still to be built.
  storage_->RemoveStream(kObject);
  for (const TLevelEntry& entry : entries) {
    const QString part = JoinPath(path, entry.Name);
    if (!entry.Fault.isEmpty()) {
      damage_.push_back({part, node->Name(), entry.Fault});
      continue;
    }
    std::unique_ptr<TComponent> child;
    const auto sub = Open(entry.Name, this);
    sub->Build(child, depth + 1, part, node->Name());
    damage_.insert(damage_.end(), sub->damage_.begin(), sub->damage_.end());
    if (!child) continue;
    const QString name = child->Name();
    try {
      node->InsertComponent(std::move(child));
    } catch (const EComponentError&) {
      damage_.push_back({part, node->Name(),
                         QStringLiteral("имя %1 уже у другой части; часть пропущена вместе с вложенными")
                             .arg(name.isEmpty() ? QStringLiteral("''") : name)});
    }
  }
  target = std::move(node);
}

}  // namespace vexa
