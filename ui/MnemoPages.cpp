#include "ui/MnemoPages.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTabWidget>

#include "core/Network.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"

namespace vexa {

namespace {

// Blanks and control characters, as the page captions are judged.
bool IsBlank(QChar c) {
  return c.unicode() <= 0x20;
}
}  // namespace

TMnemoPicture::TMnemoPicture(QWidget* parent) : QWidget(parent) {}

void TMnemoPicture::SetPicture(const QPixmap& picture) {
  picture_ = picture;
  // The page never gets smaller than its picture; the main window grows to fit the largest one.
  setMinimumSize(picture_.size());
  if (parentWidget() != nullptr) parentWidget()->updateGeometry();
  update();
}

QRect TMnemoPicture::PictureRect() const {
  QRect r(QPoint(0, 0), picture_.size());
  r.moveCenter(rect().center());
  return r;
}

void TMnemoPicture::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter p(this);
  p.drawPixmap(PictureRect().topLeft(), picture_);
}

TMnemoPage::TMnemoPage(int index, QWidget* parent) : QWidget(parent), index_(index) {
  setObjectName(MnemoPageName(index));
  picture_ = new TMnemoPicture(this);
  picture_->setObjectName(QStringLiteral("im%1").arg(index));
}

// The picture fills the page by hand, not by a layout: the labels are the page's children too,
// and under a layout every new width of a label's text would lay out and repaint the whole window.
QSize TMnemoPage::sizeHint() const {
  return picture_->minimumSize();
}

QSize TMnemoPage::minimumSizeHint() const {
  return picture_->minimumSize();
}

void TMnemoPage::resizeEvent(QResizeEvent*) {
  picture_->setGeometry(rect());
}

QString MnemoPageName(int index) {
  return QStringLiteral("ts%1").arg(index);
}

QString MnemoPageCaption(const QString& name, int index) {
  for (QChar c : name)
    if (!IsBlank(c)) return name;
  return QStringLiteral("[Без названия - %1]").arg(index + 1);
}

QString PictureFileName(const QString& path) {
  const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  return path.mid(cut + 1);
}

QImage LoadMnemoPicture(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.isFile()) return {};
  QByteArray format = info.suffix().toLower().toLatin1();
  if (format == "jpg") format = "jpeg";
  if (format.isEmpty() || !QImageReader::supportedImageFormats().contains(format)) return {};
  QImageReader reader(path, format);
  reader.setDecideFormatFromContent(false);
  return reader.read();
}

QPixmap BuiltInMnemoPicture() {
  InitResources();
  QPixmap built(QString::fromLatin1(kMnemoPicture));
  if (!built.isNull()) return built;
  // Drawn here when the resource is missing, so a page is never blank.
  QPixmap pm(250, 30);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setPen(Qt::red);
  p.drawRect(0, 0, pm.width() - 1, pm.height() - 1);
  p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("Файл мнемосхемы не найден!"));
  return pm;
}

TMnemoBuildResult BuildMnemoPages(TNetwork& network, QTabWidget* pcMnemo) {
  std::unique_ptr<TSetupNode>& setup = network.Setup();
  TMnemoBuildResult result;
  try {
    LoadTreeFile(network, setup);
  } catch (const std::exception&) {
    // The settings window's start-up reads the file again and reports what is wrong with it.
  }
  const QStringList names = setup->MNames();
  QStringList files = setup->MFiles();
  if (names.isEmpty()) {
    ShowMessage(
        QStringLiteral("Мнемосхемы отсутствуют!\r\nУкажите мнемосхемы в окне 'Настройка параметров сети'."),
        TMsgIcon::Error);
    return result;
  }
  // A list shorter than the names gives the remaining pages no file.
  while (files.size() < names.size()) files.append(QString());

  for (int i = 0; i < names.size(); ++i) {
    auto* page = new TMnemoPage(i, pcMnemo);
    pcMnemo->addTab(page, MnemoPageCaption(names[i], i));

    QImage image = LoadMnemoPicture(files[i]);
    QString source = files[i];
    if (image.isNull()) {
      const QString name = PictureFileName(files[i]);
      const QString local = name.isEmpty() ? QString() : network.Dir() + QLatin1Char('/') + name;
      image = LoadMnemoPicture(local);
      if (!image.isNull()) {
        source = local;
        if (files[i] != local) {
          files[i] = local;
          result.SettingsChanged = true;
        }
      }
    }
    if (image.isNull()) {
      page->Picture()->SetPicture(BuiltInMnemoPicture());
      page->SetPictureFile(QString());
    } else {
      page->Picture()->SetPicture(QPixmap::fromImage(image));
      page->SetPictureFile(source);
    }
    result.Largest = result.Largest.expandedTo(page->Picture()->Picture().size());
  }
  result.PageCount = static_cast<int>(names.size());
  if (result.SettingsChanged) setup->SetMFiles(files);
  return result;
}

TMnemoPage* FindMnemoPage(QTabWidget* pcMnemo, const QString& name) {
  for (int i = 0; i < pcMnemo->count(); ++i) {
    auto* page = qobject_cast<TMnemoPage*>(pcMnemo->widget(i));
    if (page != nullptr && page->objectName() == name) return page;
  }
  return nullptr;
}

}  // namespace vexa
