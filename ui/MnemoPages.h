#pragma once
// The mnemonic diagram pages of the main window: one page per entry of the settings' MNames/MFiles,
// named "ts<i>", each holding the picture control "im<i>" that fills it and shows its picture centred.
// Value labels are children of the page, above the picture; their positions are page coordinates.

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

class QTabWidget;

namespace vexa {

class TNetwork;

class TMnemoPicture : public QWidget {
  Q_OBJECT
 public:
  explicit TMnemoPicture(QWidget* parent);

  const QPixmap& Picture() const { return picture_; }
  void SetPicture(const QPixmap& picture);
  // Where the picture sits inside the control (centred).
  QRect PictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
};

class TMnemoPage : public QWidget {
  Q_OBJECT
 public:
  TMnemoPage(int index, QWidget* parent);

  int Index() const { return index_; }
  TMnemoPicture* Picture() const { return picture_; }
  // The file the picture came from; empty for the built-in picture.
  const QString& PictureFile() const { return pictureFile_; }
  void SetPictureFile(const QString& file) { pictureFile_ = file; }
  // At least the picture's size: the main window grows to fit the largest page.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int index_;
  TMnemoPicture* picture_;  // owned by the page (Qt parent)
  QString pictureFile_;
};

// "ts" + index, the key by which labels find their page.
QString MnemoPageName(int index);
// The name as stored when it has text besides blanks and control characters, else
// "[Без названия - n]" with n counted from 1.
QString MnemoPageCaption(const QString& name, int index);
// The picture of a file, its format chosen by the file's extension (BMP, PNG, JPEG, ...); a null
// image when the file is missing, of an unknown kind or cannot be read.
QImage LoadMnemoPicture(const QString& path);
// The picture shown when no file could be loaded.
QPixmap BuiltInMnemoPicture();
// The last component of a path written with either separator, so a list made on another system
// still finds its pictures in the program's folder.
QString PictureFileName(const QString& path);

struct TMnemoBuildResult {
  int PageCount = 0;
  QSize Largest;                 // the largest picture width and height seen
  bool SettingsChanged = false;  // a picture path was replaced by one in the program's folder
};

// Fills pcMnemo from the settings object (re-read from its file first). With no pages, tells the
// operator so. Paths replaced by the program's folder are stored back into the settings' MFiles;
// saving them is the caller's business.
TMnemoBuildResult BuildMnemoPages(TNetwork& network, QTabWidget* pcMnemo);

// The page of that name, or null.
TMnemoPage* FindMnemoPage(QTabWidget* pcMnemo, const QString& name);

}  // namespace vexa
