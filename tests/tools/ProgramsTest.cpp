// The three programs as a shell meets them: --help and --version (without a display), a command line
// they do not understand, and vexa-cli on a port the user may not open.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <vector>

#include "Version.h"
#include "support/TestSupport.h"

namespace {

using vexa::test::TRun;

// Runs a program without any display, in an empty folder: --help and --version must not need either.
TRun RunProgram(const QString& program, const QStringList& args, bool offscreen = false) {
  QTemporaryDir dir;
  vexa::test::TRunOptions options;
  options.Env = vexa::test::EnvironmentWithoutDisplay(offscreen ? QStringLiteral("offscreen") : QString());
  options.WorkDir = dir.path();
  return vexa::test::RunProgram(program, args, options);
}

struct TProgram {
  QString Path;
  QString Name;
};

std::vector<TProgram> Programs() {
  std::vector<TProgram> programs = {{QStringLiteral(VEXA_CLI_PATH), QStringLiteral("vexa-cli")},
                                    {QStringLiteral(VEXA_SIM_PATH), QStringLiteral("vexa-sim")}};
#ifdef VEXA_APP_PATH
  programs.push_back({QStringLiteral(VEXA_APP_PATH), QStringLiteral("vexa")});
#endif
  return programs;
}

TEST(ProgramsTest, HelpAndVersionOnStandardOutput) {
  for (const TProgram& program : Programs()) {
    SCOPED_TRACE(program.Name.toStdString());
    const TRun version = RunProgram(program.Path, {QStringLiteral("--version")});
    EXPECT_EQ(version.Code, 0) << version.Err.toStdString();
    EXPECT_EQ(version.Out, program.Name + QStringLiteral(" " VEXA_VERSION_STRING "\n"));
    EXPECT_EQ(version.Err, QString());
    const TRun help = RunProgram(program.Path, {QStringLiteral("--help")});
    EXPECT_EQ(help.Code, 0) << help.Err.toStdString();
    EXPECT_TRUE(help.Out.startsWith(QStringLiteral("Usage: ") + program.Name + QLatin1Char(' ')))
        << help.Out.toStdString();
    EXPECT_TRUE(help.Out.contains(QStringLiteral("--version"))) << "the usage names --version";
    EXPECT_EQ(help.Err, QString());
  }
}

// A script that reads the usage's first line only (grep -q, head -1) does not cut the program off in
// the middle of it: its exit status stays 0 under pipefail.
TEST(ProgramsTest, HelpReadByItsFirstLineOnlyEndsWell) {
  for (const TProgram& program : Programs()) {
    SCOPED_TRACE(program.Name.toStdString());
    QProcess shell;
    shell.setProcessEnvironment(vexa::test::EnvironmentWithoutDisplay());
    shell.start(
        QStringLiteral("bash"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "set -o pipefail; for i in $(seq 20); do '%1' --help | head -1 >/dev/null || exit $?; done")
             .arg(program.Path)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0) << "141 is SIGPIPE";
  }
}

TEST(ProgramsTest, ACommandLineNotUnderstoodIsToldWithTheUsage) {
  for (const TProgram& program : Programs()) {
    SCOPED_TRACE(program.Name.toStdString());
    // The main program needs a display before it can tell what is Qt's option and what is not.
    const TRun bad = RunProgram(program.Path, {QStringLiteral("--frobnicate")}, true);
    EXPECT_EQ(bad.Code, 2);
    EXPECT_EQ(bad.Out, QString());
    // vexa-cli speaks Russian and points to its --help, whose usage is long.
    if (program.Name == QLatin1String("vexa-cli")) {
      EXPECT_EQ(bad.Err,
                QStringLiteral("vexa-cli: неизвестный параметр --frobnicate; справка: vexa-cli --help\n"));
      continue;
    }
    EXPECT_TRUE(bad.Err.contains(QStringLiteral("unknown option --frobnicate"))) << bad.Err.toStdString();
    EXPECT_TRUE(bad.Err.contains(QStringLiteral("Usage: ") + program.Name)) << bad.Err.toStdString();
  }
}

TEST(ProgramsTest, CliOnAPortThatRefusesTheUserNamesTheGroupAndTheFix) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const QString slave = QString::fromLocal8Bit(ptsname(master));
  const QByteArray path = QFile::encodeName(slave);
  const group* dialout = getgrnam("dialout");
  const QString groupName =
      dialout ? QStringLiteral("dialout") : QString::fromLocal8Bit(getgrgid(getegid())->gr_name);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.constData(), 0, dialout ? dialout->gr_gid : getegid()), 0);
    ASSERT_EQ(chmod(path.constData(), 0660), 0);
  } else {
    ASSERT_EQ(chmod(path.constData(), 0), 0);
  }
  QProcess cli;
  cli.setWorkingDirectory(QStringLiteral("/"));
  // The superuser opens any device: the tool runs as nobody, whom the mode binds.
  if (root)
    cli.setChildProcessModifier([] {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
    });
  cli.start(QStringLiteral(VEXA_CLI_PATH),
            {QStringLiteral("--port"), slave, QStringLiteral("read"), QStringLiteral("D001C000R005")});
  ASSERT_TRUE(cli.waitForFinished(30000));
  ::close(master);
  const QString err = QString::fromUtf8(cli.readAllStandardError());
  if (cli.error() == QProcess::FailedToStart || cli.exitCode() == 126)
    GTEST_SKIP() << "the build folder is not open to nobody: " << err.toStdString();
  EXPECT_EQ(cli.exitCode(), 2) << err.toStdString();
  EXPECT_TRUE(err.startsWith(
      QStringLiteral("vexa-cli: не могу открыть порт %1 (%1): Нет прав на порт %1 ").arg(slave)))
      << err.toStdString();
  if (root) {
    EXPECT_TRUE(err.contains(QStringLiteral("(crw-rw---- root %1)").arg(groupName))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("«sudo usermod -aG %1 nobody»").arg(groupName)))
        << err.toStdString();
  }
  EXPECT_TRUE(err.contains(QStringLiteral("войдите в систему заново."))) << err.toStdString();
}

}  // namespace
