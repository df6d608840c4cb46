// vexa-cli search: the device search "start afresh" on the line, with the saved channel templates,
// printing the network description; --save also writes the network tree file.

#include <unistd.h>

#include <QDir>
#include <csignal>
#include <cstdio>
#include <exception>

#include "core/Globals.h"
#include "storage/DeviceSearch.h"
#include "storage/NetDescription.h"
#include "storage/TreeFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
  gInterrupted = 1;
}

// Progress on one line, rewritten in place.
void Progress(const QString& text) {
  std::fprintf(stderr, "\r%-60s", text.toUtf8().constData());
  std::fflush(stderr);
}

int Search(TCliContext& ctx, const QStringList& args) {
  bool save = false;
  for (const QString& arg : args) {
    if (arg != QLatin1String("--save")) return Usage();
    save = true;
  }

  TDeviceSearch search;
  int found = 0;
  search.OnDevicesFound = [&found](int n) { found = n; };
  search.OnDevicesPassed = [&found](int a) {
    Progress(QStringLiteral("адрес %1 из 255, найдено регуляторов: %2")
                 .arg(a, 3, 10, QLatin1Char('0'))
                 .arg(found));
  };
  // Exploring a channel without a template takes a while: on a terminal, show each register.
  if (isatty(STDERR_FILENO)) {
    search.OnProbe = [](int a, int c, int r) {
      Progress(QString::asprintf("адрес %03d, канал %03d, регистр %03d", a, c, r));
    };
  }
  // Ctrl-C ends the search after the current address, as the window's stop button does.
  gInterrupted = 0;
  const auto previous = std::signal(SIGINT, &OnInterrupt);
  search.OnIdle = [&search] {
    if (gInterrupted) search.Stop();
  };
  try {
    search.Run(smAfresh);
  } catch (const std::exception& e) {
    std::signal(SIGINT, previous);
    std::fputc('\n', stderr);
    Err(QStringLiteral("vexa-cli: the search failed: %1").arg(QString::fromUtf8(e.what())));
    return 1;
  }
  std::signal(SIGINT, previous);
  const bool stopped = gInterrupted != 0;
  std::fputc('\n', stderr);
  Err(QStringLiteral("regulators found: %1, channels: %2%3")
          .arg(found)
          .arg([] {
            int channels = 0;
            for (int i = 0; i < NET->NodeCount(); ++i) channels += NET->Node(i)->NodeCount();
            return channels;
          }())
          .arg(stopped ? QStringLiteral(" (stopped)") : QString()));

  std::fputs(NetworkDescription(*NET).toUtf8().constData(), stdout);
  std::fflush(stdout);

  if (stopped) {
    if (save) Err(QStringLiteral("vexa-cli: the search was stopped; NET.cfg is not written"));
    return 1;
  }
  if (save) {
    QDir(ctx.Dir).mkdir(QStringLiteral("Config"));
    if (!SaveTreeFile(*NET)) {
      Err(QStringLiteral("vexa-cli: could not write %1").arg(ConfigFilePath(NET->Name())));
      return 1;
    }
    Err(QStringLiteral("written: %1").arg(ConfigFilePath(NET->Name())));
  }
  return 0;
}

const TCommandRegistrar kSearch{
    QStringLiteral("search"),
    {&Search,
     QStringLiteral("search [--save]        device search \"start afresh\" with DIR/Config/REGISTRY.cfg as "
                    "templates; prints the network description; --save writes DIR/Config/NET.cfg"),
     true}};

}  // namespace

}  // namespace vexa::cli
