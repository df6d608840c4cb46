#include "core/LineSpeeds.h"
#include "core/Network.h"
#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

TEST(CrcTest, KnownVectors) {
  EXPECT_EQ(Crc8(reinterpret_cast<const uint8_t*>("abc"), 3), 0x90);
  EXPECT_EQ(SealFrame(Bytes({0, 1, 2, 0})), Bytes({0, 1, 2, 0, 0xD1}));
  TRegisterFrame shortFrame;
  shortFrame.Length = 3;
  EXPECT_FALSE(ApplyCrc(shortFrame));
  EXPECT_EQ(shortFrame.Length, 0);
}

TEST(CrcTest, ChecksAReceivedFrame) {
  TRegisterFrame f;
  const QByteArray answer = SealFrame(Bytes({0, 1, 2, 0, 0x44, 0x10, 0x00}));
  std::memcpy(f.Data, answer.constData(), answer.size());
  f.Length = static_cast<int>(answer.size()) - 1;
  EXPECT_TRUE(ApplyCrc(f));
  EXPECT_EQ(f.Length, answer.size());
  f.Data[5] ^= 0x01;
  f.Length = static_cast<int>(answer.size()) - 1;
  EXPECT_FALSE(ApplyCrc(f));
}

TEST(ByteTimeTest, TableAndUnlistedIndex) {
  const double expected[] = {4.17, 2.09, 1.05, 0.52, 0.26, 0.13, 0.06};
  for (int i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(ByteTime(i), expected[i]);
  EXPECT_DOUBLE_EQ(ByteTime(7), 1.0);
  EXPECT_DOUBLE_EQ(ByteTime(-1), 1.0);
}

class ExchangeTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Port->Open();
    reg = new TRegisterNode(Net().get());
    reg->SetName("D000C001R002");
  }
  static QByteArray IntAnswer(const QByteArray& req, int value) {
    return SealFrame(req.left(4) + char(0x40 | rtINT) + char(value & 0xFF) + char(value >> 8));
  }
  // Answers attempt k (0-based) with script[k]; later attempts get silence.
  void Script(std::vector<std::function<std::vector<TChunk>(const QByteArray&)>> script) {
    auto attempts = std::make_shared<int>(0);
    Port->Respond = [script, attempts](const QByteArray& req) -> std::vector<TChunk> {
      const int k = (*attempts)++;
      if (k < static_cast<int>(script.size())) return script[static_cast<size_t>(k)](req);
      return {};
    };
  }
  TRegisterNode* reg = nullptr;
};

// The exchange runs on the line it is handed: its port, its speed, its simulation switch, whatever
// the program's own port and settings say.
TEST_F(ExchangeTest, AnExplicitLineContextIsUsedInsteadOfTheProgramsLine) {
  auto owned = std::make_unique<TFakeComm>(*Clock);
  TFakeComm& other = *owned;
  TLine otherLine(std::move(owned));
  other.Open();
  other.Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{IntAnswer(req, 321), 0}}; };
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{IntAnswer(req, 1), 0}}; };
  const int fast = *BaudRateIndexOf(115200);
  const int slow = *BaudRateIndexOf(2400);

  EXPECT_EQ(reg->StringData(TLineContext{&otherLine, false, fast}), "321");
  EXPECT_EQ(other.Written.size(), 1u);
  EXPECT_TRUE(Port->Written.empty());

  // The waits follow the context's speed.
  other.Respond = nullptr;
  Clock->ResetSlept();
  EXPECT_EQ(reg->StringData(TLineContext{&otherLine, false, fast}), "***");
  const int64_t fastWaits = Clock->Slept();
  Clock->ResetSlept();
  EXPECT_EQ(reg->StringData(TLineContext{&otherLine, false, slow}), "***");
  EXPECT_GT(Clock->Slept(), fastWaits);

  // Simulation in the context answers without the port, even with the program's demo mode off;
  // and a context without simulation goes to its port with the demo mode on.
  other.Written.clear();
  Settings()->SetDemo(false);
  EXPECT_NE(reg->StringData(TLineContext{&otherLine, true, fast}), "***");
  EXPECT_TRUE(other.Written.empty());
  Settings()->SetDemo(true);
  EXPECT_EQ(reg->StringData(TLineContext{&otherLine, false, fast}), "***");
  EXPECT_EQ(other.Written.size(), 3u);
  EXPECT_TRUE(Port->Written.empty());
}

TEST_F(ExchangeTest, ClosedPortFailsAtOnce) {
  Port->Close();
  Clock->ResetSlept();
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(Clock->Slept(), 0);
}

