#include "alarms/gui/AlarmsUnit.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "alarms/gui/AlarmLimitsUnit.h"
#include "alarms/model/AlarmLimits.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "alarms/model/AlarmTexts.h"
#include "core/Network.h"
#include "core/Services.h"
#include "storage/AtomicFile.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Session.h"
#include "ui/parts/Tell.h"

namespace vexa {

namespace {

constexpr int kNameRole = Qt::UserRole;
constexpr int kConditionRole = Qt::UserRole + 1;
constexpr int kMeasuredRows = 100;

QTreeWidget* MakeList(QWidget* parent, const QStringList& headers, const char* name) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setHeaderLabels(headers);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // The widths from the first rows only: measuring every row of a flood's list costs the main
  // thread a tenth of a second each time.
  list->header()->setResizeContentsPrecision(kMeasuredRows);
  list->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  return list;
}

// A row whose cells tell their whole text on hover: the register's column gives way to the others
// when a long text (a refused remote write's reason) needs the room.
QTreeWidgetItem* RowItem(const QStringList& texts) {
  auto* item = new QTreeWidgetItem(texts);
  for (int c = 0; c < texts.size(); ++c) item->setToolTip(c, texts[c]);
  return item;
}

QString HtmlEscaped(const QString& text) {
  return text.toHtmlEscaped();
}

QString RowKey(const QString& name, TAlarmCondition condition) {
  return name + QLatin1Char('\n') + QString::number(static_cast<int>(condition));
}

// Fills a row of the active list; only what differs is set, so an unchanged row costs no repaint.
void FillRow(QTreeWidgetItem* item, const TActiveAlarm& alarm) {
  const QStringList texts = ActiveAlarmRow(alarm);
  for (int c = 0; c < texts.size(); ++c) {
    if (item->text(c) == texts[c]) continue;
    item->setText(c, texts[c]);
    item->setToolTip(c, c == 1 ? AlarmFullName(texts[c], alarm.Name) : texts[c]);
  }
  item->setData(0, kNameRole, alarm.Name);
  item->setData(0, kConditionRole, static_cast<int>(alarm.Condition));
  const QBrush colour = alarm.State != TAlarmState::ActiveAcked
                            ? QBrush(QColor::fromRgb(PriorityColour(alarm.Priority)))
                            : QBrush();
  for (int c = 0; c < item->columnCount(); ++c)
    if (item->foreground(c) != colour) item->setForeground(c, colour);
}

}  // namespace

