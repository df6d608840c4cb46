#include <QDateTime>
#include <cstring>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// Registers against a scripted port: every read is answered with the type byte and data given.
class RegisterTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Port->Open();
    reg = new TRegisterNode(Net().get());
    reg->SetName("D001C002R003");
  }

  void Answer(uint8_t typeByte, const QByteArray& data) {
    Port->Respond = [typeByte, data](const QByteArray& req) -> std::vector<TChunk> {
      if (req[3] == 0) return {{SealFrame(req.left(4) + char(typeByte) + data), 0}};
      return {{SealFrame(req.left(4)), 0}};
    };
  }
  QString ReadAs(uint8_t typeByte, const QByteArray& data, int digits = 0) {
    Answer(typeByte, data);
    reg->SetRegisterType(rtUnknown);
    reg->SetDigits(digits);
    return reg->StringData(Line());
  }
  // A writable register of a known type, answering writes.
  void Writable(TRegisterType type, int digits) {
    reg->SetRegisterType(type);
    reg->SetDigits(digits);
    reg->SetUserCanWRITE(true);
    Answer(0xC0 | type, {});
    Port->Written.clear();
  }
  // Data bytes of the last write request (between the type byte and the CRC).
  QByteArray LastWriteData() const {
    if (Port->Written.empty()) return "<nothing written>";
    const QByteArray& w = Port->Written.back();
    return w.mid(5, w.size() - 6);
  }

  TRegisterNode* reg = nullptr;
};

// Decimal places past the dialog's 0..15 cannot reach the formats: a read of any type and a write
// stay as short as with 15, however many a caller asks for.
TEST_F(RegisterTest, DigitsAreHeldToTheDialogsRange) {
  const QByteArray raw("\xD2\x04", 2);  // 1234
  const QString fifteen = ReadAs(0x40 | rtINT, raw, 15);
  EXPECT_EQ(fifteen, QStringLiteral("0,000000000001234"));
  for (const int digits : {16, 1000, INT32_MAX}) {
    EXPECT_EQ(ReadAs(0x40 | rtINT, raw, digits), fifteen) << digits;
    EXPECT_EQ(reg->Digits(), 15);
    EXPECT_EQ(ReadAs(0x40 | rtFLOAT, QByteArray("\x00\x00\xC0\x3F", 4), digits).size(), 17)
        << digits;  // 1,5 and 14 zeros
  }
  for (const int digits : {-1, INT32_MIN}) {
    EXPECT_EQ(ReadAs(0x40 | rtINT, raw, digits), "1234") << digits;
    EXPECT_EQ(reg->Digits(), 0);
  }
  Writable(rtLONG, INT32_MAX);
  reg->SetStringData(Line(), QStringLiteral("0,000000000000005"));
  EXPECT_EQ(LastWriteData(), QByteArray("\x05\x00\x00\x00", 4));
}

