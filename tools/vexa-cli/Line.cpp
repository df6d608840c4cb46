#include "core/Comm.h"
#include "core/Globals.h"
#include "core/LineSpeeds.h"
#include "core/Services.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

int PrepareLine(TCliContext& ctx, bool needsLine) {
  const std::optional<int> baudIndex = BaudRateIndexOf(ctx.Baud);
  if (!baudIndex) {
    QStringList speeds;
    for (const TLineSpeed& speed : kLineSpeeds) speeds << QString::number(speed.BitsPerSecond);
    Err(QStringLiteral("vexa-cli: --baud must be one of %1").arg(speeds.join(QStringLiteral(", "))));
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
  SETUP->SetBaudRateIndex(*baudIndex);  // sets the speed and drops RTS and DTR, as the program does
  return 0;
}

}  // namespace vexa::cli
