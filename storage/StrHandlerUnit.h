#pragma once
// Component streams: one persistent object as a self-describing record of bytes (class name,
// component name, its published properties), and TStrHandler, which binds the writer and the reader
// to the stream "Object" of one storage level.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <variant>
#include <vector>

#include "core/Component.h"
#include "core/TextList.h"

namespace vexa {

class TStgHandler;

// A stream or a file that cannot be read as what it claims to be.
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const QString& message);
  QString Message() const { return QString::fromUtf8(what()); }
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

// 80-bit extended precision, little-endian: 8 bytes of mantissa with the explicit integer bit, then
// 15 bits of exponent and the sign. Converted by bit arithmetic, rounding to nearest even.
std::array<uint8_t, 10> DoubleToExtended(double value);
double ExtendedToDouble(const uint8_t* bytes);

// Colour and font character-set names of the stream format.
bool ColorToIdent(qint64 colour, QString* ident);
bool IdentToColor(const QString& ident, qint64* colour);
bool CharsetToIdent(qint64 charset, QString* ident);
bool IdentToCharset(const QString& ident, qint64* charset);

// One decoded value of a property record.
struct TStreamValue {
  TValueTag Tag = vaNull;
  qint64 Int = 0;     // vaInt8/16/32
  double Float = 0;   // vaExtended
  QString Text;       // vaString, vaLString, vaIdent
  QStringList Items;  // vaSet identifiers
  // vaList elements: all in Lines while every element is text (string lists, histories of thousands
  // of entries), else all in List.
  TTextList Lines;
  std::vector<TStreamValue> List;
};

struct TStreamRecord {
  QString Name;  // dotted path, e.g. Font.Height or Points.Strings
  TStreamValue Value;
};

// The parsed form of a stream, before any object exists.
struct TParsedStream {
  QString ClassName;
  QString Name;
  std::vector<TStreamRecord> Records;
};

// Parses the bytes of a component stream; raises EStreamError for anything malformed. Bytes after
// the final end tag are ignored.
TParsedStream ParseComponentStream(const QByteArray& bytes);
// A value as text for listings: 12, 1,5 (decimal point), 'text', rtINT, [fsBold], ('a', 'b'), nil.
QString StreamValueText(const TStreamValue& value);

// The component stream of one object. Marks it as being written meanwhile, so registers answer
// from their cached values and never touch the line. Raises EStreamError for a name that does not
// fit the format.
QByteArray WriteComponent(TComponent& component);
// Reads one object from a component stream: a new instance of the named registered class with no
// owner, its properties assigned while it is marked as loading and reading, then told Loaded.
// Raises EStreamError for a malformed stream; nothing is left behind then.
std::unique_ptr<TComponent> ReadComponent(const QByteArray& bytes);

class TStrHandler {
 public:
  // Write mode: opens the stream `name` of the storage when it already lists it, else creates it.
  static std::unique_ptr<TStrHandler> Create(const QString& name, TStgHandler* storage);
  // Read mode: opens the existing stream `name` of a valid storage.
  static std::unique_ptr<TStrHandler> Open(const QString& name, TStgHandler* storage);

  TStrHandler(const TStrHandler&) = delete;
  TStrHandler& operator=(const TStrHandler&) = delete;

  bool Valid() const { return stream_ != nullptr; }
  // The text of the failure that left the handler invalid (never shown to the operator).
  const QString& ErrorText() const { return error_; }

  // Overwrites the stream from its start; longer old content stays behind the end.
  void SaveComponent(TComponent& component);
  // On success target's previous object is destroyed and target holds the new ownerless one; an
  // invalid handler leaves target alone; a malformed stream raises and leaves target alone.
  void LoadComponent(std::unique_ptr<TComponent>& target);

 private:
  TStrHandler() = default;
  QByteArray* stream_ = nullptr;
  QString error_;
};

}  // namespace vexa
