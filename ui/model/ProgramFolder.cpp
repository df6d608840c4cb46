#include "ui/model/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace vexa {

namespace {
const QString kDataFolderKey = QStringLiteral("DataFolder");
}  // namespace

const char kProgramUsage[] =
    "Usage: vexa [--dir DIR] [--choose-dir]\n"
    "       vexa --help | --version\n"
    "The operator shell for a network of regulators on an RS-485 line.\n"
    "  --dir DIR      the program folder (Config/, Archives/, the pictures), made if missing;\n"
    "                 one copy runs per folder, so each line of a PC may have its own\n"
    "  --choose-dir   ask again for the data folder an installed program keeps its files in\n"
    "  --help         this text\n"
    "  --version      the program's version\n"
    "Without --dir, a program run from its own folder keeps its files there; an installed one keeps\n"
    "them in the folder chosen at its first start (proposed: ~/.local/share/Vexa).\n";

TProgramOptions ParseProgramOptions(const QStringList& arguments) {
  TProgramOptions o;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      o.Help = true;
    } else if (a == QLatin1String("--version")) {
      o.Version = true;
    } else if (a == QLatin1String("--choose-dir")) {
      o.ChooseDir = true;
    } else if (a == QLatin1String("--dir")) {
      if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
        if (o.Error.isEmpty()) o.Error = QStringLiteral("--dir needs a folder");
        continue;
      }
      o.Dir = QDir::cleanPath(QDir(arguments[++i]).absolutePath());
    } else if (o.Error.isEmpty()) {
      o.Error = a.startsWith(QLatin1Char('-')) ? QStringLiteral("unknown option %1").arg(a)
                                               : QStringLiteral("unexpected argument %1").arg(a);
    }
  }
  return o;
}

bool InstalledProgram(const QString& programDir) {
  const QDir dir(programDir);
  return dir.dirName() == QLatin1String("bin") &&
         QFileInfo::exists(dir.filePath(QStringLiteral("../share/applications/vexa.desktop")));
}

QString DefaultDataFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

TProgramFolder DecideProgramFolder(const TProgramOptions& options, const QString& programDir,
                                   const QSettings& settings) {
  if (!options.Dir.isEmpty()) return {options.Dir, TFolderSource::CommandLine};
  if (!InstalledProgram(programDir)) return {programDir, TFolderSource::BesideProgram};
  const QString remembered = settings.value(kDataFolderKey).toString();
  if (remembered.isEmpty() || options.ChooseDir)
    return {remembered.isEmpty() ? DefaultDataFolder() : remembered, TFolderSource::Ask};
  return {remembered, TFolderSource::Remembered};
}

void RememberDataFolder(QSettings& settings, const QString& folder) {
  settings.setValue(kDataFolderKey, folder);
  settings.sync();
}

QString PrepareProgramFolder(const QString& folder) {
  if (folder.trimmed().isEmpty()) return QStringLiteral("Укажите папку для данных программы.");
  if (QDir::isRelativePath(folder))
    return QStringLiteral("Укажите полный путь к папке (от корня, /...): %1").arg(folder);
  const QFileInfo info(folder);
  if (info.exists() && !info.isDir()) return QStringLiteral("%1 — это файл, а не папка.").arg(folder);
  if (!QDir().mkpath(folder)) return QStringLiteral("Не удалось создать папку %1.").arg(folder);
  // Asked of the file system itself: permissions, a read-only mount and a full disk all show here.
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vexa-probe-XXXXXX")));
  if (!probe.open()) return QStringLiteral("В папку %1 нельзя записывать.").arg(folder);
  return {};
}

}  // namespace vexa
