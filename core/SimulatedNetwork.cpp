#include "core/SimulatedNetwork.h"

#include <QStringList>
#include <cmath>
#include <cstring>

#include "core/Frame.h"

namespace vexa {

int SimulatedChannelType(int address, int channel) {
  if (address == 0 && channel >= 0 && channel <= 5) return 0;
  if (address == 1 && channel >= 0 && channel <= 2) return 1;
  return -1;
}

double ClampSimulatedFloat(double v) {
  if (v >= kFloatHigh) v = kFloatHigh - 1;
  if (v <= kFloatLow) v = kFloatLow + 1;
  return v;
}

uint8_t SimulatedBool(TRandomGenerator& random) {
  return random.Next(100) >= 50 ? 0xFF : 0x00;
}

QByteArray SimulatedText(TRandomGenerator& random) {
  return QByteArrayLiteral("12345.6789") + char('0' + random.Next(10));
}

namespace {

// Regulator at address 0: channels 0..5 of channel type 0. At address 1: channels 0..2 of type 1.
// Register 0 of every channel answers the channel type (type code 2, read-only). The registers:
//
//   type 0                                     type 1
//   R  type      digits  rights  behaviour      R  type      digits  rights  behaviour
//   1  rtBOOL    -       RW      holds, 1       1  rtBYTE    0       RW      holds, -5
//   2  rtUBYTE   0       R       wanders        2  rtINT     0       R       wanders
//   3  rtINT     1       R       wanders        3  rtULONG   0       R       wanders
//   4  rtUINT    1       RW      holds, 35,0    4  rtFLOAT   -       RW      holds, 22,5
//   5  rtLONG    0       R       wanders        5  rtDOUBLE  -       R       wanders
//   6  rtFLOAT   -       R       wanders        6  rtASCIIZ  -       RW      holds, "Zone <channel>"
//   7  rtDOUBLE  -       RW      holds, 25,0    7  rtBOOL    -       R       random
//   8  rtASCIIZ  -       R       "12345.6789" and a random digit
//
// Wandering follows the built-in simulator: fixed-point registers take a step of -1, 0 or +1 raw
// unit per read inside the band of the regulator (address mod 3), floating ones up to one unit
// between 21 and 29. Read-only registers refuse writes (no answer), like a write of the wrong type.
struct TRow {
  int Register;
  TRegisterType Type;
  int Digits;
  bool Writable;
  const char* Behaviour;
};

constexpr TRow kType0[] = {
    {1, rtBOOL, 0, true, "holds, 1"},      {2, rtUBYTE, 0, false, "wanders"},
    {3, rtINT, 1, false, "wanders"},       {4, rtUINT, 1, true, "holds, 35,0"},
    {5, rtLONG, 0, false, "wanders"},      {6, rtFLOAT, 0, false, "wanders"},
    {7, rtDOUBLE, 0, true, "holds, 25,0"}, {8, rtASCIIZ, 0, false, "\"12345.6789\" and a random digit"},
};
constexpr TRow kType1[] = {
    {1, rtBYTE, 0, true, "holds, -5"},  {2, rtINT, 0, false, "wanders"},
    {3, rtULONG, 0, false, "wanders"},  {4, rtFLOAT, 0, true, "holds, 22,5"},
    {5, rtDOUBLE, 0, false, "wanders"}, {6, rtASCIIZ, 0, true, "holds, \"Zone <channel>\""},
    {7, rtBOOL, 0, false, "random"},
};

template <typename T>
QByteArray Bytes(T value, int size = sizeof(T)) {
  QByteArray b(size, '\0');
  std::memcpy(b.data(), &value, static_cast<size_t>(size));  // little-endian host
  return b;
}

template <typename T>
T FromBytes(const QByteArray& b) {
  T value{};
  std::memcpy(&value, b.constData(), std::min(sizeof(T), static_cast<size_t>(b.size())));
  return value;
}

int Size(TRegisterType type) {
  return RegisterTypeSizes[static_cast<size_t>(type)];
}

QByteArray StartValue(const TRow& row, int address, int channel) {
  switch (row.Type) {
    case rtBOOL:
      return Bytes<uint8_t>(row.Writable ? 0xFF : 0);
    case rtUBYTE:
      return Bytes<uint8_t>(static_cast<uint8_t>(ByteBand(address).Start));
    case rtBYTE:
      return Bytes<int8_t>(row.Writable ? -5 : static_cast<int8_t>(ByteBand(address).Start));
    case rtUINT:
    case rtINT:
    case rtULONG:
    case rtLONG:
      return Bytes<int32_t>(WordBand(address).Start, Size(row.Type));
    case rtFLOAT:
      return Bytes<float>(row.Writable ? 22.5f : 25.0f);
    case rtDOUBLE:
      return Bytes<double>(25.0);
    case rtASCIIZ:
      return row.Writable ? QStringLiteral("Zone %1").arg(channel).toLatin1() : QByteArray();
    case rtUnknown:
      break;
  }
  return {};
}

// One step of a wandering register, as the built-in simulator walks a shown value.
void Wander(TSimRegister& reg, int address, TRandomGenerator& random) {
  switch (reg.Type) {
    case rtBOOL:
      reg.Value = Bytes<uint8_t>(SimulatedBool(random));
      break;
    case rtUBYTE:
    case rtBYTE: {
      const TBand& band = ByteBand(address);
      const auto b = static_cast<uint8_t>(FromBytes<uint8_t>(reg.Value) + random.Next(3) - 1);
      reg.Value = Bytes<uint8_t>(static_cast<uint8_t>(band.Clamp(b)));
      break;
    }
    case rtUINT:
    case rtINT:
    case rtULONG:
    case rtLONG: {
      const TBand& band = WordBand(address);
      int64_t v = reg.Type == rtUINT  ? FromBytes<uint16_t>(reg.Value)
                  : reg.Type == rtINT ? FromBytes<int16_t>(reg.Value)
                                      : FromBytes<int32_t>(reg.Value);
      v = band.Clamp(v + random.Next(3) - 1);
      reg.Value = Bytes<int32_t>(static_cast<int32_t>(v), Size(reg.Type));
      break;
    }
    case rtFLOAT:
    case rtDOUBLE: {
      double v = reg.Type == rtFLOAT ? FromBytes<float>(reg.Value) : FromBytes<double>(reg.Value);
      v = ClampSimulatedFloat(v + 2 * random.Fraction() - 1);
      reg.Value = reg.Type == rtFLOAT ? Bytes<float>(static_cast<float>(v)) : Bytes<double>(v);
      break;
    }
    case rtASCIIZ:
      reg.Value = SimulatedText(random);
      break;
    case rtUnknown:
      break;
  }
}

}  // namespace

TSimNetwork::TSimNetwork() {
  const auto add = [this](int address, int channel, const auto& table) {
    for (const TRow& row : table)
      registers_[{address, channel, row.Register}] = {row.Type, row.Digits, row.Writable,
                                                      StartValue(row, address, channel), true};
  };
  // Channels are numbered from 0 without gaps, and regulators sit at the lowest addresses.
  for (int a = 0; SimulatedChannelType(a, 0) >= 0; ++a) {
    for (int c = 0; SimulatedChannelType(a, c) >= 0; ++c) {
      if (SimulatedChannelType(a, c) == 0)
        add(a, c, kType0);
      else
        add(a, c, kType1);
    }
  }
}

std::optional<QByteArray> TSimNetwork::Answer(const QByteArray& request, TRandomGenerator& random) {
  if (request.size() < kFrameHeader + 1) return std::nullopt;
  const int a = static_cast<uint8_t>(request[0]);
  const int c = static_cast<uint8_t>(request[1]);
  const int r = static_cast<uint8_t>(request[2]);
  const int k = static_cast<uint8_t>(request[3]);
  if (r == 0) {
    const int channelType = SimulatedChannelType(a, c);
    if (k != cmdRead || channelType < 0) return std::nullopt;
    return SealFrame(request.left(kFrameHeader) + char(TypeByte(rtBYTE, true, false)) + char(channelType));
  }
  const auto it = registers_.find({a, c, r});
  if (it == registers_.end()) return std::nullopt;
  if (k == cmdRead) {
    std::optional<QByteArray> data = Read(a, it->second, random);
    if (!data) return std::nullopt;
    return SealFrame(request.left(kFrameHeader) + *data);
  }
  if (k == cmdWrite) return Write(request, it->second);
  return std::nullopt;
}

std::optional<QByteArray> TSimNetwork::Read(int address, TSimRegister& reg, TRandomGenerator& random) {
  if (!reg.Writable && (!reg.Fresh || reg.Type == rtBOOL || reg.Type == rtASCIIZ))
    Wander(reg, address, random);
  reg.Fresh = false;
  QByteArray data(1, char(TypeByte(reg.Type, true, reg.Writable)));
  data += reg.Value;
  // A text answer carries 1..31 data bytes: a 31-character text goes without its zero.
  if (reg.Type == rtASCIIZ && reg.Value.size() < kMaxTextBytes) data += '\0';
  return data;
}

std::optional<QByteArray> TSimNetwork::Write(const QByteArray& request, TSimRegister& reg) {
  if (!reg.Writable || (static_cast<uint8_t>(request[kFrameType]) & kTypeCodeMask) != reg.Type)
    return std::nullopt;
  const QByteArray data = request.mid(kFrameData, request.size() - (kFrameData + 1));
  if (reg.Type == rtASCIIZ) {
    const qsizetype end = data.indexOf('\0');
    const QByteArray text = end < 0 ? data : data.left(end);
    if (text.size() > kMaxTextBytes) return std::nullopt;
    reg.Value = text;
  } else {
    if (data.size() != Size(reg.Type)) return std::nullopt;
    reg.Value = data;
  }
  return SealFrame(request.left(kFrameHeader));
}

QString TSimNetwork::Description() {
  const QStringList& kTypeNames = RegisterTypeIdentifiers();
  QString out;
  const auto table = [&](const char* title, const auto& rows) {
    out += QString::fromLatin1(title);
    out += QStringLiteral("    R  type      digits  rights  value\n");
    for (const TRow& row : rows) {
      const bool fixed = row.Type >= rtUBYTE && row.Type <= rtLONG;
      out += QStringLiteral("    %1  %2%3%4%5\n")
                 .arg(row.Register)
                 .arg(kTypeNames[row.Type], -10)
                 .arg(fixed ? QString::number(row.Digits) : QStringLiteral("-"), -8)
                 .arg(row.Writable ? QStringLiteral("RW") : QStringLiteral("R"), -8)
                 .arg(QString::fromLatin1(row.Behaviour));
    }
  };
  out += QStringLiteral(
      "Network: address 0 with channels 0..5 of channel type 0, address 1 with channels 0..2 of type 1.\n"
      "Register 0 of a channel answers its channel type (type code 2, read-only).\n");
  table("Channel type 0:\n", kType0);
  table("Channel type 1:\n", kType1);
  out += QStringLiteral(
      "Registers marked R wander like the built-in simulator (fixed-point: one raw unit per read inside\n"
      "the band of the address; floating: up to one unit between 21 and 29) and refuse writes.\n"
      "Registers marked RW keep what is written. Digits is the decimal scale the raw value stands for.\n"
      "Any other address, channel or register, and a write of the wrong type, get no answer.\n");
  return out;
}

}  // namespace vexa
