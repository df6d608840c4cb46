#pragma once
// Shared test doubles: a clock that advances only when slept on, scripted operator messages and a
// scripted serial port whose answers arrive at chosen times of that clock.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/CustomComm.h"
#include "core/Frame.h"
#include "core/Network.h"
#include "core/Services.h"
#include "core/TextList.h"

// A step that must not fail: its faults, if any, fail the test with their texts.
#define EXPECT_NO_FAULTS(expr) EXPECT_EQ((expr).Texts(), QStringList())

// Readable failure messages for Qt values.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) {
  *os << b.toHex(' ').toStdString();
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << '[' << l.join(", ").toStdString() << ']';
}
namespace vexa {
class TComponent;
inline void PrintTo(const TTextList& l, std::ostream* os) {
  ::PrintTo(l.ToStringList(), os);
}
}  // namespace vexa

namespace vexa::test {

// Bytes written as numbers, as frames are read in the protocol's description.
inline QByteArray Bytes(std::initializer_list<int> b) {
  QByteArray out;
  for (int v : b) out.append(static_cast<char>(v));
  return out;
}

// Wall time and a monotonic tick, both moving only when slept on or set. Setting the time moves the
// tick by as much, forward or back, so that the two stay together as on a clock that ran (or is
// replayed) there; StepWall steps the wall time alone, as the system clock's steps do.
class TFakeClock : public TClock {
 public:
  double Now() const override { return now_ + static_cast<double>(tick_ - wallTick_) / 86400000.0; }
  int64_t TickMs() const override { return tick_; }
  void Sleep(int ms) override {
    if (ms > 0) tick_ += ms;
    slept_ += ms;
  }
  void SetNow(double dateTime) {
    tick_ += std::llround((dateTime - Now()) * 86400000.0);
    now_ = dateTime;
    wallTick_ = tick_;
  }
  void Advance(int64_t ms) { tick_ += ms; }
  // The wall clock alone set on by `seconds` (back when negative), the tick left where it is: a
  // step of the system clock, summer time's end or start, a change of the zone.
  void StepWall(double seconds) { now_ += seconds / 86400.0; }
  void AdvanceSeconds(double s) { tick_ += static_cast<int64_t>(s * 1000); }
  int64_t Slept() const { return slept_; }
  void ResetSlept() { slept_ = 0; }

 private:
  double now_ = 46363.5;  // 07.12.2026 12:00:00
  int64_t tick_ = 0;
  int64_t wallTick_ = 0;  // the tick at which the wall time was now_
  int64_t slept_ = 0;
};

// The system clock for the scope, the fixture's own kept aside (its scripted port keeps its time):
// the line's writer then runs writes on its own thread, as in the program.
class TSystemClockScope {
 public:
  TSystemClockScope() : kept_(std::exchange(Services().Clock, std::make_unique<TClock>())) {}
  ~TSystemClockScope() { Services().Clock = std::move(kept_); }
  TSystemClockScope(const TSystemClockScope&) = delete;
  TSystemClockScope& operator=(const TSystemClockScope&) = delete;

 private:
  std::unique_ptr<TClock> kept_;
};

struct TRecordedMessage {
  QString Text;
  TMsgIcon Icon;
  unsigned Buttons;
};

class TScriptedMessages : public TMessageService {
 public:
  TMsgButton Show(const QString& text, TMsgIcon icon, unsigned buttons, TMsgButton def) override {
    Shown.push_back({text, icon, buttons});
    if (Answers.empty()) return def;
    TMsgButton a = Answers.front();
    Answers.pop_front();
    return a;
  }
  QStringList Texts() const {
    QStringList t;
    for (const auto& m : Shown) t << m.Text;
    return t;
  }
  std::vector<TRecordedMessage> Shown;
  std::deque<TMsgButton> Answers;
};

// One piece of an answer: bytes that become readable `atMs` after the request was written.
struct TChunk {
  QByteArray Bytes;
  int AtMs = 0;
};

// A port driven by the fake clock. Respond decides, from each written request, what comes back.
class TFakeComm : public TCustomComm {
 public:
  explicit TFakeComm(TFakeClock& clock) : clock_(clock) {}

