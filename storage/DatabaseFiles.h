#pragma once
// What the program's SQLite databases (the alarm journal, the historian) share about their files:
// what kept one from its work, a damaged one moved aside with its log, and the spill file beside
// it that holds what waits to be written.

#include <QByteArray>
#include <QString>

namespace vexa {

// What kept a database from its work, as far as the operator can act on it.
enum class TJournalTrouble { None, Missing, Locked, Full, Damaged, Failed };

// SQLite's extended or primary result code (QSqlError::nativeErrorCode) as a trouble.
TJournalTrouble SqliteTrouble(int nativeCode);
// What a database's trouble tells the operator; `otherwise` for one they cannot act on.
QString TroubleWords(TJournalTrouble trouble, const QString& otherwise);

// A connection name of its own for each database object, as Qt SQL keeps connections by name and
// a thread must not share another's.
QString NextConnectionName(const char* prefix);

// Moves a damaged database (with its log and index) to `<path>.damaged-YYYYMMDD-HHMMSS`, never over
// an earlier one: the new name, empty with *why on failure.
QString SetDatabaseAside(const QString& path, QString* why);

// Appends bytes to a file and syncs it; on a short write (a full disk) the file is cut back to what
// it held, so the next append starts on a whole line. False when nothing was added.
bool AppendSynced(const QString& path, const QByteArray& bytes);

}  // namespace vexa
