// The channel table's rows, the operator's edits and "Применить", against a scripted regulator and
// against the built-in simulator.

#include <map>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "support/TestSupport.h"
#include "ui/model/ChannelTable.h"

namespace vexa::test {
namespace {

// Channel 1 of regulator 5 on a scripted line: each register answers with its type byte and value
// and keeps what is written to it, unless writes go unanswered.
class ChannelTableTest : public TVexaTest {
 protected:
  // A refusal's warning shown as the window shows it; true when the text was taken.
  static bool Accepted(const TFaults& faults) {
    ShowFaults(faults);
    return faults.Empty();
  }

  void SetUp() override {
    TVexaTest::SetUp();
    channel = new TRootNode(Net().get());
    Add(0, "Тип канала", rtBYTE, false, Bytes({1}))->SetVisible(false);
    Port->Open();
    Port->Respond = [this](const QByteArray& req) -> std::vector<TChunk> {
      auto it = device.find(req[kFrameRegister]);
      if (it == device.end()) return {};
      if (req[kFrameCommand] == cmdRead) return {{SealFrame(req.left(4) + it->second), 0}};
      if (!writesAnswered) return {};
      it->second = it->second.left(1) + req.mid(kFrameData, req.size() - kFrameData - 1);
      writes.push_back(req[kFrameRegister]);
      return {{SealFrame(req.left(4)), 0}};
    };
  }

  TRegisterNode* Add(int r, const char* caption, TRegisterType type, bool writable, const QByteArray& value) {
    auto* reg = new TRegisterNode(channel);
    reg->SetName(TCustomRegister::RegisterName(5, 1, r));
    reg->SetCaption(QString::fromUtf8(caption));
    device[char(r)] = char(TypeByte(type, true, writable)) + value;
    return reg;
  }

  TRootNode* channel = nullptr;
  std::map<char, QByteArray> device;  // register: type byte and value
  std::vector<int> writes;            // answered write requests, by register
  bool writesAnswered = true;
  TChannelTable table{Current()};
};

TEST_F(ChannelTableTest, RowsFollowTheChildrenAndOnlyVisibleRegistersAreRead) {
  Add(1, "Температура", rtINT, false, Bytes({0x5E, 0x01}))->SetDigits(1);
  Add(2, "Скрытый", rtINT, true, Bytes({1, 0}))->SetVisible(false);
  (new TRootNode(channel))->SetCaption("Папка");  // not a register: nothing to read
  Add(4, "Молчит", rtINT, true, {});
  device.erase(4);

  table.Load(channel);

  const struct {
    bool HasRegister;
    const char* Caption;
    const char* Text;
  } rows[] = {{false, "", ""},
              {true, "Температура", "35,0"},
              {false, "", ""},
              {false, "Папка", ""},
              {true, "Молчит", "***"}};
  ASSERT_EQ(table.RowCount(), 5);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(table.Row(i).Register != nullptr, rows[i].HasRegister);
    EXPECT_EQ(table.Row(i).Caption, QString::fromUtf8(rows[i].Caption));
    EXPECT_EQ(table.Row(i).Text, QString::fromUtf8(rows[i].Text));
    EXPECT_EQ(table.Row(i).Last, table.Row(i).Text);
  }
  EXPECT_EQ(table.RowOf(channel->Node(1)), 1);
  EXPECT_EQ(table.RowOf(channel->Node(2)), -1);
  // One read each of the two visible registers (the silent one three times, as every exchange).
  std::vector<int> read;
  for (const QByteArray& f : Port->Written) read.push_back(f[kFrameRegister]);
  EXPECT_EQ(read, (std::vector<int>{1, 4, 4, 4}));
}

TEST_F(ChannelTableTest, ApplyChecksAndWritesEachTypedValueTopToBottom) {
  const QString forty = QStringLiteral("Зона нагрева, ярус ").repeated(3).left(40);
  const QString cut = forty.left(31);
  const struct {
    TRegisterType Type;
    int Digits;
    QByteArray Value;
    QString Typed;
    QByteArray Sent;  // the data written; empty: nothing
    QString TextAfter;
    QString LastAfter;
    QString Message;
  } cases[] = {
      {rtINT, 0, Bytes({0x5E, 0x01}), " 42 ", Bytes({42, 0}), " 42 ", "42", ""},
      {rtINT, 0, Bytes({0x5E, 0x01}), "  350 ", {}, "  350 ", "350", ""},  // unchanged once trimmed
      {rtINT, 2, Bytes({0x5E, 0x01}), "1,25", Bytes({125, 0}), "1,25", "1,25", ""},
      {rtINT,
       0,
       Bytes({0x5E, 0x01}),
       "abc",
       {},
       "350",
       "350",
       "'abc' - 'R4'\r\nне может принять такое значение!"},
      {rtUBYTE, 0, Bytes({7}), "256", {}, "7", "7", "'256' - 'R5'\r\nне может принять такое значение!"},
      {rtASCIIZ, 0, QByteArray("a\0", 2), " b ", QByteArray(" b \0", 4), " b ", " b ", ""},
      {rtASCIIZ, 0, QByteArray("a\0", 2), forty, ToCp1251(cut) + '\0', cut, cut,
       "Строка '" + forty + "' для 'R7'\r\nслишком велика. Строка будет укорочена до '" + cut + "'!"},
  };
  const int n = std::size(cases);
  for (int i = 0; i < n; ++i) {
    const QByteArray caption = QStringLiteral("R%1").arg(i + 1).toUtf8();
    Add(i + 1, caption.constData(), cases[i].Type, true, cases[i].Value)->SetDigits(cases[i].Digits);
  }
  table.Load(channel);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(table.Edit(i + 1, cases[i].Typed).Empty());
  std::vector<int> changed;
  table.RowChanged = [&changed](int row) { changed.push_back(row); };

  table.Apply(ShowFaults);

  std::vector<int> written;
  QStringList messages;
  std::vector<int> restoredOrCut;
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i + 1);
    const auto& c = cases[i];
    if (!c.Sent.isEmpty()) {
      written.push_back(i + 1);
      EXPECT_EQ(device[char(i + 1)].mid(1), c.Sent);
    }
    if (!c.Message.isEmpty()) messages << c.Message;
    if (c.TextAfter != c.Typed) restoredOrCut.push_back(i + 1);
    EXPECT_EQ(table.Row(i + 1).Text, c.TextAfter);
    EXPECT_EQ(table.Row(i + 1).Last, c.LastAfter);
  }
  EXPECT_EQ(writes, written);
  EXPECT_EQ(Messages->Texts(), messages);
  for (const auto& m : Messages->Shown) EXPECT_EQ(m.Icon, TMsgIcon::Warning);
  EXPECT_EQ(changed, restoredOrCut);  // the view hears of each text the table changed itself
}

