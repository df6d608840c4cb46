#pragma once
// TSingleInstance: the rule of one running copy of the program, and how a later copy asks the
// running one to come forward.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/FileDescriptor.h"

class QSocketNotifier;

namespace vexa {

// One running copy per user, announced by a local (Unix domain) socket named "Vexa" in the user's
// runtime folder; a copy started with its own program folder (vexa --dir) is one per folder instead,
// under a name made from that folder. A second copy that is told to stop asks the first one to come
// forward with the line "activate"; the first answers "activated" once it has done so.
class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit TSingleInstance(QObject* parent = nullptr);
  ~TSingleInstance() override;

  // The socket path of the current user, or of the user's copy on `folder` when one is given.
  static QString ServerName(const QString& folder = {});
  // True when another copy answers on the socket.
  static bool OtherInstanceRunning(const QString& folder = {});
  // Asks the running copy to come forward; true when it confirmed.
  static bool ActivateOtherInstance(int timeoutMs = 3000, const QString& folder = {});

  // Starts listening so later copies find this one; false when that failed (then no copy is
  // announced, as if none were running). The socket of a copy that ended without removing it is
  // replaced.
  bool Acquire(const QString& folder = {});
  bool Held() const;
  void Release();

  // Run in this copy when a later one asks it to come forward.
  std::function<void()> OnActivate;

 private:
  struct TClient;
  void Accept();
  void Serve(TClient& client);

  TFileDescriptor fd_;
  QString path_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<std::unique_ptr<TClient>> clients_;
};

}  // namespace vexa
