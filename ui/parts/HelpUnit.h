#pragma once
// The program's help: HTML topics compiled in under :/help, one per window help context number,
// shown in one help window shared by the whole program.

#include <QString>
#include <QWidget>
#include <vector>

class QTextBrowser;

namespace vexa {

// Help context numbers of the windows.
inline constexpr int hcContents = 0;
inline constexpr int hcArchives = 1;
inline constexpr int hcRegistry = 2;
inline constexpr int hcNetTree = 3;
inline constexpr int hcNodeProperties = 4;
inline constexpr int hcRegisterProperties = 5;
inline constexpr int hcAboutBox = 6;
inline constexpr int hcCyclogram = 7;
inline constexpr int hcChannel = 8;
inline constexpr int hcPrintPreview = 9;
inline constexpr int hcHistory = 10;
inline constexpr int hcLabelProperties = 11;
inline constexpr int hcMainWindow = 12;
inline constexpr int hcReportProperties = 13;
inline constexpr int hcPassword = 14;
inline constexpr int hcPosition = 15;
inline constexpr int hcSetup = 16;
inline constexpr int hcWaitWindow = 17;
inline constexpr int hcProcesses = 18;
inline constexpr int hcReports = 19;
inline constexpr int hcAlarms = 20;
inline constexpr int hcIntegration = 21;      // the settings window's "Интеграция" page
inline constexpr int hcHistorySettings = 22;  // the settings window's "История" page
inline constexpr int hcWebSettings = 23;      // the settings window's "Веб-доступ" page

struct THelpTopic {
  int Context;
  QString File;  // under :/help
};

// Every context number that has its own topic (the contents page is not among them).
const std::vector<THelpTopic>& HelpTopics();
// The topic page of a context number; the contents page for a number without one.
QString HelpTopicFile(int helpContext);

class THelpWindow : public QWidget {
  Q_OBJECT
 public:
  // Opens (or brings forward) the help window at the topic of helpContext.
  static void ShowHelp(int helpContext);
  // The help window once ShowHelp has created it, else null.
  static THelpWindow* Instance();

  // The context number of the topic last opened by ShowHelp (hcContents for the contents page).
  int CurrentContext() const { return context_; }

  ~THelpWindow() override;

 private:
  THelpWindow();
  void Open(int helpContext);
  void UpdateTitle();

  QTextBrowser* browser_ = nullptr;
  int context_ = hcContents;
};

// F1 in w (or any of its children) opens the topic of helpContext. The number is also kept in w's
// "HelpContext" property.
void InstallHelpShortcut(QWidget* w, int helpContext);

}  // namespace vexa
