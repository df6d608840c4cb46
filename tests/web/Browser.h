#pragma once
// Debian's chromium, headless, driven over its DevTools protocol: pages opened, scripts evaluated
// in them, as a person's browser would run them. Absent chromium: Found() is false.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "support/TestSupport.h"
#include "tests/web/WebClient.h"

namespace vexa::test {

inline QString ChromiumPath() {
  return QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

// The common switches: headless, no sandbox (the tests run as root), nothing fetched from outside.
inline QStringList ChromiumSwitches(const QString& profile) {
  return {QStringLiteral("--headless"),
          QStringLiteral("--no-sandbox"),
          QStringLiteral("--disable-gpu"),
          QStringLiteral("--no-first-run"),
          QStringLiteral("--disable-background-networking"),
          QStringLiteral("--disable-dev-shm-usage"),
          QStringLiteral("--user-data-dir=") + profile,
          QStringLiteral("--lang=ru")};
}

class TBrowser {
 public:
  TBrowser() {
    if (ChromiumPath().isEmpty()) return;
    process_ = std::make_unique<TChildProcess>(
        ChromiumPath(),
        ChromiumSwitches(profile_.path()) + QStringList{QStringLiteral("--remote-debugging-port=0"),
                                                        QStringLiteral("--remote-allow-origins=*"),
                                                        QStringLiteral("--window-size=1024,768"),
                                                        QStringLiteral("about:blank")});
    // Chromium names its port in the profile once it listens.
    QFile file(profile_.filePath(QStringLiteral("DevToolsActivePort")));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && !(file.exists() && file.size() > 0)) QThread::msleep(50);
    if (!file.open(QIODevice::ReadOnly)) return;
    port_ = static_cast<uint16_t>(QString::fromLatin1(file.readLine()).trimmed().toInt());
    const THttpAnswer target = Http(port_, "PUT", "/json/new?about:blank");
    const QString url = QJsonDocument::fromJson(QByteArray::fromStdString(target.Body))
                            .object()
                            .value(QStringLiteral("webSocketDebuggerUrl"))
                            .toString();
    const qsizetype path = url.indexOf(QLatin1String("/devtools/"));
    if (path < 0) return;
    page_ = std::make_unique<TWsClient>(port_, url.mid(path).toStdString());
  }
  ~TBrowser() {
    page_.reset();
    if (process_) process_->Stop(3000);
  }
  bool Found() const { return page_ != nullptr && page_->Open(); }

  // A DevTools command's result; null on no answer.
  QJsonObject Command(const QString& method, const QJsonObject& params = {}) {
    const int id = ++lastId_;
    const QJsonObject call{{"id", id}, {"method", method}, {"params", params}};
    if (!page_->Send(QJsonDocument(call).toJson(QJsonDocument::Compact).toStdString())) return {};
    while (const auto m = page_->Receive()) {
      const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(*m)).object();
      if (o.value(QStringLiteral("id")).toInt() == id) return o.value(QStringLiteral("result")).toObject();
    }
    return {};
  }
  // The value of a script run in the page (awaited when it is a promise).
  QJsonValue Evaluate(const QString& script) {
    return Command(QStringLiteral("Runtime.evaluate"),
                   {{"expression", script}, {"returnByValue", true}, {"awaitPromise", true}})
        .value(QStringLiteral("result"))
        .toObject()
        .value(QStringLiteral("value"));
  }
  // Opens a page and waits for it to be loaded whole (its scripts run); false after `ms`.
  bool Open(const QString& url, int ms = 10000) {
    Command(QStringLiteral("Page.navigate"), {{"url", url}});
    return WaitFor(QStringLiteral("document.readyState === 'complete' && location.href !== 'about:blank'"),
                   ms);
  }
  // Waits until a script is true in the page.
  bool WaitFor(const QString& script, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      if (Evaluate(script).toBool()) return true;
      QThread::msleep(20);
    }
    return false;
  }

 private:
  QTemporaryDir profile_;
  std::unique_ptr<TChildProcess> process_;
  std::unique_ptr<TWsClient> page_;
  uint16_t port_ = 0;
  int lastId_ = 0;
};

}  // namespace vexa::test
