#pragma once
// The compound-file writer: lays a tree out as a file image and emits it in order. Private to
// storage/Compound*.

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

#include "storage/CompoundFile.h"
#include "storage/CompoundFormat.h"

namespace vexa::compound {

// Refuses a tree that the reader would refuse.
bool CheckWritable(const CompoundStorage& root, QString* why);

// Takes emitted pieces; false stops the write.
using TSink = std::function<bool(const char* data, qsizetype size)>;

// Our own writer: libgsf's copies every stream into its own buffers and builds the file in
// memory before it can be written. Ours lays the file out on construction, so its size is known,
// and then emits it in order, the stream bytes straight from the tree (which must outlive the
// writer unchanged). The layout is plain: allocation table, directory, mini allocation table,
// mini stream, then each big stream in one run. The children of a storage form a balanced tree,
// so no reader recurses deeply over them, coloured as a red-black tree: writers that change a
// file in place insert into it and rebalance by its colours.
class TCompoundWriter {
 public:
  explicit TCompoundWriter(const CompoundStorage& root);

  qint64 Size() const;
  bool Emit(const TSink& sink) const;

 private:
  struct TEntry {
    QString Name;
    uchar Type = kTypeStorage;
    const QByteArray* Data = nullptr;  // streams only
    bool InMini = false;
    uchar Colour = kBlack;
    quint32 Left = kNoStream, Right = kNoStream, Child = kNoStream;
    quint32 Start = kEndOfChain;
    quint64 Size = 0;
  };

  quint32 Balance(const std::vector<quint32>& ids, size_t lo, size_t hi, int level, int redLevel);
  void Collect(const CompoundStorage& root);
  void Layout();
  QByteArray Header() const;
  QByteArray Difat() const;
  QByteArray Directory() const;

  std::vector<TEntry> entries_;
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
