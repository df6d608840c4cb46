// The shared image list, the wait window, the about box and the help window; and how the tests find a
// window's parts.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <memory>

#include "Version.h"
#include "alarms/gui/AlarmsUnit.h"
#include "processes/gui/CycloEditUnit.h"
#include "processes/gui/TasksUnit.h"
#include "reports/gui/ReportsUnit.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "ui/AboutUnit.h"
#include "ui/ChannelUnit.h"
#include "ui/LabelPropertiesUnit.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/PositionUnit.h"
#include "ui/RdWarnUnit.h"
#include "ui/config/NetUnit.h"
#include "ui/config/PasswordUnit.h"
#include "ui/config/RegisterPropertiesUnit.h"
#include "ui/config/RegistryUnit.h"
#include "ui/config/RootPropertiesUnit.h"
#include "ui/config/SetupUnit.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"

// QtGui's own entry for simulated keys (what QTest uses): tries the shortcut map first.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text, bool autorep, ushort count);

namespace vexa {
namespace {

using test::Activate;
using test::Child;

// A key press as the window system would deliver it to the focused widget of w's window.
void PressKey(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
  if (qt_sendShortcutOverrideEvent(target, 0, key, mods, QString(), false, 1)) return;
  QKeyEvent press(QEvent::KeyPress, key, mods);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods);
  QApplication::sendEvent(target, &release);
}

QRect PrimaryScreenArea() {
  return QGuiApplication::primaryScreen()->geometry();
}

// ---- Finding a window's parts ------------------------------------------------------------------

// A part is found by its class and name at any depth; a missing or doubled one fails the test with
// the window named and ends it, instead of handing the test a null pointer or the wrong widget.
TEST(WindowParts, FindsTheOnePartOfThatNameAndFailsTheTestOtherwise) {
  QWidget window;
  window.setObjectName(QStringLiteral("SetupForm"));
  auto* page = new QWidget(&window);
  auto* ok = new QPushButton(page);
  ok->setObjectName(QStringLiteral("okButton"));
  EXPECT_EQ(Child<QPushButton>(window, "okButton"), ok);
  EXPECT_EQ(Child<QWidget>(window, "okButton"), ok);

  EXPECT_NONFATAL_FAILURE(EXPECT_THROW(Child<QPushButton>(window, "cancelButton"), std::logic_error),
                          "no QPushButton \"cancelButton\" in QWidget \"SetupForm\"");
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW(Child<QLabel>(window, "okButton"), std::logic_error),
                          "no QLabel \"okButton\"");
  auto* other = new QPushButton(&window);
  other->setObjectName(QStringLiteral("okButton"));
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW(Child<QPushButton>(window, "okButton"), std::logic_error),
                          "more than one QPushButton \"okButton\"");
}

// ---- Shared image list ------------------------------------------------------------------------

TEST(ImageList, NamesInTheOrderTheStoredIndexesReferTo) {
  const QStringList expected{
      "DELETE",   "LOOKUP",    "NEW",      "OPEN",     "PRINT",     "SAVE",    "TREE",  "SEARCH", "CYCLO",
      "EDIT",     "PROCESSES", "FOLDER",   "FOLDERO",  "TOBEGIN",   "PLAY",    "PAUSE", "STOP",   "RUNTASK",
      "CYCLOS",   "TABLE",     "COPY",     "PASTE",    "REGULATOR", "CHANNEL", "PLUS",  "REPORT", "REPORTS",
      "ARCHIVES", "LEFT",      "RIGHT",    "ZOOMIN",   "ZOOMOUT",   "REFRESH", "MINUS", "ADD",    "INSERT",
      "COMPRESS", "EXPAND",    "CHANNELS", "STARTALL", "REGISTER",  "REPORTN", "KEY",   "EXCEL",  "DATE"};
  EXPECT_EQ(ImageCount(), 45);
  EXPECT_EQ(ImageNames(), expected);
  EXPECT_EQ(ImageIndexOf("KEY"), 42);
  EXPECT_EQ(ImageIndexOf("STOP"), 16);
  EXPECT_EQ(ImageIndexOf("NOSUCH"), -1);
}

