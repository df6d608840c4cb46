// The register node's read cadence and what follows each read, on the fake clock: the poller offers
// the node every 100 ms here, as it would offer it on every pass.

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// A value label as the core sees it.
class TSinkLabel : public TComponent, public TValueSink {
 public:
  using TComponent::TComponent;
  void SetValue(const QString& value) override { Values << value; }
  QStringList Values;
};

class RegisterNodeTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    reg = new TRegisterNode(Net().get());
    reg->SetName("D001C000R005");
    reg->SetEnabled(true);
  }

  // Offers the node to Refresh every stepMs for totalMs; the RDTime of every read it made.
  std::vector<double> Offer(int totalMs, int stepMs = 100) {
    std::vector<double> reads;
    double seen = reg->RDTime();
    for (int t = 0; t < totalMs; t += stepMs) {
      Clock->Advance(stepMs);
      reg->Refresh(Line());
      if (reg->RDTime() != seen) reads.push_back(seen = reg->RDTime());
    }
    return reads;
  }

  TRegisterNode* reg = nullptr;
};

TEST_F(RegisterNodeTest, LoggingIntervalOneGivesAboutOneHistoryEntryPerSecond) {
  Settings()->SetDemo(true);
  reg->SetLoggingInterval(1);
  const std::vector<double> reads = Offer(10'000);
  ASSERT_GE(reads.size(), 9u);
  ASSERT_LE(reads.size(), 10u);
  for (size_t i = 1; i < reads.size(); ++i) {
    const double gapMs = (reads[i] - reads[i - 1]) * 86400000.0;
    EXPECT_GE(gapMs, 999.5) << "read " << i;
    EXPECT_LE(gapMs, 1100.5) << "read " << i;
  }
  EXPECT_EQ(reg->Count(), static_cast<int>(reads.size()));
  EXPECT_EQ(reg->Points().last(), DateTimeToStr(reads.back()));
  EXPECT_EQ(reg->DataList().last(), reg->LastStringData());
  EXPECT_EQ(reg->LastIOResult(), iorOK);

  // At MaxCount the oldest entry makes room for the newest.
  reg->SetMaxCount(reg->Count());
  const QString second = reg->DataList().at(1);
  Offer(1'100);
  EXPECT_EQ(reg->Count(), reg->MaxCount());
  EXPECT_EQ(reg->DataList().first(), second);
  EXPECT_EQ(reg->DataList().last(), reg->LastStringData());
}

TEST_F(RegisterNodeTest, ReadsRefusedByTheRightsOrFailingKeepTheIntervalToo) {
  reg->SetLastStringData("12");
  const double created = reg->RDTime();
  reg->SetUserCanREAD(false);
  Port->Open();
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtINT) + QByteArray(2, 0)), 0}};
  };
  // A refused read sets no RDTime; it must not make the node due on every pass.
  Offer(10'000);
  EXPECT_EQ(reg->DataList(), QStringList({"12", "12", "12"}));
  EXPECT_EQ(reg->Points(), QStringList(3, DateTimeToStr(created)));
  EXPECT_TRUE(Port->Written.empty());

  // Failed reads: each one an attempt, entered as "***".
  reg->ClearHistory();
  reg->SetUserCanREAD(true);
  Port->Respond = nullptr;
  Offer(10'000);
  EXPECT_EQ(reg->DataList(), QStringList(3, "***"));
}

TEST_F(RegisterNodeTest, RefreshDueAndNextRefreshDueAgreeWithRefresh) {
  Settings()->SetDemo(true);
  reg->SetLoggingInterval(2);
  const double created = reg->RDTime();
  EXPECT_DOUBLE_EQ(reg->NextRefreshDue(), created + 2 / 86400.0);
  Clock->Advance(1999);
  EXPECT_FALSE(reg->RefreshDue());
  reg->Refresh(Line());
  EXPECT_EQ(reg->Count(), 0);
  Clock->Advance(1);
  EXPECT_TRUE(reg->RefreshDue());
  reg->Refresh(Line());
  ASSERT_EQ(reg->Count(), 1);
  EXPECT_GT(reg->RDTime(), created);
  EXPECT_DOUBLE_EQ(reg->NextRefreshDue(), reg->RDTime() + 2 / 86400.0);
  EXPECT_FALSE(reg->RefreshDue());
  reg->SetLoggingInterval(5);
  EXPECT_DOUBLE_EQ(reg->NextRefreshDue(), reg->RDTime() + 5 / 86400.0);
}

TEST_F(RegisterNodeTest, UpdateOnADisabledRegisterAppendsTheUnchangedValue) {
  Port->Open();
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtINT) + QByteArray(2, 7)), 0}};
  };
  reg->SetEnabled(false);
  reg->SetLastStringData("12");
  const double stamp = reg->RDTime();
  Clock->Advance(5000);
  reg->Update(Line());
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(reg->DataList(), QStringList({"12"}));
  EXPECT_EQ(reg->Points(), QStringList({DateTimeToStr(stamp)}));
  EXPECT_DOUBLE_EQ(reg->RDTime(), stamp);
}

