#pragma once
// TStrHandler binds the component stream writer and reader to the stream "Object" of one storage
// level. The stream format itself lives in the Stream* headers, included here for the callers.

#include <QByteArray>
#include <QString>
#include <memory>

#include "core/Component.h"
#include "storage/StreamExtended.h"
#include "storage/StreamFormat.h"
#include "storage/StreamIdents.h"
#include "storage/StreamParser.h"
#include "storage/StreamReader.h"
#include "storage/StreamWriter.h"

namespace vexa {

class CompoundStorage;
class TStgHandler;

class TStrHandler {
 public:
  // Write mode: opens the stream `name` of the storage when it already lists it, else creates it.
  static std::unique_ptr<TStrHandler> Create(const QString& name, TStgHandler* storage);
  // Read mode: opens the existing stream `name` of a valid storage.
  static std::unique_ptr<TStrHandler> Open(const QString& name, TStgHandler* storage);

  TStrHandler(const TStrHandler&) = delete;
  TStrHandler& operator=(const TStrHandler&) = delete;

  bool Valid() const { return stream_ != nullptr || scratch_ != nullptr; }
  // The text of the failure that left the handler invalid (never shown to the operator).
  const QString& ErrorText() const { return error_; }

  // Overwrites the stream from its start; longer old content stays behind the end.
  void SaveComponent(TComponent& component);
  // On success target's previous object is destroyed and target holds the new ownerless one; an
  // invalid handler leaves target alone; a malformed stream raises and leaves target alone. The
  // stream's bytes are read into the room its storage handler keeps for them (TStgHandler::Scratch),
  // so reading a tree's streams one after another takes the memory of the largest alone.
  void LoadComponent(std::unique_ptr<TComponent>& target);

 private:
  TStrHandler() = default;
  CompoundStorage* storage_ = nullptr;
  QString name_;
  QByteArray* stream_ = nullptr;   // write mode
  QByteArray* scratch_ = nullptr;  // read mode
  QString error_;
};

}  // namespace vexa
