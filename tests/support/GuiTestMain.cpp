#include <gtest/gtest.h>

#include <QApplication>

#include "ui/model/PersistentClasses.h"
#include "ui/parts/QtLanguage.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The program's start: Qt's dates as the program's where the system names no locale.
  vexa::TRussianDates russianDates;
  QApplication app(argc, argv);
  russianDates.Settle();
  ::testing::InitGoogleTest(&argc, argv);
  vexa::RegisterPersistentClasses();
  return RUN_ALL_TESTS();
}
