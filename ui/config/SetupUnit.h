#pragma once
// TSetupForm: "Настройка параметров сети". The operator sets the port, the speed, the password,
// automatic saving and restoring, simulation and the diagram pages here, and searches the line for
// regulators. Port, speed and simulation act at once; the rest is stored by "ОК".

#include <QDialog>
#include <QPointer>
#include <array>

#include "broker/BrokerSettings.h"
#include "broker/ConnectionCheck.h"
#include "historian/HistorySettings.h"
#include "historian/HistoryStore.h"
#include "storage/DeviceSearch.h"
#include "ui/model/SetupRules.h"
#include "ui/parts/HelpUnit.h"
#include "web/WebSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TNetwork;

class TMainForm;

class TSetupForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcSetup;
  static constexpr int kProgressMax = TDeviceSearch::kAddressCount - 1;

  explicit TSetupForm(TNetwork& network, TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TSetupForm() override;

  bool Searching() const { return search_.Running(); }
  const TDiagramList& Diagrams() const { return diagrams_; }
  bool MnemonicsChanged() const { return diagrams_.Changed(); }

 Q_SIGNALS:
  // A search has ended, however it ended: the trees of NET, TASKS, REPORTS and REGISTRY may be new.
  void SearchFinished();
  // "ОК" wrote new broker settings (Config/MQTT.ini): the publisher starts again with them.
  void BrokerSettingsChanged();
  // "ОК" wrote new historian settings (Config/HISTORY.ini): the historian starts again with them.
  void HistorySettingsChanged();
  // "ОК" wrote new web settings (Config/WEB.ini): the web view starts again with them.
  void WebSettingsChanged();

 public Q_SLOTS:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* CreateGeneralPage();
  QWidget* CreateDiagramsPage();
  QWidget* CreateIntegrationPage();
  QWidget* CreateHistoryPage();
  QWidget* CreateWebPage();
  // The web view's settings as the page shows them.
  TWebSettings WebFields() const;
  // The historian's settings as the page shows them, the rest as HISTORY.ini had them.
  THistorySettings HistoryFields() const;
  // Writes changed broker and historian settings; false keeps the window open on the page.
  bool ConfirmIntegration();
  void FillFields();
  // The broker's settings as the page shows them.
  TBrokerSettings BrokerFields() const;
  void CheckConnectionClick();
  void FillPortList();
  void FillDiagrams(int select);
  void UpdateConfirm();
  TSearchMode SelectedMode() const;
  void SetSearching(bool on);

  void PortChosen(int index);
  void SpeedChosen(int index);
  void DemoClick(bool checked);
  void SearchClick();
  void RunSearch(TSearchMode mode);
  // What the search found and what failed, in a message box.
  void ShowReport(const TSearchResult& result);
  void ShowFound(TSearchMode mode, int count);
  void PumpEvents();
  // The file dialog; empty when cancelled.
  QString ChoosePicture(const QString& current);
  void AddClick();
  void ChangeClick();
  void DeleteClick();
  void MoveClick(bool up);
  void ItemRenamed(QTreeWidgetItem* item, int column);
  int SelectedRow() const;
  void EditName(int row);
  void OKClick();

  QTabWidget* pageTabs_ = nullptr;
  // "Общие"
  QLineEdit* oldPasswordEdit_ = nullptr;
  QLineEdit* newPasswordEdit_ = nullptr;
  QComboBox* portBox_ = nullptr;
  QComboBox* speedBox_ = nullptr;
  QCheckBox* autoSaveCheckBox_ = nullptr;
  QSpinBox* autoSaveIntervalSpin_ = nullptr;
  QCheckBox* autoLoadCheckBox_ = nullptr;
  std::array<QRadioButton*, 3> rbMode{};  // indexed by TSearchMode
  std::array<QLabel*, 3> lbFound{};
  QProgressBar* searchProgress_ = nullptr;
  QPushButton* searchButton_ = nullptr;
  // "Мнемосхемы"
  QTreeWidget* diagramList_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* changeButton_ = nullptr;
  QPushButton* deleteButton_ = nullptr;
  QPushButton* upButton_ = nullptr;
  QPushButton* downButton_ = nullptr;
  // "Интеграция"
  QLineEdit* brokerUrlEdit_ = nullptr;
  QLineEdit* brokerUserEdit_ = nullptr;
  QLineEdit* brokerPasswordEdit_ = nullptr;
  QLineEdit* brokerCaEdit_ = nullptr;
  QLineEdit* topicRootEdit_ = nullptr;
  QLineEdit* clientIdEdit_ = nullptr;
  QSpinBox* queueBoundSpin_ = nullptr;
  QCheckBox* brokerWritesCheckBox_ = nullptr;
  QCheckBox* brokerDiscoveryCheckBox_ = nullptr;
  QPushButton* checkBrokerButton_ = nullptr;
  TBrokerSettings brokerLoaded_;
  // History page
  QCheckBox* historyCheckBox_ = nullptr;
  QSpinBox* rawDaysSpin_ = nullptr;
  QSpinBox* minuteDaysSpin_ = nullptr;
  QSpinBox* hourDaysSpin_ = nullptr;
  THistorySettings historyLoaded_;
  // "Веб-доступ"
  QCheckBox* webCheckBox_ = nullptr;
  QLineEdit* webAddressEdit_ = nullptr;
  QSpinBox* webPortSpin_ = nullptr;
  QCheckBox* webAnonymousCheckBox_ = nullptr;
  QLineEdit* webCertEdit_ = nullptr;
  QLineEdit* webKeyEdit_ = nullptr;
  QLineEdit* webHostsEdit_ = nullptr;
  TWebSettings webLoaded_;
  // "Проверить соединение" runs here, off the window's thread.
  TConnectionChecker brokerCheck_;
  // Bottom bar
  QCheckBox* demoCheckBox_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPointer<QObject> mainForm_;  // a TMainForm
  TDeviceSearch search_;
  TDiagramList diagrams_;
  bool filling_ = false;  // the list is being rebuilt: its item changes are no renames
  TNetwork& network_;
};

}  // namespace vexa
