#pragma once
// TNetForm: the network structure window. It shows the network tree, the comments of the selected
// node, is where registers are dragged from onto the diagrams and templates, and opens the property
// dialogs of the nodes while the network is open for configuration.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "core/RootNode.h"
#include "ui/parts/HelpUnit.h"

class QAction;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TNetwork;

class TSession;
class TRegisterPropertiesForm;
class TRootPropertiesForm;

class TNetForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcNetTree;
  static constexpr int kWidth = 217;
  static constexpr int kHeight = 350;
  static constexpr int kCommentsHeight = 72;
  // A dragged item carries the node's component name in this format.
  static constexpr const char* kNodeMimeType = "application/x-vexa-net-node";

  explicit TNetForm(TNetwork& network, TSession* session = nullptr, QWidget* parent = nullptr);
  ~TNetForm() override;

  // The node of the current item, or null.
  TRootNode* SelectedNode() const;
  // Makes the node's item current and scrolls to it; the selection handling runs also when it was
  // current already. A node not shown in the tree selects nothing.
  void SelectNode(TRootNode* node);
  // Shows the network tree as it is now. Must run after anything replaced the tree's nodes.
  void Rebuild();
  // Empties the tree: its items refer to nodes about to be destroyed.
  void Clear();

  // The limits of the selected register's alarms; the command shows only when given.
  std::function<void(const QString& name)> EditAlarmLimits;

 Q_SIGNALS:
  // The current item changed, or a properties command ended with an item current (null: none).
  void NodeSelected(vexa::TRootNode* node);
  void Closed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  TSession* Session() const { return session_.data(); }
  bool NetworkOpen() const;
  void NetworkOpenChanged(bool open);
  void CurrentChanged(QTreeWidgetItem* current);
  void ShowSelection(QTreeWidgetItem* item);
  void SaveClick();
  void PropertiesClick();
  TRootPropertiesForm* NodeDialog();
  TRegisterPropertiesForm* RegisterDialog();
  void PlaceBeside(QWidget* dialog) const;

  QPointer<TSession> session_;
  bool selectionPending_ = false;  // the current item changed under a press not yet ended
  QToolBar* toolBar_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* propertiesAction_ = nullptr;
  QTreeWidget* tvNet_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QPlainTextEdit* meComments_ = nullptr;
  QPointer<TRootPropertiesForm> ownNodeDialog_;
  QPointer<TRegisterPropertiesForm> ownRegisterDialog_;
  bool open_ = false;  // shown and not yet closed (minimised counts as open)
  TNetwork& network_;
};

}  // namespace vexa