TAlarmsForm::TAlarmsForm(TNetwork& network, TAlarmMonitor& alarms, TSession* session, QWidget* parent)
    : QWidget(parent, Qt::Window), network_(network), alarms_(alarms), session_(session) {
  setObjectName(QStringLiteral("AlarmsForm"));
  setWindowTitle(QStringLiteral("Тревоги"));
  setWindowIcon(AlarmIcon());
  InstallHelpShortcut(this, kHelpContext);
  resize(kWidth, kHeight);
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("alarmTabs"));
  layout->addWidget(tabs_);

  // The active list.
  auto* activePage = new QWidget(tabs_);
  auto* activeLayout = new QVBoxLayout(activePage);
  active_ = MakeList(activePage, ActiveAlarmHeaders(), "activeList");
  active_->setSelectionMode(QAbstractItemView::SingleSelection);
  activeLayout->addWidget(active_);
  auto* buttons = new QHBoxLayout;
  ack_ = new QPushButton(QStringLiteral("Квитировать"), activePage);
  ack_->setObjectName(QStringLiteral("ackButton"));
  ackAll_ = new QPushButton(QStringLiteral("Квитировать все"), activePage);
  ackAll_->setObjectName(QStringLiteral("ackAllButton"));
  shelve_ = new QPushButton(QStringLiteral("Отложить на"), activePage);
  shelve_->setObjectName(QStringLiteral("shelveButton"));
  shelveMinutes_ = new QSpinBox(activePage);
  shelveMinutes_->setObjectName(QStringLiteral("shelveMinutes"));
  shelveMinutes_->setRange(1, 24 * 60);
  shelveMinutes_->setValue(30);
  shelveMinutes_->setSuffix(QStringLiteral(" мин"));
  limits_ = new QPushButton(QStringLiteral("Уставки..."), activePage);
  limits_->setObjectName(QStringLiteral("limitsButton"));
  for (QWidget* w : std::initializer_list<QWidget*>{ack_, ackAll_, shelve_, shelveMinutes_})
    buttons->addWidget(w);
  buttons->addStretch();
  beep_ = new QCheckBox(QStringLiteral("Звук"), activePage);
  beep_->setObjectName(QStringLiteral("beepCheckBox"));
  beep_->setToolTip(QStringLiteral("Звуковой сигнал при новой тревоге первого приоритета"));
  beep_->setChecked(AlarmBeep(network_.Alarms().get()));
  buttons->addWidget(beep_);
  buttons->addWidget(limits_);
  activeLayout->addLayout(buttons);
  tabs_->addTab(activePage, QStringLiteral("Активные"));

  // The shelved alarms, with the time left; taken back early here.
  auto* shelvedPage = new QWidget(tabs_);
  auto* shelvedLayout = new QVBoxLayout(shelvedPage);
  shelved_ = MakeList(shelvedPage, ShelvedAlarmHeaders(), "shelvedList");
  shelved_->setSelectionMode(QAbstractItemView::SingleSelection);
  shelvedLayout->addWidget(shelved_);
  auto* shelvedButtons = new QHBoxLayout;
  unshelve_ = new QPushButton(QStringLiteral("Вернуть"), shelvedPage);
  unshelve_->setObjectName(QStringLiteral("unshelveButton"));
  unshelve_->setToolTip(QStringLiteral("Снова под контроль, не дожидаясь конца срока"));
  shelvedButtons->addWidget(unshelve_);
  shelvedButtons->addStretch();
  shelvedLayout->addLayout(shelvedButtons);

  // The journal.
  auto* journalPage = new QWidget(tabs_);
  auto* journalLayout = new QVBoxLayout(journalPage);
  auto* filter = new QHBoxLayout;
  const QDateTime now = DateTimeToQt(Now());
  from_ = new QDateTimeEdit(now.addDays(-1), journalPage);
  from_->setObjectName(QStringLiteral("fromEdit"));
  to_ = new QDateTimeEdit(now, journalPage);
  to_->setObjectName(QStringLiteral("toEdit"));
  to_->setToolTip(QStringLiteral("Пока не изменено, означает текущее время"));
  for (QDateTimeEdit* e : {from_, to_}) {
    e->setDisplayFormat(QStringLiteral("dd.MM.yyyy H:mm:ss"));
    e->setCalendarPopup(true);
  }
  register_ = new QLineEdit(journalPage);
  register_->setObjectName(QStringLiteral("registerFilter"));
  register_->setPlaceholderText(QStringLiteral("все регистры"));
  show_ = new QPushButton(QStringLiteral("Показать"), journalPage);
  show_->setObjectName(QStringLiteral("showButton"));
  filter->addWidget(new QLabel(QStringLiteral("С"), journalPage));
  filter->addWidget(from_);
  filter->addWidget(new QLabel(QStringLiteral("по"), journalPage));
  filter->addWidget(to_);
  filter->addWidget(new QLabel(QStringLiteral("Регистр"), journalPage));
  filter->addWidget(register_, 1);
  filter->addWidget(show_);
  journalLayout->addLayout(filter);
  events_ = MakeList(journalPage, JournalHeaders(), "journalList");
  journalLayout->addWidget(events_);
  auto* journalButtons = new QHBoxLayout;
  journalStatus_ = new QLabel(journalPage);
  journalStatus_->setObjectName(QStringLiteral("journalStatus"));
  export_ = new QPushButton(QStringLiteral("Экспорт..."), journalPage);
  export_->setObjectName(QStringLiteral("exportButton"));
  print_ = new QPushButton(QStringLiteral("Печать..."), journalPage);
  print_->setObjectName(QStringLiteral("printButton"));
  journalButtons->addWidget(journalStatus_, 1);
  journalButtons->addWidget(export_);
  journalButtons->addWidget(print_);
  journalLayout->addLayout(journalButtons);
  tabs_->addTab(journalPage, QStringLiteral("Журнал"));
  tabs_->addTab(shelvedPage, QStringLiteral("Отложенные"));

  connect(active_, &QTreeWidget::itemSelectionChanged, this, &TAlarmsForm::UpdateButtons);
  connect(ack_, &QPushButton::clicked, this, &TAlarmsForm::AcknowledgeSelected);
  connect(ackAll_, &QPushButton::clicked, this, &TAlarmsForm::AcknowledgeAll);
  connect(shelve_, &QPushButton::clicked, this, &TAlarmsForm::ShelveSelected);
  connect(limits_, &QPushButton::clicked, this, &TAlarmsForm::EditLimits);
  connect(beep_, &QCheckBox::clicked, this, [this](bool on) {
    if (NetworkOpen && !NetworkOpen()) return;
    ShowFaults(SetAlarmBeep(network_, on));
  });
  connect(active_, &QTreeWidget::itemDoubleClicked, this, &TAlarmsForm::AcknowledgeSelected);
  connect(shelved_, &QTreeWidget::itemSelectionChanged, this, &TAlarmsForm::UpdateButtons);
  connect(unshelve_, &QPushButton::clicked, this, &TAlarmsForm::UnshelveSelected);
  shelvedTimer_ = new QTimer(this);
  shelvedTimer_->setInterval(1000);
  connect(shelvedTimer_, &QTimer::timeout, this, [this] {
    if (isVisible()) RefreshShelved();
  });
  connect(to_, &QDateTimeEdit::dateTimeChanged, this, [this] {
    if (!settingTo_) toFollows_ = false;
  });
  connect(show_, &QPushButton::clicked, this, &TAlarmsForm::ShowJournal);
  connect(register_, &QLineEdit::returnPressed, this, &TAlarmsForm::ShowJournal);
  connect(export_, &QPushButton::clicked, this, &TAlarmsForm::ExportJournal);
  connect(print_, &QPushButton::clicked, this, &TAlarmsForm::PrintJournal);

  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  connect(refreshTimer_, &QTimer::timeout, this, [this] {
    if (!isVisible()) return;
    lastRefresh_.start();
    RefreshStale();
  });
  observer_ = alarms_.Observe([this](const TAlarmEvent& event) { EventCame(event.IsAlarm()); });
  if (session_ != nullptr)
    connect(session_, &TSession::NetworkOpenChanged, this, &TAlarmsForm::UpdateButtons);
  RefreshActive();
  ShowJournal();
}

