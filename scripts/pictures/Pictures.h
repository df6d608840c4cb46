#pragma once
// Pictures of the windows for the documentation (scripts/screenshots), taken only when
// VEXA_SCREENSHOTS_DIR names the folder to write them to; otherwise the tests are skipped.

#include <QDir>
#include <QPixmap>
#include <QWidget>

#include "support/TestSupport.h"
#include "ui/OperatorInput.h"

namespace vexa::test {

class TPicturesTest : public TVexaTest {
 protected:
  void SetUp() override {
    folder = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir().mkpath(folder));
  }
  void TearDown() override {
    if (!folder.isEmpty()) TVexaTest::TearDown();
  }

  // The window as it is drawn now, once its pending events ran, into folder/name.
  void Save(QWidget* w, const QString& name) {
    ProcessEventsFor(100);
    const QString path = QDir(folder).filePath(name);
    const QPixmap picture = w->grab();
    EXPECT_EQ(picture.size(), w->size());
    EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
  }

  QString folder;
};

}  // namespace vexa::test
