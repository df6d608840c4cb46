#pragma once
// TCompactTabStyle: page tabs no wider than their captions need, so that all the pages of a narrow
// property dialog fit its width.

#include <QProxyStyle>

class QTabBar;

namespace vexa {

class TCompactTabStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
};

// Gives tabs the compact style (owned by the tab bar) and a font one point smaller, down to 7 points.
void MakeTabsCompact(QTabBar* tabs);

}  // namespace vexa