TEST_F(RegisterTest, NameGivesTheAddressBytes) {
  uint8_t a, c, r;
  TCustomRegister::FillAddress("D001C002R014", a, c, r);
  EXPECT_EQ((std::array<int, 3>{a, c, r}), (std::array<int, 3>{1, 2, 14}));
  TCustomRegister::FillAddress("D255C000R300", a, c, r);  // stored as one byte each
  EXPECT_EQ((std::array<int, 3>{a, c, r}), (std::array<int, 3>{255, 0, 44}));
  TCustomRegister::FillAddress("D0x1C002R014", a, c, r);
  EXPECT_EQ((std::array<int, 3>{a, c, r}), (std::array<int, 3>{0, 0, 0}));
  TCustomRegister::FillAddress("NET", a, c, r);
  EXPECT_EQ((std::array<int, 3>{a, c, r}), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(TCustomRegister::RegisterName(1, 2, 14), "D001C002R014");
}

TEST_F(RegisterTest, ReadsEveryTypeAsText) {
  EXPECT_EQ(ReadAs(0x40 | rtBOOL, Bytes({0x05})), "1");
  EXPECT_EQ(ReadAs(0x40 | rtBOOL, Bytes({0x00}), 2), "0");  // never scaled
  EXPECT_EQ(ReadAs(0x40 | rtUBYTE, Bytes({0xFF})), "255");
  EXPECT_EQ(ReadAs(0x40 | rtBYTE, Bytes({0xFF})), "-1");
  EXPECT_EQ(ReadAs(0x40 | rtUINT, Bytes({0xFF, 0xFF})), "65535");
  EXPECT_EQ(ReadAs(0x40 | rtINT, Bytes({0xFF, 0xFF})), "-1");
  EXPECT_EQ(ReadAs(0x40 | rtULONG, Bytes({0xFF, 0xFF, 0xFF, 0xFF})), "-1");  // shown signed
  EXPECT_EQ(ReadAs(0x40 | rtLONG, Bytes({0x00, 0x00, 0x00, 0x80})), "-2147483648");
  float f = 1.5f;
  EXPECT_EQ(ReadAs(0x40 | rtFLOAT, QByteArray(reinterpret_cast<const char*>(&f), 4), 2), "1,50");
  double d = 3.14159;
  EXPECT_EQ(ReadAs(0x40 | rtDOUBLE, QByteArray(reinterpret_cast<const char*>(&d), 8), 3), "3,142");
  EXPECT_EQ(ReadAs(0x40 | rtDOUBLE, QByteArray(reinterpret_cast<const char*>(&d), 8), 0), "3");
  EXPECT_EQ(ReadAs(0x40 | rtASCIIZ, ToCp1251(QStringLiteral("Печь №1")) + '\0'), QStringLiteral("Печь №1"));
  EXPECT_EQ(reg->LastIOResult(), iorOK);
}

TEST_F(RegisterTest, FixedPointScalingUsesTheRegionalSeparator) {
  EXPECT_EQ(ReadAs(0x40 | rtINT, Bytes({0xD2, 0x04}), 1), "123,4");  // raw 1234
  EXPECT_EQ(ReadAs(0x40 | rtINT, Bytes({0xFB, 0xFF}), 2), "-0,05");  // raw -5
  EXPECT_EQ(ReadAs(0x40 | rtUBYTE, Bytes({5}), 3), "0,005");
  EXPECT_EQ(ReadAs(0x40 | rtLONG, Bytes({0xFF, 0xFF, 0xFF, 0x7F}), 9), "2,147483647");
  EXPECT_EQ(ReadAs(0x40 | rtUINT, Bytes({0x00, 0x00}), 2), "0,00");
  Services().Format.DecimalSeparator = QLatin1Char('.');
  EXPECT_EQ(ReadAs(0x40 | rtINT, Bytes({0xD2, 0x04}), 1), "123.4");
}

TEST_F(RegisterTest, AsciizAnswerOfThirtyOneBytesWithoutTerminator) {
  const QByteArray text(31, 'x');
  EXPECT_EQ(ReadAs(0x40 | rtASCIIZ, text), QString(31, 'x'));
}

TEST_F(RegisterTest, UnknownTypeCodesFailTheRead) {
  for (int code = 10; code <= 15; ++code) {
    reg->SetRegisterType(rtUnknown);
    reg->SetLastStringData("5");
    EXPECT_EQ(ReadAs(0x40 | code, Bytes({1})), "***") << code;
    EXPECT_EQ(reg->RegisterType(), rtUnknown);
    EXPECT_EQ(reg->LastIOResult(), iorFAIL);
    EXPECT_EQ(reg->LastStringData(), "***");
  }
}

TEST_F(RegisterTest, ReadTakesTypeAndRightsFromTheAnswer) {
  EXPECT_EQ(reg->RegisterType(), rtUnknown);
  EXPECT_EQ(ReadAs(0xC0 | rtUINT, Bytes({0x10, 0x00})), "16");
  EXPECT_EQ(reg->RegisterType(), rtUINT);
  EXPECT_TRUE(reg->UserCanWRITE());
  EXPECT_TRUE(reg->UserCanREAD());
  // A device that answers without the read bit closes later reads locally.
  EXPECT_EQ(ReadAs(0x80 | rtUINT, Bytes({0x11, 0x00})), "17");
  EXPECT_FALSE(reg->UserCanREAD());
  const size_t sent = Port->Written.size();
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_EQ(Port->Written.size(), sent);
  EXPECT_EQ(reg->LastStringData(), "17");  // not changed by a refused read
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_DOUBLE_EQ(reg->FloatData(Line()), 0.0);
  EXPECT_EQ(Port->Written.size(), sent);
}

TEST_F(RegisterTest, FailedReadsGiveStarsOrZero) {
  Port->Respond = nullptr;  // silence on the line
  EXPECT_EQ(reg->StringData(Line()), "***");
  EXPECT_EQ(reg->LastStringData(), "***");
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_DOUBLE_EQ(reg->FloatData(Line()), 0.0);
  EXPECT_EQ(reg->LastStringData(), "0");
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  Answer(0x40 | rtINT, Bytes({0xE2, 0x04}));  // 1250
  reg->SetDigits(2);
  EXPECT_DOUBLE_EQ(reg->FloatData(Line()), 12.5);
  EXPECT_EQ(reg->LastStringData(), "12,5");  // shortest form
  EXPECT_EQ(reg->LastIOResult(), iorOK);
}

TEST_F(RegisterTest, ReadStampsRDTimeAtTheStart) {
  Clock->Advance(5000);
  const double before = Now();
  ReadAs(0x40 | rtINT, Bytes({1, 0}));
  EXPECT_DOUBLE_EQ(reg->RDTime(), before);
  Clock->Advance(2999 - 18);  // the exchange itself took 18 ms
  EXPECT_EQ(reg->RDElapsed(), 2);
  Clock->Advance(1);
  EXPECT_EQ(reg->RDElapsed(), 3);
}

TEST_F(RegisterTest, TextWritesScaleWithTiesToEven) {
  Writable(rtINT, 2);
  reg->SetStringData(Line(), "1,25");
  EXPECT_EQ(LastWriteData(), Bytes({125, 0}));
  reg->SetStringData(Line(), "0,125");  // 12.5 -> 12
  EXPECT_EQ(LastWriteData(), Bytes({12, 0}));
  reg->SetStringData(Line(), "0,135");  // 13.5 -> 14
  EXPECT_EQ(LastWriteData(), Bytes({14, 0}));
  reg->SetStringData(Line(), "0,155");  // exact in decimal, not in binary: still a tie, 16
  EXPECT_EQ(LastWriteData(), Bytes({16, 0}));
  reg->SetStringData(Line(), "-0,025");  // -2.5 -> -2
  EXPECT_EQ(LastWriteData(), Bytes({0xFE, 0xFF}));
  reg->SetStringData(Line(), "0,0251");
  EXPECT_EQ(LastWriteData(), Bytes({3, 0}));
  reg->SetStringData(Line(), "1,5E1");
  EXPECT_EQ(LastWriteData(), Bytes({0xDC, 0x05}));  // 1500
  EXPECT_EQ(reg->LastIOResult(), iorOK);
}

TEST_F(RegisterTest, WriteFrameCarriesTypeRightsAndData) {
  Writable(rtUINT, 0);
  reg->SetUserCanREAD(false);
  reg->SetStringData(Line(), "258");
  ASSERT_EQ(Port->Written.size(), 1u);
  EXPECT_EQ(Port->Written[0], SealFrame(Bytes({1, 2, 3, 1, 0x80 | rtUINT, 0x02, 0x01})));
  reg->SetUserCanREAD(true);
  reg->SetStringData(Line(), "1");
  EXPECT_EQ(static_cast<uint8_t>(Port->Written[1][4]), 0xC0 | rtUINT);
}

TEST_F(RegisterTest, TextWriteRejectedByValidationSendsNothing) {
  Writable(rtINT, 0);
  reg->SetLastIOResult(iorOK);
  reg->SetStringData(Line(), "1,25");
  reg->SetStringData(Line(), "abc");
  reg->SetStringData(Line(), "40000");
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(reg->LastIOResult(), iorOK);  // untouched
}

TEST_F(RegisterTest, WritesNeedRightsAndAKnownType) {
  reg->SetUserCanWRITE(true);
  reg->SetLastIOResult(iorOK);
  reg->SetStringData(Line(), "1");  // rtUnknown: ignored
  reg->SetFloatData(Line(), 1);
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(reg->LastIOResult(), iorOK);
  reg->SetRegisterType(rtINT);
  reg->SetUserCanWRITE(false);
  reg->SetStringData(Line(), "1");
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
}

TEST_F(RegisterTest, WriteWaitsAfterTheExchangeAndKeepsTheLastValue) {
  Writable(rtINT, 0);
  reg->SetLastStringData("7");
  Clock->Advance(10000);
  const double start = Now();
  Clock->ResetSlept();
  reg->SetStringData(Line(), "5");
  EXPECT_DOUBLE_EQ(reg->WRTime(), start);
  EXPECT_GE(Clock->Slept(), 100);
  EXPECT_EQ(reg->LastStringData(), "7");
  // A write that gets no answer fails but still waits.
  Port->Respond = nullptr;
  Clock->ResetSlept();
  reg->SetStringData(Line(), "5");
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
  EXPECT_GE(Clock->Slept(), 100 + 3 * 64);
}

TEST_F(RegisterTest, NumberWritesTruncateTowardZero) {
  Writable(rtINT, 2);
  reg->SetFloatData(Line(), 0.129);
  EXPECT_EQ(LastWriteData(), Bytes({12, 0}));
  reg->SetFloatData(Line(), 0.29);  // 28.999... in binary, 29 in decimal
  EXPECT_EQ(LastWriteData(), Bytes({29, 0}));
  reg->SetFloatData(Line(), -0.129);
  EXPECT_EQ(LastWriteData(), Bytes({0xF4, 0xFF}));
  Writable(rtINT, 0);
  reg->SetFloatData(Line(), 2.999);
  EXPECT_EQ(LastWriteData(), Bytes({2, 0}));
  Writable(rtUBYTE, 0);
  reg->SetFloatData(Line(), -1);  // the byte's two's complement
  EXPECT_EQ(LastWriteData(), Bytes({0xFF}));
}

TEST_F(RegisterTest, WritesThatWouldWrapOnTheWireAreRefused) {
  Writable(rtINT, 2);
  EXPECT_FALSE(reg->IsValidValue("1000"));  // raw 100000 does not fit 16 bits
  EXPECT_TRUE(reg->IsValidValue("327,67"));
  EXPECT_TRUE(reg->IsValidValue("-327,68"));
  EXPECT_FALSE(reg->IsValidValue("655,36"));
  reg->SetFloatData(Line(), 1000);
  EXPECT_TRUE(Port->Written.empty());
  EXPECT_EQ(reg->LastIOResult(), iorFAIL);
}

TEST_F(RegisterTest, BooleanFloatAndTextWrites) {
  Writable(rtBOOL, 0);
  reg->SetStringData(Line(), "1");
  EXPECT_EQ(LastWriteData(), Bytes({0xFF}));
  reg->SetStringData(Line(), "0");
  EXPECT_EQ(LastWriteData(), Bytes({0x00}));
  reg->SetFloatData(Line(), 0.5);
  EXPECT_EQ(LastWriteData(), Bytes({0xFF}));
  reg->SetFloatData(Line(), 0.49);
  EXPECT_EQ(LastWriteData(), Bytes({0x00}));

  Writable(rtFLOAT, 1);
  reg->SetStringData(Line(), "2,5");
  float f = 0;
  std::memcpy(&f, LastWriteData().constData(), 4);
  EXPECT_FLOAT_EQ(f, 2.5f);
  Writable(rtDOUBLE, 1);
  reg->SetFloatData(Line(), -1.25);
  double d = 0;
  std::memcpy(&d, LastWriteData().constData(), 8);
  EXPECT_DOUBLE_EQ(d, -1.25);

  Writable(rtASCIIZ, 0);
  reg->SetStringData(Line(), QString(31, 'a'));
  ASSERT_EQ(Port->Written.size(), 1u);
  EXPECT_EQ(Port->Written[0].size(), 38);
  EXPECT_EQ(LastWriteData(), QByteArray(31, 'a') + '\0');
  reg->SetStringData(Line(), QString(32, 'a'));
  EXPECT_EQ(Port->Written.size(), 1u);
  reg->SetStringData(Line(), QStringLiteral("Привет"));
  EXPECT_EQ(LastWriteData(), ToCp1251(QStringLiteral("Привет")) + '\0');
  reg->SetFloatData(Line(), 12.5);
  EXPECT_EQ(LastWriteData(), QByteArray("12,5") + '\0');
}

TEST_F(RegisterTest, IsValidValueBounds) {
  struct Case {
    TRegisterType type;
    int digits;
    const char* text;
    bool valid;
  } cases[] = {
      {rtBOOL, 0, "0", true},           {rtBOOL, 0, "1", true},
      {rtBOOL, 0, "2", false},          {rtBOOL, 0, "-1", false},
      {rtBOOL, 1, "0,7", true},         {rtUBYTE, 0, "255", true},
      {rtUBYTE, 0, "256", false},       {rtUBYTE, 0, "-1", false},
      {rtBYTE, 0, "-128", true},        {rtBYTE, 0, "127", true},
      {rtBYTE, 0, "128", false},        {rtBYTE, 0, "-129", false},
      {rtUINT, 0, "65535", true},       {rtUINT, 0, "65536", false},
      {rtINT, 0, "-32768", true},       {rtINT, 0, "32767", true},
      {rtINT, 0, "32768", false},       {rtINT, 0, "1,5", false},
      {rtINT, 1, "1,5", true},          {rtINT, 1, "abc", false},
      {rtULONG, 0, "2147483647", true}, {rtULONG, 0, "2147483648", false},
      {rtLONG, 0, "-2147483648", true}, {rtLONG, 0, "-2147483649", false},
      {rtLONG, 2, "1,5", true},         {rtFLOAT, 0, "1,5", true},
      {rtFLOAT, 0, "1.5", false},       {rtDOUBLE, 3, "-1E10", true},
      {rtDOUBLE, 0, "", false},         {rtASCIIZ, 0, "", true},
      {rtUnknown, 0, "1", false},       {rtINT, 0, " 12 ", true},
      {rtINT, 0, "1 2", false},
  };
  for (const Case& c : cases) {
    reg->SetRegisterType(c.type);
    reg->SetDigits(c.digits);
    EXPECT_EQ(reg->IsValidValue(c.text), c.valid)
        << RegisterTypeIdentifiers()[c.type].toStdString() << " " << c.digits << " '" << c.text << "'";
  }
  reg->SetRegisterType(rtASCIIZ);
  EXPECT_TRUE(reg->IsValidValue(QString(31, QChar(0x0416))));
  EXPECT_FALSE(reg->IsValidValue(QString(32, 'z')));
}

TEST_F(RegisterTest, HistoryIsBoundedByMaxCount) {
  reg->SetLastStringData("v");
  for (int i = 0; i < 1200; ++i) reg->AddToHistory();
  reg->SetLastStringData("last");
  reg->AddToHistory();
  EXPECT_EQ(reg->Count(), 1200);
  EXPECT_EQ(reg->DataList().size(), 1200);
  EXPECT_EQ(reg->DataList().last(), "last");
  // Lowering MaxCount does not cut the history; each addition removes exactly one entry.
  reg->SetMaxCount(10);
  reg->AddToHistory();
  EXPECT_EQ(reg->Count(), 1200);
  reg->ClearHistory();
  EXPECT_EQ(reg->Count(), 0);
  EXPECT_TRUE(reg->DataList().isEmpty());
}

TEST_F(RegisterTest, HistoryStampsAreRegionalDateAndTime) {
  Clock->SetNow(DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))));
  ReadAs(0x40 | rtINT, Bytes({7, 0}));
  reg->AddToHistory();
  EXPECT_EQ(reg->Points().last(), "07.12.2026 9:05:03");
  EXPECT_EQ(reg->DataList().last(), "7");
}

TEST_F(RegisterTest, RefreshReadsOnlyWhenEnabled) {
  Answer(0x40 | rtINT, Bytes({7, 0}));
  reg->TCustomRegister::Refresh(Line());
  EXPECT_TRUE(Port->Written.empty());
  reg->SetEnabled(true);
  reg->TCustomRegister::Refresh(Line());
  EXPECT_EQ(Port->Written.size(), 1u);
  EXPECT_EQ(reg->LastStringData(), "7");
}

}  // namespace
}  // namespace vexa::test
