// The poller's rule for a silent regulator, on the fake clock and the scripted port: the exact times
// of the full read that finds it silent, of the probes, of "***" and of the values' return; the other
// regulator's reads meanwhile; and writes, which make their full attempts whatever the rule holds.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SilentRegulators.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

constexpr double kStart = 46363.5;  // 07.12.2026 12:00:00

class TShownValues : public TComponent, public TValueSink {
 public:
  using TComponent::TComponent;
  void SetValue(const QString& value) override { Values << value; }
  QStringList Values;
};

class SilentRegulatorsTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Port->Open();
    Restart();
    // Register n of an answering regulator reads n * 10; writes are acknowledged.
    Port->Respond = [this](const QByteArray& req) -> std::vector<TChunk> {
      const int address = static_cast<uint8_t>(req[0]);
      const int number = static_cast<uint8_t>(req[2]);
      const bool write = req[3] != 0;
      Requests.push_back(QStringLiteral("%1 D%2R%3%4")
                             .arg(Clock->TickMs())
                             .arg(address, 3, 10, QLatin1Char('0'))
                             .arg(number, 3, 10, QLatin1Char('0'))
                             .arg(write ? " write" : ""));
      if (Off.contains(address) || Lacking.contains({address, number})) return {};
      if (write) return {{SealFrame(req.left(4)), 0}};
      return {{SealFrame(req.left(4) + char(0xC0 | rtINT) + char(number * 10) + char(0)), 0}};
    };
  }

  TRegisterNode* Add(int address, int channel, int number, int interval = 3) {
    TComponent* device = Child(Net().get(), QString::asprintf("D%03d", address));
    TComponent* chan = Child(device, QString::asprintf("D%03dC%03d", address, channel));
    auto* reg = new TRegisterNode(chan);  // owned by its channel
    reg->SetName(TCustomRegister::RegisterName(address, channel, number));
    reg->SetLoggingInterval(interval);
    reg->SetEnabled(true);
    return reg;
  }

  // The poller's schedule on this thread: a pass over NET in walk order hands every due register
  // node over as the poller does (BeginRefresh, the exchange on the copy by the rule,
  // FinishRefresh); after a pass that found nothing due the clock moves on to the earliest due time.
  // Each stored read is noted as "ms name text".
  void RunTo(int64_t endMs) {
    while (Clock->TickMs() < endMs) {
      bool any = false;
      double next = std::numeric_limits<double>::infinity();
      const TComponent* current = Net().get();
      int index = 0;
      TCustomRegister* found = nullptr;
      while (!NextRegister(Net().get(), current, index, found)) {
        auto* node = dynamic_cast<TRegisterNode*>(found);
        if (!node || !node->Enabled()) continue;
        if (node->RefreshDue()) {
          any = true;
          const int interval = node->LoggingInterval();
          if (std::unique_ptr<TCustomRegister> copy = node->BeginRefresh()) {
            if (Plain)
              copy->StringData(Line());
            else
              Rule.Read(*copy, Line(), interval);
            node->FinishRefresh(*copy);
          }
          Stored.push_back(
              QStringLiteral("%1 %2 %3").arg(Ms(node->RDTime())).arg(node->Name(), node->LastStringData()));
        }
        next = std::min(next, node->NextRefreshDue());
      }
      if (any) continue;
      const int64_t wait =
          std::max<int64_t>(1, std::llround((next - Now()) * static_cast<double>(kMsPerDay)));
      if (Clock->TickMs() + wait > endMs) {
        Clock->Advance(endMs - Clock->TickMs());
        return;
      }
      Clock->Advance(wait);
    }
  }

  // Each case of a table from the same start: the clock at 0, no registers, nothing known.
  void Restart() {
    Net()->DestroyComponents();
    Clock->SetNow(kStart);
    start_ = Now();
    Rule = TSilentRegulators();
    Plain = false;
    Off.clear();
    Lacking.clear();
    Requests.clear();
    Stored.clear();
  }

  int64_t Ms(double dateTime) const {
    return std::llround((dateTime - start_) * static_cast<double>(kMsPerDay));
  }

  TSilentRegulators Rule;
  bool Plain = false;                     // every read makes its full attempts, as without the rule
  std::set<int> Off;                      // regulators switched off
  std::set<std::pair<int, int>> Lacking;  // registers a regulator does not have
  QStringList Requests;                   // "ms DaaaRnnn[ write]", one per request written
  QStringList Stored;

 private:
  static TComponent* Child(TComponent* owner, const QString& name) {
    for (int i = 0; i < owner->ComponentCount(); ++i)
      if (owner->Component(i)->Name() == name) return owner->Component(i);
    auto* node = new TRootNode(owner);  // owned by owner
    node->SetName(name);
    return node;
  }

  double start_ = 0;
};

// Timelines of one regulator with three registers at 3 s: what is stored when (R002 shows it on a
// label and keeps it in its history), and what goes on the line when.
struct TTimeline {
  const char* Name;
  std::set<std::pair<int, int>> Lacking;
  std::vector<std::pair<int64_t, bool>> Switches;  // from this time on, off (true) or on
  int64_t End;
  QStringList Stored;    // "ms register text"
  QStringList Requests;  // "ms register"
};

