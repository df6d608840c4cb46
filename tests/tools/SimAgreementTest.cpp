// One simulated network: the demonstration's channel templates (written by vexa-demo), vexa-sim on a
// pseudo-terminal and the built-in simulator agree on every register's type, rights and values, so
// the demonstration's network reads the same with simulation on and over the line.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

#include "core/Comm.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "core/SimulatedNetwork.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// A register of the demonstration's channel templates, where the search puts it.
struct TTemplateRegister {
  int Address = 0;
  int Channel = 0;
  int Register = 0;
  TRegisterType Type = rtUnknown;
  int Digits = 0;
  bool Writable = false;
  QString Caption;
};

// What a read showed, against the one value rule: the band of the address for the fixed-point
// types, 21..29 for the floating ones, 0 or 1 for a Boolean, the fixed text.
::testing::AssertionResult InBand(const TTemplateRegister& r, const QString& shown) {
  if (r.Type == rtASCIIZ)
    return shown.startsWith(QStringLiteral("12345.6789")) && shown.size() == 11
               ? ::testing::AssertionSuccess()
               : ::testing::AssertionFailure() << "text " << shown.toStdString();
  const std::optional<double> v = StrToFloat(shown);
  if (!v) return ::testing::AssertionFailure() << "not a number: " << shown.toStdString();
  if (r.Type == rtBOOL)
    return *v == 0 || *v == 1 ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << *v;
  if (r.Type == rtFLOAT || r.Type == rtDOUBLE)
    return *v >= kFloatLow && *v <= kFloatHigh ? ::testing::AssertionSuccess()
                                               : ::testing::AssertionFailure() << "value " << *v;
  const double raw = std::round(*v * std::pow(10.0, r.Digits));
  const TBand& band = SimulatedBand(r.Type, r.Address);
  if (raw > band.Low && raw < band.High) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "raw " << raw << " outside " << band.Low << ".." << band.High;
}

class SimAgreementTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
#ifndef VEXA_DEMO_PATH
    GTEST_SKIP() << "vexa-demo is not built here";
#else
    const TRun demo = RunProgram(QStringLiteral(VEXA_DEMO_PATH), {QStringLiteral("prepare"), Dir->path()});
    ASSERT_EQ(demo.Code, 0) << demo.Err.toStdString();
    LoadTreeFile(Current(), Registry());
    ASSERT_EQ(Registry()->NodeCount(), 2);
    // Every channel of the network gets the template of its type, as the search applies it.
    for (int a = 0; a < 256; ++a) {
      for (int c = 0; SimulatedChannelType(a, c) >= 0; ++c) {
        const QString type = QString::asprintf("%03d", SimulatedChannelType(a, c));
        const TRootNode* templ = nullptr;
        for (int i = 0; i < Registry()->NodeCount() && templ == nullptr; ++i)
          if (Registry()->Node(i)->Caption() == type) templ = Registry()->Node(i);
        ASSERT_NE(templ, nullptr) << "no template " << type.toStdString();
        for (int k = 1; k < templ->ComponentCount(); ++k) {
          const auto* reg = dynamic_cast<const TRegisterNode*>(templ->Component(k));
          ASSERT_NE(reg, nullptr);
          registers.push_back(
              {a, c, k, reg->RegisterType(), reg->Digits(), reg->UserCanWRITE(), reg->Caption()});
        }
      }
    }
    ASSERT_EQ(registers.size(), 6u * 8 + 3u * 9);
