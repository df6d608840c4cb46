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

// Progress on one line rewritten in place, on a terminal; a log or a pipe gets whole lines.
void Progress(const QString& text) {
  std::fprintf(stderr, "\r%-60s", text.toUtf8().constData());
  std::fflush(stderr);
}

// The tenths of the addresses passed (0..10) when address `passed` of 0..last is done.
int TenthsPassed(int passed, int last) {
  return (passed + 1) * 10 / (last + 1);
}

struct TModeOption {
  const char* Name;
  TSearchMode Mode;
  const char* Progress;  // what the counter counts, in the progress line
};

const TModeOption kModes[] = {
    {"fresh", smAfresh, "найдено регуляторов"},
    {"added", smAdded, "найдено регуляторов"},
    {"removed", smRemoved, "удалено регуляторов"},
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
      if (mode == nullptr) return BadValue(args[i - 1], name);
    } else if (arg == QLatin1String("--last") && i + 1 < args.size()) {
      bool ok = false;
      last = args[++i].toInt(&ok);
      if (!ok || last < 0 || last >= TDeviceSearch::kAddressCount) return BadValue(args[i - 1], args[i]);
    } else {
      return BadArgument(args, i, {"--mode", "--last"});
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
      Err(QStringLiteral("vexa-cli: не могу прочитать %1: %2").arg(netFile, QString::fromUtf8(e.what())));
      return 1;
    }
  }

  TDeviceSearch search(network);
  int found = 0;
  search.OnDevicesFound = [&found](int n) { found = n; };
  const bool terminal = isatty(STDERR_FILENO) != 0;
  int tenthsTold = 0;
  search.OnDevicesPassed = [&found, &tenthsTold, terminal, last, mode](int a) {
    const QString text = QStringLiteral("адрес %1 из %2, %3: %4")
                             .arg(a, 3, 10, QLatin1Char('0'))
                             .arg(last, 3, 10, QLatin1Char('0'))
                             .arg(QString::fromUtf8(mode->Progress))
                             .arg(found);
    if (terminal) {
      Progress(text);
      return;
    }
    // A line for each tenth of the addresses, so a journal is not flooded with 256 of them.
    const int tenths = TenthsPassed(a, last);
    if (tenths <= tenthsTold) return;
    tenthsTold = tenths;
    Err(QStringLiteral("%1 (%2 %)").arg(text).arg(tenths * 10));
  };
  // Exploring a channel without a template takes a while: on a terminal, show each register.
  if (terminal) {
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
    if (terminal) std::fputc('\n', stderr);
    return UnreadableFilesExit(e.Message());
  } catch (const std::exception& e) {
    std::signal(SIGINT, previous);
    if (terminal) std::fputc('\n', stderr);
    Err(QStringLiteral("vexa-cli: поиск не удался: %1").arg(QString::fromUtf8(e.what())));
    return 1;
  }
  std::signal(SIGINT, previous);
  const bool stopped = gInterrupted != 0 && !complete;
  if (terminal) std::fputc('\n', stderr);
  // The settings window's report of the search; stopped only when Ctrl-C cut it short, not at --last.
  result.Stopped = stopped;
  // A regulator that answered only in part is a warning; the rest is the search's account.
  QStringList partial;
  for (int address : result.Partial) partial << PartialAnswerText(address) + QLatin1Char('.');
  for (const QString& line : SearchReport(result))
    Err(line, result.PortError       ? TPriority::Error
              : partial.contains(line) ? TPriority::Warning
                                       : TPriority::Info);
  if (result.PortError) return 1;
  int channels = 0;
  for (int i = 0; i < netRoot->NodeCount(); ++i) channels += netRoot->Node(i)->NodeCount();
  Err(QStringLiteral("В сети регуляторов: %1, каналов: %2.").arg(netRoot->NodeCount()).arg(channels),
      TPriority::Info);

  std::fputs(NetworkDescription(*netRoot).toUtf8().constData(), stdout);
  std::fflush(stdout);

  if (result.Kept > 0) {
    Err(QStringLiteral("vexa-cli: линия, возможно, неисправна: регуляторы без ответа оставлены в сети "
                       "(--confirm удаляет их)%1")
            .arg(save ? QStringLiteral("; NET.cfg не записан") : QString()));
    return 1;
  }

  if (stopped) {
    if (save) Err(QStringLiteral("vexa-cli: поиск остановлен; NET.cfg не записан"));
    return 1;
  }
  if (save) {
    QDir(ctx.Dir).mkdir(QStringLiteral("Config"));
    if (!SaveTreeFile(network, *netRoot)) {
      Err(QStringLiteral("vexa-cli: не могу записать %1").arg(netFile));
      return 1;
    }
    Err(QStringLiteral("Записан %1").arg(netFile), TPriority::Info);
  }
  return 0;
}

const TCommandRegistrar kSearch{
    QStringLiteral("search"),
    {&Search,
     QStringLiteral(
         "search [--mode fresh|added|removed] [--last N] [--confirm] [--save]\n"
         "                         поиск устройств по шаблонам DIR/Config/REGISTRY.cfg: fresh (по\n"
         "                         умолчанию) строит сеть заново; added добавляет регуляторы, которых нет\n"
         "                         в DIR/Config/NET.cfg; removed убирает те, что больше не отвечают;\n"
         "                         --last N опрашивает только адреса 0..N (по умолчанию 255); печатает\n"
         "                         описание сети; --save записывает DIR/Config/NET.cfg; итог в потоке\n"
         "                         ошибок: регуляторы, каналы, запросы без ответа после всех попыток или\n"
         "                         с ответом только после повтора и предупреждение о каждом регуляторе,\n"
         "                         ответившем не на все запросы; ход поиска на терминале обновляется в\n"
         "                         строке, иначе печатается строкой на каждую десятую часть адресов;\n"
         "                         ошибка порта прерывает поиск с кодом выхода 1, ничего не меняя;\n"
         "                         removed, если не ответил ни один регулятор, оставляет их все и\n"
         "                         кончается с кодом выхода 1, пока не задан --confirm"),
     true, false, TFolderWrites::WithSave}};

}  // namespace

}  // namespace vexa::cli
