#include "ui/parts/QtLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <clocale>
#include <cstdlib>

namespace vexa {

namespace {

constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LC_TIME", "LANG"};
constexpr const char* kRussianLocale = "ru_RU.UTF-8";

class TQtRussian : public QTranslator {
 public:
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    QString text = QTranslator::translate(context, sourceText, disambiguation, n);
    // Qt 6 moved the file types from the file dialog to the icon provider.
    if (text.isEmpty() && qstrcmp(context, "QAbstractFileIconProvider") == 0)
      text = QTranslator::translate("QFileDialog", sourceText, nullptr, n);
    return text;
  }
};

}  // namespace

bool NamesNoLocale(const std::function<QByteArray(const char*)>& variable) {
  for (const char* name : kLocaleVariables) {
    const QByteArray value = variable(name);
    if (value.isEmpty() || value == "C" || value == "POSIX" || value.startsWith("C.")) continue;
    return false;
  }
  return true;
}

TRussianDates::TRussianDates() {
  if (!NamesNoLocale([](const char* name) { return qgetenv(name); })) return;
  // Only the dates: the system's numbers and messages would make Qt's system locale Russian, and
  // the program's own formats are taken from it.
  hadPrevious_ = qEnvironmentVariableIsSet("LC_TIME");
  previous_ = qgetenv("LC_TIME");
  qputenv("LC_TIME", kRussianLocale);
  applied_ = true;
}

void TRussianDates::Settle() {
  if (!applied_ || settled_) return;
  settled_ = true;
  (void)QLocale::system().name();  // read now, while the variable says Russian
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  if (hadPrevious_)
    qputenv("LC_TIME", previous_);
  else
    qunsetenv("LC_TIME");
  // The C library could not take a locale it may not have installed: back to the system's own.
  std::setlocale(LC_ALL, "");
}

std::unique_ptr<QTranslator> InstallQtRussian() {
  auto translator = std::make_unique<TQtRussian>();
  if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return nullptr;
  QCoreApplication::installTranslator(translator.get());
  return translator;
}

}  // namespace vexa
