#include "storage/StgHandlerUnit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <exception>
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

// The nodes' streams, made as the file is written: a save holds no stream of its own, only each
// stream's length, measured beforehand to lay the file out. Stateless: one serves every save.
class TComponentStreams final : public TStreamMaker {
 public:
  bool Make(void* item, qint64 length, TByteSink& sink, QString* why) const override {
    auto& node = *static_cast<TComponent*>(item);
    char* room = sink.Room(length);
    if (room == nullptr) return false;
    try {
      WriteComponentTo(node, room, length);
    } catch (const std::exception& e) {
      if (why) *why = QStringLiteral("%1: %2").arg(node.Name(), QString::fromUtf8(e.what()));
      return false;
    }
    return sink.Commit(length);
  }
};

const TComponentStreams kComponentStreams;

// As TStrHandler::SaveComponent stores a node: over the old stream, keeping a longer one's tail;
// a level whose stream cannot be made is left as it is. Later: only measured now, made as the
// file is written.
void StoreStream(CompoundStorage& level, TComponent& node, bool later) {
  if (later) {
    // A level that refuses the stream is left as it is before a node the format cannot hold raises.
    qsizetype length = 0;
    std::exception_ptr unfit;
    try {
      length = ComponentStreamSize(node);
    } catch (const EStreamError&) {
      unfit = std::current_exception();
    }
    try {
      level.SetStreamMade(kObject, &kComponentStreams, &node, length);
    } catch (const ECompoundFileError&) {
      return;
    }
    if (unfit) std::rethrow_exception(unfit);
    return;
  }
  QByteArray* stream = nullptr;
  try {
    stream = level.HasStream(kObject) ? &level.Stream(kObject) : &level.CreateStream(kObject);
  } catch (const ECompoundReadError&) {
    throw;  // the old bytes could not be read: not a name the level refuses
  } catch (const ECompoundFileError&) {
    return;
  }
  WriteComponentOver(node, *stream);
}

// Stores node and its subtree at `level` (see TStgHandler::SaveTree), noting the tree nodes it
// reached. A child the level refuses a storage for is left out with its subtree.
void StoreLevel(CompoundStorage& level, TComponent& node, std::vector<TRootNode*>& written, bool later) {
  StoreStream(level, node, later);
  if (auto* tree = dynamic_cast<TRootNode*>(&node)) written.push_back(tree);
  const int count = node.ComponentCount();
  qsizetype stored = 0;
  for (int i = 0; i < count; ++i) {
    const QString name = TStgHandler::ChildName(i);
    CompoundStorage* child = level.OpenStorage(name);
    try {
      if (child == nullptr) child = &level.CreateStorage(name);
    } catch (const ECompoundFileError&) {
      continue;
    }
    StoreLevel(*child, *node.Component(i), written, later);
    ++stored;
  }
  // Children the tree no longer has; a level that holds the children just stored alone has none.
  if (level.StorageCount() == stored) return;
  for (const QString& name : level.StorageNames()) {
    int index = 0;
    if (IsChildName(name, &index) && index >= count) level.RemoveStorage(name);
  }
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
  // Every level of a save names its children: the common names are made once and shared.
  static const std::vector<QString> kNames = [] {
    std::vector<QString> names;
    names.reserve(1000);
    for (int i = 0; i < 1000; ++i) names.push_back(QString::asprintf("%03d", i));
    return names;
  }();
  if (index >= 0 && index < static_cast<int>(kNames.size())) return kNames[static_cast<size_t>(index)];
  return QString::asprintf("%03d", index);
}

TStgHandler::~TStgHandler() = default;

std::unique_ptr<TStgHandler> TStgHandler::Create(const QString& name, TStgHandler* parent) {
  if (parent == nullptr) return CreateFile(name, nullptr);
  std::unique_ptr<TStgHandler> h(new TStgHandler);
  h->writable_ = true;
  if (parent->Valid()) {
    h->top_ = parent->top_ ? parent->top_ : parent;
    try {
      CompoundStorage* s =
          parent->storageNames_.contains(name) ? parent->storage_->OpenStorage(name) : nullptr;
      h->storage_ = s != nullptr ? s : &parent->storage_->CreateStorage(name);
    } catch (const ECompoundFileError&) {
      h->storage_ = nullptr;
    }
  }
  if (!h->Valid()) h->error_ = QStringLiteral("Не могу создать субпамять: '%1'!").arg(name);
  h->ReadNames();
  return h;
}

std::unique_ptr<TStgHandler> TStgHandler::CreateFile(const QString& name,
                                                     std::unique_ptr<CompoundFile> known) {
  std::unique_ptr<TStgHandler> h(new TStgHandler);
  h->writable_ = true;
  {
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
      // Only the old file's tree is read, unless it is known already: what a save keeps of its
      // streams is read as it writes.
      if (known)
        h->file_ = std::move(known);
      else if (CompoundFile::IsStorageFile(name))
        h->file_ = CompoundFile::OpenLazily(name);
      // A file that cannot be read as ours, or whose content a load refused, is kept aside before
      // a new file takes its place.
      if (!h->file_ || NotedUnreadable(name)) {
        h->aside_ = TAside::Unreadable;
        h->file_.reset();
      }
    }
    if (!h->file_) h->file_ = CompoundFile::Create();
    h->storage_ = &h->file_->Root();
  }
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
  // The tree this process wrote last to the file stands for it while the file is untouched.
  std::unique_ptr<CompoundFile> known = CompoundFile::TakeKept(path);
  std::unique_ptr<TStgHandler> h = fresh ? CreateNew(path) : CreateFile(path, std::move(known));
  h->keep_ = true;
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
      h->file_ = CompoundFile::OpenLazily(name, &why, CompoundFile::TStreamUse::Every);
      if (!h->file_) h->readFailure_ = QStringLiteral("структура файла нарушена (%1)").arg(why);
    }
    if (!h->file_) {
      if (h->error_.isEmpty()) h->error_ = QStringLiteral("Не могу открыть файл: '%1'!").arg(name);
      return h;
    }
    h->storage_ = &h->file_->Root();
  } else if (parent->Valid()) {
    h->top_ = parent->top_ ? parent->top_ : parent;
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
  // The file's streams are made from the nodes as it is written; once it is, or cannot be, the
  // tree that points at them goes.
  const auto spent = qScopeGuard([this, atFile = file_ != nullptr] {
    if (!atFile) return;
    file_.reset();
    storage_ = nullptr;
    ReadNames();
  });
  std::vector<TRootNode*> written;
  StoreLevel(*storage_, node, written, file_ != nullptr);
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
    if (!(keep_ ? file_->SaveAndKeep(path_, &why) : file_->Save(path_, &why))) {
      error_ = why;
      return false;
    }
    if (keep_) CompoundFile::Keep(path_, std::move(file_));
    ForgetUnreadable(path_);
  }
  // Only a tree that really reached the file counts as saved.
  for (TRootNode* n : written) n->SetChanged(false);
  return true;
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
