#pragma once
// Who may look and who may acknowledge: the users' PBKDF2 hashes, the sessions behind the cookies,
// each with its CSRF token, and the logins slowed down per address. Used on the web server's thread
// only; the clock is given, so tests step it.

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "web/WebSettings.h"

namespace vexa {

inline constexpr int kPbkdf2Iterations = 100000;

// "pbkdf2-sha256$ITERATIONS$SALT$HASH" with a fresh 16-byte salt.
QString HashWebPassword(const QString& password, int iterations = kPbkdf2Iterations);
// Compared in constant time; false for a stored text of another form.
bool CheckWebPassword(const QString& password, const QString& stored);
// 32 random bytes as 43 characters of URL-safe base64 (a session id, a CSRF token).
std::string RandomToken();

struct TWebSession {
  QString User;
  std::string Csrf;
  int64_t Expires = 0;  // on the given clock
};

enum class TLoginOutcome { Ok, Wrong, Slowed };

class TWebAuth {
 public:
  static constexpr int64_t kSessionMs = 12 * 3600 * 1000;
  static constexpr int kFreeFailures = 3;  // before the waits begin
  static constexpr int64_t kLongestWaitMs = 60000;
  static constexpr size_t kMaxSessions = 1000;  // the oldest goes first
  static constexpr size_t kMaxAddresses = 10000;

  TWebAuth(std::vector<TWebUser> users, std::function<int64_t()> nowMs);
  // The users as the file now holds them: a user who is gone or whose password changed is logged
  // out at once.
  void SetUsers(std::vector<TWebUser> users);

  // A login from `address`: while the address waits after failures, refused without checking the
  // password. On success the new session's id.
  TLoginOutcome Login(const std::string& address, const QString& user, const QString& password,
                      std::string* sessionId);
  // The same in two steps, so that the hash is checked on another thread: the stored hash to check
  // a password against (a dummy's for an unknown name), then the check's outcome.
  QString HashOf(const QString& user) const;
  TLoginOutcome Finish(const std::string& address, const QString& user, bool good, std::string* sessionId);
  // How long the address still waits, 0 when it may try.
  int64_t WaitMs(const std::string& address) const;
  // The session of a cookie's id, while it lasts.
  const TWebSession* Session(const std::string& id);
  void Logout(const std::string& id);
  // A change is allowed when the session lasts and the token is its own.
  bool MayChange(const std::string& id, const std::string& csrf);
  size_t SessionCount() const { return sessions_.size(); }

 private:
  struct TFailures {
    int Count = 0;
    int64_t Until = 0;
  };
  std::map<QString, QString> users_;
  std::function<int64_t()> nowMs_;
  std::map<std::string, TWebSession> sessions_;
  std::map<std::string, TFailures> failures_;
};

}  // namespace vexa
