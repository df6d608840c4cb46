// vexa-sim as a program: started with a link in a temporary folder, talked to through TComm with raw
// frames, and once through the program's own exchange.

#include <gtest/gtest.h>
#include <signal.h>

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "core/Comm.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/Protocol.h"
#include "core/Services.h"
#include "support/TestSupport.h"

namespace vexa {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QByteArray Frame(std::initializer_list<int> bytes) {
  QByteArray b;
  for (int v : bytes) b.append(static_cast<char>(v));
  return b;
}

QByteArray Seal(const QByteArray& bytes) {
  TRegisterFrame f;
  f.Length = static_cast<int32_t>(bytes.size());
  std::memcpy(f.Data, bytes.constData(), static_cast<size_t>(bytes.size()));
  ApplyCrc(f);
  return QByteArray(reinterpret_cast<const char*>(f.Data), f.Length);
}

bool CrcValid(const QByteArray& answer) {
  if (answer.size() < 5 || answer.size() > kFrameSize) return false;
  TRegisterFrame f;
  std::memcpy(f.Data, answer.constData(), static_cast<size_t>(answer.size()));
  f.Length = static_cast<int32_t>(answer.size()) - 1;
  return ApplyCrc(f);
}

QByteArray ReadRequest(int a, int c, int r) {
  return Seal(Frame({a, c, r, 0}));
}

QByteArray WriteRequest(int a, int c, int r, int typeByte, const QByteArray& data) {
  return Seal(Frame({a, c, r, 1, typeByte}) + data);
}

// A running vexa-sim with its link in a temporary folder.
class TSim {
 public:
  explicit TSim(const QStringList& extra = {}) {
    link_ = dir_.filePath(QStringLiteral("line"));
    process_.setProgram(QStringLiteral(VEXA_SIM_PATH));
    process_.setArguments(
        QStringList{QStringLiteral("--link"), link_, QStringLiteral("--seed"), QStringLiteral("7")} + extra);
    process_.start();
    EXPECT_TRUE(process_.waitForStarted(3000));
    const auto t0 = Clock::now();
    while (!QFileInfo::exists(link_) && MsSince(t0) < 3000) SleepMs(2);
    EXPECT_TRUE(QFileInfo::exists(link_)) << process_.readAllStandardError().toStdString();
  }
  ~TSim() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(3000);
    }
  }
  const QString& Link() const { return link_; }
  QProcess& Process() { return process_; }

 private:
  QTemporaryDir dir_;
  QString link_;
  QProcess process_;
};

// Length of the answer frame that begins with `b`, from its command and type byte; 0 while the
// bytes so far cannot tell.
int AnswerLength(const QByteArray& b) {
  if (b.size() < 4) return 0;
  if (b[3] == 1) return 5;
  if (b.size() < 5) return 0;
  const int code = b[4] & 0x0F;
  if (code <= rtDOUBLE) return RegisterTypeSizes[static_cast<size_t>(code)] + 6;
  if (code != rtASCIIZ) return static_cast<int>(b.size());
  const qsizetype zero = b.indexOf('\0', 5);
  if (zero >= 0) return static_cast<int>(zero) + 2;
  return b.size() >= kMaxAnswerBytes ? kMaxAnswerBytes : 0;
}

// The port on the simulator's line. Answers are collected by their framing rather than by timing,
// so a busy machine makes the tests slower, not wrong.
class TLine {
 public:
  explicit TLine(const TSim& sim) {
    port_.SetDeviceName(sim.Link());
    port_.SetBaudRate(br19200);
    port_.Open();
  }
  TComm& Port() { return port_; }