TEST_F(ChannelTableTest, ReadOnlyRegistersRefuseTypingAtOnceAndAreNeverWritten) {
  auto* readOnly = Add(1, "Температура", rtINT, false, Bytes({0x5E, 0x01}));
  auto* writable = Add(2, "Уставка", rtINT, true, Bytes({0x5E, 0x01}));
  table.Load(channel);

  // Asked first, the table changes nothing and says nothing.
  EXPECT_TRUE(table.Refuses(1, "3"));
  EXPECT_FALSE(table.Refuses(1, ""));
  EXPECT_FALSE(table.Refuses(1, "350"));
  EXPECT_FALSE(table.Refuses(2, "351"));
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_EQ(table.Row(1).Text, "350");
  EXPECT_FALSE(Accepted(table.Edit(1, "3")));
  EXPECT_EQ(table.Row(1).Text, "350");
  EXPECT_EQ(Messages->Texts(), QStringList{"Регистр 'Температура'\r\nимеет тип 'ТОЛЬКО ЧТЕНИЕ'!"});
  // Emptying the cell, or typing the shown value back, is no edit to refuse.
  EXPECT_TRUE(table.Edit(1, "").Empty());
  EXPECT_TRUE(table.Edit(1, "350").Empty());
  EXPECT_TRUE(table.Edit(2, "351").Empty());
  EXPECT_EQ(Messages->Shown.size(), 1u);

  // An emptied read-only cell, or a register the device has made read-only since, gets its value
  // back silently on "Применить".
  ShowFaults(table.Edit(1, ""));
  readOnly->SetUserCanWRITE(false);
  writable->SetUserCanWRITE(false);
  table.Apply(ShowFaults);
  EXPECT_EQ(table.Row(1).Text, "350");
  EXPECT_EQ(table.Row(2).Text, "350");
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(Messages->Shown.size(), 1u);
}