TEST_F(ExchangeTest, SilenceCostsThreeTimedAttempts) {
  Clock->ResetSlept();
  EXPECT_EQ(reg->StringData(Line()), "***");
  ASSERT_EQ(Port->Written.size(), 3u);
  for (const QByteArray& w : Port->Written) EXPECT_EQ(w, Bytes({0, 1, 2, 0, 0xD1}));
  // At 19200 bit/s: 14 ms after sending, then 25 polls of 2 ms, per attempt.
  EXPECT_EQ(Clock->Slept(), 3 * (14 + 50));
  EXPECT_EQ(Port->Purges, 3);
}

TEST_F(ExchangeTest, SlowestSpeedTiming) {
  Settings()->SetBaudRateIndex(0);
  Clock->ResetSlept();
  reg->StringData(Line());
  // Trunc(7 x 4.17) + 11 = 40 ms, then polls of 6 ms until 50 ms have passed (9 polls).
  EXPECT_EQ(Clock->Slept(), 3 * (40 + 54));
  Settings()->SetBaudRateIndex(9);  // unlisted: 1 ms per byte
  Clock->ResetSlept();
  reg->StringData(Line());
  EXPECT_EQ(Clock->Slept(), 3 * (18 + 51));
}

TEST_F(ExchangeTest, AnswerIsReadOnceTheCountStopsGrowing) {
  Script({[](const QByteArray& req) -> std::vector<TChunk> { return {{IntAnswer(req, 300), 0}}; }});
  Clock->ResetSlept();
  EXPECT_EQ(reg->StringData(Line()), "300");
  EXPECT_EQ(Port->Written.size(), 1u);
  EXPECT_EQ(Clock->Slept(), 14 + 2 + 2);  // two polls see the same count
}

TEST_F(ExchangeTest, RetriesAfterGarbledSplitForeignOrLateAnswers) {
  using Step = std::function<std::vector<TChunk>(const QByteArray&)>;
  const Step good = [](const QByteArray& req) -> std::vector<TChunk> { return {{IntAnswer(req, 7), 0}}; };
  const Step garbled = [](const QByteArray& req) -> std::vector<TChunk> {
    QByteArray a = IntAnswer(req, 7);
    a[5] = static_cast<char>(a[5] ^ 0x40);
    return {{a, 0}};
  };
  const Step split = [](const QByteArray& req) -> std::vector<TChunk> {
    const QByteArray a = IntAnswer(req, 7);
    return {{a.left(4), 0}, {a.mid(4), 40}};  // the tail comes after the read: CRC fails, then purged
  };
  const Step foreign = [](const QByteArray& req) -> std::vector<TChunk> {
    QByteArray other = req.left(4);
    other[0] = 5;
    return {{IntAnswer(other, 7), 0}};
  };
  const Step late = [](const QByteArray& req) -> std::vector<TChunk> { return {{IntAnswer(req, 7), 80}}; };
  const Step longAnswer = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{IntAnswer(req, 7) + QByteArray(40, 'x'), 0}};
  };
  for (const Step& bad : {garbled, split, foreign, late, longAnswer}) {
    Port->Written.clear();
    Script({bad, good});
    EXPECT_EQ(reg->StringData(Line()), "7");
    EXPECT_EQ(Port->Written.size(), 2u);
    EXPECT_EQ(Port->Written[0], Port->Written[1]);  // every attempt sends the same bytes
  }
}

TEST_F(ExchangeTest, AnswerInTwoPartsWithinOnePollIsAccepted) {
  Script({[](const QByteArray& req) -> std::vector<TChunk> {
    const QByteArray a = IntAnswer(req, 9);
    return {{a.left(3), 0}, {a.mid(3), 15}};
  }});
  EXPECT_EQ(reg->StringData(Line()), "9");
}

TEST_F(ExchangeTest, KnownTypeRejectsOtherTypesAndLengths) {
  reg->SetRegisterType(rtINT);
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtULONG) + QByteArray(4, 1)), 0}};
  };
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_EQ(Port->Written.size(), 3u);
  EXPECT_EQ(reg->RegisterType(), rtINT);
  // The right type with a wrong length, and the echo of the request, fail the same way.
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtINT) + QByteArray(3, 1)), 0}};
  };
  EXPECT_EQ(reg->StringData(Line()), "***");
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{req, 0}}; };
  EXPECT_EQ(reg->StringData(Line()), "***");
}

TEST_F(ExchangeTest, UnknownTypeLearnsFromAConsistentAnswer) {
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0xC0 | rtULONG) + Bytes({1, 0, 0, 0})), 0}};
  };
  EXPECT_EQ(reg->StringData(Line()), "1");
  EXPECT_EQ(reg->RegisterType(), rtULONG);
  // An echo of the request is no answer even while the type is unknown.
  reg->SetRegisterType(rtUnknown);
  Port->Written.clear();
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{req, 0}}; };
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_EQ(Port->Written.size(), 3u);
  EXPECT_EQ(reg->RegisterType(), rtUnknown);
}

