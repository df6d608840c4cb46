#pragma once
// TTemplatesWindow: what the processes and reports windows share. The upper half is a tree of
// templates that registers are dragged onto from the network structure window; the lower half
// lists the running items (processes, reports) made by dragging a template onto it, with a "%"
// column and the running and stopped images. The window owns the timer that steps the items from
// start-up to shutdown, shown or not. While the network is closed for configuration the upper
// toolbar is hidden and registers cannot be dropped.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "core/Faults.h"
#include "core/RootNode.h"

class QAction;
class QMimeData;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TNetwork;

class TSession;
class TRegisterNode;
class TRootPropertiesForm;

// What differs between the windows that are otherwise alike.
struct TTemplatesWindowSetup {
  QString Caption;                        // the window's
  std::unique_ptr<TRootNode>* Templates;  // the templates' root (a restore replaces it)
  std::unique_ptr<TRootNode>* Items;      // the running items' root
  QString NewTemplateCaption;             // "Новый шаблон" gives templates this caption
  int TemplateImage;                      // and this image
  QString ItemsColumn;                    // the list's first column
  QString TemplateMimeType;               // what this window's tree drags carry
  int HelpContext;
};

class TTemplatesWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 217;
  static constexpr int kHeight = 350;
  static constexpr int kSplitterMinimum = 50;
  static constexpr int kNameColumnWidth = 165;
  static constexpr int kProgressColumnWidth = 32;

  TTemplatesWindow(TNetwork& network, const TTemplatesWindowSetup& setup, TSession* session,
                   QWidget* parent = nullptr);
  ~TTemplatesWindow() override;

  // One step of the running items, with what the window shows of it; the program's tick runner
  // runs it in its period (TTickRunner) and tells its faults.
  virtual TFaults Tick() = 0;

  // The tree and the list as the trees are now. Must run after a restore or a search replaced them.
  void Rebuild();

  // The node of the tree's current item (the first item when none is current), its level, and the
  // node that owns it (the templates' root for the root).
  TRootNode* SelectedObject() const;
  TRootNode* SelectedOwner() const;
  // The item of the list's current row, or null.
  TRootNode* SelectedItem() const;
  // Makes the node's tree item or list row current.
  void SelectTreeNode(TRootNode* node);
  void SelectListItem(TRootNode* item);

  bool NetworkOpen() const;

 protected:
  // A node for the register, made a child of the template (the register is not a child yet).
  virtual void AddRegister(TRootNode& templ, const TRegisterNode& reg) = 0;
  // The message when the template has the register already.
  virtual QString DuplicateText(const TRootNode& templ) const = 0;
  // A new running item copied from the template, ownerless.
  virtual std::unique_ptr<TRootNode> MakeItem(const TRootNode& templ) = 0;
  // Starts or stops the item itself; its Enabled afterwards says whether it runs, which the image
  // follows. The image is still the old one here; the save is done afterwards.
  virtual void ChangeState(TRootNode& item, bool running) = 0;
  // The properties command for a tree node of level 1 (a template) or 2 (a node of a template).
  virtual void TemplateProperties(TRootNode& templ) = 0;
  virtual void NodeProperties(TRootNode& node) = 0;
  // The "%" of an item's row when the list is built; the tick shows it afterwards.
  virtual int ItemProgress(const TRootNode&) const { return 0; }
  // An empty template made by "Новый шаблон", owned by owner; caption and image are set afterwards.
  virtual TRootNode* NewTemplateNode(TRootNode& owner);

  TSession* Session() const { return session_.data(); }
  TNetwork& Network() const { return network_; }
  // The list of running items.
  QTreeWidget* ListView() const { return list_; }
  TRootNode& Templates() const { return **setup_.Templates; }
  TRootNode& Items() const { return **setup_.Items; }

  // The node properties dialog for node, beside this window; read-only (its name and comments
  // fields, and " (для чтения)" after its caption) for this showing only. True when accepted.
  bool ShowNodeDialog(TRootNode& node, bool readOnly);
  // Puts a dialog or window beside this one: right of it, or left when there is no room.
  void PlaceBeside(QWidget* window) const;

  // The row's "%" and image; nothing while the window is hidden (a showing rebuilds the list).
  void ShowProgress(TRootNode& item, int done);
  void ShowImage(TRootNode& item, int image);

  // A command of the lower toolbar of the window's own, placed before its "Удалить".
  QAction* AddItemCommand(int image, const QString& hint, const char* name);
  // Destroys a running item, rebuilds the list and saves the items.
  void DeleteItem(TRootNode& item);

  void showEvent(QShowEvent* event) override;

 private:
  void NetworkOpenChanged(bool open);
  void RebuildTree(TRootNode* select);
  void RebuildList();
  void NewTemplateClick();
  void NetTreeClick();
  void PropertiesClick();
  void DeleteTemplateClick();
  void SetSelectedState(bool running);
  void StartAllClick();
  void DeleteItemClick();

  // The register a drag from the network tree carries, or null.
  TRegisterNode* DraggedRegister(const QMimeData* mime) const;
  // The template under a point of the tree's viewport, or null.
  TRootNode* TemplateAt(QPoint pos) const;
  bool AcceptsRegister(const QMimeData* mime) const;
  bool DropRegister(const QMimeData* mime, QPoint pos);
  bool AcceptsTemplate(const QMimeData* mime) const;
  bool DropTemplate(const QMimeData* mime);

  TTemplatesWindowSetup setup_;
  QPointer<TSession> session_;
  QToolBar* topBar_ = nullptr;
  QAction* saveTemplatesAction_ = nullptr;
  QAction* newTemplateAction_ = nullptr;
  QAction* netTreeAction_ = nullptr;
  QAction* propertiesAction_ = nullptr;
  QAction* deleteTemplateAction_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QToolBar* bottomBar_ = nullptr;
  QAction* stopAction_ = nullptr;
  QAction* startAction_ = nullptr;
  QAction* startAllAction_ = nullptr;
  QAction* deleteItemAction_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QPointer<TRootPropertiesForm> ownNodeDialog_;
  TNetwork& network_;
};

}  // namespace vexa
