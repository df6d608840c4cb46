#include "ui/parts/CompactTabStyle.h"

#include <QTabBar>

namespace vexa {

int TCompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                  const QWidget* widget) const {
  if (metric == PM_TabBarTabHSpace) return 8;
  return QProxyStyle::pixelMetric(metric, option, widget);
}

void MakeTabsCompact(QTabBar* tabs) {
  QFont font = tabs->font();
  if (font.pointSize() > 7) font.setPointSize(font.pointSize() - 1);
  tabs->setFont(font);
  auto* style = new TCompactTabStyle;
  style->setParent(tabs);
  tabs->setStyle(style);
}

}  // namespace vexa
