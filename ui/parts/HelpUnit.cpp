#include "ui/parts/HelpUnit.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QShortcut>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariant>
#include <QWindow>
#include <memory>

#include "core/ImageIndex.h"
#include "ui/parts/ImageList.h"

namespace vexa {

namespace {

const QString kContentsFile = QStringLiteral("index.html");

// One window for the whole run. It is destroyed at the very start of the application object's
// destruction (a post routine), while the window system is still there.
std::unique_ptr<THelpWindow>& Holder() {
  static std::unique_ptr<THelpWindow> holder;
  return holder;
}

void DestroyHelpWindow() {
  Holder().reset();
}

}  // namespace

const std::vector<THelpTopic>& HelpTopics() {
  static const std::vector<THelpTopic> topics{
      {hcArchives, QStringLiteral("archives.html")},
      {hcRegistry, QStringLiteral("registry.html")},
      {hcNetTree, QStringLiteral("net-tree.html")},
      {hcNodeProperties, QStringLiteral("node-properties.html")},
      {hcRegisterProperties, QStringLiteral("register-properties.html")},
      {hcAboutBox, QStringLiteral("about.html")},
      {hcCyclogram, QStringLiteral("cyclogram.html")},
      {hcChannel, QStringLiteral("channel.html")},
      {hcPrintPreview, QStringLiteral("print-preview.html")},
      {hcHistory, QStringLiteral("history.html")},
      {hcLabelProperties, QStringLiteral("label-properties.html")},
      {hcMainWindow, QStringLiteral("main-window.html")},
      {hcReportProperties, QStringLiteral("report-properties.html")},
      {hcPassword, QStringLiteral("password.html")},
      {hcPosition, QStringLiteral("position.html")},
      {hcSetup, QStringLiteral("setup.html")},
      {hcWaitWindow, QStringLiteral("wait.html")},
      {hcProcesses, QStringLiteral("processes.html")},
      {hcReports, QStringLiteral("reports.html")},
      {hcAlarms, QStringLiteral("alarms.html")},
      {hcIntegration, QStringLiteral("integration.html")},
      {hcHistorySettings, QStringLiteral("history-settings.html")},
      {hcWebSettings, QStringLiteral("web-settings.html")},
  };
  return topics;
}

QString HelpTopicFile(int helpContext) {
  for (const auto& t : HelpTopics())
    if (t.Context == helpContext) return t.File;
  return kContentsFile;
}

THelpWindow::THelpWindow() : QWidget(nullptr, Qt::Window) {
  InitResources();
  setWindowIcon(ProgramIcon());
  // Help left open must not keep the program running after the main window closes.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(640, 520);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* toolbar = new QToolBar(this);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("topicBrowser"));
  browser_->setSearchPaths({QStringLiteral(":/help")});
  browser_->setOpenExternalLinks(true);
  // Rich text in a QTextDocument does not follow <link rel="stylesheet">; the topics' style is set
  // as the document's default instead.
  QFile css(QStringLiteral(":/help/help.css"));
  if (css.open(QIODevice::ReadOnly))
    browser_->document()->setDefaultStyleSheet(QString::fromUtf8(css.readAll()));
  layout->addWidget(toolbar);
  layout->addWidget(browser_);

  QAction* back = toolbar->addAction(ImageIcon(iiLEFT), QStringLiteral("Назад"));
  QAction* forward = toolbar->addAction(ImageIcon(iiRIGHT), QStringLiteral("Вперёд"));
  QAction* contents = toolbar->addAction(ImageIcon(iiTREE), QStringLiteral("Содержание"));
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QAction::triggered, browser_, &QTextBrowser::backward);
  connect(forward, &QAction::triggered, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(contents, &QAction::triggered, this, [this] { Open(hcContents); });
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] { UpdateTitle(); });
}

THelpWindow::~THelpWindow() = default;

THelpWindow* THelpWindow::Instance() {
  return Holder().get();
}

void THelpWindow::ShowHelp(int helpContext) {
  auto& holder = Holder();
  if (!holder) {
    holder.reset(new THelpWindow);  // the constructor is private to keep the window single
    qAddPostRoutine(DestroyHelpWindow);
  }
  holder->Open(helpContext);
  // Asked from a modal dialog (F1 in the password or about box), the help would be blocked by that
  // dialog until it closed; as the dialog's transient it stays usable.
  QWidget* modal = QApplication::activeModalWidget();
  holder->winId();
  holder->windowHandle()->setTransientParent(modal && modal != holder.get() ? modal->windowHandle()
                                                                            : nullptr);
  holder->show();
  holder->raise();
  holder->activateWindow();
}

void THelpWindow::Open(int helpContext) {
  const QString file = HelpTopicFile(helpContext);
  context_ = file == kContentsFile ? hcContents : helpContext;
  browser_->setSource(QUrl(QStringLiteral("qrc:/help/") + file));
  UpdateTitle();
}

void THelpWindow::UpdateTitle() {
  const QString topic = browser_->documentTitle();
  setWindowTitle(topic.isEmpty() ? QStringLiteral("Справка Vexa")
                                 : QStringLiteral("Справка Vexa - ") + topic);
}

namespace {

// The nearest help context from the focused widget up to its window, as for F1 in Windows.
int HelpContextAt(QWidget* focus, int fallback) {
  for (QWidget* w = focus; w; w = w->parentWidget()) {
    const QVariant context = w->property("HelpContext");
    if (context.isValid()) return context.toInt();
    if (w->isWindow()) break;
  }
  return fallback;
}

}  // namespace

void InstallHelpShortcut(QWidget* w, int helpContext) {
  if (!w) return;
  w->setProperty("HelpContext", helpContext);
  // Owned by w; reaches F1 from any child of w, also when w is not a window of its own. A part with
  // its own context inside a window with another makes the two shortcuts ambiguous; either one
  // then picks the context nearest to the focus.
  auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1), w);
  shortcut->setContext(w->isWindow() ? Qt::WindowShortcut : Qt::WidgetWithChildrenShortcut);
  auto show = [helpContext] {
    THelpWindow::ShowHelp(HelpContextAt(QApplication::focusWidget(), helpContext));
  };
  QObject::connect(shortcut, &QShortcut::activated, w, show);
  QObject::connect(shortcut, &QShortcut::activatedAmbiguously, w, show);
}

}  // namespace vexa
