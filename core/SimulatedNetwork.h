#pragma once
// The regulator network of simulation mode, in one place for the built-in simulator and vexa-sim:
// which addresses and channels exist, the registers of each channel type, and the one rule by which
// their values wander. The built-in simulator answers from the state of the register that asks;
// vexa-sim plays the same network with the table's typed registers (TSimNetwork); the
// demonstration's channel templates are made from the same table.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "core/Frame.h"
#include "core/Services.h"

namespace vexa {

class TCustomRegister;

// The channel type register 0 of a channel answers: address 0 has channels 0..5 of type 0,
// address 1 channels 0..2 of type 1; -1 where nothing answers.
int SimulatedChannelType(int address, int channel);

// The regulators that answer, in address order, with the types of their channels 0.. (channels
// are numbered from 0 without gaps, and regulators sit at the lowest addresses).
struct TSimRegulator {
  int Address;
  std::vector<int> ChannelTypes;
};
std::vector<TSimRegulator> SimulatedRegulators();

// Value bands of the three kinds of simulated regulator (network address mod 3).
struct TBand {
  int Start;
  int High;  // this or more becomes High - 1
  int Low;   // then this or less becomes Low + 1

  constexpr int64_t Clamp(int64_t v) const {
    if (v >= High) v = High - 1;
    if (v <= Low) v = Low + 1;
    return v;
  }
};
inline constexpr TBand kByteBands[3] = {{110, 120, 100}, {90, 100, 80}, {55, 60, 50}};
inline constexpr TBand kWordBands[3] = {{350, 400, 300}, {250, 300, 200}, {85, 90, 80}};
inline const TBand& ByteBand(int address) {
  return kByteBands[address % 3];
}
inline const TBand& WordBand(int address) {
  return kWordBands[address % 3];
}
// The band of a fixed-point register: the 8-bit types take the byte bands.
inline const TBand& SimulatedBand(TRegisterType type, int address) {
  return type == rtUBYTE || type == rtBYTE ? ByteBand(address) : WordBand(address);
}

// Floating values wander by up to one unit between these bounds.
inline constexpr double kFloatHigh = 30;
inline constexpr double kFloatLow = 20;
// This or more becomes kFloatHigh - 1, then this or less kFloatLow + 1.
double ClampSimulatedFloat(double v);
// A Boolean register answers at random: 0xFF or 0x00.
uint8_t SimulatedBool(TRandomGenerator& random);
// A text register answers "12345.6789" and a random digit.
QByteArray SimulatedText(TRandomGenerator& random);

// The one value rule of the simulated regulators, for the built-in simulator and vexa-sim alike:
// the data bytes of the next read answer of a register of `type` at `address` (the type's size; a
// text without its zero). `current` is where the register stands: its raw value for the
// fixed-point types (the shown value times 10^Digits), its value for the floating ones; none when
// nothing was read or written yet, NaN when what is shown is not a number.
// A measured register (read-only) wanders:
// - fixed-point: a step of -1, 0 or +1 raw unit, then clamped into the band of the address (8-bit
//   types to their low byte first, compared unsigned); none or NaN: the band's start;
// - floating: up to one unit either way, clamped to 21..29; none: 20..29 at random; NaN: 0 for a
//   single, 25 for a double;
// - Boolean: at random.
// A setpoint (a `writable` register) stands where it is: it starts as a measured one would and
// then answers `current` unchanged, so a value written stays (a Boolean its state).
// A text answers "12345.6789" and a random digit.
QByteArray NextSimulatedData(TRegisterType type, int address, std::optional<double> current, bool writable,
                             TRandomGenerator& random);
// Where an answer's data bytes put a register of `type`: the raw value of the fixed-point types and
// Booleans, the value of the floating ones; NaN for a text.
double SimulatedValue(TRegisterType type, const QByteArray& data);

// One register of a channel type of the simulated network: what vexa-sim answers, and what the
// demonstration's channel templates give the register the search makes (the built-in simulator
// answers with the type and rights of the register that asks, so the templates make it agree).
struct TSimRegisterDef {
  int Register;
  TRegisterType Type;
  int Digits;           // decimals the raw value stands for (the line carries raw values)
  bool Writable;        // read-only registers refuse writes
  const char* Caption;  // the channel template's, UTF-8
  const char* Comments;
};

// Registers 1.. of channels of type 0 and of type 1, in register order; empty for other types.
struct TSimChannelDef {
  const char* Comments;  // the channel template's, UTF-8
  const TSimRegisterDef* Registers;
  int Count;
  const TSimRegisterDef* begin() const { return Registers; }
  const TSimRegisterDef* end() const { return Registers + Count; }
};
TSimChannelDef SimulatedChannel(int channelType);

// Gives reg the caption, comments, type, decimals and rights of its row of the table.
void ApplySimulatedRegister(TCustomRegister& reg, const TSimRegisterDef& def);

// A register of vexa-sim: where its value stands, as the built-in simulator keeps it in the
// register's shown value.
struct TSimRegister {
  TRegisterType Type = rtUnknown;
  bool Writable = false;
  std::optional<double> Current;  // none until read or written
};

// The simulated network with its typed registers (SimulatedChannel), answering frames.
class TSimNetwork {
 public:
  TSimNetwork();

  // The answer a regulator gives to a request with a valid CRC (answer sealed with its CRC), or
  // nothing when no regulator would answer.
  std::optional<QByteArray> Answer(const QByteArray& request, TRandomGenerator& random);

  // The register tables as text, for --help.
  static QString Description();

 private:
  using TKey = std::tuple<int, int, int>;  // address, channel, register
  static std::optional<QByteArray> Read(int address, TSimRegister& reg, TRandomGenerator& random);
  static std::optional<QByteArray> Write(const QByteArray& request, TSimRegister& reg);

  std::map<TKey, TSimRegister> registers_;
};

}  // namespace vexa
