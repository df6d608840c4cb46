// The program's own port, exchange and registers against a scripted device on the other end of a
// real pseudo-terminal: retries, rejections and bad input on the line, with real timing.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "storage/DeviceSearch.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// What the device does with one request: chunks of bytes, each after a pause in milliseconds.
using TReply = std::vector<std::pair<QByteArray, int>>;
using TBehaviour = std::function<TReply(const QByteArray& request)>;

// The far end of a pseudo-terminal, answering every complete request frame by the behaviour given.
class TPtyDevice {
 public:
  TPtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    grantpt(master_);
    unlockpt(master_);
    path_ = QString::fromLocal8Bit(ptsname(master_));
    thread_ = std::thread([this] { Run(); });
  }
  ~TPtyDevice() {
    stop_ = true;
    thread_.join();
    close(master_);
  }
  const QString& Path() const { return path_; }
  void Behave(TBehaviour b) {
    std::lock_guard<std::mutex> g(lock_);
    behaviour_ = std::move(b);
  }
  // Requests seen so far, once the count has reached `atLeast` or a second has passed (the device
  // thread may lag behind on a busy machine).
  int Requests(int atLeast = 0) const {
    for (int i = 0; i < 100 && requests_ < atLeast; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return requests_;
  }
  // Requests that arrived while the device still owed an answer: exchanges overlapping on the line.
  int Overlaps() const { return overlaps_; }

 private:
  // Requests are 5 bytes (read) or 6 + data bytes (write; the data size follows from the type byte).
  static int FrameLength(const QByteArray& b) {
    if (b.size() < 4) return -1;
    if (b[3] == 0) return 5;
    if (b.size() < 5) return -1;
    const int code = b[4] & 0x0F;
    if (code <= rtDOUBLE) return RegisterTypeSizes[static_cast<size_t>(code)] + 6;
    const int zero = b.indexOf('\0', 5);
    return zero < 0 ? -1 : zero + 2;
  }
  void Run() {
    QByteArray pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      pending.append(buf, static_cast<int>(n));
      for (int len = FrameLength(pending); len > 0 && pending.size() >= len; len = FrameLength(pending)) {
        const QByteArray request = pending.left(len);
        pending.remove(0, len);
        ++requests_;
        TBehaviour b;
        {
          std::lock_guard<std::mutex> g(lock_);
          b = behaviour_;
        }
        if (!b) continue;
        for (const auto& [bytes, pause] : b(request)) {
          if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
          // Anything arriving before the answer went out is a request over another exchange.
          pollfd early{master_, POLLIN, 0};
          if (!pending.isEmpty() || poll(&early, 1, 0) > 0) ++overlaps_;
          if (!bytes.isEmpty()) (void)!write(master_, bytes.constData(), static_cast<size_t>(bytes.size()));
        }
      }
    }
  }

  int master_ = -1;
  QString path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> overlaps_{0};
  std::mutex lock_;
  TBehaviour behaviour_;
};

QByteArray IntAnswer(const QByteArray& req, int value, int type = rtINT) {
  QByteArray data;
  for (int i = 0; i < RegisterTypeSizes[static_cast<size_t>(type)]; ++i)
    data.append(char((value >> (8 * i)) & 0xFF));
  return SealFrame(req.left(4) + char(0xC0 | type) + data);
}

// A device that answers each register read with the given value, and acknowledges writes.
TBehaviour Healthy(int value = 123, int type = rtINT) {
  return [value, type](const QByteArray& req) -> TReply {
    if (req[3] == 1) return {{SealFrame(req.left(4)), 1}};
    return {{IntAnswer(req, value, type), 1}};
  };
}

// The first `bad` requests get `fault`, the rest a healthy answer.
TBehaviour FirstThen(int bad, TBehaviour fault, TBehaviour then = Healthy()) {
  auto count = std::make_shared<int>(0);
  return [=](const QByteArray& req) { return (*count)++ < bad ? fault(req) : then(req); };
}

class LineTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Services().Clock = std::make_unique<TClock>();  // the real line needs real time
    ReplaceNetwork(std::make_unique<TComm>(Current().Dir()));
    Current().Line().Port()->SetDeviceName(device.Path());
    Current().Line().Port()->Open();
    EXPECT_NO_FAULTS(Current().SetBaudRateIndex(3));
    reg = new TRegisterNode(Net().get());
    reg->SetName("D001C002R003");
  }
  TPtyDevice device;
  TRegisterNode* reg = nullptr;
};

