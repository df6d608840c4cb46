#pragma once
// TRegistryForm: the channel templates window. It edits the REGISTRY tree: channel templates under
// the root, register templates under each, their captions in place, a register template's type and
// access, and every node's comments; it reloads the tree from its file and saves it there.

#include <QWidget>

#include "core/RootNode.h"
#include "ui/parts/HelpUnit.h"

class QAction;
class QComboBox;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TNetwork;

class TCustomRegister;
class TMainForm;

class TRegistryForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcRegistry;
  static constexpr int kMinWidth = 217;
  static constexpr int kMinHeight = 350;
  static constexpr int kCommentsMinimum = 50;  // the splitter never leaves the comments less

  explicit TRegistryForm(TNetwork& network, TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TRegistryForm() override;

  // The node of the selected item; null when none is selected or the tree shown is no longer the
  // REGISTRY tree.
  TRootNode* SelectedNode() const;
  // Shows the REGISTRY tree as it is now, nothing selected. Must run after anything replaced it.
  void Rebuild();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Whether the items still show the REGISTRY root they were built from (and so its live nodes).
  bool ShowsCurrentTree() const;
  // For the toolbar: true when the tree is current; otherwise rebuilds it and the click ends there.
  bool CheckCurrent();
  // For signals of the widgets themselves, which must not see their items cleared under them.
  void RebuildLater();
  void RebuildAndSelect(TRootNode* node);
  void Open();
  QTreeWidgetItem* SelectedItem() const;
  TCustomRegister* SelectedRegisterTemplate() const;
  void ShowSelection();

  void OpenClick();
  void SaveClick();
  void AddClick();
  void DeleteClick();
  void CaptionEdited(QTreeWidgetItem* item, int column);
  void TypeChosen(int index);
  void AccessChosen(int index);
  void CommentsEdited();

  QToolBar* toolBar_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* addAction_ = nullptr;
  QAction* deleteAction_ = nullptr;
  QTreeWidget* tvRegistry_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QWidget* typeBar_ = nullptr;
  QComboBox* cbType_ = nullptr;
  QComboBox* cbAccess_ = nullptr;
  QPlainTextEdit* meComments_ = nullptr;
  // The root the items were built from: compared with REGISTRY, never followed unless equal.
  const TRootNode* root_ = nullptr;
  bool rebuildPending_ = false;
  bool open_ = false;  // shown and not yet closed (minimised counts as open)
  TNetwork& network_;
};

}  // namespace vexa