  void Open() override {
    if (open_ && !lost_) throw ECommError(QStringLiteral("Port already assigned (open)"), -1);
    if (lost_) throw ECommError(QStringLiteral("Error accessing specified device"), 2);  // ENOENT
    if (FailOpen) throw ECommError(FailOpenText, FailOpenCode);
    open_ = true;
    lost_ = false;
  }
  void Close() override {
    open_ = false;
    lost_ = false;
  }
  bool Connected() const override { return open_ && !lost_; }
  bool Lost() const override { return lost_; }
  QString LostReason() const override { return lost_ ? QStringLiteral("устройство отключено") : QString(); }
  // Lost: the device has gone away as an unplugged adapter does (every Write and Read fails with
  // EIO, the port counts as closed); back: it is there again and the port open on it.
  void SetLost(bool lost) {
    lost_ = lost;
    open_ = !lost;
    if (lost) pending_.clear();
  }
  int Write(const uint8_t* buffer, int count) override;
  int Read(uint8_t* buffer, int count) override;
  int InQueCount() override;
  void PurgeIn() override {
    if (!open_) return;
    pending_.clear();
    ++Purges;
  }
  void PurgeOut() override {}
  void SetDTR(bool on) override {
    if (!open_) throw ECommError(QStringLiteral("Port not open, unable to complete operation"), -1);
    Dtr = on;
  }
  void SetRTS(bool on) override {
    if (!open_) throw ECommError(QStringLiteral("Port not open, unable to complete operation"), -1);
    Rts = on;
  }

  std::function<std::vector<TChunk>(const QByteArray& request)> Respond;
  std::vector<QByteArray> Written;
  bool FailOpen = false;
  QString FailOpenText = QStringLiteral("Error accessing specified device");
  int FailOpenCode = 2;  // ENOENT
  bool Dtr = true;
  bool Rts = true;
  int Purges = 0;

 private:
  struct TPending {
    QByteArray Bytes;
    int64_t At;
  };
  TFakeClock& clock_;
  bool open_ = false;
  bool lost_ = false;
  std::vector<TPending> pending_;
};

// Runs the main thread's event loop until done() or the time is up; done() as it ends.
bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs);
// Runs the main thread's event loop for ms milliseconds.
void RunEventsFor(int ms);

// Before each test: the services reset (Russian formats, a fake clock, scripted messages) and a
// network of the test's own in a temporary folder, on a scripted port.
class TVexaTest : public ::testing::Test {
 protected:
  // Made and undone with the fixture, so that a fixture's own members may use the network and go
  // before it.
  TVexaTest();
  ~TVexaTest() override;
  void SetUp() override {}
  void TearDown() override {}

  // The network the test works on: its own, or one a program under test made (UseNetwork).
  TNetwork& Current() const { return current_ != nullptr ? *current_ : *Network; }
  void UseNetwork(TNetwork* network) { current_ = network; }
  // Its trees, settings and line as they are now (a load replaces a tree in its slot).
  std::unique_ptr<TRootNode>& Net() const { return Current().Net(); }
  std::unique_ptr<TRootNode>& TTemplates() const { return Current().TTemplates(); }
  std::unique_ptr<TRootNode>& Tasks() const { return Current().Tasks(); }
  std::unique_ptr<TRootNode>& RTemplates() const { return Current().RTemplates(); }
  std::unique_ptr<TRootNode>& Reports() const { return Current().Reports(); }
  std::unique_ptr<TRootNode>& Registry() const { return Current().Registry(); }
  std::unique_ptr<TSetupNode>& Settings() const { return Current().Setup(); }
  TLineContext Line() const { return Current().LineContext(); }
  // A channel template in the registry, as a search matches a channel to it: a hidden identifier
  // register first, then `registers` of `type`.
  void AddChannelTemplate(const QString& caption, const QString& comments, const QStringList& registers,
                          TRegisterType type);
  // Replaces the test's network by one on `port` in the same folder (a real port, say).
  void ReplaceNetwork(std::unique_ptr<TCustomComm> port);
  // Replaces it by one in another folder, on a new scripted port (Port).
  void NewNetwork(const QString& dir);
  // The model's faults shown as the windows show them, one message each.
  static void ShowFaults(const TFaults& faults);