TEST_F(LineTest, ReadLearnsTheTypeAndWriteSendsTheValue) {
  QByteArray lastWrite;
  std::mutex m;
  device.Behave([&](const QByteArray& req) -> TReply {
    if (req[3] == 1) {
      std::lock_guard<std::mutex> g(m);
      lastWrite = req;
      return {{SealFrame(req.left(4)), 1}};
    }
    return {{IntAnswer(req, 2500), 1}};
  });
  reg->SetDigits(1);
  EXPECT_EQ(reg->StringData(Line()), "250,0");
  EXPECT_EQ(reg->RegisterType(), rtINT);
  EXPECT_TRUE(reg->UserCanWRITE());
  reg->SetStringData(Line(), "12,5");
  EXPECT_EQ(reg->LastIOResult(), iorOK);
  std::lock_guard<std::mutex> g(m);
  EXPECT_EQ(lastWrite, SealFrame(QByteArray::fromHex("010203 01 C4 7D00")));
}

TEST_F(LineTest, OneBadAnswerIsRetried) {
  const TBehaviour dropped = [](const QByteArray&) -> TReply { return {}; };
  const TBehaviour garbled = [](const QByteArray& req) -> TReply {
    QByteArray a = IntAnswer(req, 123);
    a[5] = static_cast<char>(a[5] ^ 0x10);
    return {{a, 1}};
  };
  const TBehaviour split = [](const QByteArray& req) -> TReply {
    const QByteArray a = IntAnswer(req, 123);
    return {{a.left(3), 1}, {a.mid(3), 40}};
  };
  for (const TBehaviour& fault : {dropped, garbled}) {
    const int before = device.Requests();
    device.Behave(FirstThen(1, fault));
    EXPECT_EQ(reg->StringData(Line()), "123");
    EXPECT_EQ(device.Requests(before + 2) - before, 2);
  }
  // The tail of a split answer comes after the first attempt has read; it may spoil the second
  // attempt too (it arrives after that attempt's purge), so the third one reads the value.
  const int before = device.Requests();
  device.Behave(FirstThen(1, split));
  EXPECT_EQ(reg->StringData(Line()), "123");
  EXPECT_LE(device.Requests() - before, 3);
}

TEST_F(LineTest, ThreeDroppedAnswersFailAndTheNextReadWorks) {
  device.Behave(FirstThen(3, [](const QByteArray&) -> TReply { return {}; }));
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_EQ(device.Requests(3), 3);
  EXPECT_EQ(reg->StringData(Line()), "123");
}

TEST_F(LineTest, AnswerOfTheWrongTypeIsRejected) {
  reg->SetRegisterType(rtINT);
  device.Behave(Healthy(5, rtLONG));
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_EQ(device.Requests(3), 3);
  EXPECT_EQ(reg->RegisterType(), rtINT);
}

TEST_F(LineTest, BadInputOnTheLineNeverHangsOrCrashes) {
  const TBehaviour noise = [](const QByteArray& req) -> TReply {
    return {{QByteArray::fromHex("FF00A5"), 1}, {IntAnswer(req, 9), 0}};
  };
  const TBehaviour otherAddress = [](const QByteArray& req) -> TReply {
    QByteArray other = req;
    other[0] = 7;
    return {{IntAnswer(other, 9), 1}};
  };
  const TBehaviour burst = [](const QByteArray& req) -> TReply {
    return {{IntAnswer(req, 9) + QByteArray(120, '\x55'), 1}};
  };
  const TBehaviour noiseBetween = [](const QByteArray& req) -> TReply {
    return {{IntAnswer(req, 9), 1}, {QByteArray(7, '\x13'), 20}};  // after the answer was taken
  };
  const std::vector<std::pair<TBehaviour, QString>> cases = {
      {noise, "***"}, {otherAddress, "***"}, {burst, "***"}, {noiseBetween, "9"}};
  for (const auto& [bad, expected] : cases) {
    device.Behave(bad);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(reg->StringData(Line()), expected);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    device.Behave(Healthy());
    EXPECT_EQ(reg->StringData(Line()), "123");  // the leftovers were purged
  }
}

