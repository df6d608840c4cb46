#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "support/TestSupport.h"

namespace {

using vexa::test::TRun;

// In an empty folder of its own.
TRun Cli(const QStringList& args) {
  QTemporaryDir dir;
  vexa::test::TRunOptions options;
  options.WorkDir = dir.path();
  return vexa::test::RunProgram(QStringLiteral(VEXA_CLI_PATH), args, options);
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
  EXPECT_TRUE(bad.Err.contains("not a valid value")) << bad.Err.toStdString();
}

TEST(CliTest, BadCommandLinesExplainThemselves) {
  TRun none = Cli({});
  EXPECT_EQ(none.Code, 2);
  EXPECT_TRUE(none.Err.contains("Usage: vexa-cli"));
  EXPECT_EQ(Cli({"--demo", "frobnicate"}).Code, 2);
  EXPECT_EQ(Cli({"--demo", "read"}).Code, 2);
  EXPECT_EQ(Cli({"--bogus", "read", "X"}).Code, 2);
  TRun noLine = Cli({"read", "D000C000R001"});
  EXPECT_EQ(noLine.Code, 2);
  EXPECT_TRUE(noLine.Err.contains("--demo or --port"));
}

}  // namespace