  void Send(const QByteArray& bytes) {
    port_.PurgeIn();
    ASSERT_EQ(
        port_.Write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size())),
        bytes.size());
  }
  // Everything that has arrived.
  QByteArray Take() {
    const int count = port_.InQueCount();
    QByteArray got(count, '\0');
    if (count > 0) got.resize(port_.Read(reinterpret_cast<uint8_t*>(got.data()), count));
    return got;
  }
  // One whole answer frame, or what came within `waitMs`.
  QByteArray Answer(int waitMs = 2000) {
    QByteArray got;
    const auto t0 = Clock::now();
    while (MsSince(t0) < waitMs) {
      got += Take();
      const int length = AnswerLength(got);
      if (length > 0 && got.size() >= length) break;
      SleepMs(1);
    }
    return got;
  }
  // What arrives within `ms`: for requests that must get no answer, or answers too damaged to frame.
  QByteArray Drain(int ms) {
    SleepMs(ms);
    return Take();
  }
  QByteArray Exchange(const QByteArray& request) {
    Send(request);
    return Answer();
  }
  QByteArray Unanswered(const QByteArray& request) {
    Send(request);
    return Drain(100);
  }

 private:
  TComm port_;
};

class SimTest : public ::testing::Test {
 protected:
  TSim sim;
  TLine line{sim};
};

TEST_F(SimTest, DescriptorsNameBothRegulatorsAndNothingElseAnswers) {
  for (int c = 0; c < 6; ++c)
    EXPECT_EQ(line.Exchange(ReadRequest(0, c, 0)), Seal(Frame({0, c, 0, 0, 0x42, 0})));
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(line.Exchange(ReadRequest(1, c, 0)), Seal(Frame({1, c, 0, 0, 0x42, 1})));
  EXPECT_TRUE(line.Unanswered(ReadRequest(0, 6, 0)).isEmpty());
  EXPECT_TRUE(line.Unanswered(ReadRequest(1, 3, 0)).isEmpty());
  EXPECT_TRUE(line.Unanswered(ReadRequest(2, 0, 0)).isEmpty());
  EXPECT_TRUE(line.Unanswered(ReadRequest(0, 0, 9)).isEmpty());  // no such register
  EXPECT_TRUE(line.Unanswered(WriteRequest(0, 0, 0, 0xC2, Frame({5}))).isEmpty());
}

TEST_F(SimTest, EveryRegisterAnswersWithItsTypeRightsAndLength) {
  struct TExpect {
    int A, R, Code;
    bool Writable;
  };
  const TExpect table[] = {
      {0, 1, rtINT, false},   {0, 2, rtINT, true},    {0, 3, rtFLOAT, false},  {0, 4, rtBOOL, false},
      {0, 5, rtUBYTE, true},  {0, 6, rtULONG, false}, {0, 7, rtDOUBLE, true},  {0, 8, rtASCIIZ, false},
      {1, 1, rtINT, false},   {1, 2, rtINT, true},    {1, 3, rtFLOAT, false},  {1, 4, rtBOOL, true},
      {1, 5, rtBYTE, true},   {1, 6, rtUINT, false},  {1, 7, rtDOUBLE, false}, {1, 8, rtLONG, false},
      {1, 9, rtASCIIZ, true},
  };
  std::set<int> codes;
  for (const TExpect& e : table) {
    SCOPED_TRACE(testing::Message() << "address " << e.A << " register " << e.R);
    const QByteArray answer = line.Exchange(ReadRequest(e.A, 1, e.R));
    ASSERT_TRUE(CrcValid(answer));
    EXPECT_EQ(answer.left(4), Frame({e.A, 1, e.R, 0}));
    const auto typeByte = static_cast<uint8_t>(answer[4]);
    EXPECT_EQ(typeByte & 0x0F, e.Code);
    EXPECT_EQ(typeByte & 0xF0, e.Writable ? 0xC0 : 0x40);
    if (e.Code == rtASCIIZ) {
      EXPECT_EQ(answer.at(answer.size() - 2), '\0');  // the text ends in its zero
      EXPECT_LE(answer.size(), kMaxAnswerBytes);
    } else {
      EXPECT_EQ(answer.size(), RegisterTypeSizes[static_cast<size_t>(e.Code)] + 6);
    }
    codes.insert(e.Code);
  }
  EXPECT_EQ(codes.size(), 10u);  // every value type is on the line
  EXPECT_TRUE(line.Unanswered(ReadRequest(0, 0, 9)).isEmpty());
  EXPECT_TRUE(line.Unanswered(ReadRequest(1, 0, 10)).isEmpty());

  for (int r : {8, 9}) {
    const QByteArray text = line.Exchange(ReadRequest(r == 8 ? 0 : 1, 2, r));
    EXPECT_EQ(text.size(), 18);
    EXPECT_TRUE(text.mid(5).startsWith("12345.6789"));
  }
}

