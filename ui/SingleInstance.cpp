#include "ui/SingleInstance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace vexa {

namespace {

const QByteArray kActivate = "activate";
const QByteArray kActivated = "activated";

bool SocketAddress(const QString& path, sockaddr_un& addr) {
  const QByteArray bytes = QFile::encodeName(path);
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (bytes.isEmpty() || static_cast<size_t>(bytes.size()) >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
  return true;
}

// A connected client socket to the running copy, or -1.
int ConnectToRunning(const QString& folder) {
  sockaddr_un addr;
  if (!SocketAddress(TSingleInstance::ServerName(folder), addr)) return -1;
  TFileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return -1;
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
  return fd.Release();
}

// Waits for fd to become ready for `events` until the deadline; false on time-out or error.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    if (rc > 0) return true;
    if (rc == 0 || errno != EINTR) return false;
  }
}

}  // namespace

struct TSingleInstance::TClient {
  TFileDescriptor Fd;
  QByteArray Pending;
  std::unique_ptr<QSocketNotifier> Notifier;
  explicit TClient(int fd) : Fd(fd) {}
};

TSingleInstance::TSingleInstance(QObject* parent) : QObject(parent) {}

TSingleInstance::~TSingleInstance() {
  Release();
}

QString TSingleInstance::ServerName(const QString& folder) {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  QString name = (runtime.isEmpty() ? QDir::tempPath() : runtime) + QStringLiteral("/Vexa");
  if (folder.isEmpty()) return name;
  // The same folder by any spelling is one name; a hash keeps it within a socket path's length.
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  const QByteArray key = (canonical.isEmpty() ? QDir::cleanPath(folder) : canonical).toUtf8();
  return name + QLatin1Char('-') +
         QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

bool TSingleInstance::OtherInstanceRunning(const QString& folder) {
  const TFileDescriptor fd(ConnectToRunning(folder));
  return fd.Get() >= 0;
}

bool TSingleInstance::ActivateOtherInstance(int timeoutMs, const QString& folder) {
  const QDeadlineTimer deadline(timeoutMs);
  const TFileDescriptor fd(ConnectToRunning(folder));
  if (fd.Get() < 0) return false;
  const QByteArray request = kActivate + '\n';
  if (::send(fd.Get(), request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) !=
      request.size())
    return false;
  QByteArray answer;
  while (!answer.contains('\n')) {
    if (!WaitFor(fd.Get(), POLLIN, deadline)) return false;
    char buffer[64];
    const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    answer.append(buffer, static_cast<qsizetype>(n));
  }
  return answer.left(answer.indexOf('\n')).trimmed() == kActivated;
}

bool TSingleInstance::Acquire(const QString& folder) {
  if (Held()) return true;
  const QString path = ServerName(folder);
  sockaddr_un addr;
  if (!SocketAddress(path, addr)) return false;
  TFileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) return false;
  auto bind = [&] { return ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0; };
  if (!bind()) {
    // Nobody answers on it (that was asked first): a copy ended without removing its socket.
    if (errno != EADDRINUSE || OtherInstanceRunning(folder)) return false;
    ::unlink(addr.sun_path);
    if (!bind()) return false;
  }
  ::chmod(addr.sun_path, 0600);
  if (::listen(fd.Get(), 8) != 0) {
    ::unlink(addr.sun_path);
    return false;
  }
  fd_ = std::move(fd);
  path_ = path;
  notifier_ = std::make_unique<QSocketNotifier>(fd_.Get(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TSingleInstance::Accept);
  return true;
}

bool TSingleInstance::Held() const {
  return fd_.Valid();
}

void TSingleInstance::Release() {
  clients_.clear();
  notifier_.reset();
  if (!fd_.Valid()) return;
  fd_.Reset();
  ::unlink(QFile::encodeName(path_).constData());
  path_.clear();
}

void TSingleInstance::Accept() {
  for (;;) {
    const int fd = ::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    auto client = std::make_unique<TClient>(fd);
    TClient* c = client.get();
    client->Notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(c->Notifier.get(), &QSocketNotifier::activated, this, [this, c] { Serve(*c); });
    clients_.push_back(std::move(client));
  }
}

void TSingleInstance::Serve(TClient& client) {
  char buffer[256];
  const ssize_t n = ::recv(client.Fd.Get(), buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  bool done = n <= 0;
  if (n > 0) client.Pending.append(buffer, static_cast<qsizetype>(n));
  // Requests are one short line; anything longer is not ours.
  if (client.Pending.size() > 1024) done = true;
  qsizetype eol;
  while (!done && (eol = client.Pending.indexOf('\n')) >= 0) {
    const QByteArray line = client.Pending.left(eol).trimmed();
    client.Pending.remove(0, eol + 1);
    if (line != kActivate) continue;
    if (OnActivate) OnActivate();
    const QByteArray answer = kActivated + '\n';
    ::send(client.Fd.Get(), answer.constData(), static_cast<size_t>(answer.size()), MSG_NOSIGNAL);
  }
  if (!done) return;
  // Deleting the notifier inside its own signal is not allowed: leave that to the event loop.
  client.Notifier->setEnabled(false);
  QTimer::singleShot(0, this, [this, c = &client] {
    std::erase_if(clients_, [c](const std::unique_ptr<TClient>& p) { return p.get() == c; });
  });
}

}  // namespace vexa
