#pragma once
// The regulators vexa-sim plays: the network of the built-in simulator, each channel with a fixed
// table of typed registers.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa::sim {

struct TSimRegister {
  TRegisterType Type = rtUnknown;
  int Digits = 0;         // decimals the raw value stands for (documentation only: the wire is raw)
  bool Writable = false;  // setpoints keep what is written; read-only registers wander
  QByteArray Value;       // as on the wire: the type's bytes, or the text without its zero
  bool Fresh = true;      // the first read answers the start value itself
};

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

}  // namespace vexa::sim
