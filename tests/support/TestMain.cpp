#include <gtest/gtest.h>

#include <QCoreApplication>

#include "ui/model/PersistentClasses.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  vexa::RegisterPersistentClasses();
  return RUN_ALL_TESTS();
}