TEST(ImageList, EveryImageLoadsTransparentAtItsSizeAndDiffersFromTheOthers) {
  std::vector<QImage> images;
  for (int i = 0; i < ImageCount(); ++i) {
    SCOPED_TRACE(ImageNames().at(i).toStdString());
    // The file behind each index carries the index and the name, so a reordering shows in review.
    EXPECT_TRUE(QFile::exists(
        QStringLiteral(":/icons/%1-%2.png").arg(i, 2, 10, QLatin1Char('0')).arg(ImageNames().at(i))));
    const QPixmap pixmap = ImagePixmap(i);
    ASSERT_FALSE(pixmap.isNull());
    const QSize size = ImageNames().at(i) == "KEY" ? QSize(24, 24) : QSize(16, 16);
    EXPECT_EQ(pixmap.size(), size);
    EXPECT_FALSE(ImageIcon(i).isNull());
    EXPECT_FALSE(ImageIcon(i).pixmap(size).isNull());
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    bool transparent = false, opaque = false;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const int alpha = qAlpha(image.pixel(x, y));
        transparent |= alpha == 0;
        opaque |= alpha == 255;
      }
    EXPECT_TRUE(transparent) << "the background must not paint over trees and toolbars";
    EXPECT_TRUE(opaque) << "an empty picture";
    images.push_back(image);
  }
  for (size_t i = 0; i < images.size(); ++i)
    for (size_t j = i + 1; j < images.size(); ++j)
      EXPECT_NE(images[i], images[j])
          << ImageNames().at(i).toStdString() << " and " << ImageNames().at(j).toStdString();
}

TEST(ImageList, NoImageOutsideTheList) {
  for (int index : {-1, 45, 46, 1000, -1000, INT_MIN, INT_MAX}) {
    EXPECT_TRUE(ImageIcon(index).isNull()) << index;
    EXPECT_TRUE(ImagePixmap(index).isNull()) << index;
  }
}

TEST(ImageList, BuiltInPictures) {
  InitResources();
  EXPECT_EQ(QPixmap(kProgramIcon32).size(), QSize(32, 32));
  EXPECT_EQ(QPixmap(kProgramIcon48).size(), QSize(48, 48));
  // A missing diagram file shows the notice, not a picture that could pass for a plant.
  const QImage mnemo(QString::fromLatin1(kMnemoPicture));
  EXPECT_EQ(mnemo.size(), QSize(250, 30));
  EXPECT_EQ(mnemo.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(mnemo.pixelColor(249, 29), QColor(Qt::red));
  EXPECT_EQ(mnemo.pixelColor(3, 3), QColor(Qt::white));
  int red = 0;
  for (int x = 10; x < 240; ++x)
    red += mnemo.pixelColor(x, 15).red() > 200 && mnemo.pixelColor(x, 15).green() < 100;
  EXPECT_GT(red, 20) << "no red text across the middle";
  EXPECT_EQ(QPixmap(kSplashPicture).size(), QSize(300, 225));
  const QIcon icon = ProgramIcon();
  EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(32, 32), QSize(48, 48)}));
}

// ---- Wait window ------------------------------------------------------------------------------

class PaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

TEST(RdWarnForm, ShowsItselfCentredOnTopWithoutFrameAndTheSplash) {
  TRdWarnForm form;
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.windowTitle(), "Ждите ...");
  EXPECT_EQ(form.size(), QSize(300, 225));
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(form.testAttribute(Qt::WA_QuitOnClose)) << "closing the wait window would end the program";
  EXPECT_EQ(form.frameGeometry().center(), PrimaryScreenArea().center());

  const QLabel* status = Child<QLabel>(form, "statusLabel");
  EXPECT_EQ(status->text(), "Инициализация...");
  EXPECT_EQ(status->pos(), QPoint(12, 170));
  EXPECT_EQ(status->font().pointSize(), 8);
  EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_FALSE(status->autoFillBackground());

  // The splash fills the window: its pixels show where no status text is.
  const QImage shown = form.grab().toImage();
  const QImage splash = QImage(kSplashPicture).convertToFormat(shown.format());
  for (QPoint p : {QPoint(5, 5), QPoint(150, 40), QPoint(290, 100), QPoint(295, 220)})
    EXPECT_EQ(shown.pixel(p), splash.pixel(p)) << p.x() << "," << p.y();
}

