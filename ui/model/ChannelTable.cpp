#include "ui/model/ChannelTable.h"

#include "core/CustomRegister.h"
#include "core/Frame.h"
#include "core/Network.h"
#include "core/Services.h"

namespace vexa {

const QString TChannelTable::kRegisterHeader = QStringLiteral("Регистр");
const QString TChannelTable::kValueHeader = QStringLiteral("Значение");

namespace {

// "'text' - 'caption'" and the reason on a line of its own.
QString WriteMessage(const QString& text, const QString& caption, const QString& reason) {
  return QStringLiteral("'") + text + QStringLiteral("'") + QStringLiteral(" - ") + QStringLiteral("'") +
         caption + QStringLiteral("'") + QStringLiteral("\r\n") + reason;
}

}  // namespace

TWriteCheck CheckRegisterWrite(const TCustomRegister& reg, const QString& typed) {
  TWriteCheck check;
  if (reg.RegisterType() == rtASCIIZ) {
    // Blanks are part of a text value; only its length is the device's limit.
    check.Cut = typed.size() > kMaxTextBytes;
    check.Text = check.Cut ? typed.left(kMaxTextBytes) : typed;
  } else {
    check.Text = typed.trimmed();
  }
  if (!reg.UserCanWRITE())
    check.Refusal = TWriteCheck::ReadOnly;
  else if (!reg.IsValidValue(check.Text))
    check.Refusal = TWriteCheck::Invalid;
  return check;
}

// One "Применить": the warnings by row, and the writes still waited for (one more while it asks).
struct TChannelTable::TApplying {
  std::vector<TFaults> Rows;
  int Waiting = 1;
  std::function<void(const TFaults&)> Done;

  void Settle() {
    if (--Waiting > 0) return;
    TFaults all;
    for (const TFaults& f : Rows) all.Add(f);
    if (Done) Done(all);
  }
};

void TChannelTable::Clear() {
  ++generation_;
  channel_ = nullptr;
  rows_.clear();
}

void TChannelTable::Load(TRootNode* channel) {
  Clear();
  channel_ = channel;
  if (channel == nullptr) return;
  rows_.resize(static_cast<size_t>(channel->NodeCount()));
  // Row 0 carries the headers in place of the identifier register, which is never shown.
  for (int i = 1; i < RowCount(); ++i) {
    TRootNode* node = channel->Node(i);
    if (!node->Visible()) continue;
    TChannelRow& row = rows_[static_cast<size_t>(i)];
    row.Caption = node->Caption();
    row.Register = dynamic_cast<TCustomRegister*>(node);
    if (row.Register == nullptr) continue;
    row.Text = row.Register->StringData(network_.LineContext());
    row.Last = row.Text;
  }
}

int TChannelTable::RowOf(const TRootNode* reg) const {
  if (reg == nullptr) return -1;
  for (int i = 0; i < RowCount(); ++i)
    if (rows_[static_cast<size_t>(i)].Register == reg) return i;
  return -1;
}

TFaults TChannelTable::Edit(int row, const QString& text) {
  if (row <= 0 || row >= RowCount()) return {};
  const bool refused = Refuses(row, text);
  TChannelRow& r = rows_[static_cast<size_t>(row)];
  r.Text = text;
  if (!refused) return {};
  // Refused at once, so the operator does not go on typing into a value that can never be sent. The
  // last value is back before the warning, so a cell that commits as the box takes the focus
  // commits that.
  SetText(row, r.Last);
  return TFaults(QStringLiteral("Регистр '") + r.Caption + QStringLiteral("'") + QStringLiteral("\r\n") +
                     QStringLiteral("имеет тип 'ТОЛЬКО ЧТЕНИЕ'!"),
                 TMsgIcon::Warning);
}

bool TChannelTable::Refuses(int row, const QString& text) const {
  if (row <= 0 || row >= RowCount()) return false;
  const TChannelRow& r = rows_[static_cast<size_t>(row)];
  return r.Register != nullptr && !r.Register->UserCanWRITE() && !text.isEmpty() && text != r.Last;
}

void TChannelTable::Apply(std::function<void(const TFaults&)> done) {
  auto applying = std::make_shared<TApplying>();
  applying->Rows.resize(rows_.size());
  applying->Done = std::move(done);
  for (int i = 1; i < RowCount(); ++i) ApplyRow(i, applying);
  applying->Settle();
}

void TChannelTable::ApplyRow(int row, const std::shared_ptr<TApplying>& applying) {
  TFaults& faults = applying->Rows[static_cast<size_t>(row)];
  TChannelRow& r = rows_[static_cast<size_t>(row)];
  TCustomRegister* reg = r.Register;
  if (reg == nullptr) return;
  const TWriteCheck check = CheckRegisterWrite(*reg, r.Text);
  const QString& text = check.Text;
  if (check.Cut) {
    faults.Add(QStringLiteral("Строка '") + r.Text + QStringLiteral("'") + QStringLiteral(" для ") +
                   QStringLiteral("'") + r.Caption + QStringLiteral("'") + QStringLiteral("\r\n") +
                   QStringLiteral("слишком велика. Строка будет укорочена до '") + text +
                   QStringLiteral("'!"),
               TMsgIcon::Warning);
    SetText(row, text);
  }
  if (text == r.Last) return;
  if (check.Refusal == TWriteCheck::ReadOnly) {
    SetText(row, r.Last);
    return;
  }
  if (check.Refusal == TWriteCheck::Invalid) {
    faults.Add(WriteMessage(text, r.Caption, QStringLiteral("не может принять такое значение!")),
               TMsgIcon::Warning);
    SetText(row, r.Last);
    return;
  }
  if (text == r.Asked) return;
  r.Asked = text;
  ++applying->Waiting;
  const std::weak_ptr<int> alive = alive_;
  reg->SubmitStringData(
      network_.LineContext(), text,
      [this, alive, generation = generation_, row, text, applying](const TWriteResult& o) {
        if (alive.expired() || generation != generation_) return;
        TChannelRow& written = rows_[static_cast<size_t>(row)];
        if (written.Asked == text) written.Asked.clear();
        if (o.Ok()) {
          written.Last = text;
        } else {
          // The typed text stays, so "Применить" again tries it again.
          applying->Rows[static_cast<size_t>(row)].Add(
              WriteMessage(text, written.Caption, QStringLiteral("ошибка записи, регулятор не отвечает!")),
              TMsgIcon::Warning);
        }
        applying->Settle();
      });
}

void TChannelTable::SetText(int row, const QString& text) {
  TChannelRow& r = rows_[static_cast<size_t>(row)];
  if (r.Text == text) return;
  r.Text = text;
  if (RowChanged) RowChanged(row);
}

}  // namespace vexa
