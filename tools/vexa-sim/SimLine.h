#pragma once
// The line side of vexa-sim: picking request frames out of a noisy byte stream, and a
// pseudo-terminal whose answers leave at the pace of a real line, with injected faults.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "core/FileDescriptor.h"
#include "core/Services.h"

namespace vexa::sim {

// Collects received bytes and hands out request frames with a valid CRC. Bytes that cannot begin
// one are noise: they are skipped so the next request is still found.
class TRequestReader {
 public:
  void Feed(const QByteArray& bytes);
  // The next complete request; `skipped` counts the noise bytes dropped before it.
  std::optional<QByteArray> Next(int* skipped = nullptr);
  // Drops what is left (a partial frame that will never complete); returns how many bytes.
  int Discard();
  int Pending() const { return static_cast<int>(buffer_.size()); }

 private:
  // Length of a request starting at `at`: > 0 complete length, 0 not all there yet, -1 impossible.
  int LengthAt(int at) const;

  QByteArray buffer_;
};

// How often the line spoils an answer, and how late every answer leaves.
struct TFaultRates {
  double Drop = 0;
  double Garble = 0;
  double Split = 0;
  int DelayMs = 0;
};

class TSimLine {
 public:
  TSimLine(int baud, TFaultRates faults, TRandomGenerator& random, std::function<void(const QString&)> log);
  ~TSimLine();
  TSimLine(const TSimLine&) = delete;
  TSimLine& operator=(const TSimLine&) = delete;

  // Opens the pseudo-terminal and points `link` at its slave side. Returns an error text on failure.
  QString Start(const QString& link);
  int MasterFd() const { return master_.Get(); }
  QString SlaveName() const { return slaveName_; }

  // Reads what the master side has received (empty when nothing).
  QByteArray Receive();
  // Answers a request that arrived at `receivedAtNs` (steady clock), after the request's own line
  // time, the turnaround and the extra delay, paced byte by byte, with the faults drawn.
  void Send(QByteArray answer, int requestLength, int64_t receivedAtNs);

  static int64_t NowNs();

 private:
  // False when a stop signal is waiting: the answer is abandoned.
  bool SleepUntil(int64_t ns) const;
  bool WriteByte(char byte);

  double byteNs_;
  TFaultRates faults_;
  TRandomGenerator& random_;
  std::function<void(const QString&)> log_;
  TFileDescriptor master_;
  TFileDescriptor slave_;  // held open so the master never sees a hang-up between clients
  QString link_;
  QString slaveName_;
};

}  // namespace vexa::sim
