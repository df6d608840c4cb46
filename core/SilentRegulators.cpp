#include "core/SilentRegulators.h"

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

void TSilentRegulators::Read(TCustomRegister& reg, const TLineContext& line, int intervalSeconds) {
  uint8_t address = 0;
  uint8_t channel = 0;
  uint8_t number = 0;
  TCustomRegister::FillAddress(reg.Name(), address, channel, number);
  const auto id = static_cast<uint16_t>(channel << 8 | number);
  TRegulator& r = regulators_[address];
  const bool silent = r.LastTry.has_value();
  const int64_t intervalMs = int64_t{intervalSeconds} * 1000;
  const int64_t started = TickMs();
  if (silent) {
    const bool probeDue = started - *r.LastTry >= intervalMs;
    const bool passes = probeDue && r.Prober == id && !r.Answering.contains(id);
    if (passes) r.Prober.reset();
    if (!probeDue || passes) {
      reg.FailUnasked();
      return;
    }
  }
  TLineContext ask = line;
  if (silent) ask.Attempts = 1;  // one request tells whether it is back
  reg.StringData(ask);
  switch (reg.LastExchange()) {
    case TExchange::Answered:
      r.LastAnswer = started;
      r.Answering.insert(id);
      r.LastTry.reset();
      r.Prober.reset();
      break;
    case TExchange::Unanswered:
      // Counted to the end of its attempts.
      if (silent || !r.LastAnswer || TickMs() - *r.LastAnswer >= intervalMs) {
        r.LastTry = started;
        r.Prober = id;
      }
      break;
    case TExchange::NoLine:
      break;  // a closed or lost port says nothing of the regulator
  }
}

}  // namespace vexa
