#include "core/CommInt.h"

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

// Each setting is stored when it differs and applied to the open device.
#define VEXA_COMM_SETTER(Name, Type, field) \
  void TCustomComm::Set##Name(Type v) {     \
    if (field == v) return;                 \
    field = v;                              \
    ApplySettings();                        \
  }
VEXA_COMM_SETTER(BaudRate, TBaudRate, baudRate_)
VEXA_COMM_SETTER(Parity, TParity, parity_)
VEXA_COMM_SETTER(Stopbits, TStopbits, stopbits_)
VEXA_COMM_SETTER(Databits, TDatabits, databits_)
VEXA_COMM_SETTER(Options, unsigned, options_)
VEXA_COMM_SETTER(FlowControl, TFlowControl, flowControl_)
#undef VEXA_COMM_SETTER

void TCustomComm::SetEventChars(const TCommEventChars& chars) {
  eventChars_ = chars;
  ApplySettings();
}

}  // namespace vexa