TEST(RdWarnForm, SetStatusPaintsBeforeReturning) {
  TRdWarnForm form;
  PaintCounter counter;
  QLabel* status = Child<QLabel>(form, "statusLabel");
  status->installEventFilter(&counter);
  form.SetStatus("Загрузка структуры сети...");
  EXPECT_EQ(status->text(), "Загрузка структуры сети...");
  EXPECT_GE(counter.Paints, 1) << "the caption must show while the main thread works on";
  const int before = counter.Paints;
  form.SetStatus("Загрузка параметров сети...");
  EXPECT_GT(counter.Paints, before);
  // The whole caption is visible, not cut by the label's old width.
  EXPECT_GE(status->width(), status->sizeHint().width());
  EXPECT_LE(status->geometry().right(), form.width());
}

TEST(RdWarnForm, StepsAsideWhileAModalMessageIsUpAndComesBack) {
  TRdWarnForm form;
  {
    QMessageBox box(QMessageBox::Critical, "Vexa", "Порт не открывается");
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    EXPECT_FALSE(form.isVisible()) << "a centred window on top would hide the message";
    box.hide();
    EXPECT_TRUE(form.isVisible());
  }
  {
    // Deleted while shown, without being hidden first.
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, "Vexa", "Ошибка");
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    EXPECT_FALSE(form.isVisible());
    box.reset();
    EXPECT_TRUE(form.isVisible());
  }
  {
    QWidget plain;  // not modal: no reason to step aside
    plain.show();
    EXPECT_TRUE(form.isVisible());
  }
  form.SetStatus("Загрузка отчетов...");
  EXPECT_TRUE(form.isVisible());
}

TEST(RdWarnForm, ClosedWhileAsideStaysClosed) {
  TRdWarnForm form;
  QMessageBox box(QMessageBox::Information, "Vexa", "Сообщение");
  box.setWindowModality(Qt::ApplicationModal);
  box.show();
  form.close();
  box.hide();
  EXPECT_FALSE(form.isVisible());
}

// ---- Version label and about box --------------------------------------------------------------

// The generated project version "major.minor.patch".
QStringList ProjectVersion() {
  return QString(VEXA_VERSION_STRING).split('.');
}

TEST(VersionLabel, DefaultsShowTheFileVersion) {
  TVersionLabel label;
  EXPECT_EQ(label.VersionResource(), TVersionLabel::vrFileVersion);
  EXPECT_EQ(label.VersionResourceKey(), "FileVersion");
  EXPECT_TRUE(label.ShowInfoPrefix());
  EXPECT_EQ(label.LangCharset(), "041904E3");
  EXPECT_FALSE(label.wordWrap());
  EXPECT_EQ(label.text(), "Версия файла: " + ProjectVersion().join('.') + ".0");
  EXPECT_GE(label.width(), label.sizeHint().width()) << "sizes itself to the text";
}

TEST(VersionLabel, EachResourceSetsKeyAndPrefix) {
  struct Row {
    TVersionLabel::TVersionResource Resource;
    const char* Key;
    const char* Prefix;
  };
  const Row rows[] = {
      {TVersionLabel::vrCompanyName, "CompanyName", "Производитель:"},
      {TVersionLabel::vrFileDescription, "FileDescription", "Описание:"},
      {TVersionLabel::vrFileVersion, "FileVersion", "Версия файла:"},
      {TVersionLabel::vrInternalName, "InternalName", "Внутреннее имя:"},
      {TVersionLabel::vrLegalCopyright, "LegalCopyright", "Авторские права:"},
      {TVersionLabel::vrOriginalFilename, "OriginalFilename", "Исходное имя файла:"},
      {TVersionLabel::vrProductName, "ProductName", "Название продукта:"},
      {TVersionLabel::vrProductVersion, "ProductVersion", "Версия продукта:"},
      {TVersionLabel::vrComments, "Comments", "Комментарии:"},
  };
  TVersionLabel label;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Key);
    label.SetVersionResource(row.Resource);
    EXPECT_EQ(label.VersionResourceKey(), row.Key);
    EXPECT_EQ(label.InfoPrefix(), QString::fromUtf8(row.Prefix));
    EXPECT_TRUE(label.text().startsWith(QString::fromUtf8(row.Prefix) + ' ')) << label.text().toStdString();
    EXPECT_FALSE(label.text().contains("Ошибка получения информации"));
  }
  label.SetVersionResource(TVersionLabel::vrProductVersion);
  EXPECT_EQ(label.text(), "Версия продукта: " + ProjectVersion().mid(0, 2).join('.'));
  label.SetVersionResource(TVersionLabel::vrComments);
  EXPECT_EQ(label.text(), "Комментарии: Информация отсутствует");
}

