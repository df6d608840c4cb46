#include "core/CommInt.h"

#include <cerrno>

#include "core/Component.h"

namespace vexa {

int BaudRateBits(TBaudRate rate) {
  static constexpr int kBits[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                  19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return kBits[static_cast<int>(rate)];
}

ECommError::ECommError(const QString& text, int code)
    : std::runtime_error(QStringLiteral("%1 (Error: %2) ").arg(text).arg(code).toStdString()),
      text_(text),
      code_(code) {}

bool ECommError::AccessDenied() const {
  return code_ == EACCES || code_ == EPERM;
}

void TCustomComm::CheckClosed(bool changing) const {
  if (changing && Connected()) throw ECommError(QStringLiteral("Port already assigned (open)"), -1);
}

void TCustomComm::SetDeviceName(const QString& name) {
  CheckClosed(name != deviceName_);
  deviceName_ = name;
}

void TCustomComm::SetReadBufSize(int size) {
  CheckClosed(size != readBufSize_);
  readBufSize_ = size;
}

void TCustomComm::SetWriteBufSize(int size) {
  CheckClosed(size != writeBufSize_);
  writeBufSize_ = size;
}

// Each setting is applied to the open device when it changes.
void TCustomComm::SetBaudRate(TBaudRate v) {
  if (StoreIfDifferent(baudRate_, v)) ApplySettings();
}
void TCustomComm::SetParity(TParity v) {
  if (StoreIfDifferent(parity_, v)) ApplySettings();
}
void TCustomComm::SetStopbits(TStopbits v) {
  if (StoreIfDifferent(stopbits_, v)) ApplySettings();
}
void TCustomComm::SetDatabits(TDatabits v) {
  if (StoreIfDifferent(databits_, v)) ApplySettings();
}
void TCustomComm::SetOptions(unsigned v) {
  if (StoreIfDifferent(options_, v)) ApplySettings();
}
void TCustomComm::SetFlowControl(TFlowControl v) {
  if (StoreIfDifferent(flowControl_, v)) ApplySettings();
}

void TCustomComm::SetEventChars(const TCommEventChars& chars) {
  eventChars_ = chars;
  ApplySettings();
}

}  // namespace vexa