TEST_F(SimTest, RegistersWanderInsideTheirBand) {
  int previous = -1;
  float previousF = -1;
  for (int i = 0; i < 25; ++i) {
    const QByteArray word = line.Exchange(ReadRequest(0, 3, 1));  // rtINT at address 0: 301..399
    ASSERT_EQ(word.size(), 8);
    int16_t v = 0;
    std::memcpy(&v, word.constData() + 5, 2);
    EXPECT_GT(v, 300);
    EXPECT_LT(v, 400);
    if (previous >= 0) {
      EXPECT_LE(std::abs(v - previous), 1);
    }
    previous = v;

    const QByteArray real = line.Exchange(ReadRequest(1, 0, 3));  // rtFLOAT: 21..29, a unit a read
    ASSERT_EQ(real.size(), 10);
    float f = 0;
    std::memcpy(&f, real.constData() + 5, 4);
    EXPECT_GE(f, 20.0f);
    EXPECT_LE(f, 30.0f);
    if (previousF >= 0) {
      EXPECT_LE(std::abs(f - previousF), 1.0f);
    }
    previousF = f;
  }
  // Address 1 is in the middle band.
  const QByteArray other = line.Exchange(ReadRequest(1, 0, 1));
  int16_t v = 0;
  std::memcpy(&v, other.constData() + 5, 2);
  EXPECT_GT(v, 200);
  EXPECT_LT(v, 300);
}

// A setpoint keeps the value written, as the built-in simulator's does, also outside the band of
// the measured values.
TEST_F(SimTest, WrittenSetpointsKeepTheirValueAndWrongWritesAreRefused) {
  const auto raw16 = [](const QByteArray& answer) {
    int16_t v = 0;
    std::memcpy(&v, answer.constData() + 5, 2);
    return v;
  };
  const int16_t written = 380;
  const QByteArray data(reinterpret_cast<const char*>(&written), 2);
  EXPECT_EQ(line.Exchange(WriteRequest(0, 5, 2, 0xC0 | rtINT, data)), Seal(Frame({0, 5, 2, 1})));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(raw16(line.Exchange(ReadRequest(0, 5, 2))), 380) << "read " << i;
  // Other channels keep their own value: a first read answers the band's start.
  EXPECT_EQ(raw16(line.Exchange(ReadRequest(0, 4, 2))), 350);
  const int16_t outside = 1234;
  EXPECT_EQ(line.Exchange(WriteRequest(0, 5, 2, 0xC0 | rtINT,
                                       QByteArray(reinterpret_cast<const char*>(&outside), 2)))
                .size(),
            5);
  EXPECT_EQ(raw16(line.Exchange(ReadRequest(0, 5, 2))), 1234);

  const double d = 25.5;
  const QByteArray dd(reinterpret_cast<const char*>(&d), 8);
  EXPECT_EQ(line.Exchange(WriteRequest(0, 0, 7, 0xC0 | rtDOUBLE, dd)).size(), 5);
  double back = 0;
  std::memcpy(&back, line.Exchange(ReadRequest(0, 0, 7)).constData() + 5, 8);
  EXPECT_EQ(back, 25.5);

  // A text register takes the longest text and answers its own text all the same.
  const QByteArray longest(31, 'x');
  EXPECT_EQ(line.Exchange(WriteRequest(1, 1, 9, 0xC0 | rtASCIIZ, longest + '\0')).size(), 5);
  EXPECT_TRUE(line.Exchange(ReadRequest(1, 1, 9)).mid(5).startsWith("12345.6789"));
  EXPECT_TRUE(line.Unanswered(WriteRequest(1, 1, 9, 0xC0 | rtASCIIZ, longest + 'x' + '\0')).isEmpty());

  EXPECT_TRUE(line.Unanswered(WriteRequest(0, 0, 1, 0xC0 | rtINT, data)).isEmpty());   // read-only
  EXPECT_TRUE(line.Unanswered(WriteRequest(0, 0, 2, 0xC0 | rtUINT, data)).isEmpty());  // wrong type
  EXPECT_EQ(raw16(line.Exchange(ReadRequest(0, 0, 2))), 350);                          // and nothing moved it
}

