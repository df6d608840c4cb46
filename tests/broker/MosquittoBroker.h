#pragma once
// A real Mosquitto broker for a test: started on 127.0.0.1 at a free port with the test's own
// configuration (password file, TLS listener), stopped and started again on the same port, and a
// subscriber on it that keeps what arrives; the programs the tests start, by fork and exec.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "broker/BrokerSettings.h"
#include "support/TestSupport.h"

namespace vexa::test {

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t size = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline bool PortAnswers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QThread::msleep(5);
  }
  return true;
}

// Runs a program to its end (at most `ms`); its exit code, -1 when it did not end by itself.
inline int RunChild(const QString& program, const QStringList& args, QString* out = nullptr,
                    QString* err = nullptr, int ms = 30000) {
  TChildProcess child(program, args);
  child.Wait(ms);
  if (out) *out = child.Out();
  if (err) *err = child.Err();
  return child.Code();
}

struct TBrokerConfig {
  QString User;  // empty: anonymous clients welcome
  QString Password;
  bool Tls = false;  // a second listener with a certificate made by openssl
};

class TMosquitto {
 public:
  explicit TMosquitto(TBrokerConfig config = {}) : config_(std::move(config)) {
    Port = FreePort();
    if (config_.Tls) TlsPort = FreePort();
    QString conf = QStringLiteral("persistence true\npersistence_location %1/\nuser root\nlog_dest none\n")
                       .arg(dir_.path());
    conf += QStringLiteral("listener %1 127.0.0.1\n").arg(Port);
    if (config_.Tls) {
      MakeCertificate();
      conf += QStringLiteral("listener %1 127.0.0.1\ncafile %2\ncertfile %2\nkeyfile %3\n")
                  .arg(TlsPort)
                  .arg(CaFile(), dir_.filePath(QStringLiteral("key.pem")));
    }
    if (config_.User.isEmpty()) {
      conf.prepend(QStringLiteral("allow_anonymous true\n"));
    } else {
      const QString passwords = dir_.filePath(QStringLiteral("passwords"));
      EXPECT_EQ(RunChild(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-c"), QStringLiteral("-b"),
                                                              passwords, config_.User, config_.Password}),
                0);
      conf.prepend(QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords));
    }
    // Per listener settings off: one set of rules for both listeners.
    conf.prepend(QStringLiteral("per_listener_settings false\n"));
    QFile f(dir_.filePath(QStringLiteral("mosquitto.conf")));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(conf.toUtf8());
    f.close();
    Start();
  }
  ~TMosquitto() { Stop(); }

  QString CaFile() const { return dir_.filePath(QStringLiteral("cert.pem")); }
  QString Url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(Port); }
  QString TlsUrl() const { return QStringLiteral("mqtts://localhost:%1").arg(TlsPort); }
  // The program's settings for this broker with its account, under `root`, writes allowed.
  TBrokerSettings Writing(const QString& root) const {
    TBrokerSettings settings;
    settings.Url = Url();
    settings.User = config_.User;
    settings.Password = config_.Password;
    settings.TopicRoot = root;
    settings.Writes = true;
    return settings;
  }

  void Start() {
    process_ = std::make_unique<TChildProcess>(
        QStringLiteral("mosquitto"),
        QStringList{QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
    ASSERT_TRUE(WaitFor([this] { return PortAnswers(Port) && (!config_.Tls || PortAnswers(TlsPort)); }, 5000))
        << "mosquitto did not listen: " << process_->Err().toStdString();
  }
  // Ends the broker as its service manager would (it keeps its sessions for the next start).
  void Stop() {
    if (!process_) return;
    process_->Signal(SIGTERM);
    process_->Wait(3000);
    process_.reset();
  }

  int Port = 0;
  int TlsPort = 0;

 private:
  void MakeCertificate() {
    const int rc = RunChild(
        QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-keyout"), dir_.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
         CaFile(), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
         QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
         QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1")});
    ASSERT_EQ(rc, 0) << "openssl could not make the test certificate";
  }

  TBrokerConfig config_;
  QTemporaryDir dir_;
  std::unique_ptr<TChildProcess> process_;
};

struct TReceived {
  QString Topic;
  QByteArray Payload;
  bool Retained = false;
};

// A client that subscribes to `filter` and keeps every message, on libmosquitto's own thread. With a
// fixed id it keeps its session on the broker, so a new one with that id gets what came meanwhile.
class TSubscriber {
 public:
  TSubscriber(int port, const QString& filter, const QString& user = {}, const QString& password = {},
              const QString& id = {})
      : filter_(filter.toUtf8()) {
    mosquitto_lib_init();
    const QByteArray clientId = id.toUtf8();
    mosq_ = mosquitto_new(id.isEmpty() ? nullptr : clientId.constData(), id.isEmpty(), this);
    if (!user.isEmpty())
      mosquitto_username_pw_set(mosq_, user.toUtf8().constData(), password.toUtf8().constData());
    // A session the broker kept is subscribed already: subscribing again would repeat the retained.
    mosquitto_connect_with_flags_callback_set(mosq_, [](mosquitto* m, void* self, int rc, int flags) {
      auto* s = static_cast<TSubscriber*>(self);
      if (rc != 0) return;
      if (flags & 1) {
        s->subscribed_ = true;
      } else {
        mosquitto_subscribe(m, nullptr, s->filter_.constData(), 1);
      }
    });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<TSubscriber*>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* s = static_cast<TSubscriber*>(self);
      const std::lock_guard lock(s->mutex_);
      s->received_.push_back({QString::fromUtf8(m->topic),
                              QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->retain});
    });
    mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
    EXPECT_TRUE(WaitFor([this] { return Subscribed(); }, 3000)) << "the test's subscriber did not subscribe";
  }
  ~TSubscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
  }
  bool Subscribed() const { return subscribed_; }
  std::vector<TReceived> Received() const {
    const std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<TReceived> On(const QString& topic) const {
    std::vector<TReceived> out;
    for (const TReceived& r : Received())
      if (r.Topic == topic) out.push_back(r);
    return out;
  }
  void Publish(const QString& topic, const QByteArray& payload, bool retain = false) {
    mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                      payload.constData(), 1, retain);
  }

 private:
  QByteArray filter_;
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  std::atomic<bool> subscribed_ = false;
  std::vector<TReceived> received_;
};

}  // namespace vexa::test
