#pragma once
// TComm: the serial port over a POSIX terminal device (termios).
//
// Reads never wait: they return what has arrived, up to the count asked for, because the exchange
// asks for the count of waiting bytes first and reads only that. Writes wait at most WriteTimeout ms.
// The kernel owns the terminal's buffer sizes, so ReadBufSize and WriteBufSize are not applied.
// Of the driver options only coParityCheck has a termios counterpart (INPCK); the others are kept
// but have no effect. fcDTR (DSR/DTR handshaking) is refused: Linux terminals do not provide it.

#include <QString>
#include <mutex>

#include "core/CustomComm.h"

namespace vexa {

// The device a DeviceName opens: "COMn" (any case, n from 1) is <folder>/Ports/COMn when that entry
// exists (also as a dangling link, so a vanished simulator gives a clear error instead of another
// port), else /dev/ttyUSB<n-1>; any other name is a path used as it is.
QString PortDevicePath(const QString& deviceName, const QString& folder);

// What the operator reads when the device refuses the user (EACCES, EPERM): the device's mode, owner
// and group as `ls -l` shows them, and the fix, membership of that group (named, e.g. dialout).
QString PortAccessDeniedText(const QString& devicePath);

class TComm : public TCustomComm {
 public:
  // COMn names open <folder>/Ports/COMn when it is there (PortDevicePath).
  explicit TComm(QString folder = {}) : folder_(std::move(folder)) {}
  ~TComm() override;
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  void Open() override;
  void Close() override;
  bool Connected() const override;
  int Write(const uint8_t* buffer, int count) override;
  int Read(uint8_t* buffer, int count) override;
  int InQueCount() override;
  void PurgeIn() override;
  void PurgeOut() override;
  void SetDTR(bool on) override;
  void SetRTS(bool on) override;
  void ApplySettings() override;
  bool Lost() const override;
  QString LostReason() const override;
  bool Reopen() override;

 private:
  QString folder_;
  // The device, set up and locked; the caller holds lock_.
  void OpenDevice();
  void CloseDevice();
  void SetModemLine(int bit, bool on);
  // The termios settings of the properties onto an open descriptor; the caller holds lock_.
  void ApplySettingsTo(int fd);
  // The device went away: the port closes itself, is marked lost and raises `text` with `code`.
  [[noreturn]] void FailLost(const char* text, int code);

  int fd_ = -1;
  bool lost_ = false;
  int lostCode_ = 0;
  int64_t lastReopenMs_ = 0;  // the tick of the loss or of the last attempt to reopen
  // The modem lines as last set, restored when a lost port is reopened: an RS-485 converter may
  // switch its direction by them.
  int dtr_ = -1;
  int rts_ = -1;
  // Every operation holds it: the poller's exchange and the settings window may reach the port
  // from different threads, and a descriptor must never be closed or reconfigured under a
  // running call. The property fields themselves belong to the thread that configures the port.
  mutable std::mutex lock_;
};

}  // namespace vexa
