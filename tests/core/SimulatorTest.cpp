#include "core/Network.h"
#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "core/Simulator.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class SimulatorTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Settings()->SetDemo(true);
  }
  TRandomGenerator& random = Current().Line().Random();
  // A typed register is a measured one unless `writable` makes it a setpoint.
  TRegisterNode* Reg(const QString& name, TRegisterType type = rtUnknown, int digits = 0,
                     bool writable = false) {
    auto* r = new TRegisterNode(Net().get());
    r->SetName(name);
    if (type != rtUnknown) {
      r->SetRegisterType(type);
      r->SetUserCanWRITE(writable);
    }
    r->SetDigits(digits);
    return r;
  }
};

TEST_F(SimulatorTest, DescriptorsDescribeTwoRegulators) {
  int found = 0;
  for (int a = 0; a < 4; ++a) {
    for (int c = 0; c < 8; ++c) {
      TRegisterNode probe(nullptr);
      probe.SetName(TCustomRegister::RegisterName(a, c, 0));
      const QString v = probe.StringData(Line());
      const bool exists = (a == 0 && c <= 5) || (a == 1 && c <= 2);
      EXPECT_EQ(v, exists ? QString::number(a) : QStringLiteral("***")) << a << " " << c;
      if (exists) {
        ++found;
        EXPECT_EQ(probe.RegisterType(), rtBYTE);
      }
    }
  }
  EXPECT_EQ(found, 9);
}

TEST_F(SimulatorTest, DescriptorAnswerFrame) {
  TRegisterState probe{rtUnknown, 0, true, true, {}};
  TRegisterFrame f;
  f.Length = 4;
  f.Data[0] = 1;
  f.Data[1] = 2;
  ApplyCrc(f);
  ASSERT_TRUE(Simulate(f, probe, random));
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(f.Data), f.Length),
            SealFrame(QByteArray::fromHex("01020000C201")));
  // A write to a descriptor is not answered.
  f = TRegisterFrame{};
  f.Length = 4;
  f.Data[3] = 1;
  ApplyCrc(f);
  EXPECT_FALSE(Simulate(f, probe, random));
}

TEST_F(SimulatorTest, NewRegisterBecomesAWritableInteger) {
  Clock->ResetSlept();
  TRegisterNode* r = Reg("D001C000R005");
  EXPECT_EQ(r->StringData(Line()), "250");
  EXPECT_EQ(r->RegisterType(), rtINT);
  EXPECT_TRUE(r->UserCanREAD());
  EXPECT_TRUE(r->UserCanWRITE());
  EXPECT_EQ(Clock->Slept(), 10);  // the simulated line's fixed wait
  EXPECT_EQ(Reg("D000C000R001")->StringData(Line()), "350");
  EXPECT_EQ(Reg("D002C000R001")->StringData(Line()), "85");
}

TEST_F(SimulatorTest, FixedPointValuesWanderInsideTheirBand) {
  TRegisterNode* r = Reg("D003C000R001", rtINT, 1);
  double low = 1e9, high = -1e9;
  QString previous;
  for (int i = 0; i < 2000; ++i) {
    const QString v = r->StringData(Line());
    const double x = StrToFloat(v).value();
    if (!previous.isEmpty()) {
      EXPECT_LE(std::abs(x - StrToFloat(previous).value()), 0.1 + 1e-9);
    }
    previous = v;
    low = std::min(low, x);
    high = std::max(high, x);
  }
  EXPECT_GE(low, 30.1 - 1e-9);
  EXPECT_LE(high, 39.9 + 1e-9);
  EXPECT_GT(high - low, 1.0);  // it does move
}

TEST_F(SimulatorTest, ByteBandsClampAsUnsigned) {
  struct {
    int address;
    int low, high, start;
  } bands[] = {{0, 101, 119, 110}, {1, 81, 99, 90}, {2, 51, 59, 55}};
  for (const auto& b : bands) {
    TRegisterNode* r = Reg(TCustomRegister::RegisterName(b.address, 0, 9), rtUBYTE);
    EXPECT_EQ(r->StringData(Line()), QString::number(b.start));
    for (int i = 0; i < 500; ++i) {
      const int v = r->StringData(Line()).toInt();
      ASSERT_GE(v, b.low);
      ASSERT_LE(v, b.high);
    }
    // Far outside the band (a byte with the sign bit set): clamped from above as unsigned.
    r->SetLastStringData("-100");
    EXPECT_EQ(r->StringData(Line()), QString::number(b.high));
  }
}

