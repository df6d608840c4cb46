// vexa-cli: the regulator line from a shell, for commissioning, scripts and tests.

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "Version.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/AtomicFile.h"
#include "storage/FolderLock.h"
#include "tools/vexa-cli/CliContext.h"
#include "ui/model/PersistentClasses.h"

namespace vexa::cli {

namespace {

// "Usage:" stays as it is: help2man takes the synopsis of the manual page from it.
const char kUsage[] =
    "Usage: vexa-cli [--dir DIR] [--demo | --port DEVICE] [--baud BITS] [--trace] COMMAND ...\n"
    "Команды vexa-cli для линии регуляторов, файлов конфигурации, архивов отчётов и журнала тревог.\n"
    "  --dir DIR              папка программы (Config/, Archives/), по умолчанию текущая; относительные\n"
    "                         пути к файлам в командах отсчитываются от неё\n"
    "  --demo                 ответы имитируемой сети вместо линии\n"
    "  --port DEVICE          путь к последовательному порту или COM1..COM8\n"
    "  --baud BITS            скорость обмена 2400..115200 бит/с (по умолчанию 19200)\n"
    "  --trace                каждый кадр обмена в стандартный поток ошибок\n"
    "  --help                 эта справка\n"
    "  --version              версия программы\n"
    "  read NAME              чтение одного регистра (NAME вида D001C002R014); код выхода 0 при успехе,\n"
    "                         1 при \"***\"\n"
    "  write NAME VALUE       регистр читается один раз (тип и права), затем в него пишется VALUE\n";

int Read(TCliContext& ctx, const QStringList& args) {
  if (args.size() != 1) return Usage();
  TRegisterNode reg(nullptr);
  reg.SetName(args[0]);
  Out(reg.StringData(ctx.Network->LineContext()));
  return reg.LastIOResult() == iorOK ? 0 : 1;
}

int Write(TCliContext& ctx, const QStringList& args) {
  if (args.size() != 2) return Usage();
  const TLineContext line = ctx.Network->LineContext();
  TRegisterNode reg(nullptr);
  reg.SetName(args[0]);
  reg.StringData(line);
  if (reg.LastIOResult() != iorOK) {
    Err(QStringLiteral("vexa-cli: %1 не отвечает; ничего не записано").arg(args[0]));
    return 1;
  }
  if (!reg.UserCanWRITE()) {
    Err(QStringLiteral("vexa-cli: %1 только для чтения; ничего не записано").arg(args[0]));
    return 1;
  }
  if (!reg.IsValidValue(args[1])) {
    Err(QStringLiteral("vexa-cli: \"%1\" — недопустимое значение для %2 (%3, знаков после запятой: %4)")
            .arg(args[1], args[0], RegisterTypeNames().at(reg.RegisterType()))
            .arg(reg.Digits()));
    return 1;
  }
  // The program's own path for writes, waited for: a one-shot command has nothing else to do.
  reg.SubmitStringData(line, args[1]);
  ctx.Network->Writer().Drain();
  return reg.LastIOResult() == iorOK ? 0 : 1;
}

}  // namespace

int Usage(FILE* to) {
  QByteArray text(kUsage);
  for (const auto& [name, command] : Commands())
    if (!command.Help.isEmpty()) text += "  " + command.Help.toUtf8() + '\n';
  // In one write, as it fits a pipe: a reader that stops at the first line (grep -q, head -1) must
  // not end the program with SIGPIPE in the middle of it.
  std::fflush(to);
  for (qsizetype done = 0; done < text.size();) {
    const ssize_t n = ::write(fileno(to), text.constData() + done, static_cast<size_t>(text.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return 2;
}

void Out(const QString& text) {
  std::fputs(text.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
}

namespace {

// sd-daemon(3): JOURNAL_STREAM names the device and inode of the journal's stream; standard error is
// that stream only while they are its own (a caller may have sent it elsewhere).
bool ErrorsGoToJournal() {
  const QByteArray stream = qgetenv("JOURNAL_STREAM");
  const qsizetype colon = stream.indexOf(':');
  bool deviceOk = false;
  bool inodeOk = false;
  const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
  const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
  struct stat st {};
  if (colon <= 0 || !deviceOk || !inodeOk || ::fstat(STDERR_FILENO, &st) != 0) return false;
  return st.st_dev == device && st.st_ino == inode;
}

const char* JournalPrefix(TPriority priority) {
  switch (priority) {
    case TPriority::Error:
      return SD_ERR;
    case TPriority::Warning:
      return SD_WARNING;
    case TPriority::Info:
      return SD_INFO;
    case TPriority::Debug:
      return SD_DEBUG;
  }
  return SD_ERR;
}

}  // namespace

void Err(const QString& text, TPriority priority) {
  static const bool journal = ErrorsGoToJournal();
  QString lines = text;
  if (journal) {
    // The journal reads the priority of each line from its own start.
    const QString prefix = QString::fromLatin1(JournalPrefix(priority));
    lines = prefix + lines.replace(QLatin1Char('\n'), QLatin1Char('\n') + prefix);
  }
  lines += QLatin1Char('\n');
  // One write per line: the poller thread's lines must not split another's.
  std::fputs(lines.toUtf8().constData(), stderr);
}

int BadArgument(const QStringList& args, qsizetype i, std::initializer_list<const char*> valued) {
  const QString& word = args.at(i);
  QString text = QStringLiteral("лишний аргумент %1").arg(word);
  if (word.startsWith(QLatin1String("--"))) {
    text = QStringLiteral("неизвестный параметр %1").arg(word);
    for (const char* option : valued)
      if (word == QLatin1String(option) && i + 1 == args.size())
        text = QStringLiteral("у параметра %1 нет значения").arg(word);
  }
  Err(QStringLiteral("vexa-cli: %1; справка: vexa-cli --help").arg(text));
  return 2;
}

int BadValue(const QString& option, const QString& value) {
  Err(QStringLiteral("vexa-cli: недопустимое значение %1 параметра %2; справка: vexa-cli --help")
          .arg(value, option));
  return 2;
}

int UnreadableFilesExit(const QString& text) {
  Err(QStringLiteral("vexa-cli: эти файлы есть, но не читаются; ничего не изменено:\n") + text);
  return 1;
}

QString TCliContext::FilePath(const QString& argument) const {
  return QDir::cleanPath(QDir(Dir).absoluteFilePath(argument));
}

std::map<QString, TCommand>& Commands() {
  static std::map<QString, TCommand> commands;
  return commands;
}

namespace {

// The command word: the first argument that is neither an option nor an option's value.
QString CommandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    QString a = QString::fromLocal8Bit(argv[i]);
    if (a == QLatin1String("--dir") || a == QLatin1String("--port") || a == QLatin1String("--baud")) {
      ++i;
    } else if (!a.startsWith(QLatin1String("--"))) {
      return a;
    }
  }
  return {};
}

// The program folder that the command on the command line writes, if any.
std::optional<QString> FolderWritten(const TCommand& command, const TCliContext& ctx,
                                     const QStringList& args) {
  switch (command.Writes) {
    case TFolderWrites::Folder:
      return ctx.Dir;
    case TFolderWrites::WithSave:
      if (args.contains(QLatin1String("--save"))) return ctx.Dir;
      return std::nullopt;
    case TFolderWrites::WithAck:
      if (args.contains(QLatin1String("--ack"))) return ctx.Dir;
      return std::nullopt;
    case TFolderWrites::TargetFile:
      if (!args.isEmpty()) return ProgramFolderOf(ctx.FilePath(args.last()));
      return std::nullopt;
    case TFolderWrites::Nothing:
      break;
  }
  return std::nullopt;
}

// A writer holds its folder from before its first read to its end, and first clears away what
// killed saves left there; 0 when it may go on.
int TakeFolder(TFolderLock& lock, const QString& folder, const QString& program) {
  switch (lock.Take(folder, program)) {
    case TFolderLock::TOutcome::Busy:
      Err(QStringLiteral("vexa-cli: %1 Команда не выполнена, ничего не записано.")
              .arg(FolderBusyText(folder, lock.Holder())));
      return 1;
    case TFolderLock::TOutcome::Unavailable:
      Err(QStringLiteral("vexa-cli: %1 Команда не выполнена, ничего не записано.")
              .arg(FolderLockFailedText(folder, lock.Why())));
      return 1;
    case TFolderLock::TOutcome::Taken:
      break;
  }
  RemoveStaleTemporariesOfProgramFolder(folder);
  return 0;
}

}  // namespace

std::unique_ptr<QCoreApplication> CreateApplication(int& argc, char** argv) {
  const auto command = Commands().find(CommandWord(argc, argv));
  if (command == Commands().end() || !command->second.NeedsGui)
    return std::make_unique<QCoreApplication>(argc, argv);
  // A shell, a script or a test has no display to offer.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QGuiApplication>(argc, argv);
}

namespace {
const TCommandRegistrar kRead{QStringLiteral("read"), {&Read, QString(), true}};
const TCommandRegistrar kWrite{QStringLiteral("write"), {&Write, QString(), true}};
}  // namespace

}  // namespace vexa::cli

int main(int argc, char** argv) {
  using namespace vexa;
  using namespace vexa::cli;
  // Qt's own warnings (and the poller's) take the same way, with their priorities.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const TPriority priority = type == QtDebugMsg     ? TPriority::Debug
                               : type == QtInfoMsg    ? TPriority::Info
                               : type == QtWarningMsg ? TPriority::Warning
                                                      : TPriority::Error;
    Err(qFormatLogMessage(type, context, text), priority);
  });
  RegisterPersistentClasses();
  const std::unique_ptr<QCoreApplication> app = CreateApplication(argc, argv);
  QStringList args = app->arguments().mid(1);
  TCliContext ctx;
  ctx.Dir = QDir::currentPath();
  while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
    const QString opt = args.takeFirst();
    auto value = [&]() -> std::optional<QString> {
      if (args.isEmpty()) return std::nullopt;
      return args.takeFirst();
    };
    if (opt == QLatin1String("--demo")) {
      ctx.Demo = true;
    } else if (opt == QLatin1String("--trace")) {
      ctx.Trace = true;
    } else if (opt == QLatin1String("--dir") || opt == QLatin1String("--port") ||
               opt == QLatin1String("--baud")) {
      const auto v = value();
      if (!v) {
        Err(QStringLiteral("vexa-cli: у параметра %1 нет значения; справка: vexa-cli --help").arg(opt));
        return 2;
      }
      if (opt == QLatin1String("--dir")) ctx.Dir = QDir(*v).absolutePath();
      if (opt == QLatin1String("--port")) ctx.Port = *v;
      if (opt == QLatin1String("--baud")) {
        bool ok = false;
        ctx.Baud = v->toInt(&ok);
        if (!ok) return BadValue(opt, *v);
      }
    } else if (opt == QLatin1String("--help")) {
      Usage(stdout);
      return 0;
    } else if (opt == QLatin1String("--version")) {
      std::printf("vexa-cli %s\n", VEXA_VERSION_STRING);
      return 0;
    } else {
      Err(QStringLiteral("vexa-cli: неизвестный параметр %1; справка: vexa-cli --help").arg(opt));
      return 2;
    }
  }
  if (args.isEmpty()) return Usage();
  const QString word = args.takeFirst();
  const auto command = Commands().find(word);
  if (command == Commands().end()) {
    Err(QStringLiteral("vexa-cli: неизвестная команда %1; справка: vexa-cli --help").arg(word));
    return 2;
  }
  TFolderLock lock;
  if (const std::optional<QString> folder = FolderWritten(command->second, ctx, args)) {
    const QString program =
        QStringLiteral("vexa-cli %1%2")
            .arg(command->first, command->second.Writes == TFolderWrites::WithSave ? QStringLiteral(" --save")
                                 : command->second.Writes == TFolderWrites::WithAck ? QStringLiteral(" --ack")
                                                                                    : QString());
    if (const int refused = TakeFolder(lock, *folder, program)) return refused;
  }

  Services().Format = TFormatSettings::FromSystem();
  const int prepared = PrepareLine(ctx, command->second.NeedsLine);
  if (prepared != 0) return prepared;
  const int rc = command->second.Run(ctx, args);
  ctx.Network.reset();
  return rc;
}
