#pragma once
// What the writer, the parser and the reader of component streams share: the error they raise and
// the value tags of the format.

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace vexa {

// A stream or a file that cannot be read as what it claims to be.
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

// A parsed stream that its class, its component name or one of its records makes unusable, with
// the part to blame, so that a text form can point at it.
class EStreamRecordError : public EStreamError {
 public:
  enum TPart { rpClassName, rpComponentName, rpPropertyName, rpValue };
  EStreamRecordError(const QString& message, TPart part, int record = -1)
      : EStreamError(message), Part(part), Record(record) {}
  TPart Part;
  int Record;  // index among the records; -1 for the class and the component name
};

// Value tags of the stream format.
enum TValueTag : uint8_t {
  vaNull = 0x00,
  vaList = 0x01,
  vaInt8 = 0x02,
  vaInt16 = 0x03,
  vaInt32 = 0x04,
  vaExtended = 0x05,
  vaString = 0x06,
  vaIdent = 0x07,
  vaFalse = 0x08,
  vaTrue = 0x09,
  vaSet = 0x0B,
  vaLString = 0x0C,
  vaNil = 0x0D,
};

// Integers are 32-bit in the format; colours above 0x7FFFFFFF travel as negative numbers.
inline qint64 AsInt32(qint64 v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

}  // namespace vexa
