#include <QDir>

#include "core/Globals.h"
#include "core/Services.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

int PrepareLine(TCliContext& ctx, bool needsLine) {
  CreateGlobals(nullptr);
  if (ctx.Demo) {
    SETUP->SetDemo(true);
    return 0;
  }
  if (!needsLine) return 0;
  if (ctx.Port.isEmpty()) {
    Err(QStringLiteral("vexa-cli: give --demo or --port DEVICE"));
    return 2;
  }
  Err(QStringLiteral("vexa-cli: the serial line is not available in this build yet"));
  return 2;
}

}  // namespace vexa::cli
