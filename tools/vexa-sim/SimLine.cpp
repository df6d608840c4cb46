#include "tools/vexa-sim/SimLine.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/CustomRegister.h"
#include "core/Protocol.h"

namespace vexa::sim {

namespace {

constexpr int kTurnaroundNs = 1'000'000;
constexpr int kSplitGapMs = 30;  // well over the master's polling interval
constexpr int kMaxTextData = 32;
constexpr int64_t kStopCheckNs = 20'000'000;

bool CrcMatches(const QByteArray& bytes, int at, int length) {
  TRegisterFrame f;
  f.Length = length - 1;
  std::memcpy(f.Data, bytes.constData() + at, static_cast<size_t>(length));
  return ApplyCrc(f);
}

}  // namespace

void TRequestReader::Feed(const QByteArray& bytes) {
  buffer_ += bytes;
}

int TRequestReader::LengthAt(int at) const {
  const int have = static_cast<int>(buffer_.size()) - at;
  if (have < 4) return 0;
  const auto command = static_cast<uint8_t>(buffer_[at + 3]);
  if (command == 0) return 5;
  if (command != 1) return -1;
  if (have < 5) return 0;
  const auto typeByte = static_cast<uint8_t>(buffer_[at + 4]);
  const int code = typeByte & 0x0F;
  if ((typeByte & 0x30) != 0) return -1;
  if (code <= rtDOUBLE) return 6 + RegisterTypeSizes[static_cast<size_t>(code)];
  if (code != rtASCIIZ) return -1;
  // The text runs to its zero byte.
  const int data = std::min(have - 5, kMaxTextData);
  const int zero = static_cast<int>(buffer_.indexOf('\0', at + 5)) - (at + 5);
  if (zero >= 0 && zero < data) return 6 + zero + 1;
  return have - 5 >= kMaxTextData ? -1 : 0;
}

std::optional<QByteArray> TRequestReader::Next(int* skipped) {
  for (int at = 0; at + 5 <= buffer_.size(); ++at) {
    const int length = LengthAt(at);
    if (length <= 0 || at + length > buffer_.size()) continue;
    if (!CrcMatches(buffer_, at, length)) continue;
    if (skipped) *skipped = at;
    QByteArray frame = buffer_.mid(at, length);
    buffer_.remove(0, at + length);
    return frame;
  }
  // Nothing complete: keep no more than one longest frame of possible beginnings.
  if (buffer_.size() > 2 * kFrameSize) {
    if (skipped) *skipped = static_cast<int>(buffer_.size()) - kFrameSize;
    buffer_.remove(0, buffer_.size() - kFrameSize);
  } else if (skipped) {
    *skipped = 0;
  }
  return std::nullopt;
}

int TRequestReader::Discard() {
  const int n = static_cast<int>(buffer_.size());
  buffer_.clear();
  return n;
}

TSimLine::TSimLine(int baud, TFaultRates faults, TRandomGenerator& random,
                   std::function<void(const QString&)> log)
    : byteNs_(10.0e9 / baud), faults_(faults), random_(random), log_(std::move(log)) {}

TSimLine::~TSimLine() {
  if (!link_.isEmpty()) {
    // Only our own link: another simulator may have taken the name over meanwhile.
    const QByteArray path = QFile::encodeName(link_);
    char target[4096];
    const ssize_t n = readlink(path.constData(), target, sizeof target - 1);
    if (n > 0 && QFile::decodeName(QByteArray(target, static_cast<qsizetype>(n))) == slaveName_)
      unlink(path.constData());
  }
}

QString TSimLine::Start(const QString& link) {
  master_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!master_.Valid() || grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0)
    return QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
  char name[256];
  if (ptsname_r(master_.Get(), name, sizeof name) != 0)
    return QStringLiteral("cannot name the pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
  slaveName_ = QFile::decodeName(name);
  slave_.Reset(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave_.Valid())
    return QStringLiteral("cannot open %1: %2").arg(slaveName_, QString::fromLocal8Bit(strerror(errno)));
  // Raw from the start, so nothing is echoed back before a client sets up its side.
  termios t{};
  if (tcgetattr(slave_.Get(), &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave_.Get(), TCSANOW, &t);
  }

  const QFileInfo info(link);
  if (info.exists() && !info.isSymLink())
    return QStringLiteral("%1 exists and is not a link; not replacing it").arg(link);
  // A new link under a temporary name, renamed over the old one: a reader never sees half a link.
  const QByteArray target = QFile::encodeName(link);
  const QByteArray temp = target + ".vexa-sim-" + QByteArray::number(getpid());
  unlink(temp.constData());
  if (symlink(name, temp.constData()) != 0 || rename(temp.constData(), target.constData()) != 0) {
    const QString error = QString::fromLocal8Bit(strerror(errno));
    unlink(temp.constData());
    return QStringLiteral("cannot make the link %1: %2").arg(link, error);
  }
  link_ = link;
  return {};
}

int64_t TSimLine::NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool TSimLine::SleepUntil(int64_t ns) const {
  // In slices, so a stop signal (held back while answering) cuts a long --delay short.
  for (;;) {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGINT) || sigismember(&pending, SIGTERM) || sigismember(&pending, SIGHUP))
      return false;
    const int64_t now = NowNs();
    if (now >= ns) return true;
    const int64_t until = std::min(ns, now + kStopCheckNs);
    const timespec ts{static_cast<time_t>(until / 1'000'000'000), static_cast<long>(until % 1'000'000'000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
  }
}

QByteArray TSimLine::Receive() {
  QByteArray got;
  char buf[512];
  for (;;) {
    const ssize_t n = read(master_.Get(), buf, sizeof buf);
    if (n > 0) {
      got.append(buf, static_cast<qsizetype>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return got;
  }
}

bool TSimLine::WriteByte(char byte) {
  for (;;) {
    const ssize_t n = write(master_.Get(), &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;  // the client's input is full: the rest is lost, as on a line
  }
}

void TSimLine::Send(QByteArray answer, int requestLength, int64_t receivedAtNs) {
  if (random_.Fraction() < faults_.Drop) {
    log_(QStringLiteral("! drop"));
    return;
  }
  if (random_.Fraction() < faults_.Garble) {
    const int at = random_.Next(static_cast<int>(answer.size()));
    answer[at] = static_cast<char>(answer[at] ^ (1 + random_.Next(255)));
    log_(QStringLiteral("! garble byte %1").arg(at));
  }
  int splitAt = -1;
  if (answer.size() > 1 && random_.Fraction() < faults_.Split) {
    splitAt = 1 + random_.Next(static_cast<int>(answer.size()) - 1);
    log_(QStringLiteral("! split %1+%2").arg(splitAt).arg(answer.size() - splitAt));
  }
  log_(QStringLiteral("< ") +
       FrameToHex(reinterpret_cast<const uint8_t*>(answer.constData()), static_cast<int>(answer.size())));

  // The request's own time on the line: the pseudo-terminal delivered it at once.
  double t =
      static_cast<double>(receivedAtNs) + requestLength * byteNs_ + kTurnaroundNs + faults_.DelayMs * 1.0e6;
  for (int i = 0; i < answer.size(); ++i) {
    if (i == splitAt) t += kSplitGapMs * 1.0e6;
    t += byteNs_;  // a byte is there once its last bit is
    if (!SleepUntil(static_cast<int64_t>(t))) return;
    if (!WriteByte(answer[i])) {
      log_(QStringLiteral("! %1 bytes lost: the reader does not read").arg(answer.size() - i));
      return;
    }
  }
}

}  // namespace vexa::sim
