#pragma once
// TChannelForm: the channel table. Every register of one channel in a grid with the values read
// when the window opens; the operator types new values and "Применить" writes the changed ones.

#include <QDialog>
#include <optional>

#include "core/RootNode.h"
#include "ui/model/ChannelTable.h"
#include "ui/parts/HelpUnit.h"

class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableWidget;

namespace vexa {

class TNetwork;

class TLabelDisplay;
class TMainForm;

class TChannelForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcChannel;
  static constexpr int kMinWidth = 224;
  static constexpr int kMinHeight = 350;
  static constexpr int kPanelHeight = 72;

  explicit TChannelForm(TNetwork& network, TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TChannelForm() override;

  // The channel to show and the label the window is opened from (its register's row becomes the
  // current one), set before every show: both are forgotten when the window closes, since the
  // tree may be replaced while it is hidden. The caption becomes the channel's.
  void SetChannel(TRootNode* channel);
  void SetLabel(TLabelDisplay* label);

  const TChannelTable& Table() const { return table_; }
  // The register of the current row, or null.
  TRootNode* SelectedRegister() const;

 Q_SIGNALS:
  // The current row changed (null: a row with no register, or none): the lasso marks its label.
  void RegisterSelected(vexa::TRootNode* reg);
  // The window closed: the lasso marks nothing.
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  friend class TChannelValueDelegate;

  void Load();
  // Column 0 as wide as the widest caption, the window as wide as both columns.
  void FitWidth(TRootNode* channel);
  void ShowRow(int row);
  void CurrentRowChanged(int gridRow);
  // The operator's text in a value cell. A refused text is taken back, with the warning, only after
  // the editor's own handler has returned: the warning's event loop closes the editor.
  void CellEdited(int row, const QString& text);
  void TakeBackRefused();
  void ApplyClick();
  static int GridRow(int row) { return row - 1; }
  static int TableRow(int gridRow) { return gridRow + 1; }

  TChannelTable table_;
  TRootNode* channel_ = nullptr;
  TRootNode* labelRegister_ = nullptr;
  TRootNode* selected_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QPlainTextEdit* meComments_ = nullptr;
  QPushButton* btApply_ = nullptr;
  QPushButton* btCancel_ = nullptr;
  bool open_ = false;
  int shows_ = 0;  // counts the openings, so a refusal left from an earlier one is dropped
  struct TRefusal {
    int Row;
    QString Text;
    int Show;
  };
  std::optional<TRefusal> refused_;  // the latest refused text, waiting for the event loop
  TNetwork& network_;
};

}  // namespace vexa
