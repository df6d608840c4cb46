#pragma once
// A PostgreSQL server of the test's own: initdb and pg_ctl from Debian's postgresql into a temporary
// folder, on 127.0.0.1 at a free port, password logins only, stopped when it goes. The roles of a
// plant are made as README says: vexa_owner owns each database NewPlant makes, the line roles
// line_a and line_b log in as members of vexa_history_writer. Their passwords are in a pgpass file that
// PGPASSFILE names while the server lives. Under root the server runs as the postgres user, as
// initdb refuses root. No gtest: the historian's benchmark starts one too.

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace vexa::test {

class TPgServer {
 public:
  static constexpr char kAdminPassword[] = "admin-secret";

  TPgServer() = default;
  ~TPgServer() {
    Stop();
    if (hadPassFile_)
      qputenv("PGPASSFILE", oldPassFile_);
    else
      qunsetenv("PGPASSFILE");
  }
  TPgServer(const TPgServer&) = delete;
  TPgServer& operator=(const TPgServer&) = delete;

  // The folder of initdb and pg_ctl, empty when postgresql is not installed.
  static QString BinDir() {
    const QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
      const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
      if (QFile::exists(bin + QStringLiteral("/initdb"))) return bin;
    }
    return {};
  }

  // Makes the cluster, starts it and makes the roles; false with *why.
  bool Start(QString* why) {
    if (BinDir().isEmpty())
      return No(why, QStringLiteral("postgresql is not installed (scripts/deps installs it)"));
    if (!dir_.isValid()) return No(why, QStringLiteral("no temporary folder"));
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("postgres");
      if (pw == nullptr) return No(why, QStringLiteral("no postgres user to run the server as"));
      if (::chown(dir_.path().toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid) != 0)
        return No(why, QStringLiteral("cannot hand the folder to postgres"));
      runAs_ = true;
    }
    port_ = FreePort();
    const QString pwfile = dir_.filePath(QStringLiteral("admin.pw"));
    {
      QFile f(pwfile);
      if (!f.open(QIODevice::WriteOnly)) return No(why, QStringLiteral("cannot write ") + pwfile);
      f.write(kAdminPassword);
    }
    QFile::setPermissions(pwfile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    if (!Tool(QStringLiteral("initdb"),
              {QStringLiteral("-D"), DataDir(), QStringLiteral("-U"), QStringLiteral("vexa_admin"),
               QStringLiteral("--auth=scram-sha-256"), QStringLiteral("--pwfile=") + pwfile,
               QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8"),
               QStringLiteral("--locale=C")},
              why))
      return false;
    if (!Resume(why)) return false;
    const QString passFile = dir_.filePath(QStringLiteral("pgpass"));
    {
      QFile f(passFile);
      if (!f.open(QIODevice::WriteOnly)) return No(why, QStringLiteral("cannot write ") + passFile);
      for (const char* role : {"vexa_admin", "vexa_owner", "line_a", "line_b"})
        f.write(QStringLiteral("127.0.0.1:%1:*:%2:%3\n")
                    .arg(port_)
                    .arg(QLatin1String(role), Password(role))
                    .toUtf8());
    }
    QFile::setPermissions(passFile, QFile::ReadOwner | QFile::WriteOwner);
    hadPassFile_ = qEnvironmentVariableIsSet("PGPASSFILE");
    oldPassFile_ = qgetenv("PGPASSFILE");
    qputenv("PGPASSFILE", passFile.toLocal8Bit());
    return Sql(
        QStringLiteral("postgres"),
        {"CREATE ROLE vexa_owner LOGIN PASSWORD 'owner-secret'", "CREATE ROLE vexa_history_writer NOLOGIN",
         "CREATE ROLE line_a LOGIN PASSWORD 'line_a-secret' IN ROLE vexa_history_writer",
         "CREATE ROLE line_b LOGIN PASSWORD 'line_b-secret' IN ROLE vexa_history_writer"},
        why);
  }
  // pg_ctl start: the server back after Stop, at the same port.
  bool Resume(QString* why) {
    return Tool(
        QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), DataDir(), QStringLiteral("-l"), dir_.filePath(QStringLiteral("log")),
         QStringLiteral("-w"), QStringLiteral("-o"),
         QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off").arg(port_).arg(dir_.path()),
         QStringLiteral("start")},
        why);
  }
  // pg_ctl stop -m fast: the connections cut, as a server going down does.
  void Stop() {
    if (!QFile::exists(DataDir() + QStringLiteral("/postmaster.pid"))) return;
    QString why;
    (void)Tool(QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), DataDir(), QStringLiteral("-m"), QStringLiteral("fast"),
                QStringLiteral("-w"), QStringLiteral("stop")},
               &why);
  }

  // A fresh database of the plant's owner that the line roles may connect to: its name.
  QString NewPlant(QString* why) {
    const QString db = QStringLiteral("plant_%1").arg(++plants_);
    if (!Sql(QStringLiteral("postgres"),
             {QStringLiteral("CREATE DATABASE %1 OWNER vexa_owner").arg(db),
              QStringLiteral("REVOKE ALL ON DATABASE %1 FROM PUBLIC").arg(db),
              QStringLiteral("GRANT CONNECT ON DATABASE %1 TO vexa_history_writer").arg(db)},
             why))
      return {};
    return db;
  }

  // The CPU time of the server's processes so far: the postmaster, its children alive and gone.
  double CpuSeconds() const {
    QFile pidFile(DataDir() + QStringLiteral("/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly)) return 0;
    const QByteArray master = pidFile.readLine().trimmed();
    // utime stime cutime cstime (fields 14 to 17) and the parent (field 4), after the name's ')'.
    const auto fields = [](const QString& pid) {
      QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
      if (!stat.open(QIODevice::ReadOnly)) return QList<QByteArray>{};
      const QByteArray text = stat.readAll();
      return text.mid(text.lastIndexOf(')') + 2).split(' ');
    };
    long long ticks = 0;
    const QList<QByteArray> own = fields(QString::fromLatin1(master));
    if (own.size() > 14)
      ticks += own[11].toLongLong() + own[12].toLongLong() + own[13].toLongLong() + own[14].toLongLong();
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      const QList<QByteArray> f = fields(pid);
      if (f.size() > 12 && f[1] == master) ticks += f[11].toLongLong() + f[12].toLongLong();
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }

  int Port() const { return port_; }
  QString Url(const QString& role, const QString& db) const {
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(role).arg(port_).arg(db);
  }
  static QString Password(const QString& role) {
    return role == QLatin1String("vexa_admin")
               ? QString::fromLatin1(kAdminPassword)
               : QStringLiteral("%1-secret")
                     .arg(role == QLatin1String("vexa_owner") ? QStringLiteral("owner") : role);
  }
  // Statements as role on db, each on its own; false with *why at the first refused.
  bool Sql(const QString& db, const QStringList& statements, QString* why,
           const QString& role = QStringLiteral("vexa_admin")) const {
    const QString name = QStringLiteral("vexa-test-pg-%1").arg(++connections_);
    bool ok = true;
    {
      QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
      c.setHostName(QStringLiteral("127.0.0.1"));
      c.setPort(port_);
      c.setUserName(role);
      c.setPassword(Password(role));
      c.setDatabaseName(db);
      if (!c.open()) {
        ok = No(why, c.lastError().text());
      } else {
        for (const QString& s : statements) {
          QSqlQuery q(c);
          if (!q.exec(s)) {
            ok = No(why, s + QStringLiteral(": ") + q.lastError().text());
            break;
          }
        }
      }
      c.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
  }

 private:
  static bool No(QString* why, const QString& text) {
    *why = text;
    return false;
  }
  static int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    ::close(fd);
    return port;
  }
  QString DataDir() const { return dir_.filePath(QStringLiteral("data")); }
  bool Tool(const QString& tool, const QStringList& args, QString* why) const {
    QProcess p;
    const QString program = BinDir() + QLatin1Char('/') + tool;
    if (runAs_)
      p.start(QStringLiteral("runuser"),
              QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} +
                  args);
    else
      p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
      return No(why, tool + QStringLiteral(": ") +
                         QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput()));
    return true;
  }

  QTemporaryDir dir_;
  int port_ = 0;
  bool runAs_ = false;
  bool hadPassFile_ = false;
  QByteArray oldPassFile_;
  mutable int connections_ = 0;
  int plants_ = 0;
};

}  // namespace vexa::test