TAlarmsForm::~TAlarmsForm() {
  alarms_.Forget(observer_);
}

void TAlarmsForm::showEvent(QShowEvent* event) {
  RefreshActive();
  if (journalStale_ && JournalLive()) ShowJournal();
  QWidget::showEvent(event);
}

// A flood of events costs one refresh now and one at the end of each quarter second, not one per
// event; a hidden window only notes that its lists are stale.
void TAlarmsForm::EventCame(bool alarm) {
  if (alarm) stale_ = true;
  journalStale_ = true;
  if (!isVisible() || refreshTimer_->isActive()) return;
  const int period = 1000 / kRefreshesPerSecond;
  if (!lastRefresh_.isValid() || lastRefresh_.elapsed() >= period) {
    lastRefresh_.start();
    RefreshStale();
  } else {
    refreshTimer_->start(static_cast<int>(period - lastRefresh_.elapsed()));
  }
}

void TAlarmsForm::RefreshStale() {
  if (stale_) RefreshActive();
  if (!journalStale_ || !JournalLive()) return;
  // Events the writer has not yet stored come with a later refresh. Asked before the read too: one
  // stored between the read and the question would otherwise wait for the next event.
  const bool waitedBefore = alarms_.JournalWaiting() > 0;
  RefreshJournal(true);
  if (waitedBefore || alarms_.JournalWaiting() > 0) {
    journalStale_ = true;
    refreshTimer_->start(1000 / kRefreshesPerSecond);
  }
}

