#include "support/TestSupport.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <csignal>

#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "storage/CompoundFile.h"
#include "storage/FolderLock.h"

namespace vexa::test {

int TFakeComm::Write(const uint8_t* buffer, int count) {
  if (lost_) throw ECommError(QStringLiteral("Write error"), 5);  // EIO
  if (!open_) return -1;
  QByteArray req(reinterpret_cast<const char*>(buffer), count);
  Written.push_back(req);
  if (Respond) {
    for (const TChunk& c : Respond(req)) pending_.push_back({c.Bytes, clock_.TickMs() + c.AtMs});
  }
  return count;
}

int TFakeComm::InQueCount() {
  if (lost_) throw ECommError(QStringLiteral("Read error"), 5);
  if (!open_) return -1;
  int n = 0;
  for (const auto& p : pending_)
    if (p.At <= clock_.TickMs()) n += static_cast<int>(p.Bytes.size());
  return n;
}

int TFakeComm::Read(uint8_t* buffer, int count) {
  if (lost_) throw ECommError(QStringLiteral("Read error"), 5);
  if (!open_) return -1;
  int done = 0;
  while (!pending_.empty() && pending_.front().At <= clock_.TickMs() && done < count) {
    QByteArray& b = pending_.front().Bytes;
    const int take = std::min<int>(count - done, static_cast<int>(b.size()));
    std::memcpy(buffer + done, b.constData(), static_cast<size_t>(take));
    done += take;
    b.remove(0, take);
    if (b.isEmpty()) pending_.erase(pending_.begin());
  }
  return done;
}

bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  tick.start(5);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

void RunEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

TVexaTest::TVexaTest() {
  auto clock = std::make_unique<TFakeClock>();
  Clock = clock.get();
  Services().Clock = std::move(clock);
  auto messages = std::make_unique<TScriptedMessages>();
  Messages = messages.get();
  Services().Messages = std::move(messages);
  Services().Format = TFormatSettings::Russian();
  Dir = std::make_unique<QTemporaryDir>();
  auto port = std::make_unique<TFakeComm>(*Clock);
  Port = port.get();
  Network = std::make_unique<TNetwork>(Dir->path(), std::move(port));
  Network->Line().Random().Seed(1);
}

void TVexaTest::AddChannelTemplate(const QString& caption, const QString& comments,
                                   const QStringList& registers, TRegisterType type) {
  auto* pattern = new TRootNode(Registry().get());
  pattern->SetName(QStringLiteral("T") + caption);
  pattern->SetCaption(caption);
  pattern->SetComments(comments);
  const QStringList all = QStringList{"Регистр-идентификатор"} + registers;
  for (int k = 0; k < all.size(); ++k) {
    auto* reg = new TRegisterNode(pattern);
    reg->SetName(QStringLiteral("R%1").arg(k));
    reg->SetCaption(all[k]);
    reg->SetRegisterType(k == 0 ? rtBYTE : type);
    reg->SetVisible(k != 0);
  }
}

void TVexaTest::ReplaceNetwork(std::unique_ptr<TCustomComm> port) {
  Port = nullptr;
  Network.reset();
  Network = std::make_unique<TNetwork>(Dir->path(), std::move(port));
  Network->Line().Random().Seed(1);
}

void TVexaTest::NewNetwork(const QString& dir) {
  Network.reset();
  auto port = std::make_unique<TFakeComm>(*Clock);
  Port = port.get();
  Network = std::make_unique<TNetwork>(dir, std::move(port));
  Network->Line().Random().Seed(1);
}

void TVexaTest::ShowFaults(const TFaults& faults) {
  for (const TFault& fault : faults.Items()) Services().Messages->Show(fault.Text, fault.Icon, mbOK, mbOK);
}

TVexaTest::~TVexaTest() {
  current_ = nullptr;
  Network.reset();
  Services().Clock = std::make_unique<TClock>();
  Services().Messages = std::make_unique<TMessageService>();
}

namespace {

void CopyStorage(const CompoundStorage& from, CompoundStorage& to) {
  for (const QString& name : from.StreamNames()) to.CreateStream(name) = from.Stream(name);
  for (const QString& name : from.StorageNames())
    CopyStorage(*from.OpenStorage(name), to.CreateStorage(name));
}

}  // namespace

bool DamagePart(const QString& path, const QString& storagePath, TPartDamage damage) {
  auto file = CompoundFile::Open(path);
  if (!file) return false;
  CompoundStorage* parent = &file->Root();
  QStringList parts = storagePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (parts.isEmpty()) return false;
  const QString name = parts.takeLast();
  for (const QString& part : parts)
    if ((parent = parent->OpenStorage(part)) == nullptr) return false;
  CompoundStorage* level = parent->OpenStorage(name);
  if (level == nullptr) return false;
  if (damage == TPartDamage::ObjectMisnamed) {
    if (!level->HasStream(QStringLiteral("Object"))) return false;
    level->CreateStream(QStringLiteral("Objecu")) = level->Stream(QStringLiteral("Object"));
    level->RemoveStream(QStringLiteral("Object"));
  } else {
    int next = name.toInt() + 1;
    while (parent->HasStorage(QString::asprintf("%03d", next))) ++next;
    CopyStorage(*level, parent->CreateStorage(QString::asprintf("%03d", next)));
    parent->RemoveStorage(name);
  }
  return file->Save(path);
}

int ObjectCount(const TComponent& tree) {
  int n = 1;
  for (int i = 0; i < tree.ComponentCount(); ++i) n += ObjectCount(*tree.Component(i));
  return n;
}

TRun RunProgram(const QString& program, const QStringList& args, const TRunOptions& options) {
  QProcess p;
  if (options.Env) p.setProcessEnvironment(*options.Env);
  if (!options.WorkDir.isEmpty()) p.setWorkingDirectory(options.WorkDir);
  p.start(program, args);
  if (!options.Input.isEmpty()) p.write(options.Input);
  p.closeWriteChannel();
  EXPECT_TRUE(p.waitForFinished(120000)) << program.toStdString() << " " << args.join(' ').toStdString();
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TChildProcess::TChildProcess(const QString& program, const QStringList& args) {
  out_ = dir_.filePath(QStringLiteral("out"));
  err_ = dir_.filePath(QStringLiteral("err"));
  // Everything the child needs is made before the fork: after it only async-signal-safe calls.
  std::vector<QByteArray> words{QFile::encodeName(program)};
  for (const QString& a : args) words.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const QByteArray out = QFile::encodeName(out_);
  const QByteArray err = QFile::encodeName(err_);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that dies takes its children with it
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, STDIN_FILENO);
    ::dup2(o, STDOUT_FILENO);
    ::dup2(e, STDERR_FILENO);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  EXPECT_GT(pid_, 0) << "fork failed";
}

TChildProcess::~TChildProcess() {
  Kill();
}

void TChildProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

bool TChildProcess::Running() {
  if (status_ || pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return !status_;
}

bool TChildProcess::Wait(int ms) {
  QDeadlineTimer deadline(ms);
  while (Running()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(2);
  }
  return true;
}

void TChildProcess::Stop(int ms) {
  if (!Running()) return;
  Signal(SIGTERM);
  if (!Wait(ms)) Kill();
}

void TChildProcess::Kill() {
  if (!Running()) return;
  Signal(SIGKILL);
  int status = 0;
  if (::waitpid(pid_, &status, 0) == pid_) status_ = status;
}

int TChildProcess::Code() const {
  return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
}

bool TChildProcess::Killed() const {
  return status_ && WIFSIGNALED(*status_);
}

namespace {
QString FileText(const QString& path, qint64 from = 0) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || !f.seek(from)) return {};
  return QString::fromUtf8(f.readAll());
}
}  // namespace

