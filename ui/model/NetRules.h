#pragma once
// Rules of the network structure window and its property dialogs that need no window: which dialog a
// tree level opens, where a dialog goes beside the window, and the register's full-scale text.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace vexa {

// Depth of an item in the network tree.
enum TNetLevel : int { nlNetwork = 0, nlRegulator = 1, nlChannel = 2, nlRegister = 3 };

enum class TPropertiesDialog { None, Node, Register };

// The network, regulators and channels open the node dialog, registers the register dialog; nothing
// else has properties.
TPropertiesDialog PropertiesDialogForLevel(int level);

// Top-left corner of a dialog of the given outer size beside a window (outer geometry): 4 pixels to
// its right, or 4 pixels to its left when the right side would leave the screen; top level with the
// window's top.
QPoint PlaceBesideWindow(const QRect& window, QSize dialog, const QRect& screen);

// What the history chart spans with five grid steps: "Zero ... Zero+5*Notch".
QString FullScaleText(int zero, int notch);

}  // namespace vexa