TEST_F(SimulatorTest, FailedOrEmptyValueRestartsFromTheBandStart) {
  TRegisterNode* r = Reg("D001C000R007", rtINT);
  r->SetLastStringData("***");
  EXPECT_EQ(r->StringData(Line()), "250");
  r->SetLastStringData("");
  EXPECT_EQ(r->StringData(Line()), "250");
}

TEST_F(SimulatorTest, AWrittenSetpointKeepsItsValueAsAReadShowsIt) {
  const struct {
    TRegisterType Type;
    int Digits;
    QString Written, Shown;
  } cases[] = {// outside the band; 36,5 as the operator wrote it; a negative one; a double; a Boolean
               {rtINT, 2, "1,25", "1,25"},  {rtINT, 1, "36,5", "36,5"},      {rtINT, 0, "-1", "-1"},
               {rtBYTE, 0, "-100", "-100"}, {rtDOUBLE, 3, "2,125", "2,125"}, {rtBOOL, 0, "1", "1"}};
  int k = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Written.toStdString());
    TRegisterNode* r = Reg(TCustomRegister::RegisterName(1, 0, k++), c.Type, c.Digits, true);
    r->SetStringData(Line(), c.Written);
    EXPECT_EQ(r->LastStringData(), c.Shown) << "shown as a read shows it";
    for (int i = 0; i < 20; ++i) ASSERT_EQ(r->StringData(Line()), c.Shown) << "read " << i;
  }
}

TEST_F(SimulatorTest, FloatingValues) {
  TRegisterNode* f = Reg("D000C001R003", rtFLOAT, 2);
  const double first = StrToFloat(f->StringData(Line())).value();
  EXPECT_GE(first, 20);
  EXPECT_LE(first, 29);
  for (int i = 0; i < 300; ++i) {
    const double v = StrToFloat(f->StringData(Line())).value();
    ASSERT_GT(v, 20);  // 20 or less becomes 21, 30 or more 29: the walk stays inside (20; 30)
    ASSERT_LT(v, 30);
  }
  f->SetLastStringData("abc");
  EXPECT_EQ(f->StringData(Line()), "0,00");
  TRegisterNode* d = Reg("D000C001R004", rtDOUBLE, 1, true);
  d->SetLastStringData("abc");
  EXPECT_EQ(d->StringData(Line()), "25,0");
  d->SetStringData(Line(), "22,75");
  EXPECT_EQ(d->LastStringData(), "22,75");
}

TEST_F(SimulatorTest, TextAndBooleanRegisters) {
  TRegisterNode* t = Reg("D000C002R001", rtASCIIZ, 0, true);
  Services().Format.DecimalSeparator = QLatin1Char(',');
  for (int i = 0; i < 20; ++i) {
    const QString v = t->StringData(Line());
    ASSERT_EQ(v.size(), 11);
    EXPECT_TRUE(v.startsWith("12345.6789"));
    EXPECT_TRUE(v[10].isDigit());
  }
  t->SetStringData(Line(), QStringLiteral("Линия 2"));
  EXPECT_EQ(t->LastStringData(), QStringLiteral("Линия 2"));
  TRegisterNode* b = Reg("D000C002R002", rtBOOL);
  QSet<QString> seen;
  for (int i = 0; i < 50; ++i) seen.insert(b->StringData(Line()));
  EXPECT_EQ(seen, (QSet<QString>{"0", "1"}));
}

TEST_F(SimulatorTest, WritesSucceedWithoutCheckingRights) {
  TRegisterState r{rtUINT, 0, true, false, {}};
  TRegisterFrame f;
  f.Length = 4;
  f.Data[0] = 0;
  f.Data[2] = 1;
  f.Data[3] = 1;
  f.Data[4] = rtUINT;
  f.Data[5] = 0x34;
  f.Data[6] = 0x12;
  f.Length = 7;
  ApplyCrc(f);
  ASSERT_TRUE(Simulate(f, r, random));
  EXPECT_EQ(f.Length, 5);
  EXPECT_EQ(r.Shown, "4660");
}

}  // namespace
}  // namespace vexa::test