TEST(VersionLabel, KeyPrefixAndLanguageRebuildTheText) {
  TVersionLabel label;
  label.SetVersionResource(TVersionLabel::vrProductVersion);
  label.SetInfoPrefix("Версия:");
  const QString product = ProjectVersion().mid(0, 2).join('.');
  EXPECT_EQ(label.text(), "Версия: " + product);

  // The same key again keeps a stored prefix; a different one takes the key as the prefix.
  label.SetVersionResourceKey("ProductVersion");
  EXPECT_EQ(label.InfoPrefix(), "Версия:");
  label.SetVersionResourceKey("NoSuchKey");
  EXPECT_EQ(label.InfoPrefix(), "NoSuchKey");
  EXPECT_EQ(label.text(), "NoSuchKey Ошибка получения информации");

  label.SetVersionResourceKey("ProductVersion");
  label.SetShowInfoPrefix(false);
  EXPECT_EQ(label.text(), product);
  label.SetLangCharset("040904E4");  // English/1252: the program has no strings for it
  EXPECT_EQ(label.text(), "Ошибка получения информации");
  label.SetLangCharset("041904e3");
  EXPECT_EQ(label.text(), product);
}

TEST(AboutBox, CaptionSizeTextsAndVersions) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "О программе");
  EXPECT_EQ(box.size(), QSize(321, 194));
  EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "a dialog border does not resize";
  QLabel* productName = Child<QLabel>(box, "productNameLabel");
  QLabel* comments = Child<QLabel>(box, "commentsLabel");
  EXPECT_EQ(productName->text(), "Vexa - управляющая оболочка для сети");
  EXPECT_EQ(comments->text(), "локальных регуляторов типа 'Gelmark'");
  for (QLabel* l : {productName, comments}) {
    EXPECT_TRUE(l->font().bold());
    EXPECT_EQ(l->font().pointSize(), 9);
  }
  EXPECT_EQ(Child<QLabel>(box, "programIcon")->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(Child<TVersionLabel>(box, "versionLabel")->text(),
            "Версия: " + ProjectVersion().mid(0, 2).join('.'));
  EXPECT_EQ(Child<TVersionLabel>(box, "fileVersionLabel")->text(),
            "Версия файла: " + ProjectVersion().join('.') + ".0");
  const QPushButton* ok = Child<QPushButton>(box, "okButton");
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
}

TEST(AboutBox, EveryTextFitsInsideTheBox) {
  TAboutBox box;
  box.show();
  const QPushButton* ok = Child<QPushButton>(box, "okButton");
  for (const char* name :
       {"productNameLabel", "commentsLabel", "versionLabel", "fileVersionLabel", "programIcon"}) {
    const QLabel* l = Child<QLabel>(box, name);
    SCOPED_TRACE(l->text().toStdString());
    EXPECT_GE(l->width(), l->sizeHint().width()) << "text cut off";
    EXPECT_GE(l->height(), l->sizeHint().height());
    const QRect inBox(l->mapTo(&box, QPoint(0, 0)), l->size());
    EXPECT_TRUE(box.rect().contains(inBox));
    EXPECT_FALSE(inBox.intersects(ok->geometry()));
  }
  EXPECT_TRUE(box.rect().contains(ok->geometry()));
}

