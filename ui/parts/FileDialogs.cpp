#include "ui/parts/FileDialogs.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QTreeView>
#include <algorithm>
#include <array>
#include <memory>

#include "core/Services.h"

namespace vexa {

namespace {

constexpr int kSizeColumn = 1;

// Qt's file model writes "KiB" whatever the language; the program's dialogs say "КиБ".
class TRussianSizes : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::DisplayRole && index.column() == kSizeColumn)
      if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel())) {
        const QModelIndex source = mapToSource(index);
        if (!files->isDir(source)) return FileSizeText(files->size(source));
      }
    return QIdentityProxyModel::data(index, role);
  }
};

}  // namespace

void PrepareFileDialog(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setViewMode(QFileDialog::Detail);
  dialog.setProxyModel(std::make_unique<TRussianSizes>(&dialog).release());  // the dialog owns it
  auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (view == nullptr) return;
  QHeaderView* header = view->header();
  header->setStretchLastSection(false);
  for (int column = 1; column < header->count(); ++column)
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  // The names arrive from the file model's thread, folder by folder.
  if (auto* files = dialog.findChild<QFileSystemModel*>())
    QObject::connect(files, &QFileSystemModel::directoryLoaded, view,
                     [view] { view->resizeColumnToContents(0); });
  dialog.resize(std::max(dialog.width(), 760), std::max(dialog.height(), 420));
}

}  // namespace vexa
