// The picture of a label's history for the documentation: the demonstration's pressure of about
// 2,2..2,5 bar over an hour, fitted to the chart.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>

#include "Pictures.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/Child.h"
#include "ui/HistoryChart.h"
#include "ui/HistoryUnit.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

using THistoryPictures = TPicturesTest;

TEST_F(THistoryPictures, ThePressuresHour) {
  auto* regulator = new TRootNode(Net().get());
  regulator->SetName(QStringLiteral("D001"));
  regulator->SetCaption(QStringLiteral("Регулятор 001"));
  auto* channel = new TRootNode(regulator);
  channel->SetName(QStringLiteral("D001C000"));
  channel->SetCaption(QStringLiteral("Канал 000"));
  auto* reg = new TRegisterNode(channel);
  reg->SetName(QStringLiteral("D001C000R001"));
  reg->SetCaption(QStringLiteral("Давление"));
  reg->SetRegisterType(rtINT);
  reg->SetDigits(2);
  // An hour every 3 s as the demonstration logs it: a wander of a hundredth of a bar a step.
  Current().Line().Random().Seed(7);
  const double start = DateTimeFromQt(QDateTime(QDate(2026, 12, 9), QTime(8, 0)));
  QStringList times, values;
  int hundredths = 235;
  for (int i = 0; i < 1200; ++i) {
    hundredths = std::clamp(hundredths + Current().Line().Random().Next(3) - 1, 220, 250);
    times << DateTimeToStr(start + i * 3.0 / 86400);
    values << FormatFixed(hundredths / 100.0, 2);
  }
  reg->SetPoints(times);
  reg->SetDataList(values);
  THistoryForm form(reg, nullptr, nullptr);
  form.setAttribute(Qt::WA_DeleteOnClose, false);
  ASSERT_TRUE(Activate(&form));
  // A click puts the cursor on a sample, so the read-outs show it.
  MouseClick(Child<THistoryChart>(form, "chart"), Qt::LeftButton, {},
             QPoint(Child<QScrollArea>(form, "scrollBox")->horizontalScrollBar()->value() + 120, 40));
  Save(&form, "history-window.png");
  form.close();
}

}  // namespace
}  // namespace vexa::test
