#pragma once
// The serial port: TCustomComm is the seam the exchange talks to (a fake port in tests, the POSIX
// terminal port TComm in the program), with its settings and its error.

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace vexa {

enum TBaudRate {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits { sb10, sb15, sb20 };
enum TDatabits { da4, da5, da6, da7, da8 };
enum TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : unsigned {
  coParityCheck = 1,
  coDsrSensitivity = 2,
  coIgnoreXOff = 4,
  coErrorChar = 8,
  coNullStrip = 16
};

// Bit/s of a TBaudRate value.
int BaudRateBits(TBaudRate rate);

// What a port's system error code means to the operator, in Russian: "порт занят другой программой".
QString PortErrorText(int code);

// Error of the port: message is the text followed by " (Error: %d) ".
class ECommError : public std::runtime_error {
 public:
  ECommError(const QString& text, int code);
  int ErrorCode() const { return code_; }
  QString Text() const { return text_; }
  QString Message() const { return QString::fromUtf8(what()); }
  // The device refused the user (EACCES, EPERM): Text() then tells the operator the fix.
  bool AccessDenied() const;
  // The error as the operator reads it, in Russian words (Text() and Message() stay the port's
  // own English texts, which logs and traces keep).
  QString UserText() const;

 private:
  QString text_;
  int code_;
};

struct TCommEventChars {
  char XonChar = 17;
  char XoffChar = 19;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

class TCustomComm {
 public:
  virtual ~TCustomComm() = default;

  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  // Both return -1 on time-out, else the number of bytes moved; a read never waits for more bytes
  // than have arrived.
  virtual int Write(const uint8_t* buffer, int count) = 0;
  virtual int Read(uint8_t* buffer, int count) = 0;
  // -1 when closed, else the bytes waiting in the input queue.
  virtual int InQueCount() = 0;
  virtual void PurgeIn() = 0;
  virtual void PurgeOut() = 0;
  virtual void SetDTR(bool on) = 0;
  virtual void SetRTS(bool on) = 0;
  // Applies speed, framing and flow control to the open device; nothing when closed.
  virtual void ApplySettings() {}
  // True once the device behind the open port went away (an unplugged adapter, the other end of a
  // pseudo-terminal closed): the port has closed itself and stays lost until it is reopened.
  virtual bool Lost() const { return false; }
  // Why the port was lost, in the operator's words ("устройство отключено"); empty when not lost.
  virtual QString LostReason() const { return {}; }
  // A lost port opens its device again, at most once a second; true when it is open again.
  virtual bool Reopen() { return !Lost(); }

  QString DeviceName() const { return deviceName_; }
  // Only while closed: a different name on an open port raises "Port already assigned (open)".
  void SetDeviceName(const QString& name);
  int ReadTimeout() const { return readTimeout_; }
  void SetReadTimeout(int ms) { readTimeout_ = ms; }
  int WriteTimeout() const { return writeTimeout_; }
  void SetWriteTimeout(int ms) { writeTimeout_ = ms; }
  int ReadBufSize() const { return readBufSize_; }
  void SetReadBufSize(int size);
  int WriteBufSize() const { return writeBufSize_; }
  void SetWriteBufSize(int size);

  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate v);
  TParity Parity() const { return parity_; }
  void SetParity(TParity v);
  TStopbits Stopbits() const { return stopbits_; }
  void SetStopbits(TStopbits v);
  TDatabits Databits() const { return databits_; }
  void SetDatabits(TDatabits v);
  unsigned Options() const { return options_; }
  void SetOptions(unsigned v);
  TFlowControl FlowControl() const { return flowControl_; }
  void SetFlowControl(TFlowControl v);
  const TCommEventChars& EventChars() const { return eventChars_; }
  void SetEventChars(const TCommEventChars& chars);

  // Whether the operator was told that this port is lost; kept by the exchange (with the line
  // held), so a loss and a return are told once each.
  bool LossTold() const { return lossTold_; }
  void SetLossTold(bool told) { lossTold_ = told; }

 protected:
  void CheckClosed(bool changing) const;

 private:
  QString deviceName_ = QStringLiteral("Com2");
  int readTimeout_ = 1000;
  int writeTimeout_ = 1000;
  int readBufSize_ = 4096;
  int writeBufSize_ = 2048;
  TBaudRate baudRate_ = br9600;
  TParity parity_ = paNone;
  TStopbits stopbits_ = sb10;
  TDatabits databits_ = da8;
  unsigned options_ = 0;
  TFlowControl flowControl_ = fcDefault;
  TCommEventChars eventChars_;
  bool lossTold_ = false;
};

}  // namespace vexa
