#include "core/Comm.h"
#include "core/Globals.h"
#include "core/Services.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {
// BaudRateIndex of a line speed; -1 for a speed the network settings do not offer.
int BaudRateIndexOf(int bits) {
  static constexpr int kSpeeds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (int i = 0; i < 7; ++i)
    if (kSpeeds[i] == bits) return i;
  return -1;
}
}  // namespace

int PrepareLine(TCliContext& ctx, bool needsLine) {
  const int baudIndex = BaudRateIndexOf(ctx.Baud);
  if (baudIndex < 0) {
    Err(QStringLiteral("vexa-cli: --baud must be one of 2400, 4800, 9600, 19200, 38400, 57600, 115200"));
    return 2;
  }
  CreateGlobals(std::make_unique<TComm>());
  if (ctx.Demo) {
    SETUP->SetDemo(true);
    return 0;
  }
  if (!needsLine) return 0;
  if (ctx.Port.isEmpty()) {
    Err(QStringLiteral("vexa-cli: give --demo or --port DEVICE"));
    return 2;
  }
  try {
    Comm->SetDeviceName(ctx.Port);
    Comm->Open();
  } catch (const ECommError& e) {
    Err(QStringLiteral("vexa-cli: cannot open %1 (%2): %3")
            .arg(ctx.Port, PortDevicePath(ctx.Port), e.Message()));
    return 2;
  }
  SETUP->SetBaudRateIndex(baudIndex);  // sets the speed and drops RTS and DTR, as the program does
  return 0;
}

}  // namespace vexa::cli
