#include "ui/model/ArchiveList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <exception>

#include "alarms/model/AlarmJournal.h"
#include "core/ImageIndex.h"
#include "historian/HistoryStore.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/ArchiveText.h"
#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"
#include "storage/TreeFiles.h"

namespace vexa {

QString ArchiveFolder(const QString& folder) {
  return folder + QStringLiteral("/Archives");
}

QStringList ListArchiveFiles(const QString& folder) {
  const QDir dir(ArchiveFolder(folder));
  // QDir on a missing folder would not fail but list nothing; checked anyway so that no other
  // folder is ever listed in its place.
  if (!dir.exists()) return {};
  QStringList names;
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::NoSort))
    if (!IsReplaceTemporary(name) && !IsAlarmJournalFile(name) && !IsHistoryFile(name)) names << name;
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int byLetters = QString::compare(a, b, Qt::CaseInsensitive);
    return byLetters != 0 ? byLetters < 0 : a < b;
  });
  return names;
}

bool IsReportArchive(const QString& folder, const QString& name) {
  return IsPlainFileName(name) && CompoundFile::IsStorageFile(ArchivePath(folder, name));
}

TFileAge ArchiveFileAge(const QString& folder, const QString& name) {
  const QFileInfo info(ArchivePath(folder, name));
  if (!IsPlainFileName(name) || !info.exists()) return kMissingFileAge;
  return info.lastModified().toMSecsSinceEpoch();
}

void SortNewestFirst(QStringList& names, std::vector<TFileAge>& ages, const std::function<void()>& step) {
  const qsizetype n = std::min<qsizetype>(names.size(), static_cast<qsizetype>(ages.size()));
  for (qsizetype j = 0; j + 1 < n; ++j) {
    if (step) step();
    qsizetype newest = j;
    for (qsizetype i = j + 1; i < n; ++i)
      if (ages[static_cast<size_t>(i)] > ages[static_cast<size_t>(newest)]) newest = i;
    if (newest != j) {
      names.swapItemsAt(j, newest);
      std::swap(ages[static_cast<size_t>(j)], ages[static_cast<size_t>(newest)]);
    }
  }
}

void SortByDate(const QString& folder, QStringList& names, const std::function<void()>& step) {
  std::vector<TFileAge> ages;
  ages.reserve(static_cast<size_t>(names.size()));
  for (const QString& name : names) ages.push_back(ArchiveFileAge(folder, name));
  SortNewestFirst(names, ages, step);
}

QString DeleteQuestion(int count) {
  const int last = count % 10;
  const char* noun = " отчетов?";  // 0, 5 to 9, and 11 to 14 whatever their last digit
  if (count < 11 || count > 14) {
    if (last == 1)
      noun = " отчет?";
    else if (last >= 2 && last <= 4)
      noun = " отчета?";
  }
  return QStringLiteral("Удалить ") + QString::number(count) + QString::fromUtf8(noun);
}

QStringList DeleteArchiveFiles(const QString& folder, const QStringList& names) {
  QStringList failures;
  for (const QString& name : names) {
    if (IsPlainFileName(name) && QFile::remove(ArchivePath(folder, name))) continue;
    failures << QStringLiteral("Не могу удалить ") + name +
                    QStringLiteral("\r\nФайл не существует или занят");
  }
  return failures;
}

QString NotAnArchiveMessage(const QString& name) {
  return QStringLiteral("Файл ") + name + QStringLiteral("\r\nне является файлом отчета или поврежден!");
}

std::unique_ptr<TReportNode> OpenArchive(const QString& folder, const QString& name) {
  auto report = std::make_unique<TReportNode>(nullptr);
  report->SetCaption(name);
  const TReportNode* empty = report.get();
  try {
    LoadArchive(folder, report);
  } catch (const std::exception&) {
    return nullptr;  // a damaged stream, or a file holding another kind of object
  }
  // A missing or unreadable file, or one without a stored object, leaves the empty report.
  if (report.get() == empty) return nullptr;
  report->SetImageIndex(iiARCHIVES);
  return report;
}

TArchiveExport ExportArchiveText(const QString& folder, const QString& name) {
  if (!IsReportArchive(folder, name)) return {false, kCannotConvertMessage, TMsgIcon::Information};
  const std::unique_ptr<TReportNode> report = OpenArchive(folder, name);
  if (!report) return {false, NotAnArchiveMessage(name), TMsgIcon::Warning};
  const QByteArray text = ArchiveText(*report);
  const QString textName = name + QStringLiteral(".txt");
  QString why;
  const bool written = ReplaceFileAtomically(
      ArchivePath(folder, textName),
      [&text](int fd) {
        TFdWriter out(fd);
        return out.Put(text.constData(), text.size()) && out.Flush();
      },
      &why);
  if (!written)
    return {false, QStringLiteral("Не могу записать ") + textName + QStringLiteral("\r\n") + why,
            TMsgIcon::Error};
  return {true, QStringLiteral("Отчет\r\n") + name + QStringLiteral("\r\nпреобразован в\r\n") + textName,
          TMsgIcon::Information};
}

}  // namespace vexa
