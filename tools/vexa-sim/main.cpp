// vexa-sim: a regulator network on a pseudo-terminal, so the real serial code runs end to end.

#include <poll.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "Version.h"
#include "core/Protocol.h"
#include "core/Services.h"
#include "core/SimulatedNetwork.h"
#include "tools/vexa-sim/SimLine.h"

namespace vexa::sim {

namespace {

const char kUsage[] =
    "Usage: vexa-sim --link PATH [--baud BITS] [--seed N] [--drop P] [--garble P] [--split P]\n"
    "                [--delay MS] [--addresses LIST] [--verbose]\n"
    "       vexa-sim --help | --version\n"
    "  --link PATH   make PATH a symbolic link to the simulator's pseudo-terminal (removed on exit)\n"
    "  --baud BITS   line speed the answers are paced at, 10 bits per byte (default 19200)\n"
    "  --seed N      seed of the random generator (values and faults); default from the clock\n"
    "  --drop P      probability 0..1 that an answer is not sent\n"
    "  --garble P    probability that one byte of an answer is changed\n"
    "  --split P     probability that an answer is sent in two parts with a 30 ms gap\n"
    "  --delay MS    extra time before every answer (default 0; the turnaround is 1 ms)\n"
    "  --addresses LIST  the regulators on the line, e.g. 1 or 0,1 (default: all of the network);\n"
    "                an address left out is silent, as an unplugged regulator\n"
    "  --verbose     log every frame on standard error: > request, < answer, ! fault\n"
    "Ends on SIGINT or SIGTERM.\n\n";

constexpr int kNoiseIdleMs = 100;  // a partial frame older than this will not complete

volatile sig_atomic_t gStop = 0;
void OnSignal(int) {
  gStop = 1;
}

struct TOptions {
  QString Link;
  int Baud = 19200;
  uint32_t Seed = 0;
  bool Seeded = false;
  TFaultRates Faults;
  bool Verbose = false;
  std::optional<std::set<int>> Addresses;  // none: every regulator of the network answers
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "vexa-sim: %s\n%s", problem.c_str(), kUsage);
  std::exit(2);
}

double Number(const std::string& option, const char* text, double min, double max) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v >= min && v <= max))
    Usage(QStringLiteral("%1: not a number in %2..%3: %4")
              .arg(QString::fromStdString(option))
              .arg(min)
              .arg(max)
              .arg(QString::fromLocal8Bit(text))
              .toStdString());
  return v;
}

TOptions Parse(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(qPrintable(TSimNetwork::Description()), stdout);
      std::exit(0);
    }
    if (arg == "--version") {
      std::printf("vexa-sim %s\n", VEXA_VERSION_STRING);
      std::exit(0);
    }
    if (arg == "--verbose") {
      o.Verbose = true;
      continue;
    }
    static const std::set<std::string> kWithValue = {"--link",   "--baud",  "--seed",  "--drop",
                                                     "--garble", "--split", "--delay", "--addresses"};
    if (!kWithValue.count(arg)) Usage("unknown option " + arg);
    if (i + 1 >= argc) Usage(arg + " needs a value");
    const char* value = argv[++i];
    if (arg == "--link") {
      o.Link = QString::fromLocal8Bit(value);
    } else if (arg == "--baud") {
      o.Baud = static_cast<int>(Number(arg, value, 50, 4000000));
    } else if (arg == "--seed") {
      o.Seed = static_cast<uint32_t>(Number(arg, value, 0, 4294967295.0));
      o.Seeded = true;
    } else if (arg == "--drop") {
      o.Faults.Drop = Number(arg, value, 0, 1);
    } else if (arg == "--garble") {
      o.Faults.Garble = Number(arg, value, 0, 1);
    } else if (arg == "--split") {
      o.Faults.Split = Number(arg, value, 0, 1);
    } else if (arg == "--delay") {
      o.Faults.DelayMs = static_cast<int>(Number(arg, value, 0, 60000));
    } else if (arg == "--addresses") {
      o.Addresses.emplace();
      for (const QString& part : QString::fromLocal8Bit(value).split(QLatin1Char(','), Qt::SkipEmptyParts))
        o.Addresses->insert(static_cast<int>(Number(arg, part.trimmed().toLocal8Bit().constData(), 0, 255)));
    }
  }
  if (o.Link.isEmpty()) Usage("--link PATH is required");
  return o;
}

QString Hex(const QByteArray& b) {
  return FrameToHex(reinterpret_cast<const uint8_t*>(b.constData()), static_cast<int>(b.size()));
}

int Run(const TOptions& options) {
  // The stop signals are held back except while waiting for input, so none is lost between the
  // check of the flag and the wait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigset_t waitMask;
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TRandomGenerator random;
  random.Seed(options.Seeded ? options.Seed : std::random_device{}());
  const auto log = [&options](const QString& line) {
    if (options.Verbose) std::fprintf(stderr, "%s\n", qPrintable(line));
  };

  TSimNetwork network;
  TSimLine line(options.Baud, options.Faults, random, log);
  if (const QString error = line.Start(options.Link); !error.isEmpty()) {
    std::fprintf(stderr, "vexa-sim: %s\n", qPrintable(error));
    return 1;
  }
  std::printf("vexa-sim: %s -> %s at %d bit/s\n", qPrintable(options.Link), qPrintable(line.SlaveName()),
              options.Baud);
  std::fflush(stdout);

  TRequestReader reader;
  while (!gStop) {
    pollfd p{line.MasterFd(), POLLIN, 0};
    const timespec idle{0, kNoiseIdleMs * 1'000'000L};
    const int ready = ppoll(&p, 1, reader.Pending() > 0 ? &idle : nullptr, &waitMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::perror("vexa-sim: poll");
      return 1;
    }
    if (ready == 0) {
      log(QStringLiteral("! noise %1 bytes").arg(reader.Discard()));
      continue;
    }
    const int64_t receivedAt = TSimLine::NowNs();
    reader.Feed(line.Receive());
    int skipped = 0;
    while (std::optional<QByteArray> request = reader.Next(&skipped)) {
      if (skipped > 0) log(QStringLiteral("! noise %1 bytes").arg(skipped));
      log(QStringLiteral("> ") + Hex(*request));
      const int address = static_cast<uint8_t>(request->at(0));
      std::optional<QByteArray> answer;
      if (!options.Addresses || options.Addresses->count(address)) answer = network.Answer(*request, random);
      if (answer)
        line.Send(*answer, static_cast<int>(request->size()), receivedAt);
      else
        log(QStringLiteral("! no answer"));
    }
    if (skipped > 0) log(QStringLiteral("! noise %1 bytes").arg(skipped));
  }
  log(QStringLiteral("! stopped"));
  return 0;
}

}  // namespace

}  // namespace vexa::sim

int main(int argc, char** argv) {
  return vexa::sim::Run(vexa::sim::Parse(argc, argv));
}
