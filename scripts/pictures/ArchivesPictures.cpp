// A picture of the report archive window for the documentation.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QTest>
#include <memory>

#include "Pictures.h"
#include "core/RegisterNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/Archives.h"
#include "support/Child.h"
#include "ui/OperatorInput.h"
#include "ui/config/ArchivesUnit.h"

namespace vexa::test {
namespace {

class ArchivesPictures : public TPicturesTest {
 protected:
  void SetUp() override {
    TPicturesTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
  }

  // A report run of two registers archived under the name the reports window gives it.
  void Archive(const QString& caption, const QDateTime& start) {
    TReportNode report(nullptr);
    report.SetStartPoint(DateTimeFromQt(start));
    report.SetCaption(ArchiveName(caption, report.StartPoint()));
    for (const char* name : {"Печь\\Зона 1\\Температура", "Печь\\Зона 2\\Температура"}) {
      auto* reg = new TRegisterNode(&report);
      reg->SetCaption(QString::fromUtf8(name));
      reg->SetPoints({DateTimeToStr(report.StartPoint())});
      reg->SetDataList({QStringLiteral("450,0")});
    }
    ASSERT_TRUE(SaveArchive(Current().Dir(), report));
  }
};

TEST_F(ArchivesPictures, AFewArchivesListed) {
  const QDateTime start(QDate(2026, 12, 7), QTime(9, 5));
  Archive(QStringLiteral("Отжиг"), start);
  Archive(QStringLiteral("Отжиг"), start.addDays(1));
  Archive(QStringLiteral("Печь.2"), start.addSecs(3 * 3600));
  Archive(QStringLiteral("Сушка"), start.addDays(2));

  TArchivesForm form(Current());
  ASSERT_TRUE(Activate(&form));
  QListWidget* list = Child<QListWidget>(form, "fileList");
  ASSERT_EQ(list->count(), 4);
  QListWidgetItem* item = list->item(1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
  QTest::mouseMove(list->viewport());  // no tool button under the pointer
  Save(&form, QStringLiteral("archives-window.png"));
}

}  // namespace
}  // namespace vexa::test
