#include "storage/StgHandlerUnit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

}  // namespace

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
      h->keepAside_ = !h->file_ || NotedUnreadable(name);
      if (h->keepAside_) h->file_.reset();
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
    if (keepAside_) {
      if (!KeepUnreadableAside(path_, &keptAside_, &why)) {
        error_ = QStringLiteral("нечитаемый файл не удалось отложить, новый не записан: %1").arg(why);
        return false;
      }
      keepAside_ = false;
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
  Build(fresh, 0);
  if (fresh) target = std::move(fresh);
}

void TStgHandler::Build(std::unique_ptr<TComponent>& target, int depth) {
  if (!Valid()) return;
  if (depth > kMaxDepth)
    throw EStreamError(QStringLiteral("The file nests storages deeper than %1 levels").arg(kMaxDepth));
  std::unique_ptr<TComponent> node;
  TStrHandler::Open(kObject, this)->LoadComponent(node);
  // Its bytes are not needed again: freed now, they make room for the nodes still to be built.
  if (storage_->HasStream(kObject)) storage_->RemoveStream(kObject);
  if (!node) return;  // a level without its object: skipped with its subtree
  for (int i = 0;; ++i) {
    const QString name = ChildName(i);
    if (!storageNames_.contains(name)) break;
    std::unique_ptr<TComponent> child;
    Open(name, this)->Build(child, depth + 1);
    if (!child) continue;
    try {
      node->InsertComponent(std::move(child));
    } catch (const EComponentError& e) {
      throw EStreamError(
          QStringLiteral("Two children of %1 are named alike: %2").arg(node->Name(), e.Message()));
    }
  }
  target = std::move(node);
}

}  // namespace vexa
