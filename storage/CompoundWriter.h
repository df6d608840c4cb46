#pragma once
// The compound-file writer: lays a tree out as a file image and emits it in order. Private to
// storage/Compound*.

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

#include "storage/CompoundFile.h"
#include "storage/CompoundFormat.h"
#include "storage/CompoundReader.h"

namespace vexa::compound {

// Refuses a tree that the reader would refuse.
bool CheckWritable(const CompoundStorage& root, QString* why);

using TSink = TByteSink;

// Our own writer: libgsf's copies every stream into its own buffers and builds the file in
// memory before it can be written. Ours lays the file out on construction, so its size is known,
// and then emits it in order, each stream's bytes straight from the tree, from the file the tree
// was read from, or made by the stream's maker in room the sink lends (the tree must outlive the
// writer unchanged). The layout is plain: allocation table, directory, mini allocation table, mini
// stream, then each big stream in one run. The children of a storage form a balanced tree, so no
// reader recurses deeply over them, coloured as a red-black tree: writers that change a file in
// place insert into it and rebalance by its colours.
class TCompoundWriter {
 public:
  explicit TCompoundWriter(const CompoundStorage& root);
  ~TCompoundWriter();
  TCompoundWriter(TCompoundWriter&&) = default;
  TCompoundWriter& operator=(TCompoundWriter&&) = delete;

  qint64 Size() const;
  // False when the sink refused a piece, or when a stream's bytes could not be had: then *why
  // says why.
  bool Emit(TSink& sink, QString* why = nullptr) const;
  // Once the file is written: its tables go to `file`, and every stream of the tree reads its
  // bytes from the file from then on, its maker and held bytes let go. The writer is spent.
  void MoveStreamsTo(const std::shared_ptr<TLazyFile>& file);

 private:
  // The tree's element itself is referred to, not copied: its name and, for a stream, its entry.
  struct TEntry {
    const QString* Name = nullptr;
    CompoundStorage::TStreamEntry* Stream = nullptr;  // streams only
    quint64 Size = 0;
    quint32 Left = kNoStream, Right = kNoStream, Child = kNoStream;
    quint32 Start = kEndOfChain;
    uchar Type = kTypeStorage;
    uchar Colour = kBlack;
    bool InMini = false;
  };

  bool EmitStream(const TEntry& e, QByteArray& scratch, TSink& sink, QString* why) const;
  quint32 Balance(const std::vector<quint32>& ids, size_t lo, size_t hi, int level, int redLevel);
  void Collect(const CompoundStorage& root);
  void Layout();
  QByteArray Header() const;
  QByteArray Difat() const;
  bool EmitDirectory(TSink& sink) const;

  std::vector<TEntry> entries_;
  // The entries' room, kept for the thread's next writer: a save's layout then touches no new memory.
  static thread_local std::vector<TEntry> spare_;
  std::vector<quint32> fat_;
  std::vector<quint32> miniFat_;
  quint32 numFat_ = 0;
  quint32 numDifat_ = 0;
  quint32 totalSectors_ = 0;
  quint32 difatStart_ = kEndOfChain;
  quint32 dirStart_ = kEndOfChain;
  quint32 miniFatStart_ = kEndOfChain;
};

}  // namespace vexa::compound