TEST_F(ChannelTableTest, AFailedWriteKeepsTheTypedTextAndApplyTriesItAgain) {
  Add(1, "Уставка", rtINT, true, Bytes({0x5E, 0x01}));
  table.Load(channel);
  writesAnswered = false;
  ShowFaults(table.Edit(1, "360"));
  table.Apply(ShowFaults);
  EXPECT_EQ(Messages->Texts(), QStringList{"'360' - 'Уставка'\r\nошибка записи, регулятор не отвечает!"});
  EXPECT_EQ(table.Row(1).Text, "360");
  EXPECT_EQ(table.Row(1).Last, "350");

  writesAnswered = true;
  table.Apply(ShowFaults);
  table.Apply(ShowFaults);  // written by the first: nothing left to do
  EXPECT_EQ(writes, std::vector<int>{1});
  EXPECT_EQ(device['\1'], char(TypeByte(rtINT, true, true)) + Bytes({0x68, 0x01}));
  EXPECT_EQ(table.Row(1).Last, "360");
  EXPECT_EQ(Messages->Shown.size(), 1u);
}

// The built-in simulator: what is written there is what is read next.
TEST_F(ChannelTableTest, SimulatedChannelReadsWritesAndReadsBack) {
  Settings()->SetDemo(true);
  auto* setpoint = Add(1, "Уставка", rtINT, true, {});
  setpoint->SetRegisterType(rtINT);
  setpoint->SetUserCanWRITE(true);
  Add(2, "Метка", rtASCIIZ, false, {})->SetRegisterType(rtASCIIZ);

  table.Load(channel);
  EXPECT_EQ(table.Row(1).Text, "85");  // the band's start for regulators of this kind
  EXPECT_NE(table.Row(2).Text, kFailedText);
  EXPECT_FALSE(Accepted(table.Edit(2, "другое")));
  ShowFaults(table.Edit(1, "87"));
  table.Apply(ShowFaults);
  EXPECT_EQ(table.Row(1).Last, "87");
  EXPECT_TRUE(Port->Written.empty());  // the simulator answered, not the line

  table.Load(channel);
  EXPECT_NEAR(table.Row(1).Text.toInt(), 87, 1);
}

// On the system clock "Применить" returns at once: the outcomes, and the warnings with them, arrive
// as the line's writer hands them over.
TEST_F(ChannelTableTest, ApplyTellsItsWarningsWhenTheOutcomesArrive) {
  const TSystemClockScope systemClock;
  Add(1, "Уставка", rtINT, true, Bytes({0x5E, 0x01}));
  Add(2, "Предел", rtINT, true, Bytes({0x5E, 0x01}));
  table.Load(channel);
  writesAnswered = false;
  ShowFaults(table.Edit(1, "360"));
  ShowFaults(table.Edit(2, "abc"));
  int told = 0;
  table.Apply([&](const TFaults& faults) {
    ++told;
    ShowFaults(faults);
  });
  table.Apply([&](const TFaults&) { ++told; });  // again at once: the write on its way is not asked twice
  EXPECT_EQ(told, 1);                            // the second had nothing to wait for
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_EQ(table.Row(1).Asked, "360");

  ASSERT_TRUE(RunEventsUntil([&] { return told == 2; }, 10000));
  // In row order, the write's warning among the checks'.
  EXPECT_EQ(Messages->Texts(), (QStringList{"'360' - 'Уставка'\r\nошибка записи, регулятор не отвечает!",
                                            "'abc' - 'Предел'\r\nне может принять такое значение!"}));
  EXPECT_EQ(table.Row(1).Text, "360");
  EXPECT_EQ(table.Row(1).Last, "350");
  EXPECT_TRUE(table.Row(1).Asked.isEmpty());
  EXPECT_EQ(Port->Written.size(), 2u + 3u);  // the two reads, then one write of three attempts
  Current().Writer().Stop();
}

// A table loaded again, or gone, before the outcome arrives is not changed by it, nor tells it.
TEST_F(ChannelTableTest, OutcomesArrivingAfterAReloadOrTheTablesEndChangeNothing) {
  const TSystemClockScope systemClock;
  Add(1, "Уставка", rtINT, true, Bytes({0x5E, 0x01}));
  writesAnswered = false;  // an outcome taken would be a warning told
  for (const bool reload : {true, false}) {
    SCOPED_TRACE(reload);
    auto own = std::make_unique<TChannelTable>(Current());
    own->Load(channel);
    ShowFaults(own->Edit(1, "360"));
    bool told = false;
    own->Apply([&](const TFaults&) { told = true; });
    reload ? own->Load(channel) : own.reset();
    Current().Writer().Drain();
    EXPECT_FALSE(told);
    EXPECT_TRUE(!reload || own->Row(1).Text == "350");
  }
  Current().Writer().Stop();
}

}  // namespace
}  // namespace vexa::test
