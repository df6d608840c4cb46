#include "core/CustomComm.h"

#include <cerrno>
#include <cstring>

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

QString PortErrorText(int code) {
  switch (code) {
    case EAGAIN:  // flock: another program holds the device
    case EBUSY:
      return QStringLiteral("порт занят другой программой");
    case ENOENT:
    case ENODEV:
      return QStringLiteral("устройство не найдено");
    case EIO:
    case ENXIO:
    case EPIPE:
      return QStringLiteral("устройство отключено");
    case EACCES:
    case EPERM:
      return QStringLiteral("нет прав на порт");
    case EBADF:
      return QStringLiteral("порт закрыт");
    case ENOTTY:
      return QStringLiteral("устройство не является последовательным портом");
    case EINVAL:
      return QStringLiteral("устройство не принимает эти настройки");
    default:
      return QStringLiteral("системная ошибка %1 (%2)")
          .arg(code)
          .arg(QString::fromLocal8Bit(std::strerror(code)));
  }
}

QString ECommError::UserText() const {
  if (AccessDenied()) return text_;
  if (code_ != -1) return PortErrorText(code_);
  // The port's own refusals carry no system code.
  if (text_.startsWith(QLatin1String("Port already assigned"))) return QStringLiteral("порт уже открыт");
  if (text_.startsWith(QLatin1String("Invalid device handle")))
    return QStringLiteral("устройство не является последовательным портом");
  if (text_.startsWith(QLatin1String("Port not open"))) return QStringLiteral("порт не открыт");
  return QStringLiteral("ошибка порта (%1)").arg(text_);
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
