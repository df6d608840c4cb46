#pragma once
// The value labels on the diagram pages: a widget per label that mirrors its model, the program's
// one lasso, and the drops of registers from the network tree onto the pictures.

#include <QLabel>
#include <QPointer>
#include <QSet>
#include <functional>
#include <utility>

#include "alarms/model/AlarmModel.h"
#include "ui/model/LabelDisplay.h"

class QMenu;
class QTabWidget;

namespace vexa {

class TLasso;
class TRootNode;

// One label on its page: text, font, colours and frame of the model, sized to its text.
class TLabelView : public QLabel {
  Q_OBJECT
 public:
  TLabelView(TLabelDisplay& label, QWidget* page);

  TLabelDisplay* Label() const { return label_; }
  // The label's register in alarm: unacknowledged flashes in the priority's colour, acknowledged
  // stays in it, returned unacknowledged flashes its frame; normal shows the label's own look.
  void SetAlarm(TAlarmState state, int priority);
  TAlarmState AlarmState() const { return alarmState_; }
  // A shelved alarm of the register: a dashed grey frame, so that the label does not pass for one
  // in its normal state while the alarm is set aside.
  void SetShelved(bool shelved);
  bool Shelved() const { return shelved_; }
  bool Flashing() const {
    return alarmState_ == TAlarmState::ActiveUnacked || alarmState_ == TAlarmState::ReturnedUnacked;
  }
  // The flashing's phase: on shows the colour, off the label's own look.
  void SetFlashPhase(bool on);
  // Shows the model's state; the size the text takes goes back into the model.
  void Mirror();
  // The model is going: the view forgets it and goes too, later, since it may be in one of its
  // own event handlers now.
  void Forget();

 Q_SIGNALS:
  void DoubleClicked(TLabelView* view);
  void PopupRequested(TLabelView* view, QPoint globalPos);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  TLabelDisplay* label_;
  bool mirroring_ = false;
  TAlarmState alarmState_ = TAlarmState::Normal;
  int alarmPriority_ = 2;
  bool shelved_ = false;
  bool flashOn_ = true;
};

// The diagram side of the labels for the main window's pages.
class TMnemoLabels : public QObject, public TLabelHost {
  Q_OBJECT
 public:
  // The format the network tree's drags carry; only that tree makes it, so a drag that carries
  // it comes from there.
  static const QString kNodeFormat;

  // lassoRest: where the lasso waits while it marks nothing (the main window).
  TMnemoLabels(QTabWidget* pcMnemo, QWidget* lassoRest);
  ~TMnemoLabels() override;

  // Whether drops may create and move labels (the network is open for configuration).
  std::function<bool()> DropsAllowed;
  // The node selected in the network tree, whose drag is under way.
  std::function<TRootNode*()> SelectedTreeNode;
  // The menu a label's right click opens.
  void SetPopup(QMenu* popup) { popup_ = popup; }

  // The alarm state of a register name (its most urgent alarm, and that alarm's priority); the
  // labels show it once AlarmsChanged is called. Unset: no label shows an alarm.
  std::function<std::pair<TAlarmState, int>(const QString& name)> AlarmOf;
  // Whether one of a register's alarms is shelved. Unset: none is.
  std::function<bool(const QString& name)> ShelvedOf;
  void AlarmsChanged();
  static constexpr int kFlashMs = 500;

  // The label whose menu was opened last, while it lives.
  TLabelDisplay* PopupLabel() const;
  // The selection of a node in the network tree or a channel table: its label's page comes to
  // the front and the lasso marks it; anything else leaves the lasso marking nothing.
  void Mark(TRootNode* node);
  // Nothing marked: the structure window or the main window closed.
  void ClearMark();

  // The label's history window, at most one; it is closed when the label goes.
  QWidget* HistoryForm(const TLabelDisplay& label) const;
  void SetHistoryForm(const TLabelDisplay& label, QWidget* form);
  void CloseHistoryForms();

  // TLabelHost
  void Attach(TLabelDisplay& label) override;
  void Orphaned(TLabelDisplay& label) override;
  void Destroying(TLabelDisplay& label) override;

 Q_SIGNALS:
  // A label was double-clicked: its register is to be shown in the network tree.
  void LabelDoubleClicked(TRegisterNode* reg);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TLabelView* ViewOf(const TLabelDisplay& label) const;
  bool CanDrop(const class QDropEvent& event) const;
  void PutLassoOnActivePage();

  QTabWidget* pcMnemo_;
  TLasso* lasso_;
  QMenu* popup_ = nullptr;
  QSet<TLabelDisplay*> live_;  // every label attached and not yet destroyed
  QHash<TLabelDisplay*, QPointer<TLabelView>> views_;
  QHash<const TLabelDisplay*, QPointer<QWidget>> histories_;
  TLabelDisplay* popupLabel_ = nullptr;
  QTimer* flash_ = nullptr;
  bool flashOn_ = true;
};

}  // namespace vexa