bool TAlarmsForm::JournalLive() const {
  const QDateTime now = DateTimeToQt(Now());
  return from_->dateTime() <= now && (toFollows_ || to_->dateTime() >= now);
}

void TAlarmsForm::RefreshActive() {
  stale_ = false;
  const std::vector<TActiveAlarm> alarms = alarms_.Active();
  QTreeWidgetItem* const current = active_->currentItem();
  const QString selected = current != nullptr ? RowKey(SelectedName(), SelectedCondition()) : QString();
  // The rows whose alarm is over go; the others keep their place when the order allows, which in
  // a flood (new alarms last) is all of them.
  QHash<QString, QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(alarms.size()));
  for (const TActiveAlarm& alarm : alarms) rows.insert(RowKey(alarm.Name, alarm.Condition), nullptr);
  for (auto it = rows_.begin(); it != rows_.end(); ++it)
    if (!rows.contains(it.key())) delete it.value();
  // New rows are filled before they join the list, and join it together: one change of the view
  // for a flood's rows, not one each.
  QList<QTreeWidgetItem*> added;
  int row = 0;
  const auto addPending = [&] {
    if (added.isEmpty()) return;
    active_->insertTopLevelItems(row - static_cast<int>(added.size()), added);
    added.clear();
  };
  for (const TActiveAlarm& alarm : alarms) {
    const QString key = RowKey(alarm.Name, alarm.Condition);
    QTreeWidgetItem* item = rows_.value(key);
    if (item == nullptr) {
      item = new QTreeWidgetItem;
      added << item;
    } else {
      addPending();
      if (active_->topLevelItem(row) != item) {
        active_->takeTopLevelItem(active_->indexOfTopLevelItem(item));
        active_->insertTopLevelItem(row, item);
      }
    }
    FillRow(item, alarm);
    rows[key] = item;
    ++row;
  }
  addPending();
  rows_ = std::move(rows);
  RefreshShelved();
  if (QTreeWidgetItem* again = rows_.value(selected); again != nullptr && again != active_->currentItem())
    active_->setCurrentItem(again);
  if (active_->currentItem() == nullptr && active_->topLevelItemCount() > 0)
    active_->setCurrentItem(active_->topLevelItem(0));
  UpdateButtons();
}

void TAlarmsForm::RefreshShelved() {
  const std::vector<TShelvedAlarm> alarms = alarms_.ShelvedList();
  const QTreeWidgetItem* current = shelved_->currentItem();
  const QString selected =
      current != nullptr ? RowKey(current->data(0, kNameRole).toString(),
                                  static_cast<TAlarmCondition>(current->data(0, kConditionRole).toInt()))
                         : QString();
  // Few rows, rebuilt each second: the time left changes in every one.
  while (shelved_->topLevelItemCount() > static_cast<int>(alarms.size())) delete shelved_->topLevelItem(0);
  while (shelved_->topLevelItemCount() < static_cast<int>(alarms.size()))
    shelved_->addTopLevelItem(new QTreeWidgetItem);
  for (int i = 0; i < static_cast<int>(alarms.size()); ++i) {
    const TShelvedAlarm& alarm = alarms[static_cast<size_t>(i)];
    QTreeWidgetItem* item = shelved_->topLevelItem(i);
    const QStringList texts = ShelvedAlarmRow(alarm);
    for (int c = 0; c < texts.size(); ++c) {
      if (item->text(c) != texts[c]) item->setText(c, texts[c]);
      item->setToolTip(c, c == 1 ? AlarmFullName(texts[c], alarm.Name) : texts[c]);
    }
    item->setData(0, kNameRole, alarm.Name);
    item->setData(0, kConditionRole, static_cast<int>(alarm.Condition));
    if (RowKey(alarm.Name, alarm.Condition) == selected) shelved_->setCurrentItem(item);
  }
  if (shelved_->currentItem() == nullptr && shelved_->topLevelItemCount() > 0)
    shelved_->setCurrentItem(shelved_->topLevelItem(0));
  tabs_->setTabText(
      tabs_->indexOf(shelved_->parentWidget()),
      alarms.empty() ? QStringLiteral("Отложенные") : QStringLiteral("Отложенные (%1)").arg(alarms.size()));
  if (alarms.empty())
    shelvedTimer_->stop();
  else if (!shelvedTimer_->isActive())
    shelvedTimer_->start();
  unshelve_->setEnabled(shelved_->currentItem() != nullptr);
}

