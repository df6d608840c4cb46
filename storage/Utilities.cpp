#include "storage/Utilities.h"

#include <QDir>
#include <QFile>
#include <exception>

#include "core/CustomRegister.h"
#include "core/ExecuterUnit.h"
#include "core/Globals.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"

namespace vexa {

namespace {

struct TStateFile {
  const char* Name;
  const char* Caption;
};
const TStateFile kStateFiles[] = {
    {"NET", "Загрузка структуры сети..."}, {"TTEMPLATES", "Загрузка шаблонов процессов..."},
    {"TASKS", "Загрузка процессов..."},    {"RTEMPLATES", "Загрузка шаблонов отчетов..."},
    {"REPORTS", "Загрузка отчетов..."},    {"SETUP", "Загрузка параметров сети..."},
};

const QString kWork = QStringLiteral("Работа");

// An archive caption must stay a file inside the archive folder.
bool IsPlainFileName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// Reads the tree of a file into slot when the file holds an object of slot's class.
template <class T>
void LoadInto(std::unique_ptr<T>& slot, const QString& path) {
  std::unique_ptr<TComponent> loaded;
  TStgHandler::Open(path)->LoadTree(loaded);
  if (!loaded) return;
  auto* typed = dynamic_cast<T*>(loaded.get());
  if (typed == nullptr)
    throw EStreamError(QStringLiteral("The file %1 holds a %2, not a %3")
                           .arg(path, loaded->ClassName(), T::StaticClassInfo().Name));
  loaded.release();
  slot.reset(typed);
}

// Runs the clean-up of a state operation and lets an error of the work reach the caller only after it.
template <class Work, class Cleanup>
void WithCleanup(Work work, Cleanup cleanup) {
  try {
    work();
  } catch (...) {
    cleanup();
    throw;
  }
  cleanup();
}

void LoadState(const std::function<void(const QString&)>& progress) {
  TBusyCursor busy;
  StopPoller();
  ShowProgramState(QStringLiteral("Чтение состояния сети"));
  WithCleanup(
      [&] {
        for (const TStateFile& f : kStateFiles) {
          const QString name = QString::fromLatin1(f.Name);
          if (progress) progress(QString::fromUtf8(f.Caption));
          if (name == QLatin1String("SETUP"))
            LoadTreeFile(SETUP);
          else
            LoadTreeFile(*RootSlot(name));
        }
      },
      [] {
        ShowProgramState(kWork);
        StartPoller();
      });
}

}  // namespace

QString ConfigFilePath(const QString& rootName) {
  return ExeDir() + QStringLiteral("/Config/") + rootName + QStringLiteral(".cfg");
}

QString ArchivePath(const QString& caption) {
  return ExeDir() + QStringLiteral("/Archives/") + caption;
}

bool SaveTreeFile(TComponent& root) {
  const QString path = ConfigFilePath(root.Name());
  // A new configuration replaces the file as a whole; the write is atomic, so the old file stays
  // until the new one is complete.
  const bool fresh = SETUP && SETUP->NewConfig();
  auto handler = fresh ? TStgHandler::CreateNew(path) : TStgHandler::Create(path);
  return handler->SaveTree(root);
}

void LoadTreeFile(std::unique_ptr<TRootNode>& root) {
  if (root) LoadInto(root, ConfigFilePath(root->Name()));
}

void LoadTreeFile(std::unique_ptr<TSetupNode>& setup) {
  LoadInto(setup, ConfigFilePath(setup ? setup->Name() : QStringLiteral("SETUP")));
}

void SaveNetworkState() {
  TBusyCursor busy;
  SuspendPoller();
  ShowProgramState(QStringLiteral("Сохранение состояния сети"));
  WithCleanup(
      [] {
        for (const TStateFile& f : kStateFiles) {
          const QString name = QString::fromLatin1(f.Name);
          TComponent* root =
              name == QLatin1String("SETUP") ? static_cast<TComponent*>(SETUP.get()) : RootSlot(name)->get();
          if (root != nullptr) SaveTreeFile(*root);
        }
      },
      [] {
        if (SETUP) SETUP->SetNewConfig(false);
        ShowProgramState(kWork);
        ResumePoller();
      });
}

void LoadNetworkState() {
  LoadState(nullptr);
}

void LoadNetworkStateWithProgress(const std::function<void(const QString& caption)>& progress) {
  LoadState(progress);
}

bool SaveArchive(TReportNode& report) {
  TBusyCursor busy;
  ShowProgramState(QStringLiteral("Сохранение архива"));
  bool saved = false;
  WithCleanup(
      [&] {
        if (IsPlainFileName(report.Caption()))
          saved = TStgHandler::Create(ArchivePath(report.Caption()))->SaveTree(report);
      },
      [] { ShowProgramState(kWork); });
  return saved;
}

void LoadArchive(std::unique_ptr<TReportNode>& report) {
  if (report && IsPlainFileName(report->Caption())) LoadInto(report, ArchivePath(report->Caption()));
}

QString ArchiveName(const QString& caption, double startPoint) {
  const QDateTime t = DateTimeToQt(startPoint);
  QString name = caption + t.toString(QStringLiteral(" dd MM yyyy HHmm"));
  for (QChar& c : name)
    if (c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char('\\'))
      c = QLatin1Char('_');
  return name;
}

QByteArray ArchiveText(const TComponent& report) {
  std::vector<const TCustomRegister*> regs;
  for (int i = 0; i < report.ComponentCount(); ++i)
    if (const auto* r = dynamic_cast<const TCustomRegister*>(report.Component(i))) regs.push_back(r);
  const QString tab = QStringLiteral("\t");
  QString text = QStringLiteral("Дата и время");
  for (const TCustomRegister* r : regs) text += tab + r->Caption();
  text += QStringLiteral("\r\n");
  const qsizetype rows = regs.empty() ? 0 : regs.front()->Points().size();
  for (qsizetype k = 0; k < rows; ++k) {
    text += regs.front()->Points().at(k);
    for (const TCustomRegister* r : regs) text += tab + r->DataList().value(k);
    text += QStringLiteral("\r\n");
  }
  return ToCp1251(text);
}

}  // namespace vexa
