#include "core/SimulatedNetwork.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/CustomRegister.h"
#include "core/Frame.h"

namespace vexa {

int SimulatedChannelType(int address, int channel) {
  if (address == 0 && channel >= 0 && channel <= 5) return 0;
  if (address == 1 && channel >= 0 && channel <= 2) return 1;
  return -1;
}

std::vector<TSimRegulator> SimulatedRegulators() {
  std::vector<TSimRegulator> regulators;
  for (int a = 0; SimulatedChannelType(a, 0) >= 0; ++a) {
    TSimRegulator& regulator = regulators.emplace_back(TSimRegulator{a, {}});
    for (int c = 0; SimulatedChannelType(a, c) >= 0; ++c)
      regulator.ChannelTypes.push_back(SimulatedChannelType(a, c));
  }
  return regulators;
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

// Channel type 0: the temperature loops of address 0; type 1: the pressure channels of address 1.
// Every value type is on the line.
constexpr TSimRegisterDef kType0[] = {
    {1, rtINT, 1, false, "Температура", "Измеренная температура, °C"},
    {2, rtINT, 1, true, "Уставка температуры", "Заданная температура, °C"},
    {3, rtFLOAT, 1, false, "Выход регулятора", "Мощность на исполнительном механизме, %"},
    {4, rtBOOL, 0, false, "Авария", "Превышение предела"},
    {5, rtUBYTE, 0, true, "Режим", "Режим работы канала"},
    {6, rtULONG, 0, false, "Наработка", "Время работы канала, ч"},
    {7, rtDOUBLE, 3, true, "Коэффициент усиления", "Пропорциональный коэффициент регулятора"},
    {8, rtASCIIZ, 0, false, "Версия программы", "Версия программы регулятора"},
};
constexpr TSimRegisterDef kType1[] = {
    {1, rtINT, 2, false, "Давление", "Измеренное давление, бар"},
    {2, rtINT, 2, true, "Уставка давления", "Заданное давление, бар"},
    {3, rtFLOAT, 1, false, "Расход", "Расход воды, м3/ч"},
    {4, rtBOOL, 0, true, "Насос включен", "Состояние насоса"},
    {5, rtBYTE, 0, true, "Поправка датчика", "Поправка нуля датчика давления"},
    {6, rtUINT, 0, false, "Число пусков", "Пуски насоса с начала суток"},
    {7, rtDOUBLE, 2, false, "Объем за сутки", "Перекачанный объем, м3"},
    {8, rtLONG, 0, false, "Счетчик импульсов", "Импульсы расходомера"},
    {9, rtASCIIZ, 0, true, "Обозначение", "Обозначение канала"},
};

}  // namespace

double SimulatedValue(TRegisterType type, const QByteArray& data) {
  switch (type) {
    case rtBOOL:
    case rtUBYTE:
      return FromBytes<uint8_t>(data);
    case rtBYTE:
      return FromBytes<int8_t>(data);
    case rtUINT:
      return FromBytes<uint16_t>(data);
    case rtINT:
      return FromBytes<int16_t>(data);
    case rtULONG:
      return FromBytes<uint32_t>(data);
    case rtLONG:
      return FromBytes<int32_t>(data);
    case rtFLOAT:
      return FromBytes<float>(data);
    case rtDOUBLE:
      return FromBytes<double>(data);
    case rtASCIIZ:
    case rtUnknown:
      break;
  }
  return std::nan("");
}

TSimChannelDef SimulatedChannel(int channelType) {
  if (channelType == 0) return {"Контур регулирования температуры", kType0, int(std::size(kType0))};
  if (channelType == 1) return {"Канал измерения давления", kType1, int(std::size(kType1))};
  return {"", nullptr, 0};
}

QByteArray NextSimulatedData(TRegisterType type, int address, std::optional<double> current, bool writable,
                             TRandomGenerator& random) {
  const bool usable = current && !std::isnan(*current);
  // A setpoint keeps what was written (or where it started), even outside the measured band.
  const bool held = writable && usable;
  switch (type) {
    case rtBOOL:
      if (held) return Bytes<uint8_t>(*current != 0 ? 0xFF : 0x00);
      return Bytes<uint8_t>(SimulatedBool(random));
    case rtUBYTE:
    case rtBYTE:
    case rtUINT:
    case rtINT:
    case rtULONG:
    case rtLONG: {
      const TBand& band = SimulatedBand(type, address);
      int64_t next = band.Start;
      if (held) {
        next = static_cast<int64_t>(std::clamp(std::round(*current), -9.0e18, 9.0e18));
      } else if (usable) {
        next = static_cast<int64_t>(std::clamp(std::trunc(*current), -9.0e18, 9.0e18)) + random.Next(3) - 1;
        // The 8-bit types wander on their low byte, compared unsigned; the others on 32 bits.
        next = Size(type) == 1 ? band.Clamp(static_cast<uint8_t>(next & 0xFF))
                               : band.Clamp(static_cast<int32_t>(static_cast<uint32_t>(next)));
      }
      return Bytes<int32_t>(static_cast<int32_t>(next), Size(type));
    }
    case rtFLOAT:
    case rtDOUBLE: {
      double v = 0;
      if (!current) {
        v = random.Next(10) + 20;
      } else if (held) {
        v = *current;
      } else if (usable) {
        v = *current + 2 * random.Fraction() - 1;
        if (type == rtFLOAT) v = static_cast<float>(v);
        v = ClampSimulatedFloat(v);
      } else {
        v = type == rtFLOAT ? 0 : 25;
      }
      return type == rtFLOAT ? Bytes<float>(static_cast<float>(v)) : Bytes<double>(v);
    }
    case rtASCIIZ:
      return SimulatedText(random);
    case rtUnknown:
      break;
  }
  return {};
}

void ApplySimulatedRegister(TCustomRegister& reg, const TSimRegisterDef& def) {
  reg.SetCaption(QString::fromUtf8(def.Caption));
  reg.SetComments(QString::fromUtf8(def.Comments));
  reg.SetRegisterType(def.Type);
  reg.SetDigits(def.Digits);
  reg.SetUserCanWRITE(def.Writable);
}

TSimNetwork::TSimNetwork() {
  for (const TSimRegulator& regulator : SimulatedRegulators())
    for (int c = 0; c < static_cast<int>(regulator.ChannelTypes.size()); ++c)
      for (const TSimRegisterDef& def : SimulatedChannel(regulator.ChannelTypes[c]))
        registers_[{regulator.Address, c, def.Register}] = {def.Type, def.Writable, std::nullopt};
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
  const QByteArray value = NextSimulatedData(reg.Type, address, reg.Current, reg.Writable, random);
  if (reg.Type != rtASCIIZ) reg.Current = SimulatedValue(reg.Type, value);
  QByteArray data(1, char(TypeByte(reg.Type, true, reg.Writable)));
  data += value;
  if (reg.Type == rtASCIIZ) data += '\0';
  return data;
}

std::optional<QByteArray> TSimNetwork::Write(const QByteArray& request, TSimRegister& reg) {
  if (!reg.Writable || (static_cast<uint8_t>(request[kFrameType]) & kTypeCodeMask) != reg.Type)
    return std::nullopt;
  const QByteArray data = request.mid(kFrameData, request.size() - (kFrameData + 1));
  if (reg.Type == rtASCIIZ) {
    // Taken as the built-in simulator takes it: a text register answers its fixed text all the same.
    const qsizetype end = data.indexOf('\0');
    if ((end < 0 ? data.size() : end) > kMaxTextBytes) return std::nullopt;
  } else {
    if (data.size() != Size(reg.Type)) return std::nullopt;
    reg.Current = SimulatedValue(reg.Type, data);
  }
  return SealFrame(request.left(kFrameHeader));
}

QString TSimNetwork::Description() {
  const QStringList& kTypeNames = RegisterTypeIdentifiers();
  QString out;
  const auto table = [&](int channelType) {
    const TSimChannelDef channel = SimulatedChannel(channelType);
    out +=
        QStringLiteral("Channel type %1 (%2):\n").arg(channelType).arg(QString::fromUtf8(channel.Comments));
    out += QStringLiteral("    R  type      digits  rights  name\n");
    for (const TSimRegisterDef& row : channel) {
      const bool fixed = row.Type >= rtUBYTE && row.Type <= rtLONG;
      out += QStringLiteral("    %1  %2%3%4%5\n")
                 .arg(row.Register)
                 .arg(kTypeNames[row.Type], -10)
                 .arg(fixed ? QString::number(row.Digits) : QStringLiteral("-"), -8)
                 .arg(row.Writable ? QStringLiteral("RW") : QStringLiteral("R"), -8)
                 .arg(QString::fromUtf8(row.Caption));
    }
  };
  out += QStringLiteral(
      "Network: address 0 with channels 0..5 of channel type 0, address 1 with channels 0..2 of type 1.\n"
      "Register 0 of a channel answers its channel type (type code 2, read-only).\n");
  table(0);
  table(1);
  out += QStringLiteral(
      "Every measured (R) register wanders as in the built-in simulator: fixed-point ones by one raw unit\n"
      "per read inside the band of the address (8-bit: 101..119, 81..99, 51..59; others: 301..399,\n"
      "201..299, 81..89 for address mod 3 = 0, 1, 2), floating ones by up to one unit between 21 and 29;\n"
      "Booleans answer at random, texts \"12345.6789\" and a random digit. A setpoint (RW) starts where a\n"
      "measured register would and keeps its value: a value written stays until the next write (a text\n"
      "answers its fixed text all the same). Digits is the decimal scale the raw value stands for, as\n"
      "the channel templates of the demonstration give it. Registers marked R refuse writes; any other\n"
      "address, channel or register, and a write of the wrong type, get no answer.\n");
  return out;
}

}  // namespace vexa