// Bytes that cannot start a request, a torn request and a bad CRC are skipped; the request after
// them is answered.
TEST_F(SimTest, NoiseBeforeARequestIsSkipped) {
  const QByteArray good = ReadRequest(1, 0, 0);
  QByteArray badCrc = good;
  badCrc[4] = static_cast<char>(badCrc[4] ^ 0x01);
  const QByteArray noise = Frame({0xFF, 0x13, 0x00}) + badCrc + WriteRequest(0, 0, 7, 0xC8, {}).left(7);
  EXPECT_EQ(line.Exchange(noise + good), Seal(Frame({1, 0, 0, 0, 0x42, 1})));
  EXPECT_EQ(line.Exchange(good), Seal(Frame({1, 0, 0, 0, 0x42, 1})));
}

TEST(SimFaults, AnswersArePacedAtTheLineSpeedAfterTheDelay) {
  TSim sim(
      {QStringLiteral("--baud"), QStringLiteral("2400"), QStringLiteral("--delay"), QStringLiteral("40")});
  TLine line(sim);
  // 5 request bytes + 14 answer bytes at 4.17 ms, the 1 ms turnaround and 40 ms: about 120 ms.
  const auto t0 = Clock::now();
  line.Send(ReadRequest(0, 0, 7));
  std::set<int> partial;
  int count = 0;
  while (count < 14 && MsSince(t0) < 1000) {
    SleepMs(1);
    count = line.Port().InQueCount();
    if (count > 0 && count < 14) partial.insert(count);
  }
  const int64_t ms = MsSince(t0);
  EXPECT_EQ(count, 14);
  EXPECT_GE(ms, 115);
  EXPECT_LT(ms, 600);
  EXPECT_GE(partial.size(), 2u) << "the answer arrived in one piece";
}

TEST(SimFaults, DropOneSendsNothing) {
  TSim sim({QStringLiteral("--drop"), QStringLiteral("1")});
  TLine line(sim);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(line.Unanswered(ReadRequest(0, 0, 0)).isEmpty());
}

TEST(SimFaults, GarbleOneBreaksTheCrcOfEveryAnswer) {
  TSim sim({QStringLiteral("--garble"), QStringLiteral("1")});
  TLine line(sim);
  for (int r : {0, 3, 7, 8}) {
    line.Send(ReadRequest(0, 0, r));
    const QByteArray answer = line.Drain(150);  // a changed command or type byte would misframe it
    EXPECT_GE(answer.size(), 7);
    EXPECT_FALSE(CrcValid(answer)) << r;
  }
}

TEST(SimFaults, SplitOneLeavesAGapInsideTheAnswer) {
  TSim sim({QStringLiteral("--split"), QStringLiteral("1")});
  TLine line(sim);
  // A busy machine may keep this thread off the processor across the whole gap, so a few answers
  // are watched; one clear gap is enough.
  int64_t longestStill = 0;
  for (int attempt = 0; attempt < 3 && longestStill < 20; ++attempt) {
    line.Send(ReadRequest(0, 0, 7));
    int count = 0;
    auto since = Clock::now();
    const auto t0 = Clock::now();
    while (count < 14 && MsSince(t0) < 2000) {
      SleepMs(1);
      const int now = line.Port().InQueCount();
      if (now != count) {
        if (count > 0) longestStill = std::max(longestStill, MsSince(since));
        count = now;
        since = Clock::now();
      }
    }
    EXPECT_EQ(count, 14);
    EXPECT_TRUE(CrcValid(line.Take()));
  }
  EXPECT_GE(longestStill, 20);
}

