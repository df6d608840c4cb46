#include "web/WebAuth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <QByteArray>
#include <QStringList>
#include <algorithm>
#include <stdexcept>

namespace vexa {

namespace {

constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr int kMaxIterations = 10000000;

QByteArray Random(int bytes) {
  QByteArray b(bytes, Qt::Uninitialized);
  if (RAND_bytes(reinterpret_cast<unsigned char*>(b.data()), bytes) != 1)
    throw std::runtime_error("no random bytes");
  return b;
}

QByteArray Derive(const QString& password, const QByteArray& salt, int iterations) {
  const QByteArray utf8 = password.toUtf8();
  QByteArray out(kHashBytes, Qt::Uninitialized);
  if (PKCS5_PBKDF2_HMAC(utf8.constData(), static_cast<int>(utf8.size()),
                        reinterpret_cast<const unsigned char*>(salt.constData()),
                        static_cast<int>(salt.size()), iterations, EVP_sha256(), kHashBytes,
                        reinterpret_cast<unsigned char*>(out.data())) != 1)
    return {};
  return out;
}

}  // namespace

QString HashWebPassword(const QString& password, int iterations) {
  const QByteArray salt = Random(kSaltBytes);
  return QStringLiteral("pbkdf2-sha256$%1$%2$%3")
      .arg(iterations)
      .arg(QString::fromLatin1(salt.toBase64()),
           QString::fromLatin1(Derive(password, salt, iterations).toBase64()));
}

bool CheckWebPassword(const QString& password, const QString& stored) {
  const QStringList parts = stored.split(QLatin1Char('$'));
  if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2-sha256")) return false;
  bool ok = false;
  const int iterations = parts[1].toInt(&ok);
  if (!ok || iterations < 1 || iterations > kMaxIterations) return false;
  const auto salt =
      QByteArray::fromBase64Encoding(parts[2].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
  const auto hash =
      QByteArray::fromBase64Encoding(parts[3].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
  if (!salt || !hash || salt.decoded.isEmpty() || hash.decoded.size() != kHashBytes) return false;
  const QByteArray derived = Derive(password, salt.decoded, iterations);
  return derived.size() == kHashBytes &&
         CRYPTO_memcmp(derived.constData(), hash.decoded.constData(), kHashBytes) == 0;
}

std::string RandomToken() {
  return Random(32).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

TWebAuth::TWebAuth(std::vector<TWebUser> users, std::function<int64_t()> nowMs) : nowMs_(std::move(nowMs)) {
  for (TWebUser& u : users) users_[u.Name] = std::move(u.Hash);
}

void TWebAuth::SetUsers(std::vector<TWebUser> users) {
  std::map<QString, QString> fresh;
  for (TWebUser& u : users) fresh[u.Name] = std::move(u.Hash);
  std::erase_if(sessions_, [&](const auto& s) {
    const auto now = fresh.find(s.second.User);
    const auto before = users_.find(s.second.User);
    return now == fresh.end() || before == users_.end() || now->second != before->second;
  });
  users_ = std::move(fresh);
}

int64_t TWebAuth::WaitMs(const std::string& address) const {
  const auto it = failures_.find(address);
  if (it == failures_.end()) return 0;
  return std::max<int64_t>(0, it->second.Until - nowMs_());
}

TLoginOutcome TWebAuth::Login(const std::string& address, const QString& user, const QString& password,
                              std::string* sessionId) {
  if (WaitMs(address) > 0) return TLoginOutcome::Slowed;
  return Finish(address, user, CheckWebPassword(password, HashOf(user)) && users_.contains(user), sessionId);
}

QString TWebAuth::HashOf(const QString& user) const {
  // An unknown name costs as much as a known one, so that names cannot be told apart by time.
  static const QString kDummy = HashWebPassword(QString(), kPbkdf2Iterations);
  const auto it = users_.find(user);
  return it == users_.end() ? kDummy : it->second;
}

TLoginOutcome TWebAuth::Finish(const std::string& address, const QString& user, bool good,
                               std::string* sessionId) {
  // A check that ran while the address was made to wait counts for nothing.
  if (WaitMs(address) > 0) return TLoginOutcome::Slowed;
  const int64_t now = nowMs_();
  if (!good) {
    if (failures_.size() >= kMaxAddresses && !failures_.contains(address)) {
      std::erase_if(failures_, [now](const auto& f) { return f.second.Until <= now; });
      if (failures_.size() >= kMaxAddresses) failures_.erase(failures_.begin());
    }
    TFailures& f = failures_[address];
    ++f.Count;
    // 1 s after the free tries, doubling up to a minute.
    if (f.Count >= kFreeFailures) {
      const int doublings = std::min(f.Count - kFreeFailures, 16);
      f.Until = now + std::min<int64_t>(kLongestWaitMs, int64_t{1000} << doublings);
    }
    return TLoginOutcome::Wrong;
  }
  failures_.erase(address);
  std::erase_if(sessions_, [now](const auto& s) { return s.second.Expires <= now; });
  while (sessions_.size() >= kMaxSessions) {
    const auto oldest =
        std::min_element(sessions_.begin(), sessions_.end(),
                         [](const auto& a, const auto& b) { return a.second.Expires < b.second.Expires; });
    sessions_.erase(oldest);
  }
  std::string id = RandomToken();
  sessions_[id] = {user, RandomToken(), now + kSessionMs};
  if (sessionId) *sessionId = std::move(id);
  return TLoginOutcome::Ok;
}

const TWebSession* TWebAuth::Session(const std::string& id) {
  const auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  if (it->second.Expires <= nowMs_()) {
    sessions_.erase(it);
    return nullptr;
  }
  return &it->second;
}

void TWebAuth::Logout(const std::string& id) {
  sessions_.erase(id);
}

bool TWebAuth::MayChange(const std::string& id, const std::string& csrf) {
  const TWebSession* s = Session(id);
  return s != nullptr && !csrf.empty() && s->Csrf.size() == csrf.size() &&
         CRYPTO_memcmp(s->Csrf.data(), csrf.data(), csrf.size()) == 0;
}

}  // namespace vexa