QStringList Prefixed(const QString& prefix, const QStringList& entries) {
  QStringList out;
  for (const QString& e : entries) {
    QStringList parts = e.split(' ');
    parts[1] = prefix + parts[1];
    out << parts.join(' ');
  }
  return out;
}

// Switched off at 7 s and on at 16 s: its first unanswered read makes three attempts; the registers
// due meanwhile fail at once, and R001, due first after each interval, probes with one attempt until
// it answers at 18 s.
const QStringList kOffAt7Stored = {"3000 R001 10",   "3018 R002 20",   "3036 R003 30",   "6000 R001 10",
                                   "6018 R002 20",   "6036 R003 30",   "9000 R001 ***",  "9192 R002 ***",
                                   "9192 R003 ***",  "12000 R001 ***", "12192 R002 ***", "12192 R003 ***",
                                   "15000 R001 ***", "15192 R002 ***", "15192 R003 ***", "18000 R001 10",
                                   "18192 R002 20",  "18210 R003 30"};
const QStringList kOffAt7Requests = {"3000 R001",  "3018 R002",  "3036 R003",  "6000 R001", "6018 R002",
                                     "6036 R003",  "9000 R001",  "9064 R001",  "9128 R001", "12000 R001",
                                     "15000 R001", "18000 R001", "18192 R002", "18210 R003"};

TEST_F(SilentRegulatorsTest, ARegulatorFallsSilentIsProbedOncePerIntervalAndComesBack) {
  // A read answered takes 18 ms, an unanswered attempt 64 ms.
  const std::vector<TTimeline> timelines = {
      {"switched off at 7 s and on at 16 s",
       {},
       {{7000, true}, {16000, false}},
       19000,
       kOffAt7Stored,
       kOffAt7Requests},
      {"lacking one register, it never falls silent",
       {{1, 2}},
       {},
       9300,
       {"3000 R001 10", "3018 R002 ***", "3210 R003 30", "6000 R001 10", "6018 R002 ***", "6210 R003 30",
        "9000 R001 10", "9018 R002 ***", "9210 R003 30"},
       {"3000 R001", "3018 R002", "3082 R002", "3146 R002", "3210 R003", "6000 R001", "6018 R002",
        "6082 R002", "6146 R002", "6210 R003", "9000 R001", "9018 R002", "9082 R002", "9146 R002",
        "9210 R003"}},
      {"off from the start and the register it lacks tried first: the probe moves on and finds it back",
       {{1, 1}},
       {{0, true}, {10000, false}},
       18400,
       // R001 has never answered: after an unanswered probe it passes its next turn.
       {"3000 R001 ***", "3192 R002 ***", "3192 R003 ***", "6000 R001 ***", "6192 R002 ***", "6256 R003 ***",
        "9000 R001 ***", "9192 R002 ***", "9256 R003 ***", "12000 R001 ***", "12192 R002 ***",
        "12256 R003 ***", "15000 R001 ***", "15192 R002 ***", "15256 R003 ***", "18000 R001 ***",
        "18192 R002 20", "18256 R003 30"},
       {"3000 R001", "3064 R001", "3128 R001", "6192 R002", "9256 R003", "15000 R001", "18192 R002",
        "18256 R003"}},
  };
  for (const TTimeline& t : timelines) {
    SCOPED_TRACE(t.Name);
    Restart();
    Lacking = t.Lacking;
    Add(1, 0, 1);
    auto* label = new TShownValues(Add(1, 0, 2));  // owned by its register
    Add(1, 0, 3);
    for (const auto& [at, off] : t.Switches) {
      RunTo(at);
      if (off)
        Off.insert(1);
      else
        Off.erase(1);
    }
    RunTo(t.End);
    EXPECT_EQ(Stored, Prefixed("D001C000", t.Stored));
    EXPECT_EQ(Requests, Prefixed("D001", t.Requests));

    // A register failed without an exchange is shown and kept as a failed read.
    QStringList values;
    QStringList points;
    for (const QString& e : t.Stored.filter(" R002 ")) {
      values << e.section(' ', 2);
      points << DateTimeToStr(kStart + e.section(' ', 0, 0).toDouble() / static_cast<double>(kMsPerDay));
    }
    const auto* r2 = static_cast<const TRegisterNode*>(label->Owner());
    EXPECT_EQ(label->Values, values);
    EXPECT_EQ(r2->DataList().ToStringList(), values);
    EXPECT_EQ(r2->Points().ToStringList(), points);
    EXPECT_EQ(r2->LastIOResult(), values.last() == kFailedText ? iorFAIL : iorOK);
  }
}

