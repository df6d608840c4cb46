// Pictures of the report properties dialog, one per page, for the documentation.

#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <memory>

#include "Pictures.h"
#include "reports/gui/ReportPropertiesUnit.h"
#include "reports/model/ReportNode.h"
#include "support/Child.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

class ReportPropertiesPictures : public TPicturesTest {
 protected:
  void SetUp() override {
    TPicturesTest::SetUp();
    if (HasFatalFailure()) return;
  }
};

TEST_F(ReportPropertiesPictures, EveryPage) {
  TReportNode node(nullptr);
  node.SetCaption(QStringLiteral("Котел 1, смена"));
  node.SetLoggingIntervalIndex(5);
  node.SetLoggingDurationIndex(8);
  node.SetOffsetEnabled(true);
  node.SetTimeOffset(8);
  node.SetHeader({QStringLiteral("Котельная N 2"), QStringLiteral("Журнал температур котла 1")});
  node.SetFooter({QStringLiteral("Оператор: ____________")});
  TReportPropertiesForm form;
  const char* pictures[] = {"report-properties-durations.png", "report-properties-headers.png",
                            "report-properties-other.png"};
  WhenModal<TReportPropertiesForm>([&](TReportPropertiesForm* f) {
    for (int page = 0; page < 3; ++page) {
      Child<QTabWidget>(*f, "pageTabs")->setCurrentIndex(page);
      Save(f, QString::fromLatin1(pictures[page]));
    }
    f->reject();
  });
  EXPECT_FALSE(form.Execute(node));
}

}  // namespace
}  // namespace vexa::test