  TFakeClock* Clock = nullptr;
  TScriptedMessages* Messages = nullptr;
  TFakeComm* Port = nullptr;  // the network's port (closed until a test opens it)
  std::unique_ptr<QTemporaryDir> Dir;
  std::unique_ptr<TNetwork> Network;

 private:
  TNetwork* current_ = nullptr;
};

// A part of a saved compound file damaged as one changed byte in a name leaves it.
enum class TPartDamage {
  Renumbered,      // the level takes the next free child number, leaving a gap in the numbering
  ObjectMisnamed,  // its stream "Object" becomes "Objecu"
};
// Damages the level at storagePath ("000/001") of the file at path in place. False when the file or
// the level is not there.
bool DamagePart(const QString& path, const QString& storagePath, TPartDamage damage);
// The objects of a tree: the root and everything below it.
int ObjectCount(const TComponent& tree);

// A companion program run to its end: its exit code (-1 when it crashed or did not end) and both
// outputs as UTF-8.
struct TRun {
  int Code = -1;
  QString Out;
  QString Err;
};
struct TRunOptions {
  QByteArray Input{};                        // written to its standard input
  std::optional<QProcessEnvironment> Env{};  // the test's own when not given
  QString WorkDir{};                         // the test's own when empty
};
TRun RunProgram(const QString& program, const QStringList& args, const TRunOptions& options = {});
// A program started by fork and exec, its output and errors kept in files of its own. Children
// of the tests run so and not as a QProcess: Qt starts a child with vfork semantics (the child
// borrows the parent's memory until exec), which the thread checker cannot follow; after it the
// main thread's locks are lost on it and every hand-over to another thread looks like a race.
// A child left running goes with its object, or with the test program if that dies.
class TChildProcess {
 public:
  TChildProcess(const QString& program, const QStringList& args);
  // Ends it at once (SIGKILL) when it still runs.
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  int Pid() const { return pid_; }
  void Signal(int signal) const;
  bool Running();
  // True once it has ended, within `ms`.
  bool Wait(int ms);
  // SIGTERM, and SIGKILL when it has not ended within `ms`.
  void Stop(int ms = 5000);
  void Kill();
  // The exit code; -1 while running or when a signal ended it.
  int Code() const;
  bool Killed() const;
  QString Out() const;
  QString Err() const;
  // What it wrote on standard error since the last call.
  QString NewErrors();

 private:
  QTemporaryDir dir_;
  QString out_, err_;
  int pid_ = -1;
  std::optional<int> status_;
  qint64 errorsRead_ = 0;
};

// vexa-sim running on a pseudo-terminal whose link lies in a folder of its own, given its options
// (--seed, --drop, --addresses, ...); ended with the test, or killed on purpose as an unplugged line.
class TSimLine {
 public:
  explicit TSimLine(const QStringList& options = {});
  ~TSimLine();
  TSimLine(const TSimLine&) = delete;
  TSimLine& operator=(const TSimLine&) = delete;
  const QString& Link() const { return link_; }
  // Ends it at once (SIGKILL): the terminal's other side closes, as when the device goes away.
  void Kill();

 private:
  QTemporaryDir dir_;
  QString link_;
  std::unique_ptr<TChildProcess> process_;
};

// The environment without a display (and with `platform` as Qt's platform when given).
QProcessEnvironment EnvironmentWithoutDisplay(const QString& platform = {});

// Waits until `holder` (a running program) has named itself in the folder's lock file as `who`, for
// at most `ms`; false when it ended first or the time ran out.
bool WaitUntilFolderHeld(const QProcess& holder, const QString& folder, const QString& who, int ms = 30000);

// vexa-sim on a link, which a test may stop and start again on the same link: a line whose device
// goes away and comes back. Stopped when it goes.
class TSimProcess {
 public:
  explicit TSimProcess(QString link, QStringList extra = {});
  ~TSimProcess();
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;
  // Starts it and waits until its link is there; false when it did not come up.
  bool Start();
  // Ends it as an operator does (SIGTERM) and waits: its pseudo-terminal is closed and its link gone.
  void Stop();
  const QString& Link() const { return link_; }
  // What it wrote on standard error (with --verbose every frame: "> request", "< answer") since it
  // was last started.
  QString Log();

 private:
  QString link_;
  QStringList extra_;
  std::unique_ptr<TChildProcess> process_;
};

}  // namespace vexa::test