#endif
  }

  // A register as the search makes it from its template.
  static std::unique_ptr<TCustomRegister> Make(const TTemplateRegister& r) {
    auto reg = std::make_unique<TCustomRegister>(nullptr);
    reg->SetName(TCustomRegister::RegisterName(r.Address, r.Channel, r.Register));
    reg->SetRegisterType(r.Type);
    reg->SetDigits(r.Digits);
    reg->SetUserCanWRITE(r.Writable);
    return reg;
  }

  // Over a line the simulator is another process: on a loaded machine it may miss the answer window
  // of every attempt. What is checked here is what it answers, so a failed exchange is asked again a
  // few times. Returns how many exchanges it took.
  static int Patiently(const TCustomRegister& reg, const std::function<void()>& exchange) {
    int exchanges = 1;
    exchange();
    for (; exchanges < 5 && reg.LastIOResult() != iorOK; ++exchanges) exchange();
    return exchanges;
  }

  // Each register read three times: each read succeeds, keeps the template's type and rights and
  // shows a value of its band; a fixed-point value steps by one raw unit at most. Then a value is
  // written to each setpoint, and it reads back unchanged.
  // `steps`: walk steps one read may take (a read over a line may be repeated after a lost answer).
  void ReadEveryRegister(const char* where, int steps) {
    for (const TTemplateRegister& r : registers) {
      SCOPED_TRACE(testing::Message()
                   << where << ": "
                   << TCustomRegister::RegisterName(r.Address, r.Channel, r.Register).toStdString() << " "
                   << r.Caption.toStdString());
      const std::unique_ptr<TCustomRegister> reg = Make(r);
      std::optional<double> previous;
      for (int i = 0; i < 3; ++i) {
        QStringList trace;
        QString shown;
        Current().Line().Trace = [&trace](const QString& line) { trace << line; };
        const int exchanges = Patiently(*reg, [&] { shown = reg->StringData(Line()); });
        Current().Line().Trace = nullptr;
        ASSERT_EQ(reg->LastIOResult(), iorOK) << shown.toStdString() << "\n"
                                              << trace.join('\n').toStdString();
        EXPECT_EQ(reg->RegisterType(), r.Type);
        EXPECT_EQ(reg->UserCanWRITE(), r.Writable);
        EXPECT_TRUE(reg->UserCanREAD());
        EXPECT_TRUE(InBand(r, shown));
        const std::optional<double> v = StrToFloat(shown);
        // Every exchange asked again may have walked the value once more.
        const int walked = steps * exchanges;
        if (previous && v && r.Type >= rtUBYTE && r.Type <= rtLONG) {
          EXPECT_LE(std::abs(*v - *previous) * std::pow(10.0, r.Digits), walked + 1e-9);
        }
        if (previous && v && (r.Type == rtFLOAT || r.Type == rtDOUBLE)) {
          EXPECT_LE(std::abs(*v - *previous), walked + std::pow(10.0, -r.Digits));
        }
        previous = v;
      }
      if (!r.Writable || r.Type == rtASCIIZ) continue;
      const QString written = r.Type == rtBOOL ? QStringLiteral("1") : FormatFixed(23.5, r.Digits);
      Patiently(*reg, [&] { reg->SetStringData(Line(), written); });
      ASSERT_EQ(reg->LastIOResult(), iorOK) << written.toStdString();
      for (int i = 0; i < 3; ++i) {
        QString shown;
        Patiently(*reg, [&] { shown = reg->StringData(Line()); });
        EXPECT_EQ(shown, written) << "read " << i;
      }
    }
  }

  std::vector<TTemplateRegister> registers;
};

TEST_F(SimAgreementTest, TheBuiltInSimulatorAnswersTheTemplatesRegisters) {
  Settings()->SetDemo(true);
  ReadEveryRegister("built-in", 1);
}

TEST_F(SimAgreementTest, VexaSimAnswersTheTemplatesRegistersOverALine) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("line"));
  QProcess sim;
  sim.start(QStringLiteral(VEXA_SIM_PATH),
            {QStringLiteral("--link"), link, QStringLiteral("--seed"), QStringLiteral("3")});
  ASSERT_TRUE(sim.waitForStarted(3000));
  for (int i = 0; i < 300 && !QFileInfo::exists(link); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(QFileInfo::exists(link)) << sim.readAllStandardError().toStdString();

  Settings()->SetDemo(false);
  auto port = std::make_unique<TComm>(Current().Dir());
  port->SetBaudRate(br19200);
  port->SetDeviceName(link);
  port->Open();
  ReplaceNetwork(std::move(port));                // the fake port goes before the fake clock it refers to
  Services().Clock = std::make_unique<TClock>();  // the line runs in real time
  ReadEveryRegister("vexa-sim", 3);
  Current().Line().Port()->Close();
  sim.terminate();
  sim.waitForFinished(3000);
}

// The help of vexa-sim names the registers as the templates do.
TEST_F(SimAgreementTest, VexaSimDescribesTheTemplatesRegisters) {
  const TRun help = RunProgram(QStringLiteral(VEXA_SIM_PATH), {QStringLiteral("--help")});
  ASSERT_EQ(help.Code, 0);
  for (const TTemplateRegister& r : registers) {
    const QString type = RegisterTypeIdentifiers()[r.Type];
    const QString rights = r.Writable ? QStringLiteral("RW") : QStringLiteral("R");
    const QRegularExpression row(
        QStringLiteral("\\n    %1  %2 +\\S+ +%3 +%4\\n")
            .arg(r.Register)
            .arg(type, QRegularExpression::escape(rights), QRegularExpression::escape(r.Caption)));
    EXPECT_TRUE(help.Out.contains(row)) << r.Caption.toStdString();
  }
}

}  // namespace
}  // namespace vexa::test
