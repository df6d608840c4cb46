#pragma once
// The regulator network of simulation mode, in one place for the built-in simulator and vexa-sim:
// which addresses and channels exist, the value bands of the regulators, and the texts and
// Booleans they answer. The built-in simulator answers from the state of the register that asks;
// vexa-sim plays the same network with a fixed table of typed registers per channel (TSimNetwork).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

// The channel type register 0 of a channel answers: address 0 has channels 0..5 of type 0,
// address 1 channels 0..2 of type 1; -1 where nothing answers.
int SimulatedChannelType(int address, int channel);

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

// Floating values wander by up to one unit between these bounds.
inline constexpr double kFloatHigh = 30;
inline constexpr double kFloatLow = 20;
// This or more becomes kFloatHigh - 1, then this or less kFloatLow + 1.
double ClampSimulatedFloat(double v);
// A Boolean register answers at random: 0xFF or 0x00.
uint8_t SimulatedBool(TRandomGenerator& random);
// A read-only text register answers "12345.6789" and a random digit.
QByteArray SimulatedText(TRandomGenerator& random);

struct TSimRegister {
  TRegisterType Type = rtUnknown;
  int Digits = 0;         // decimals the raw value stands for (documentation only: the wire is raw)
  bool Writable = false;  // setpoints keep what is written; read-only registers wander
  QByteArray Value;       // as on the wire: the type's bytes, or the text without its zero
  bool Fresh = true;      // the first read answers the start value itself
};

// The simulated network with a fixed table of typed registers per channel type, answering frames.
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
  std::optional<QByteArray> Read(int address, TSimRegister& reg, TRandomGenerator& random);
  std::optional<QByteArray> Write(const QByteArray& request, TSimRegister& reg);

  std::map<TKey, TSimRegister> registers_;
};

}  // namespace vexa
