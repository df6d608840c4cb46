// Pictures of the report properties dialog, one per page, for the documentation; taken only when
// VEXA_SCREENSHOTS_DIR names the folder to write them to.

#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <memory>

#include "reports/gui/ReportPropertiesUnit.h"
#include "reports/model/ReportNode.h"
#include "support/TestSupport.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

class ReportPropertiesPictures : public TVexaTest {
 protected:
  void SetUp() override {
    folder = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir().mkpath(folder));
  }

  void Save(QWidget* w, const QString& name) {
    ProcessEventsFor(100);
    const QString path = QDir(folder).filePath(name);
    const QPixmap picture = w->grab();
    EXPECT_EQ(picture.size(), w->size());
    EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
  }

  QString folder;
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
      f->pcPages->setCurrentIndex(page);
      Save(f, QString::fromLatin1(pictures[page]));
    }
    f->reject();
  });
  EXPECT_FALSE(form.Execute(node));
}

}  // namespace
}  // namespace vexa::test
