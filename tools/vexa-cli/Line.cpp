#include "core/Comm.h"
#include "core/LineSpeeds.h"
#include "core/Network.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

// The port as given and, when it names another path (COM1, a link), the device it opens.
QString PortShown(const QString& port, const QString& folder) {
  const QString device = PortDevicePath(port, folder);
  return device == port ? port : QStringLiteral("%1 (%2)").arg(port, device);
}

}  // namespace

int PrepareLine(TCliContext& ctx, bool needsLine) {
  const std::optional<int> baudIndex = BaudRateIndexOf(ctx.Baud);
  if (!baudIndex) {
    QStringList speeds;
    for (const TLineSpeed& speed : kLineSpeeds) speeds << QString::number(speed.BitsPerSecond);
    Err(QStringLiteral("vexa-cli: --baud: скорость обмена — одна из %1 бит/с")
            .arg(speeds.join(QStringLiteral(", "))));
    return 2;
  }
  ctx.Network = std::make_unique<TNetwork>(ctx.Dir, std::make_unique<TComm>(ctx.Dir));
  TNetwork& network = *ctx.Network;
  TLine& line = network.Line();
  if (ctx.Trace) line.Trace = [](const QString& text) { Err(text, TPriority::Debug); };
  line.Notice = [](const QString& text, bool lost) {
    Err(QStringLiteral("vexa-cli: ") + text, lost ? TPriority::Warning : TPriority::Info);
  };
  line.Random().Seed(static_cast<uint32_t>(Services().Clock->TickMs()));
  if (ctx.Demo) {
    network.Setup()->SetDemo(true);
    if (needsLine) Err(QStringLiteral("Линия: имитация"), TPriority::Info);
    return 0;
  }
  if (!needsLine) return 0;
  if (ctx.Port.isEmpty()) {
    Err(QStringLiteral("vexa-cli: не задана линия: укажите --demo или --port DEVICE"));
    return 2;
  }
  try {
    line.Port()->SetDeviceName(ctx.Port);
    line.Port()->Open();
  } catch (const ECommError& e) {
    Err(QStringLiteral("vexa-cli: не могу открыть порт %1 (%2): %3")
            .arg(ctx.Port, PortDevicePath(ctx.Port, ctx.Dir), e.UserText()));
    return 2;
  }
  // Sets the speed and drops RTS and DTR, as the program does.
  for (const QString& fault : network.SetBaudRateIndex(*baudIndex).Texts())
    Err(QStringLiteral("vexa-cli: ") + fault);
  Err(QStringLiteral("Линия: %1, %2 бит/с").arg(PortShown(ctx.Port, ctx.Dir)).arg(ctx.Baud), TPriority::Info);
  return 0;
}

TFolderLine UseCommandLineLine(TCliContext& ctx) {
  TSetupNode* const setup = ctx.Network->Setup().get();
  const TFolderLine folder{setup->Demo(), setup->BaudRateIndex()};
  if (ctx.Demo) {
    setup->SetDemo(true);
  } else if (!ctx.Port.isEmpty()) {
    if (folder.Demo) {
      setup->SetDemo(false);
      Err(QStringLiteral("vexa-cli: в настройках папки включена имитация; работа идёт на порту %1, "
                         "как задано в командной строке")
              .arg(ctx.Port),
          TPriority::Warning);
    }
    // The byte times of the exchange follow the speed the port runs at.
    if (const std::optional<int> index = BaudRateIndexOf(ctx.Baud))
      for (const QString& fault : ctx.Network->SetBaudRateIndex(*index).Texts())
        Err(QStringLiteral("vexa-cli: ") + fault);
  }
  return folder;
}

void RestoreFolderLine(TCliContext& ctx, const TFolderLine& folder) {
  TNetwork& network = *ctx.Network;
  network.Setup()->SetDemo(folder.Demo);
  // Before the save at the end of the run, when the port has nothing more to do at any speed.
  if (network.Setup()->BaudRateIndex() != folder.BaudRateIndex)
    for (const QString& fault : network.SetBaudRateIndex(folder.BaudRateIndex).Texts())
      Err(QStringLiteral("vexa-cli: ") + fault);
}

}  // namespace vexa::cli
