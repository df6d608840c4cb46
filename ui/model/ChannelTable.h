#pragma once
// The channel table without its window: one row per child of a channel with the value as read and
// as typed, the operator's edits of read-only registers refused, and "Применить" writing the
// changed values top to bottom with its checks and messages.

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/Faults.h"

namespace vexa {

class TCustomRegister;
class TNetwork;
class TRootNode;

// A value typed for a register, checked as the channel table checks it before a write: a text
// register's value cut to the device's length (Cut), any other trimmed; a register without the write
// right refused (ReadOnly), a value its type or range cannot take refused (Invalid). Others that
// write a register for someone (the broker's remote writes) use the same rule.
struct TWriteCheck {
  enum TRefusal { None, ReadOnly, Invalid };
  QString Text;  // what would be written
  bool Cut = false;
  TRefusal Refusal = None;
};
TWriteCheck CheckRegisterWrite(const TCustomRegister& reg, const QString& typed);

struct TChannelRow {
  TCustomRegister* Register = nullptr;  // none for the header row, hidden children and non-registers
  QString Caption;
  QString Text;   // the value cell: as read, written or typed
  QString Last;   // as last read or written successfully; an edit is a Text that differs from it
  QString Asked;  // the text whose write is on its way; empty when none is
};

class TChannelTable {
 public:
  static const QString kRegisterHeader;  // "Регистр"
  static const QString kValueHeader;     // "Значение"

  // Reads and writes on the network's line.
  explicit TChannelTable(TNetwork& network) : network_(network) {}

  // Row i stands for child i of the channel; row 0 (the hidden identifier register) is the header
  // row. Every visible register is read once, top to bottom ("***" when the read fails). A null
  // channel gives no rows.
  void Load(TRootNode* channel);
  void Clear();

  TRootNode* Channel() const { return channel_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  const TChannelRow& Row(int row) const { return rows_.at(static_cast<size_t>(row)); }
  // The row of a register, or -1.
  int RowOf(const TRootNode* reg) const;

  // The operator changed the value cell of a row. A read-only register refuses a non-empty text
  // that differs from its last value: the last value comes back, and the warning is returned.
  TFaults Edit(int row, const QString& text);
  // Whether Edit would refuse the text, without changing anything.
  bool Refuses(int row, const QString& text) const;

  // "Применить": rows 1 to the last, each checked and its write asked in turn (the line's writer
  // runs them in that order). `done` gets the warnings of all of them in row order once every write
  // has its outcome, at once when none is waited for; a failed write keeps its typed text, so
  // "Применить" again tries it again. A text already on its way is not asked twice. Once the table
  // is loaded again, cleared or gone, outcomes still arriving change nothing and tell nobody.
  void Apply(std::function<void(const TFaults&)> done);

  // A row's Text was changed by the table itself (cut, restored), so a view can follow at once.
  std::function<void(int row)> RowChanged;

 private:
  struct TApplying;
  void ApplyRow(int row, const std::shared_ptr<TApplying>& applying);
  void SetText(int row, const QString& text);

  TNetwork& network_;
  TRootNode* channel_ = nullptr;
  std::vector<TChannelRow> rows_;
  // Which rows outcomes belong to: a load or a clear makes the rows anew.
  int generation_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace vexa
