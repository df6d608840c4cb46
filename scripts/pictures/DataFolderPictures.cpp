// The data folder's choice at the first start, for the documentation.

#include <gtest/gtest.h>

#include "Pictures.h"
#include "ui/config/DataFolderUnit.h"

namespace vexa::test {
namespace {

class TDataFolderPictures : public TPicturesTest {};

TEST_F(TDataFolderPictures, FirstStart) {
  TDataFolderDlg dialog(QStringLiteral("/home/operator/.local/share/Vexa"));
  ASSERT_TRUE(Activate(&dialog));
  Save(&dialog, "data-folder.png");
}

}  // namespace
}  // namespace vexa::test
