// vexa-cli search: the device search on the line in one of its three modes, with the saved channel
// templates, printing the network description; --save also writes the network tree file.

#include <unistd.h>

#include <QDir>
#include <csignal>
#include <cstdio>
#include <exception>

#include "core/Network.h"
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

struct TModeOption {
  const char* Name;
  TSearchMode Mode;
  const char* Counted;   // what the counter counts, in the summary
  const char* Progress;  // and in the progress line
};

const TModeOption kModes[] = {
    {"fresh", smAfresh, "regulators found", "найдено регуляторов"},
    {"added", smAdded, "regulators found", "найдено регуляторов"},
    {"removed", smRemoved, "regulators removed", "удалено регуляторов"},
};

int Search(TCliContext& ctx, const QStringList& args) {
  bool save = false;
  bool confirm = false;
  const TModeOption* mode = &kModes[0];
  int last = TDeviceSearch::kAddressCount - 1;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--save")) {
      save = true;
    } else if (arg == QLatin1String("--confirm")) {
      confirm = true;
    } else if (arg == QLatin1String("--mode") && i + 1 < args.size()) {
      const QString& name = args[++i];
      mode = nullptr;
      for (const TModeOption& m : kModes)
        if (name == QLatin1String(m.Name)) mode = &m;
      if (mode == nullptr) return Usage();
    } else if (arg == QLatin1String("--last") && i + 1 < args.size()) {
      bool ok = false;
      last = args[++i].toInt(&ok);
      if (!ok || last < 0 || last >= TDeviceSearch::kAddressCount) return Usage();
    } else {
      return Usage();
    }
  }

  TNetwork& network = *ctx.Network;
  std::unique_ptr<TRootNode>& netRoot = network.Net();
  const QString netFile = ConfigFilePath(network.Dir(), QStringLiteral("NET"));
  // The other modes work on the network as it was saved.
  if (mode->Mode != smAfresh) {
    try {
      LoadTreeFile(network, netRoot);
    } catch (const EUnreadableFiles& e) {
      return UnreadableFilesExit(e.Message());
    } catch (const std::exception& e) {
      Err(QStringLiteral("vexa-cli: cannot read %1: %2").arg(netFile, QString::fromUtf8(e.what())));
      return 1;
    }
  }

  TDeviceSearch search(network);
  int found = 0;
  search.OnDevicesFound = [&found](int n) { found = n; };
  search.OnDevicesPassed = [&found, last, mode](int a) {
    Progress(QStringLiteral("адрес %1 из %2, %3: %4")
                 .arg(a, 3, 10, QLatin1Char('0'))
                 .arg(last, 3, 10, QLatin1Char('0'))
                 .arg(QString::fromUtf8(mode->Progress))
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
  // The idle step comes before every address: past the last one the search ends as if stopped.
  int next = 0;
  bool complete = false;
  search.OnIdle = [&search, &next, &complete, last] {
    if (gInterrupted) search.Stop();
    if (next++ > last) {
      complete = true;
      search.Stop();
    }
  };
  // No regulator answered, so the line itself may be dead: removing them all needs --confirm.
  search.ConfirmRemoval = [confirm](int) { return confirm; };
  TSearchResult result;
  try {
    result = search.Run(mode->Mode);
  } catch (const EUnreadableFiles& e) {  // the channel templates
    std::signal(SIGINT, previous);
    std::fputc('\n', stderr);
    return UnreadableFilesExit(e.Message());
  } catch (const std::exception& e) {
    std::signal(SIGINT, previous);
    std::fputc('\n', stderr);
    Err(QStringLiteral("vexa-cli: the search failed: %1").arg(QString::fromUtf8(e.what())));
    return 1;
  }
  std::signal(SIGINT, previous);
  const bool stopped = gInterrupted != 0 && !complete;
  std::fputc('\n', stderr);
  if (result.PortError) {
    Err(QStringLiteral("vexa-cli: the search ended on a port error: %1; nothing was changed")
            .arg(result.PortErrorText));
    return 1;
  }
  Err(QStringLiteral("%1: %2, regulators: %3, channels: %4%5")
          .arg(QString::fromLatin1(mode->Counted))
          .arg(found)
          .arg(netRoot->NodeCount())
          .arg([&netRoot] {
            int channels = 0;
            for (int i = 0; i < netRoot->NodeCount(); ++i) channels += netRoot->Node(i)->NodeCount();
            return channels;
          }())
          .arg(stopped ? QStringLiteral(" (stopped)") : QString()),
      TPriority::Info);
  Err(QStringLiteral("exchanges failed after all attempts: %1, answered only when repeated: %2")
          .arg(result.Failed)
          .arg(result.Retried),
      TPriority::Info);
  for (int address : result.Partial) Err(PartialAnswerText(address), TPriority::Warning);

  std::fputs(NetworkDescription(*netRoot).toUtf8().constData(), stdout);
  std::fflush(stdout);

  if (result.Kept > 0) {
    Err(QStringLiteral("vexa-cli: no regulator answered, so the line may be dead: %1 silent regulators "
                       "kept (--confirm removes them)%2")
            .arg(result.Kept)
            .arg(save ? QStringLiteral("; NET.cfg is not written") : QString()));
    return 1;
  }

  if (stopped) {
    if (save) Err(QStringLiteral("vexa-cli: the search was stopped; NET.cfg is not written"));
    return 1;
  }
  if (save) {
    QDir(ctx.Dir).mkdir(QStringLiteral("Config"));
    if (!SaveTreeFile(network, *netRoot)) {
      Err(QStringLiteral("vexa-cli: could not write %1").arg(netFile));
      return 1;
    }
    Err(QStringLiteral("written: %1").arg(netFile), TPriority::Info);
  }
  return 0;
}

const TCommandRegistrar kSearch{
    QStringLiteral("search"),
    {&Search,
     QStringLiteral(
         "search [--mode fresh|added|removed] [--last N] [--confirm] [--save]\n"
         "                         device search with DIR/Config/REGISTRY.cfg as templates: fresh "
         "(default) builds\n"
         "                         the network anew; added appends the regulators DIR/Config/NET.cfg "
         "lacks; removed\n"
         "                         drops those that no longer answer; --last N probes addresses 0..N "
         "only (default 255);\n"
         "                         prints the network description; --save writes DIR/Config/NET.cfg;\n"
         "                         a summary on standard error: regulators, channels, exchanges failed\n"
         "                         after all attempts or answered only when repeated, and a warning for\n"
         "                         each regulator that answered some requests but not others; a port\n"
         "                         error ends the search with exit code 1 and changes nothing; removed\n"
         "                         keeps every silent regulator when none answered at all, unless\n"
         "                         --confirm is given (exit code 1 when it kept them)"),
     true, false, TFolderWrites::WithSave}};

}  // namespace

}  // namespace vexa::cli
