#pragma once
// The web view's settings: Config/WEB.ini beside MQTT.ini, written readable by the owner alone,
// since its [Users] group holds the web users' password hashes.

#include <QString>
#include <QStringList>
#include <optional>

namespace vexa {

inline constexpr int kDefaultWebPort = 8080;

// "ADDRESS:PORT" or "PORT" (then on 127.0.0.1); an IPv6 address in brackets.
struct TWebAddress {
  QString Host = QStringLiteral("127.0.0.1");
  int Port = kDefaultWebPort;
};
std::optional<TWebAddress> ParseWebAddress(const QString& text);

struct TWebSettings {
  bool Enabled = false;  // off until the operator turns it on
  QString Address = QStringLiteral("127.0.0.1");
  int Port = kDefaultWebPort;
  bool AnonymousView = false;  // viewing without a login; acknowledging always needs one
  QString CertFile;            // PEM; with KeyFile: HTTPS
  QString KeyFile;
  // The names the server may be asked by besides its addresses, "localhost" and the computer's own
  // name: a reverse proxy's or the plant's DNS name ("Hosts=scada.plant.local, scada").
  QStringList Hosts;
  QStringList FileProblems;  // as TBrokerSettings': named per key, the field keeps its default

  bool Tls() const { return !CertFile.isEmpty() || !KeyFile.isEmpty(); }
  // The file's problems, then the fields'; empty when usable.
  QStringList Problems() const;
  bool operator==(const TWebSettings& o) const {
    return Enabled == o.Enabled && Address == o.Address && Port == o.Port &&
           AnonymousView == o.AnonymousView && CertFile == o.CertFile && KeyFile == o.KeyFile &&
           Hosts == o.Hosts;
  }
};

QString WebSettingsPath(const QString& programFolder);
// A missing file gives the defaults (off); every key of [Web] is checked.
TWebSettings LoadWebSettings(const QString& programFolder);
// Writes [Web], keeping [Users]; mode 0600. False with the reason when it cannot be written.
bool SaveWebSettings(const QString& programFolder, const TWebSettings& settings, QString* why = nullptr);

// A web user as WEB.ini keeps it: "pbkdf2-sha256$ITERATIONS$SALT$HASH" (base64).
struct TWebUser {
  QString Name;
  QString Hash;
};
std::vector<TWebUser> LoadWebUsers(const QString& programFolder);
// Adds the user or replaces the password; mode 0600.
bool SaveWebUser(const QString& programFolder, const TWebUser& user, QString* why = nullptr);
// A name fit for a login and for the journal's "web:<name>": 1..32 letters, digits, '.', '_', '-'.
bool IsWebUserName(const QString& name);

}  // namespace vexa
