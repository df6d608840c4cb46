#pragma once
// Another program holding an SQLite database's write lock until released: the sqlite3 shell in
// BEGIN IMMEDIATE, waiting for a file of ours to go. Started by fork and exec (TChildProcess).

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <memory>

#include "support/TestSupport.h"

namespace vexa::test {

inline bool HaveSqliteShell() {
  return !QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty();
}

class TForeignLock {
 public:
  explicit TForeignLock(const QString& db) : flag_(db + QStringLiteral(".hold")) {
    QFile(flag_).open(QIODevice::WriteOnly);
    // It waits its turn if we are writing just then. Its standard output is a file, written at its
    // end: it says it holds the lock by a file too.
    const QString held = db + QStringLiteral(".held");
    child_ = std::make_unique<TChildProcess>(
        QStringLiteral("sqlite3"),
        QStringList{db, ".timeout 5000", "BEGIN IMMEDIATE;", QStringLiteral(".shell touch '%1'").arg(held),
                    QStringLiteral(".shell while [ -e '%1' ]; do sleep 0.02; done").arg(flag_), "COMMIT;"});
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(held) && child_->Running() && waited.elapsed() < 10000) QThread::msleep(10);
    EXPECT_TRUE(QFile::remove(held)) << child_->Err().toStdString();
  }
  ~TForeignLock() { Release(); }
  TForeignLock(const TForeignLock&) = delete;
  TForeignLock& operator=(const TForeignLock&) = delete;
  void Release() {
    QFile::remove(flag_);
    child_->Wait(10000);
  }

 private:
  QString flag_;
  std::unique_ptr<TChildProcess> child_;
};

}  // namespace vexa::test
