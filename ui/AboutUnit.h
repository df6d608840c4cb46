#pragma once
// The about box and the label that shows one of the program's version strings.

#include <QDialog>
#include <QLabel>
#include <QString>

class QPushButton;

namespace vexa {

// Reads one string of the program's version information. The information is generated at build
// time from the project version (there is no version resource in an ELF file); it answers for the
// Russian/1251 language and code page only, like the resource the program always had.
class TVersionLabel : public QLabel {
  Q_OBJECT
  Q_PROPERTY(TVersionResource VersionResource READ VersionResource WRITE SetVersionResource)
  Q_PROPERTY(QString VersionResourceKey READ VersionResourceKey WRITE SetVersionResourceKey)
  Q_PROPERTY(QString InfoPrefix READ InfoPrefix WRITE SetInfoPrefix)
  Q_PROPERTY(bool ShowInfoPrefix READ ShowInfoPrefix WRITE SetShowInfoPrefix)
  Q_PROPERTY(QString LangCharset READ LangCharset WRITE SetLangCharset)
 public:
  enum TVersionResource {
    vrCompanyName,
    vrFileDescription,
    vrFileVersion,
    vrInternalName,
    vrLegalCopyright,
    vrOriginalFilename,
    vrProductName,
    vrProductVersion,
    vrComments
  };
  Q_ENUM(TVersionResource)

  explicit TVersionLabel(QWidget* parent = nullptr);

  TVersionResource VersionResource() const { return resource_; }
  // Sets the key and the prefix of that string.
  void SetVersionResource(TVersionResource value);
  QString VersionResourceKey() const { return key_; }
  // A different key also makes the key itself the prefix; set a stored prefix after the key.
  void SetVersionResourceKey(const QString& value);
  QString InfoPrefix() const { return prefix_; }
  void SetInfoPrefix(const QString& value);
  bool ShowInfoPrefix() const { return showPrefix_; }
  void SetShowInfoPrefix(bool value);
  QString LangCharset() const { return langCharset_; }
  void SetLangCharset(const QString& value);

  // The program's version strings, as "\StringFileInfo\<LangCharset>\<key>" would give them.
  static QString ProductVersion();  // "1.0": major.minor
  static QString FileVersion();     // "1.0.0.0": major.minor.patch.build
  // The value under key for the language and code page, or false when there is none.
  static bool LookUp(const QString& langCharset, const QString& key, QString* value);

 private:
  void Rebuild();

  TVersionResource resource_ = vrFileVersion;
  QString key_;
  QString prefix_;
  bool showPrefix_ = true;
  QString langCharset_ = QStringLiteral("041904E3");
};

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // Creates the box, shows it modally and releases it.
  static void Execute(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;  // first bold line
  QLabel* Comments = nullptr;     // second bold line
  TVersionLabel* Version = nullptr;
  TVersionLabel* FileVersion = nullptr;
  QPushButton* OKButton = nullptr;
};

}  // namespace vexa