TEST(AboutBox, CentredAndClosedByEnterOrEsc) {
  for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
    TAboutBox box;
    box.open();
    ASSERT_TRUE(Activate(&box));
    EXPECT_EQ(box.frameGeometry().center(), PrimaryScreenArea().center());
    PressKey(&box, key);
    EXPECT_FALSE(box.isVisible()) << key;
  }
}

// ---- Help -------------------------------------------------------------------------------------

// Every help context number the windows use, taken from the windows themselves where they keep
// it, with the caption of the window it belongs to.
const std::vector<std::pair<int, QString>> kWindowContexts{
    {TRegistryForm::kHelpContext, "Шаблоны каналов"},
    {TNetForm::kHelpContext, "Структура сети"},
    {TRootPropertiesForm::kHelpContext, "Свойства узла"},
    {TRegisterPropertiesForm::kHelpContext, "Свойства регистра"},
    {hcAboutBox, "О программе"},
    {TChannelForm::kHelpContext, "Таблица канала"},
    {hcHistory, "История"},
    {TLabelPropertiesForm::kHelpContext, "Свойства ярлыка"},
    {TMainForm::kHelpContext, "Главное окно"},
    {TPasswordDlg::kHelpContext, "Введите пароль"},
    {TPositionForm::kHelpContext, "X-Y"},
    {TSetupForm::kHelpContext, "Настройка параметров сети"},
    {hcWaitWindow, "Ждите ..."},
    {hcArchives, "Архив отчетов"},
    {hcPrintPreview, "Предварительный просмотр"},
    {hcReportProperties, "Свойства отчета"},
    {TTasksForm::kHelpContext, "Шаблоны-Процессы"},
    {TCycloEditForm::kHelpContext, "Редактор циклограмм"},
    {TReportsForm::kHelpContext, "Шаблоны-Отчеты"},
    {TAlarmsForm::kHelpContext, "Тревоги"},
    {hcIntegration, "Интеграция"},
    {hcHistorySettings, "История: архив"},
    {hcWebSettings, "Веб-доступ"},
};

QString ShownTitle() {
  THelpWindow* help = THelpWindow::Instance();
  return help ? Child<QTextBrowser>(*help, "topicBrowser")->documentTitle() : QString();
}

TEST(Help, EveryWindowContextShowsItsOwnTopic) {
  QStringList files;
  for (const auto& [context, caption] : kWindowContexts) {
    SCOPED_TRACE(context);
    const QString file = HelpTopicFile(context);
    EXPECT_TRUE(QFile::exists(":/help/" + file)) << file.toStdString();
    EXPECT_FALSE(files.contains(file)) << "two windows share " << file.toStdString();
    files << file;

    THelpWindow::ShowHelp(context);
    THelpWindow* help = THelpWindow::Instance();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->CurrentContext(), context);
    EXPECT_TRUE(ShownTitle().contains(caption)) << ShownTitle().toStdString();
    EXPECT_TRUE(help->windowTitle().contains(caption));
    EXPECT_GT(Child<QTextBrowser>(*help, "topicBrowser")->toPlainText().size(), 300)
        << "a topic says what the window is for";
  }
  EXPECT_EQ(HelpTopics().size(), kWindowContexts.size());
}

TEST(Help, UnknownContextOpensTheContents) {
  THelpWindow::ShowHelp(hcContents);
  const QString contents = ShownTitle();
  EXPECT_TRUE(contents.contains("содержание"));
  for (int context : {6, -1, 9999}) {
    THelpWindow::ShowHelp(context);
    if (context == 6) continue;
    EXPECT_EQ(ShownTitle(), contents) << context;
    EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcContents);
  }
}

TEST(Help, OneWindowThatDoesNotKeepTheProgramAlive) {
  THelpWindow::ShowHelp(12);
  THelpWindow* first = THelpWindow::Instance();
  THelpWindow::ShowHelp(14);
  EXPECT_EQ(THelpWindow::Instance(), first);
  EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));
  first->close();
  THelpWindow::ShowHelp(10);
  EXPECT_EQ(THelpWindow::Instance(), first);
  EXPECT_TRUE(first->isVisible());
}