// Ten registers of D000 answer and twenty of D001 are silent, all at 3 s, for a minute. Without the
// rule D001's full attempts take more line time than there is, and D000 falls behind.
TEST_F(SilentRegulatorsTest, TheOtherRegulatorKeepsItsFullRateWhileOneIsSilent) {
  for (const bool plain : {false, true}) {
    SCOPED_TRACE(plain ? "every read with its full attempts" : "the rule");
    Restart();
    Plain = plain;
    for (int r = 1; r <= 10; ++r) Add(0, 0, r);
    for (int r = 1; r <= 20; ++r) Add(1, 0, r);
    Off.insert(1);
    RunTo(60'500);
    const QStringList present = Requests.filter(" D000");
    const QStringList silent = Requests.filter(" D001");
    if (plain) {
      // A pass takes 4 s of the line instead of 3: the case would not tell the rule from none.
      EXPECT_LE(present.size(), 150);
      continue;
    }
    // D000: each register every 3 s to the millisecond, one exchange per read.
    QStringList expected;
    for (int k = 1; k <= 20; ++k)
      for (int r = 1; r <= 10; ++r)
        expected << QStringLiteral("%1 D000C000R%2 %3")
                        .arg(3000 * k + 18 * (r - 1))
                        .arg(r, 3, 10, QLatin1Char('0'))
                        .arg(r * 10);
    EXPECT_EQ(Stored.filter(" D000"), expected);
    EXPECT_EQ(present.size(), 200);
    // D001: three attempts at first, then one probe per interval, never two within 3 s; each of its
    // registers is stored "***" at every due time all the same.
    ASSERT_GE(silent.size(), 3 + 18);
    EXPECT_LE(silent.size(), 3 + 20);
    for (qsizetype i = 4; i < silent.size(); ++i)
      EXPECT_GE(silent[i].section(' ', 0, 0).toLongLong() - silent[i - 1].section(' ', 0, 0).toLongLong(),
                3000)
          << silent[i - 1].toStdString() << " then " << silent[i].toStdString();
    const QStringList stored = Stored.filter(" D001");
    EXPECT_EQ(stored.filter(" ***").size(), stored.size());
    for (int r = 1; r <= 20; ++r)  // the probes before it may move its due times on by 64 ms each
      EXPECT_GE(stored.filter(QString::asprintf(" D001C000R%03d ", r)).size(), 19) << "R" << r;
  }
}

// The wall clock stepped at 8 s, the regulator switched off at 7 s and on at 16 s: the requests go
// out at the same ticks as with no step, and the reads stored carry the wall clock's times.
TEST_F(SilentRegulatorsTest, StepsOfTheWallClockMoveNeitherReadsNorProbes) {
  const struct {
    const char* Name;
    int StepSeconds;
  } steps[] = {{"no step", 0},
               {"back an hour, as summer time ends", -3600},
               {"back 45 s", -45},
               {"forward an hour, as summer time begins", 3600},
               {"a zone change from UTC+3 to UTC+1", -7200}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Name);
    Restart();
    for (int r = 1; r <= 3; ++r) Add(1, 0, r);
    RunTo(7000);
    Off.insert(1);
    RunTo(8000);
    Clock->StepWall(step.StepSeconds);
    RunTo(16000);
    Off.erase(1);
    RunTo(19000);
    EXPECT_EQ(Requests, Prefixed("D001", kOffAt7Requests));
    QStringList expected;
    for (const QString& e : kOffAt7Stored) {
      const int64_t tick = e.section(' ', 0, 0).toLongLong();
      const int64_t wall = tick < 8000 ? tick : tick + step.StepSeconds * int64_t{1000};
      expected << QStringLiteral("%1 D001C000%2").arg(wall).arg(e.section(' ', 1));
    }
    EXPECT_EQ(Stored, expected);
    Clock->StepWall(-step.StepSeconds);  // so that the next case starts on tick 0
  }
}

// A write is the operator's: it makes its full attempts whether the poller holds its regulator silent
// or not, and it is not what brings the regulator back.
TEST_F(SilentRegulatorsTest, AWriteToASilentRegulatorMakesItsFullAttempts) {
  TRegisterNode* reg = Add(1, 0, 1);
  Add(1, 0, 2);
  RunTo(3500);
  Off.insert(1);
  RunTo(6300);
  ASSERT_EQ(Stored, QStringList({"3000 D001C000R001 10", "3018 D001C000R002 20", "6000 D001C000R001 ***",
                                 "6192 D001C000R002 ***"}));
  reg->SetRegisterType(rtINT);
  reg->SetUserCanWRITE(true);
  Requests.clear();
  reg->SetStringData(Line(), QStringLiteral("5"));
  EXPECT_EQ(Requests.filter(" D001R001 write").size(), 3) << Requests.join(", ").toStdString();
  EXPECT_EQ(Requests.size(), 3);
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);

  Off.clear();
  Requests.clear();
  reg->SetStringData(Line(), QStringLiteral("6"));
  EXPECT_EQ(Requests.size(), 1);
  EXPECT_EQ(reg->LastIOResult(), iorOK);
  // The poller learns of the return by its own probe, once the interval is over.
  Stored.clear();
  Requests.clear();
  RunTo(9300);
  EXPECT_EQ(Stored, QStringList({"9000 D001C000R001 10", "9192 D001C000R002 20"}));
  EXPECT_EQ(Requests, QStringList({"9000 D001R001", "9192 D001R002"}));
}

}  // namespace
}  // namespace vexa::test
