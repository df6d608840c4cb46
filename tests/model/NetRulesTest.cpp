// Rules of the network structure window that hold without any window.

#include <gtest/gtest.h>

#include <climits>

#include "ui/model/NetRules.h"

namespace vexa {
namespace {

TEST(NetRules, TreeLevelsOpenTheNodeDialogUpToChannelsAndTheRegisterDialogForRegisters) {
  const struct {
    int Level;
    TPropertiesDialog Dialog;
  } cases[] = {
      {-1, TPropertiesDialog::None},  {0, TPropertiesDialog::Node},     {1, TPropertiesDialog::Node},
      {2, TPropertiesDialog::Node},   {3, TPropertiesDialog::Register}, {4, TPropertiesDialog::None},
      {100, TPropertiesDialog::None},
  };
  for (const auto& c : cases) EXPECT_EQ(PropertiesDialogForLevel(c.Level), c.Dialog) << "level " << c.Level;
}

TEST(NetRules, DialogGoesRightOfTheWindowUnlessItWouldLeaveTheScreen) {
  const QSize dialog(184, 240);
  const QRect screen(0, 0, 1024, 768);
  const struct {
    const char* Case;
    QRect Window;
    QRect Screen;
    QPoint Expected;
  } cases[] = {
      {"room on the right", {100, 50, 217, 350}, screen, {321, 50}},
      // 600 + 217 + 4 + 184 = 1005: fits.
      {"ends inside", {600, 10, 217, 350}, screen, {821, 10}},
      // 619 + 217 + 4 + 184 = 1024: touches the edge and still fits.
      {"ends at the edge", {619, 10, 217, 350}, screen, {840, 10}},
      {"one pixel over", {620, 10, 217, 350}, screen, {620 - 4 - 184, 10}},
      {"window partly off the right", {900, 700, 217, 350}, screen, {900 - 188, 700}},
      // A second screen to the right of the first: its own right edge counts.
      {"second screen, room", {1100, 20, 217, 350}, {1024, 0, 1280, 1024}, {1321, 20}},
      {"second screen, over", {2100, 20, 217, 350}, {1024, 0, 1280, 1024}, {2100 - 188, 20}},
  };
  for (const auto& c : cases) EXPECT_EQ(PlaceBesideWindow(c.Window, dialog, c.Screen), c.Expected) << c.Case;
}

TEST(NetRules, FullScaleSpansFiveGridSteps) {
  const struct {
    int Zero, Notch;
    const char* Text;
  } cases[] = {
      {0, 10, "0 ... 50"},
      {-50, 20, "-50 ... 50"},
      {-10000, 1, "-10000 ... -9995"},
      {10000, 10000, "10000 ... 60000"},
      {-10000, 10000, "-10000 ... 40000"},
      // Values from a stored file are not bounded by the fields; the sum must not wrap.
      {INT_MAX, INT_MAX, "2147483647 ... 12884901882"},
  };
  for (const auto& c : cases) EXPECT_EQ(FullScaleText(c.Zero, c.Notch).toStdString(), c.Text);
}

}  // namespace
}  // namespace vexa