TEST_F(LineTest, PortsThatCannotBeUsed) {
  TComm missing;
  missing.SetDeviceName(Dir->filePath("no-such-tty"));
  try {
    missing.Open();
    FAIL();
  } catch (const ECommError& e) {
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_EQ(e.Text(), "Error accessing specified device");
  }
  // Held by this process: another process cannot take it and says so at once.
  QProcess cli;
  cli.start(QStringLiteral(VEXA_CLI_PATH),
            {"--dir", Dir->path(), "--port", device.Path(), "read", "D001C002R003"});
  ASSERT_TRUE(cli.waitForFinished(5000));
  EXPECT_EQ(cli.exitCode(), 2);
  const QString err = QString::fromUtf8(cli.readAllStandardError());
  EXPECT_TRUE(err.contains(QStringLiteral("не могу открыть порт"))) << err.toStdString();
  // In words, not the port's own "Error accessing specified device (Error: 11)".
  EXPECT_TRUE(err.contains(QStringLiteral("порт занят другой программой"))) << err.toStdString();
  EXPECT_FALSE(err.contains("Error")) << err.toStdString();
}

TEST_F(LineTest, CliReadsAndWritesThroughAPort) {
  Current().Line().Port()->Close();  // leave the device to the command-line tool
  device.Behave(Healthy(77));
  QProcess cli;
  cli.start(QStringLiteral(VEXA_CLI_PATH),
            {"--dir", Dir->path(), "--port", device.Path(), "--baud", "115200", "read", "D001C002R003"});
  ASSERT_TRUE(cli.waitForFinished(5000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  EXPECT_EQ(cli.readAllStandardOutput(), "77\n");
  cli.start(QStringLiteral(VEXA_CLI_PATH), {"--port", device.Path(), "write", "D001C002R003", "5"});
  ASSERT_TRUE(cli.waitForFinished(5000));
  EXPECT_EQ(cli.exitCode(), 0);
  cli.start(QStringLiteral(VEXA_CLI_PATH),
            {"--port", device.Path(), "--baud", "1200", "read", "D001C002R003"});
  ASSERT_TRUE(cli.waitForFinished(5000));
  EXPECT_EQ(cli.exitCode(), 2);  // a speed the settings do not offer
}

// The poller reads on its own thread while the main thread uses the same line.
class LinePollerTest : public LineTest {
 protected:
  void SetUp() override {
    LineTest::SetUp();
    Current().AutoSave = nullptr;
    reg->SetEnabled(true);
    reg->SetLoggingInterval(1);
  }
  void TearDown() override {
    Current().StopPoller();
    LineTest::TearDown();
  }
  // Starts the poller on a silent device and returns once its first request is on the line: a read
  // of three attempts is in flight.
  void StartSlowRead() {
    device.Behave([](const QByteArray&) -> TReply { return {}; });
    Current().StartPoller();
    ASSERT_TRUE(RunEventsUntil([this] { return device.Requests() > 0; }, 5000));
  }
};

TEST_F(LinePollerTest, WritesFromTheMainThreadWaitForThePollersExchanges) {
  // Five registers read on every pass, a setpoint written from the main thread meanwhile; the
  // device takes its time to answer, so a request over another exchange would be seen.
  reg->SetLoggingInterval(0);
  for (int r = 1; r <= 4; ++r) {
    auto* other = new TRegisterNode(Net().get());
    other->SetName(TCustomRegister::RegisterName(1, 1, r));
    other->SetLoggingInterval(0);
    other->SetEnabled(true);
  }
  TRegisterNode setpoint(nullptr);
  setpoint.SetName("D001C003R001");
  setpoint.SetRegisterType(rtINT);
  setpoint.SetUserCanWRITE(true);
  device.Behave([](const QByteArray& req) -> TReply {
    if (req[3] == 1) return {{SealFrame(req.left(4)), 8}};
    return {{IntAnswer(req, 42), 8}};
  });

  int writes = 0;
  int failedWrites = 0;
  int reads = 0;
  int failedReads = 0;
  Current().StartPoller();
  Current().Executer()->OnRefreshed = [&](TCustomRegister& r) {
    if (writes == 0) return;
    ++reads;
    if (r.LastIOResult() != iorOK || r.LastStringData() != "42") ++failedReads;
  };
  // A write, then a pause for the poller, and again.
  QTimer writer;
  writer.setSingleShot(true);
  QObject::connect(&writer, &QTimer::timeout, [&] {
    setpoint.SetStringData(Line(), QString::number(writes));
    ++writes;
    if (setpoint.LastIOResult() != iorOK) ++failedWrites;
    if (writes < 15) writer.start(40);
  });
  writer.start(40);
  ASSERT_TRUE(RunEventsUntil([&] { return writes == 15; }, 30'000));
  Current().StopPoller();

  EXPECT_EQ(failedWrites, 0);
  EXPECT_GE(reads, 10) << "the poller hardly read while the main thread wrote";
  EXPECT_EQ(failedReads, 0);
  EXPECT_EQ(device.Overlaps(), 0) << "exchanges overlapped on the line";
}

TEST_F(LinePollerTest, ShutdownDuringASlowReadStoresItOnceWhenThePollerIsStopped) {
  int refreshed = 0;
  StartSlowRead();
  Current().Executer()->OnRefreshed = [&refreshed](TCustomRegister&) { ++refreshed; };
  QElapsedTimer timer;
  timer.start();
  Current().TerminatePoller();  // the main window's close
  RunEventsFor(400);            // the read ends meanwhile; no call brings it to the main thread
  EXPECT_EQ(refreshed, 0);
  EXPECT_EQ(reg->Count(), 0);
  Current().StopPoller();  // before the trees go: the finished read is stored on this thread
  EXPECT_LT(timer.elapsed(), 1500);
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(reg->DataList(), QStringList({"***"}));
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  RunEventsFor(200);
  EXPECT_EQ(reg->Count(), 1);
  // The exchange itself was left to end whole.
  EXPECT_EQ(device.Requests(3), 3);
}

TEST_F(LinePollerTest, ARestoreOrASearchDuringASlowReadReplacesTheTree) {
  ASSERT_TRUE(QDir(Dir->path()).mkpath("Config"));
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  const std::vector<std::pair<const char*, std::function<void()>>> replacements = {
      {"restore", [this] { LoadNetworkState(Current()); }},
      {"search",
       [this] {
         TDeviceSearch search(Current());
         int idle = 0;
         search.OnIdle = [&] {
           if (++idle == 2) search.Stop();  // after address 0, silent
         };
         search.Run(smAfresh);
       }},
  };
  for (const auto& [name, replace] : replacements) {
    SCOPED_TRACE(name);
    StartSlowRead();
    QElapsedTimer timer;
    timer.start();
    replace();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(Current().PollerRunning());
    EXPECT_TRUE(Messages->Shown.empty());
    RunEventsFor(300);
    Current().StopPoller();
  }
  // The restored tree is polled as before.
  LoadNetworkState(Current());
  auto* restored = dynamic_cast<TRegisterNode*>(FindNode(Net().get(), "D001C002R003"));
  ASSERT_NE(restored, nullptr);
  device.Behave(Healthy(55));
  EXPECT_TRUE(RunEventsUntil([&] { return restored->LastStringData() == "55"; }, 5000));
}

TEST_F(LinePollerTest, APortChangeDuringASlowReadLetsItEndOnTheOldPort) {
  TPtyDevice other;
  other.Behave(Healthy(66));
  ASSERT_TRUE(QDir(Dir->path()).mkpath("Ports"));
  ASSERT_TRUE(QFile::link(other.Path(), Dir->filePath("Ports/COM2")));
  StartSlowRead();
  EXPECT_NO_FAULTS(Current().SetPortIndex(1));
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join(" | ").toStdString();
  EXPECT_EQ(Current().Line().Port()->DeviceName(), "COM2");
  EXPECT_EQ(device.Requests(3), 3) << "the read in flight was cut short";
  EXPECT_TRUE(RunEventsUntil([this] { return reg->LastStringData() == "66"; }, 5000));
  EXPECT_EQ(device.Requests(), 3);
}

}  // namespace
}  // namespace vexa::test
