#pragma once
// Colours as the stored trees keep them (0x00BBGGRR, red in the low byte) and as Qt paints them.

#include <QColor>

namespace vexa {

inline QColor ToQColor(int color) {
  const auto c = static_cast<quint32>(color);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

inline int FromQColor(const QColor& color) {
  return color.red() | (color.green() << 8) | (color.blue() << 16);
}

}  // namespace vexa