// The program's own exchange over TComm: a register learns its type from vexa-sim, writes, reads
// back, and a split answer fails as a torn frame.
class SimExchangeTest : public test::TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Settings()->SetDemo(false);
    auto port = std::make_unique<TComm>(Current().Dir());
    port->SetBaudRate(br19200);
    port->SetDeviceName(sim->Link());
    port->Open();
    ReplaceNetwork(std::move(port));                // the fake port goes before the fake clock it refers to
    Services().Clock = std::make_unique<TClock>();  // the line runs in real time
  }
  void Restart(const QStringList& args) {
    Current().Line().Port()->Close();
    sim = std::make_unique<TSim>(args);
    Current().Line().Port()->SetDeviceName(sim->Link());
    Current().Line().Port()->Open();
  }

  std::unique_ptr<TSim> sim = std::make_unique<TSim>();
};

TEST_F(SimExchangeTest, RegistersReadAndWriteThroughTheRealLine) {
  TCustomRegister temperature(nullptr);
  temperature.SetName(TCustomRegister::RegisterName(0, 1, 1));
  temperature.SetDigits(1);
  const QString shown = temperature.StringData(Line());
  EXPECT_EQ(temperature.LastIOResult(), iorOK) << shown.toStdString();
  EXPECT_EQ(temperature.RegisterType(), rtINT);
  EXPECT_FALSE(temperature.UserCanWRITE());
  EXPECT_EQ(shown, "35,0");

  TCustomRegister setpoint(nullptr);
  setpoint.SetName(TCustomRegister::RegisterName(0, 2, 7));
  setpoint.StringData(Line());
  ASSERT_EQ(setpoint.RegisterType(), rtDOUBLE);
  ASSERT_TRUE(setpoint.UserCanWRITE());
  setpoint.SetDigits(2);
  setpoint.SetStringData(Line(), QStringLiteral("25,25"));
  EXPECT_EQ(setpoint.LastIOResult(), iorOK);
  const std::optional<double> back = StrToFloat(setpoint.StringData(Line()));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, 25.25) << "a setpoint keeps what was written";

  TCustomRegister missing(nullptr);
  missing.SetName(TCustomRegister::RegisterName(2, 0, 0));
  EXPECT_EQ(missing.StringData(Line()), kFailedText);
}

TEST_F(SimExchangeTest, ASplitAnswerFailsEveryAttempt) {
  Restart({QStringLiteral("--split"), QStringLiteral("1")});
  TCustomRegister reg(nullptr);
  reg.SetName(TCustomRegister::RegisterName(0, 0, 7));
  QStringList trace;
  Current().Line().Trace = [&trace](const QString& line) { trace << line; };
  EXPECT_EQ(reg.StringData(Line()), kFailedText);
  // Each attempt reads the head when the count stops growing; the tail is purged by the next one.
  EXPECT_GE(trace.filter(QStringLiteral("! crc")).size(), 1) << trace.join(QLatin1Char('\n')).toStdString();
}

TEST(SimProcess, EndsOnSigtermAndSigintAndRemovesItsLink) {
  for (const int sig : {SIGTERM, SIGINT}) {
    TSim sim;
    TLine line(sim);
    ASSERT_EQ(line.Exchange(ReadRequest(0, 0, 0)).size(), 7);
    ::kill(static_cast<pid_t>(sim.Process().processId()), sig);
    ASSERT_TRUE(sim.Process().waitForFinished(3000));
    EXPECT_EQ(sim.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.Process().exitCode(), 0);
    EXPECT_FALSE(QFileInfo(sim.Link()).isSymLink());
  }
}

TEST(SimProcess, RefusesToReplaceAFileThatIsNotALink) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("precious"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("keep");
  file.close();
  QProcess p;
  p.start(QStringLiteral(VEXA_SIM_PATH), {QStringLiteral("--link"), path});
  ASSERT_TRUE(p.waitForFinished(3000));
  EXPECT_EQ(p.exitCode(), 1);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "keep");
}

}  // namespace
}  // namespace vexa