TEST_F(ExchangeTest, AsciizAnswersMayHoldOneToThirtyOneBytes) {
  reg->SetRegisterType(rtASCIIZ);
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtASCIIZ) + QByteArray(31, 'q')), 0}};
  };
  EXPECT_EQ(reg->StringData(Line()), QString(31, 'q'));
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtASCIIZ)), 0}};  // no data at all
  };
  EXPECT_EQ(reg->StringData(Line()), "***");
}

TEST_F(ExchangeTest, WriteAnswerMustBeFiveBytes) {
  reg->SetRegisterType(rtINT);
  reg->SetUserCanWRITE(true);
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + 'x'), 0}};
  };
  reg->SetStringData(Line(), "1");
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_EQ(Port->Written.size(), 3u);
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{SealFrame(req.left(4)), 0}}; };
  reg->SetStringData(Line(), "1");
  EXPECT_EQ(reg->LastIOResult(), iorOK);
}

// A port that breaks down mid-exchange.
class TBrokenComm : public TFakeComm {
 public:
  using TFakeComm::TFakeComm;
  int Write(const uint8_t*, int) override { throw ECommError(QStringLiteral("Write error"), 5); }
};

TEST_F(ExchangeTest, PortErrorsFailTheReadInsteadOfEscaping) {
  TLine broken(std::make_unique<TBrokenComm>(*Clock));
  broken.Port()->Open();
  QStringList trace;
  broken.Trace = [&trace](const QString& line) { trace << line; };
  EXPECT_NO_THROW(EXPECT_EQ(reg->StringData(TLineContext{&broken, false, Line().BaudRateIndex}), "***"));
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_EQ(trace.filter("! port error").size(), 3);
}

// A device that goes away during a write: the port marks itself lost and fails as it goes.
class TUnpluggedComm : public TFakeComm {
 public:
  using TFakeComm::TFakeComm;
  int Write(const uint8_t* buffer, int count) override {
    ++Writes;
    if (UnplugAtWrite) {
      UnplugAtWrite = false;
      SetLost(true);
    }
    return TFakeComm::Write(buffer, count);
  }
  bool UnplugAtWrite = false;
  int Writes = 0;
};

TEST_F(ExchangeTest, ALostPortEndsTheExchangeAtOnceAndIsToldOnceEachWay) {
  auto port = std::make_unique<TUnpluggedComm>(*Clock);
  TUnpluggedComm& unplugged = *port;
  TLine line(std::move(port));
  line.Port()->SetDeviceName("COM3");
  line.Port()->Open();
  const TLineContext context{&line, false, Line().BaudRateIndex};
  unplugged.Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{IntAnswer(req, 9), 0}}; };
  QStringList notices;
  line.Notice = [&notices](const QString& text, bool lost) { notices << text + (lost ? " (lost)" : ""); };
  EXPECT_EQ(reg->StringData(context), "9");

  unplugged.UnplugAtWrite = true;
  Clock->ResetSlept();
  EXPECT_EQ(reg->StringData(context), "***");
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_EQ(unplugged.Writes, 2);              // no second and third attempt against a dead port
  EXPECT_LT(Clock->Slept(), 20);               // nor their waits
  EXPECT_EQ(reg->StringData(context), "***");  // while lost nothing goes out
  EXPECT_EQ(unplugged.Writes, 2);
  EXPECT_EQ(notices, QStringList{"Порт COM3 потерян: устройство отключено (lost)"});

  unplugged.SetLost(false);
  EXPECT_EQ(reg->StringData(context), "9");
  EXPECT_EQ(reg->StringData(context), "9");
  EXPECT_EQ(notices,
            (QStringList{"Порт COM3 потерян: устройство отключено (lost)", "Порт COM3 снова открыт"}));
  line.Notice = nullptr;
}

TEST_F(ExchangeTest, TraceShowsRequestsAnswersAndRejections) {
  QStringList trace;
  Current().Line().Trace = [&trace](const QString& line) { trace << line; };
  Script({[](const QByteArray& req) -> std::vector<TChunk> {
            QByteArray a = IntAnswer(req, 7);
            a[6] = 0x55;
            return {{a, 0}};
          },
          [](const QByteArray&) -> std::vector<TChunk> { return {}; },
          [](const QByteArray& req) -> std::vector<TChunk> {
            return {{IntAnswer(req, 7), 0}};
          }});
  reg->StringData(Line());
  ASSERT_EQ(trace.size(), 7);
  EXPECT_EQ(trace[0], "> 00 01 02 00 D1");
  EXPECT_TRUE(trace[1].startsWith("< 00 01 02 00 44"));
  EXPECT_EQ(trace[2], "! crc");
  EXPECT_EQ(trace[3], "> 00 01 02 00 D1");
  EXPECT_EQ(trace[4], "! timeout");
  EXPECT_EQ(trace[5], "> 00 01 02 00 D1");
  EXPECT_TRUE(trace[6].startsWith("< 00 01 02 00 44 07 00"));
}

}  // namespace
}  // namespace vexa::test