void TAlarmsForm::UnshelveSelected() {
  const QTreeWidgetItem* item = shelved_->currentItem();
  if (item == nullptr) return;
  alarms_.Unshelve(item->data(0, kNameRole).toString(),
                   static_cast<TAlarmCondition>(item->data(0, kConditionRole).toInt()));
  RefreshActive();
}

void TAlarmsForm::UpdateButtons() {
  const bool open = !NetworkOpen || NetworkOpen();
  const bool selected = active_->currentItem() != nullptr;
  ack_->setEnabled(selected);
  ackAll_->setEnabled(alarms_.UnackedCount() > 0);
  shelve_->setEnabled(selected && open);
  shelveMinutes_->setEnabled(open);
  limits_->setEnabled(selected && open);
  unshelve_->setEnabled(shelved_->currentItem() != nullptr);
  beep_->setEnabled(open);
  beep_->setChecked(AlarmBeep(network_.Alarms().get()));
}

QString TAlarmsForm::SelectedName() const {
  const QTreeWidgetItem* item = active_->currentItem();
  return item != nullptr ? item->data(0, kNameRole).toString() : QString();
}

TAlarmCondition TAlarmsForm::SelectedCondition() const {
  const QTreeWidgetItem* item = active_->currentItem();
  return item != nullptr ? static_cast<TAlarmCondition>(item->data(0, kConditionRole).toInt())
                         : TAlarmCondition::Hi;
}

void TAlarmsForm::AcknowledgeSelected() {
  const QString name = SelectedName();
  if (!name.isEmpty()) alarms_.Acknowledge(name);
  RefreshActive();
}

void TAlarmsForm::AcknowledgeAll() {
  alarms_.AcknowledgeAll();
  RefreshActive();
}

void TAlarmsForm::ShelveSelected() {
  if (NetworkOpen && !NetworkOpen()) return;
  const QString name = SelectedName();
  if (!name.isEmpty()) alarms_.Shelve(name, SelectedCondition(), shelveMinutes_->value() * 60);
  RefreshActive();
}

void TAlarmsForm::EditLimits() {
  if (NetworkOpen && !NetworkOpen()) return;
  const QString name = SelectedName();
  if (!name.isEmpty()) EditAlarmLimits(network_, &alarms_, name, this);
  RefreshActive();
}

void TAlarmsForm::ShowJournal() {
  RefreshJournal(false);
}

