#pragma once
// Rules of the report archive window that need no window: which files the archive folder lists and
// how they sort by date, the delete question and the delete, opening an archive and its export as
// tab-separated text.

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "core/Services.h"

namespace vexa {

class TReportNode;

// A file's modification time as a whole number (milliseconds since the epoch): later is larger, a
// missing file has the smallest value.
using TFileAge = qint64;
inline constexpr TFileAge kMissingFileAge = std::numeric_limits<TFileAge>::min();

inline const QString kCannotConvertMessage = QStringLiteral(
    "Не могу преобразовать в Excel.\r\nДанный файл не является файлом отчета, не существует или поврежден!");

// <folder>/Archives, in a network's program folder.
QString ArchiveFolder(const QString& folder);
// Every file of the archive folder, alphabetically (case aside), except the temporaries that a save
// cut short leaves beside its target and the alarm journal's files; empty when the folder does not
// exist.
QStringList ListArchiveFiles(const QString& folder);
// Whether the file `name` of the archive folder has the form of a report archive (a compound file).
// The others (a text export, a note, a copied file) are listed all the same, to be deleted, but the
// window marks them and its preview and export pass over them without a message; a file that has
// the form but does not open is damaged, and that is told.
bool IsReportArchive(const QString& folder, const QString& name);
inline const QString kNotAnArchiveHint =
    QStringLiteral("Не файл отчета: просмотр и преобразование недоступны");
// The age of the archive file `name`.
TFileAge ArchiveFileAge(const QString& folder, const QString& name);

// Selection sort, newest first: for each position from the first to the last but one, the largest
// age at or after it (the lowest position among equals) is exchanged into it, the name along with
// the age. Not stable: equal ages keep their order only where no exchange passes over them. `step`
// runs before each position (the window lets its events run there).
void SortNewestFirst(QStringList& names, std::vector<TFileAge>& ages, const std::function<void()>& step = {});
// The archive files of `names` sorted so by their ages.
void SortByDate(const QString& folder, QStringList& names, const std::function<void()>& step = {});

// "Удалить 5 отчетов?": the noun follows the last digit, and 11 to 14 take the plural of 5.
QString DeleteQuestion(int count);
// Deletes the named files of the archive folder in order; returns the message for each one that
// could not be deleted.
QStringList DeleteArchiveFiles(const QString& folder, const QStringList& names);

// The message for a file of the archive folder that holds no report archive.
QString NotAnArchiveMessage(const QString& name);
// The report stored in the archive file `name`, showing the archive's picture; null when the file
// is missing, foreign or damaged.
std::unique_ptr<TReportNode> OpenArchive(const QString& folder, const QString& name);

struct TArchiveExport {
  bool Written = false;  // the text file is in place: the list changed
  QString Message;
  TMsgIcon Icon = TMsgIcon::Information;
};
// "Преобразовать для Excel": the archive `name` as text in <name>.txt beside it, replaced whole;
// the message to show either way.
TArchiveExport ExportArchiveText(const QString& folder, const QString& name);

}  // namespace vexa