TEST(Help, ContentsLinksEveryTopicAndNoLinkIsBroken) {
  InitResources();
  const QRegularExpression href(R"re(href="([^"#]+)")re");
  auto read = [](const QString& file) {
    QFile f(":/help/" + file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
    return QString::fromUtf8(f.readAll());
  };
  QStringList pages{HelpTopicFile(hcContents)};
  for (const auto& t : HelpTopics()) pages << t.File;
  QStringList linkedFromContents;
  for (const QString& page : pages) {
    const QString html = read(page);
    EXPECT_TRUE(html.contains("<title>")) << page.toStdString();
    for (auto it = href.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      if (target.startsWith("http:") || target.startsWith("https:") || target.startsWith("mailto:")) continue;
      EXPECT_TRUE(QFile::exists(":/help/" + target)) << page.toStdString() << " -> " << target.toStdString();
      if (page == pages.front()) linkedFromContents << target;
    }
  }
  for (const auto& t : HelpTopics()) EXPECT_TRUE(linkedFromContents.contains(t.File)) << t.File.toStdString();
}

// A page compiled in but not registered as a topic would never open from F1; a topic without the
// link to the contents leaves the reader only the toolbar.
TEST(Help, EveryPageIsATopicAndLeadsBackToTheContents) {
  InitResources();
  QStringList known{HelpTopicFile(hcContents)};
  for (const auto& t : HelpTopics()) known << t.File;
  const QStringList pages = QDir(":/help").entryList({"*.html"}, QDir::Files);
  EXPECT_EQ(pages.size(), known.size());
  for (const QString& page : pages) {
    EXPECT_TRUE(known.contains(page)) << page.toStdString();
    if (page == HelpTopicFile(hcContents)) continue;
    QFile f(":/help/" + page);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << page.toStdString();
    EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains(R"(href="index.html")")) << page.toStdString();
  }
}

TEST(Help, F1OpensTheTopicOfTheWindowOrItsPart) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* edit = new QLineEdit(&window);
  auto* part = new QWidget(&window);
  auto* partEdit = new QLineEdit(part);
  (new QVBoxLayout(part))->addWidget(partEdit);
  layout->addWidget(edit);
  layout->addWidget(part);
  InstallHelpShortcut(&window, hcPassword);
  InstallHelpShortcut(part, hcLabelProperties);
  EXPECT_EQ(window.property("HelpContext").toInt(), hcPassword);
  ASSERT_TRUE(Activate(&window));

  THelpWindow::ShowHelp(hcContents);
  ASSERT_TRUE(Activate(&window));
  edit->setFocus();
  PressKey(edit, Qt::Key_F1);
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcPassword);
  EXPECT_TRUE(ShownTitle().contains("Введите пароль"));

  ASSERT_TRUE(Activate(&window));
  partEdit->setFocus();
  PressKey(partEdit, Qt::Key_F1);
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcLabelProperties);
}

// Records whether a window is blocked by a modal one, as the toolkit tells it.
class BlockWatcher : public QObject {
 public:
  bool Blocked = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::WindowBlocked) Blocked = true;
    if (e->type() == QEvent::WindowUnblocked) Blocked = false;
    return false;
  }
};

TEST(Help, F1InAModalDialogGivesUsableHelp) {
  THelpWindow::ShowHelp(hcContents);
  BlockWatcher watcher;
  THelpWindow::Instance()->installEventFilter(&watcher);
  {
    TAboutBox box;
    box.setWindowModality(Qt::ApplicationModal);  // as exec() shows it
    ASSERT_TRUE(Activate(&box));
    EXPECT_TRUE(watcher.Blocked) << "the about box is modal";
    PressKey(&box, Qt::Key_F1);
    EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcAboutBox);
    EXPECT_FALSE(watcher.Blocked) << "help opened from a modal dialog must take input";
    box.close();
  }
  // The help window outlives the dialog it was opened from.
  ASSERT_NE(THelpWindow::Instance(), nullptr);
  EXPECT_TRUE(THelpWindow::Instance()->isVisible());
  THelpWindow::ShowHelp(hcMainWindow);
  EXPECT_FALSE(watcher.Blocked);
  THelpWindow::Instance()->removeEventFilter(&watcher);
}

}  // namespace
}  // namespace vexa
