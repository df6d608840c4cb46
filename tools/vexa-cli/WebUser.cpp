// vexa-cli web-user add NAME: a web user's password, read from the terminal without echo (or one
// line of standard input), kept in DIR/Config/WEB.ini as a salted PBKDF2 hash.

#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <cstdio>
#include <string>

#include "tools/vexa-cli/CliContext.h"
#include "web/WebAuth.h"
#include "web/WebSettings.h"

namespace vexa::cli {

namespace {

constexpr size_t kLongestPassword = 256;

// One line without its end; echo off while a terminal types it.
std::optional<QString> ReadPassword(const char* prompt) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  int c = 0;
  while ((c = std::getchar()) != EOF && c != '\n' && line.size() <= kLongestPassword)
    line.push_back(static_cast<char>(c));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kLongestPassword || (c == EOF && line.empty())) return std::nullopt;
  return QString::fromStdString(line);
}

int WebUser(TCliContext& ctx, const QStringList& args) {
  if (args.size() != 2 || args[0] != QLatin1String("add")) {
    Err(QStringLiteral("vexa-cli: нужно web-user add ИМЯ; справка: vexa-cli --help"));
    return 2;
  }
  const QString& name = args[1];
  if (!IsWebUserName(name)) {
    Err(QStringLiteral("vexa-cli: имя '%1' не подходит: от 1 до 32 букв, цифр, '.', '_' или '-'").arg(name));
    return 2;
  }
  const std::optional<QString> password = ReadPassword("Пароль: ");
  if (!password || password->size() < 8) {
    Err(QStringLiteral("vexa-cli: нужен пароль от 8 до %1 знаков одной строкой").arg(kLongestPassword));
    return 2;
  }
  if (::isatty(STDIN_FILENO) == 1) {
    const std::optional<QString> again = ReadPassword("Ещё раз: ");
    if (!again || *again != *password) {
      Err(QStringLiteral("vexa-cli: пароли не совпали, ничего не изменено"));
      return 1;
    }
  }
  QString why;
  if (!SaveWebUser(ctx.Dir, {name, HashWebPassword(*password)}, &why)) {
    Err(QStringLiteral("vexa-cli: %1 не записан: %2").arg(WebSettingsPath(ctx.Dir), why));
    return 1;
  }
  Out(QStringLiteral("пользователь веб-доступа %1 сохранён в %2").arg(name, WebSettingsPath(ctx.Dir)));
  return 0;
}

const TCommandRegistrar kWebUser{
    QStringLiteral("web-user"),
    {&WebUser,
     QStringLiteral(
         "web-user add NAME       пользователь веб-доступа: пароль (от 8 знаков) читается с\n"
         "                         терминала без эха или строкой со стандартного ввода и хранится\n"
         "                         в DIR/Config/WEB.ini солёным хешем PBKDF2"),
     false, false, TFolderWrites::Nothing}};

}  // namespace

}  // namespace vexa::cli
