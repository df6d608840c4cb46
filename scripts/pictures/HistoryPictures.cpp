// The pictures of a label's history for the documentation: the demonstration's pressure of about
// 2,2..2,5 bar over an hour, fitted to the chart, and a day of it from the historian as a band.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <cmath>

#include "Pictures.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "historian/HistoryStore.h"
#include "support/Child.h"
#include "support/Trees.h"
#include "ui/HistoryChart.h"
#include "ui/HistoryUnit.h"
#include "ui/MainUnit.h"
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

// A day of the pressure as the historian keeps it: a slow swing with the pump's starts, every 3 s.
TEST_F(THistoryPictures, ADayFromTheHistorian) {
  TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 1, QStringLiteral("Регулятор 001")), 0,
                                      QStringLiteral("Канал 000"));
  TRegisterNode& reg = AddRegisterNode(channel, 1, {.Caption = QStringLiteral("Давление")});
  reg.SetDigits(2);
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  {
    THistoryStore store;
    ASSERT_TRUE(store.Open(HistoryPath(Dir->path()))) << store.ErrorText().toStdString();
    std::vector<THistorySample> samples;
    Current().Line().Random().Seed(7);
    for (int64_t t = now - kDayMs; t < now; t += 3000) {
      const double hours = static_cast<double>(t % kDayMs) / kHourMs;
      const double wander = (Current().Line().Random().Next(11) - 5) / 100.0;
      samples.push_back({reg.Name(), t, 2.35 + 0.12 * std::sin(hours / 24 * 2 * M_PI) + wander, true});
    }
    ASSERT_TRUE(store.Write(samples));
    ASSERT_TRUE(store.RollUp(now, THistoryTiers{}));
  }
  TMainForm main(Current());
  THistoryForm form(&reg, nullptr, &main);
  form.setAttribute(Qt::WA_DeleteOnClose, false);
  ASSERT_TRUE(Activate(&form));
  auto* spans = Child<QComboBox>(form, "spanBox");
  spans->setFocus();
  QTest::keyClick(spans, Qt::Key_Down);
  QTest::keyClick(spans, Qt::Key_Down);  // "Сутки"
  MouseClick(Child<THistoryChart>(form, "chart"), Qt::LeftButton, {}, QPoint(200, 40));
  Save(&form, "history-day.png");
  form.close();
}

}  // namespace
}  // namespace vexa::test
