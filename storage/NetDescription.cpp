#include "storage/NetDescription.h"

#include <QFile>
#include <QStringList>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

namespace {

const QString kTab = QStringLiteral("\t");
const QString kQuote = QStringLiteral("\"");

QString Quoted(const QString& text) {
  return kQuote + text + kQuote;
}

// The lines of the description, without their endings.
QStringList DescriptionLines(const TRootNode& root) {
  QStringList lines{root.Caption(), QString()};
  const int regulators = root.NodeCount();
  for (int d = 0; d < regulators; ++d) {
    const TRootNode* regulator = root.Node(d);
    lines << kTab + QStringLiteral("Регулятор: ") + Quoted(regulator->Caption()) + kTab +
                 QStringLiteral("Сетевой адрес: ") + regulator->Name().mid(1)
          << QString();
    const int channels = regulator->NodeCount();
    for (int c = 0; c < channels; ++c) {
      const TRootNode* channel = regulator->Node(c);
      lines << kTab + kTab + QStringLiteral("Канал: ") + Quoted(channel->Caption()) + kTab +
                   QStringLiteral("Тип: ") + channel->Comments()
            << QString();
      // Node 0 is the hidden type register every channel starts with.
      for (int r = 1; r < channel->NodeCount(); ++r) {
        const TRootNode* node = channel->Node(r);
        const auto* reg = dynamic_cast<const TCustomRegister*>(node);
        const TRegisterType type = reg != nullptr ? reg->RegisterType() : rtUnknown;
        lines << kTab + kTab + kTab + QStringLiteral("Регистр: ") + Quoted(node->Caption()) + kTab + kTab +
                     QStringLiteral("Тип: ") + RegisterTypeNames().value(type);
      }
      if (c + 1 < channels) lines << QString();
    }
    if (d + 1 < regulators) lines << QString();
  }
  return lines;
}

}  // namespace

QString NodeFullName(const TComponent& node) {
  const auto* self = dynamic_cast<const TRootNode*>(&node);
  QString name = self != nullptr ? self->Caption() : QString();
  const TComponent* owner = node.Owner();
  for (int level = 0; level < 2 && owner != nullptr; ++level, owner = owner->Owner()) {
    const auto* parent = dynamic_cast<const TRootNode*>(owner);
    if (parent == nullptr) break;
    name += QLatin1Char('.') + parent->Caption();
  }
  return name;
}

QString NetworkDescription(const TRootNode& root) {
  QString text;
  for (const QString& line : DescriptionLines(root)) text += line + QStringLiteral("\r\n");
  return text;
}

TFaults SaveNetworkDescription(const QString& path, const TRootNode& root) {
  auto fail = [&](const QString& reason) {
    return TFaults(QStringLiteral("Ошибка записи файла %1: %2").arg(path, reason));
  };
  QFile file(path);
  // Unbuffered, so a full disk shows at the line it stops, not at some later flush.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    return fail(file.errorString());
  for (const QString& line : DescriptionLines(root)) {
    const QByteArray bytes = ToCp1251(line + QStringLiteral("\r\n"));
    if (file.write(bytes) != bytes.size()) return fail(file.errorString());
  }
  file.close();
  if (file.error() != QFileDevice::NoError) return fail(file.errorString());
  return {};
}

}  // namespace vexa