QString TChildProcess::Out() const {
  return FileText(out_);
}

QString TChildProcess::Err() const {
  return FileText(err_);
}

QString TChildProcess::NewErrors() {
  QFile f(err_);
  if (!f.open(QIODevice::ReadOnly) || !f.seek(errorsRead_)) return {};
  const QByteArray bytes = f.readAll();
  errorsRead_ += bytes.size();
  return QString::fromUtf8(bytes);
}

TSimLine::TSimLine(const QStringList& options) {
  link_ = dir_.filePath(QStringLiteral("line"));
  process_ = std::make_unique<TChildProcess>(QStringLiteral(VEXA_SIM_PATH),
                                             QStringList{QStringLiteral("--link"), link_} + options);
  QElapsedTimer t;
  t.start();
  while (!QFileInfo::exists(link_) && t.elapsed() < 3000 && process_->Running()) QThread::msleep(2);
  EXPECT_TRUE(QFileInfo::exists(link_)) << process_->NewErrors().toStdString();
}

TSimLine::~TSimLine() {
  process_->Stop(3000);
}

void TSimLine::Kill() {
  process_->Kill();
}

QProcessEnvironment EnvironmentWithoutDisplay(const QString& platform) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  if (!platform.isEmpty()) env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
  return env;
}

TSimProcess::TSimProcess(QString link, QStringList extra)
    : link_(std::move(link)), extra_(std::move(extra)) {}

TSimProcess::~TSimProcess() {
  Stop();
}

bool TSimProcess::Start() {
  Stop();
  process_ = std::make_unique<TChildProcess>(QStringLiteral(VEXA_SIM_PATH),
                                             QStringList{QStringLiteral("--link"), link_} + extra_);
  QElapsedTimer waited;
  waited.start();
  while (!QFileInfo(link_).isSymLink() && waited.elapsed() < 5000) {
    if (!process_->Running()) return false;
    QThread::msleep(5);
  }
  return QFileInfo(link_).isSymLink();
}

void TSimProcess::Stop() {
  if (process_) process_->Stop();
}

QString TSimProcess::Log() {
  return process_ ? process_->NewErrors() : QString();
}

bool WaitUntilFolderHeld(const QProcess& holder, const QString& folder, const QString& who, int ms) {
  const QByteArray lines = QByteArray::number(holder.processId()) + '\n' + who.toUtf8() + '\n';
  QDeadlineTimer deadline(ms);
  QFile lock(TFolderLock::LockFilePath(folder));
  while (!deadline.hasExpired() && holder.state() == QProcess::Running) {
    if (lock.open(QIODevice::ReadOnly) && lock.readAll().startsWith(lines)) return true;
    lock.close();
    QThread::msleep(20);
  }
  return false;
}

}  // namespace vexa::test