void TAlarmsForm::RefreshJournal(bool live) {
  journalStale_ = false;
  if (toFollows_) {
    settingTo_ = true;
    to_->setDateTime(DateTimeToQt(Now()));
    settingTo_ = false;
  }
  TJournalQuery query;
  query.From = DateTimeFromQt(from_->dateTime());
  // Unbounded while following: the edit shows whole seconds, an event of this second is later.
  if (!toFollows_) query.To = DateTimeFromQt(to_->dateTime());
  query.Name = register_->text().trimmed();
  TAlarmJournal& journal = alarms_.Journal(!live);
  // A live refresh reads from the last event shown on, and leaves out those of its second shown.
  const bool adding = live && toFollows_ && !journal_.empty() && journal.IsOpen();
  size_t known = 0;
  if (adding) {
    query.From = journal_.back().Time;
    for (auto it = journal_.rbegin(); it != journal_.rend() && it->Time == journal_.back().Time; ++it)
      ++known;
  }
  std::vector<TAlarmEvent> found = journal.IsOpen() ? journal.Query(query) : std::vector<TAlarmEvent>{};
  // The operator's place in a long list stays; one at its end follows the new events.
  QScrollBar* scroll = events_->verticalScrollBar();
  const bool atEnd = scroll->value() == scroll->maximum();
  const int kept = scroll->value();
  if (adding) {
    const auto fresh = found.begin() + static_cast<std::ptrdiff_t>(std::min(known, found.size()));
    found.erase(found.begin(), fresh);
  } else {
    events_->clear();
    journal_.clear();
  }
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<int>(found.size()));
  for (const TAlarmEvent& event : found) items << RowItem(JournalRow(event));
  events_->addTopLevelItems(items);
  journal_.insert(journal_.end(), std::make_move_iterator(found.begin()),
                  std::make_move_iterator(found.end()));
  scroll->setValue(atEnd ? scroll->maximum() : kept);
  // No file yet is a journal waiting for its first event, not one unavailable.
  const bool available = journal.IsOpen() || (alarms_.JournalKept() && alarms_.JournalError().isEmpty());
  QString status =
      available ? QStringLiteral("Событий: %1").arg(journal_.size()) : QStringLiteral("Журнал недоступен");
  if (const QString waiting = alarms_.JournalStatusText(); !waiting.isEmpty())
    status += QStringLiteral("; ") + waiting;
  journalStatus_->setText(status);
  journalStatus_->setToolTip(journal.ErrorText());
  export_->setEnabled(!journal_.empty());
  print_->setEnabled(!journal_.empty());
}

void TAlarmsForm::ExportJournal() {
  const QString suggested = SuggestedJournalExport(network_);
  const QString path = AskExportPath
                           ? AskExportPath(suggested)
                           : QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт журнала"), suggested,
                                                          QStringLiteral("Текст (*.txt)"));
  if (path.isEmpty()) return;
  QString why;
  if (!WriteFileAtomically(path, JournalExportText(journal_), &why)) {
    ShowMessage(QStringLiteral("Не могу записать %1\r\n%2").arg(path, why), TMsgIcon::Error);
    return;
  }
  ShowFaults(RememberJournalExport(network_, path));
  ShowMessage(QStringLiteral("Журнал тревог записан в\r\n%1").arg(path), TMsgIcon::Information);
}

void TAlarmsForm::PrintJournal() {
  QString html = QStringLiteral("<h3>Журнал тревог</h3><p>%1 - %2</p>")
                     .arg(from_->text().toHtmlEscaped(), to_->text().toHtmlEscaped());
  html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\"><tr>");
  for (const QString& h : JournalHeaders()) html += QStringLiteral("<th>%1</th>").arg(HtmlEscaped(h));
  html += QStringLiteral("</tr>");
  for (const TAlarmEvent& event : journal_) {
    html += QStringLiteral("<tr>");
    for (const QString& cell : JournalRow(event))
      html += QStringLiteral("<td>%1</td>").arg(HtmlEscaped(cell));
    html += QStringLiteral("</tr>");
  }
  html += QStringLiteral("</table>");
  QTextDocument document;
  document.setHtml(html);
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  QPrintPreviewDialog preview(&printer, this);
  preview.setObjectName(QStringLiteral("journalPreview"));
  preview.setWindowTitle(QStringLiteral("Предварительный просмотр"));
  connect(&preview, &QPrintPreviewDialog::paintRequested, this,
          [&document](QPrinter* target) { document.print(target); });
  preview.exec();
}

}  // namespace vexa
