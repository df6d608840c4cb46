#include "storage/StrHandlerUnit.h"

#include "storage/CompoundFile.h"
#include "storage/StgHandlerUnit.h"

namespace vexa {

std::unique_ptr<TStrHandler> TStrHandler::Create(const QString& name, TStgHandler* storage) {
  std::unique_ptr<TStrHandler> h(new TStrHandler);
  CompoundStorage* s = storage != nullptr && storage->Valid() ? storage->Storage() : nullptr;
  try {
    if (s != nullptr)
      h->stream_ = storage->StreamNames().contains(name) && s->HasStream(name) ? &s->Stream(name)
                                                                               : &s->CreateStream(name);
  } catch (const ECompoundReadError&) {
    throw;  // old bytes that cannot be read are not a name the storage refuses
  } catch (const ECompoundFileError&) {
    h->stream_ = nullptr;
  }
  if (h->stream_ == nullptr) h->error_ = QStringLiteral("Не могу открыть поток: '%1'!").arg(name);
  return h;
}

std::unique_ptr<TStrHandler> TStrHandler::Open(const QString& name, TStgHandler* storage) {
  std::unique_ptr<TStrHandler> h(new TStrHandler);
  CompoundStorage* s = storage != nullptr && storage->Valid() ? storage->Storage() : nullptr;
  if (s != nullptr && s->HasStream(name)) {
    h->storage_ = s;
    h->name_ = name;
    h->scratch_ = &storage->Scratch();
  }
  if (!h->Valid()) h->error_ = QStringLiteral("Не могу открыть поток: '%1'!").arg(name);
  return h;
}

void TStrHandler::SaveComponent(TComponent& component) {
  if (stream_ == nullptr) return;
  WriteComponentOver(component, *stream_);
}

void TStrHandler::LoadComponent(std::unique_ptr<TComponent>& target) {
  if (stream_ != nullptr) {
    target = ReadComponent(*stream_);
  } else if (scratch_ != nullptr) {
    storage_->ReadStream(name_, *scratch_);
    target = ReadComponent(*scratch_);
  }
}

}  // namespace vexa