TEST_F(RegisterNodeTest, TheLabelShowsEveryReadValueAndStarsOnFailure) {
  auto* label = new TSinkLabel(reg);
  Settings()->SetDemo(true);
  reg->Update(Line());
  ASSERT_EQ(reg->LastIOResult(), iorOK);
  Settings()->SetDemo(false);  // and the port is closed
  Clock->Advance(3000);
  reg->Update(Line());
  EXPECT_EQ(label->Values, QStringList({reg->DataList().at(0), "***"}));

  reg->RemoveComponent(label).reset();  // the operator deleted the label
  Settings()->SetDemo(true);
  reg->Update(Line());
  EXPECT_EQ(reg->Count(), 3);
  EXPECT_EQ(reg->DataList().last(), reg->LastStringData());
}

// The poller reads a node in three steps: the node's own thread begins and finishes, the read of the
// detached copy runs between. The outcome must be the node's own Refresh in every case.
TEST_F(RegisterNodeTest, ARefreshInStepsStoresWhatRefreshStores) {
  const auto answer = [](int typeByte, const QByteArray& data) {
    return [=](const QByteArray& req) -> std::vector<TChunk> {
      return {{SealFrame(req.left(4) + char(typeByte) + data), 0}};
    };
  };
  double nan = std::numeric_limits<double>::quiet_NaN();
  const QByteArray nanBytes(reinterpret_cast<const char*>(&nan), 8);
  struct TCase {
    const char* Name;
    bool Demo;
    std::function<std::vector<TChunk>(const QByteArray&)> Respond;  // null: the device is silent
    std::function<void(TRegisterNode&)> Prepare;
    int AdvanceMs;
    bool Exchanges;  // BeginRefresh hands out a copy to read
  };
  const std::vector<TCase> cases = {
      {"simulated, type still unknown", true, nullptr, [](TRegisterNode& r) { r.SetDigits(1); }, 3000, true},
      {"a writable 16-bit value", false, answer(0xC0 | rtINT, QByteArray::fromHex("C409")),
       [](TRegisterNode& r) { r.SetDigits(1); }, 3000, true},
      {"a value of another type than known", false, answer(0x40 | rtLONG, QByteArray(4, 1)),
       [](TRegisterNode& r) { r.SetRegisterType(rtINT); }, 3000, true},
      {"a double without decimal text", false, answer(0x40 | rtDOUBLE, nanBytes), nullptr, 3000, true},
      {"a silent device", false, nullptr, [](TRegisterNode& r) { r.SetLastStringData("7"); }, 3000, true},
      {"the read right refused", false, answer(0x40 | rtINT, QByteArray(2, 1)),
       [](TRegisterNode& r) {
         r.SetUserCanREAD(false);
         r.SetLastStringData("5");
       },
       3000, false},
      {"a disabled register", false, answer(0x40 | rtINT, QByteArray(2, 1)),
       [](TRegisterNode& r) {
         r.SetEnabled(false);
         r.SetLastStringData("6");
       },
       3000, false},
      {"not due yet", true, nullptr, nullptr, 2999, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Settings()->SetDemo(c.Demo);
    Port->Open();
    Port->Respond = c.Respond;
    TRegisterNode whole(nullptr);
    TRegisterNode stepped(nullptr);
    auto* wholeLabel = new TSinkLabel(&whole);
    auto* steppedLabel = new TSinkLabel(&stepped);
    for (TRegisterNode* r : {&whole, &stepped}) {
      r->SetName("D001C000R005");
      r->SetEnabled(true);
      if (c.Prepare) c.Prepare(*r);
    }
    Clock->Advance(c.AdvanceMs);
    const double start = Clock->Now();

    Current().Line().Random().Seed(7);
    whole.Refresh(Line());
    const size_t wholeWritten = Port->Written.size();

    Clock->SetNow(start);
    Current().Line().Random().Seed(7);
    const TLineContext line = Line();
    std::unique_ptr<TCustomRegister> copy = stepped.BeginRefresh();
    ASSERT_EQ(copy != nullptr, c.Exchanges);
    if (copy) {
      EXPECT_EQ(stepped.Count(), 0) << "stored before the read";
      copy->StringData(line);
      stepped.FinishRefresh(*copy);
    }
    EXPECT_EQ(Port->Written.size() - wholeWritten, wholeWritten);

    EXPECT_EQ(stepped.LastStringData(), whole.LastStringData());
    EXPECT_EQ(stepped.LastIOResult(), whole.LastIOResult());
    EXPECT_EQ(stepped.RegisterType(), whole.RegisterType());
    EXPECT_EQ(stepped.UserCanREAD(), whole.UserCanREAD());
    EXPECT_EQ(stepped.UserCanWRITE(), whole.UserCanWRITE());
    EXPECT_DOUBLE_EQ(stepped.RDTime(), whole.RDTime());
    EXPECT_DOUBLE_EQ(stepped.NextRefreshDue(), whole.NextRefreshDue());
    EXPECT_EQ(stepped.DataList(), whole.DataList());
    EXPECT_EQ(stepped.Points(), whole.Points());
    EXPECT_EQ(steppedLabel->Values, wholeLabel->Values);
    Port->Close();
    Port->Written.clear();
  }
}

}  // namespace
}  // namespace vexa::test
