#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "support/Cli.h"
#include "support/TestSupport.h"

namespace {

using vexa::test::TRun;

// In an empty folder of its own.
// In a folder of its own, so that nothing it writes lands among the tests' files.
TRun Cli(const QStringList& args) {
  QTemporaryDir dir;
  return vexa::test::Cli(args, {.WorkDir = dir.path()});
}

TEST(CliTest, DemoReadsAnswerLikeTheSimulatedNetwork) {
  TRun ok = Cli({"--demo", "read", "D001C000R005"});
  EXPECT_EQ(ok.Code, 0);
  EXPECT_EQ(ok.Out, "250\n");
  TRun missing = Cli({"--demo", "read", "D000C006R000"});
  EXPECT_EQ(missing.Code, 1);
  EXPECT_EQ(missing.Out, "***\n");
  TRun channel = Cli({"--demo", "read", "D001C002R000"});
  EXPECT_EQ(channel.Out, "1\n");
}

TEST(CliTest, TraceShowsTheRequestFrameFirst) {
  TRun r = Cli({"--demo", "--trace", "read", "D000C001R002"});
  EXPECT_EQ(r.Code, 0);
  const QStringList lines = r.Err.split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines[0], QStringLiteral("Линия: имитация"));  // which line, first and once
  EXPECT_EQ(lines[1], "> 00 01 02 00 D1");
  EXPECT_TRUE(lines[2].startsWith("< 00 01 02 00 C4 5E 01")) << lines[2].toStdString();  // 350 as rtINT
  EXPECT_EQ(r.Err.count(QStringLiteral("Линия:")), 1);
}

TEST(CliTest, WriteValidatesBeforeSending) {
  EXPECT_EQ(Cli({"--demo", "write", "D001C000R005", "12"}).Code, 0);
  TRun bad = Cli({"--demo", "write", "D001C000R005", "1,5"});  // an integer register without decimals
  EXPECT_EQ(bad.Code, 1);
  EXPECT_TRUE(bad.Err.contains(QStringLiteral("недопустимое значение"))) << bad.Err.toStdString();
}

TEST(CliTest, BadCommandLinesExplainThemselves) {
  TRun none = Cli({});
  EXPECT_EQ(none.Code, 2);
  EXPECT_TRUE(none.Err.contains("Usage: vexa-cli"));
  EXPECT_EQ(Cli({"--demo", "read"}).Code, 2);
  // A word not understood is named, with where to read what is: not the whole usage.
  const struct {
    QStringList Args;
    QString Says;
  } words[] = {
      {{"--demo", "frobnicate"}, "неизвестная команда frobnicate"},
      {{"--bogus", "read", "X"}, "неизвестный параметр --bogus"},
      {{"--demo", "--dir"}, "у параметра --dir нет значения"},
      {{"--demo", "--baud", "fast", "read", "X"}, "недопустимое значение fast параметра --baud"},
      {{"--demo", "poll", "--seconds", "1", "--every", "2"}, "неизвестный параметр --every"},
      {{"--demo", "poll", "--seconds", "0"}, "недопустимое значение 0 параметра --seconds"},
      {{"--demo", "run", "--seconds"}, "у параметра --seconds нет значения"},
      {{"--demo", "run", "--virtual-clock", "07.12.2026 9:00:00"},
       "--virtual-clock работает только вместе с --seconds"},
      {{"--demo", "alarms", "--ack"}, "у параметра --ack нет значения"},
      {{"--demo", "alarms", "now"}, "лишний аргумент now"},
  };
  for (const auto& w : words) {
    SCOPED_TRACE(w.Args.join(' ').toStdString());
    const TRun bad = Cli(w.Args);
    EXPECT_EQ(bad.Code, 2);
    EXPECT_TRUE(bad.Err.contains("vexa-cli: " + w.Says)) << bad.Err.toStdString();
    EXPECT_TRUE(bad.Err.contains("справка: vexa-cli --help")) << bad.Err.toStdString();
    EXPECT_FALSE(bad.Err.contains("Usage:")) << bad.Err.toStdString();
  }
  TRun noLine = Cli({"read", "D000C000R001"});
  EXPECT_EQ(noLine.Code, 2);
  EXPECT_TRUE(noLine.Err.contains(QStringLiteral("--demo или --port")));
}

}  // namespace
