#include "core/CustomRegister.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/Decimal.h"
#include "core/Line.h"
#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "core/Services.h"

namespace vexa {

const QStringList& RegisterTypeNames() {
  static const QStringList names = {QStringLiteral("Логический"),
                                    QStringLiteral("8-бит беззнаковый"),
                                    QStringLiteral("8-бит"),
                                    QStringLiteral("16-бит беззнаковый"),
                                    QStringLiteral("16-бит"),
                                    QStringLiteral("32-бит беззнаковый"),
                                    QStringLiteral("32-бит"),
                                    QStringLiteral("Вещественный"),
                                    QStringLiteral("Вещественный длинный"),
                                    QStringLiteral("Текстовый"),
                                    QStringLiteral("Неизвестный тип")};
  return names;
}

const QStringList& RegisterTypeIdentifiers() {
  static const QStringList names = {"rtBOOL", "rtUBYTE", "rtBYTE",   "rtUINT",   "rtINT",    "rtULONG",
                                    "rtLONG", "rtFLOAT", "rtDOUBLE", "rtASCIIZ", "rtUnknown"};
  return names;
}

const QStringList& IOResultIdentifiers() {
  static const QStringList names = {"iorOK", "iorFAIL", "iorWRONGDATA"};
  return names;
}

namespace {

bool IsFixedPoint(TRegisterType t) {
  return t >= rtUBYTE && t <= rtLONG;
}

// Raw range of the fixed-point and Boolean types; the 32-bit types are handled as signed.
std::pair<int64_t, int64_t> RawRange(TRegisterType t) {
  switch (t) {
    case rtBOOL:
      return {0, 1};
    case rtUBYTE:
      return {0, 255};
    case rtBYTE:
      return {-128, 127};
    case rtUINT:
      return {0, 65535};
    case rtINT:
      return {-32768, 32767};
    default:
      return {INT32_MIN, INT32_MAX};
  }
}

// What the type's bytes can carry, read as signed or as unsigned: -1 on a byte register goes out as
// 0xFF, but 100000 on a 16-bit register would reach the device as garbage.
std::pair<int64_t, int64_t> WireRange(TRegisterType t) {
  switch (t) {
    case rtUBYTE:
    case rtBYTE:
      return {-128, 255};
    case rtUINT:
    case rtINT:
      return {-32768, 65535};
    default:
      return {INT32_MIN, INT32_MAX};
  }
}

}  // namespace

TCustomRegister::TCustomRegister(TComponent* owner) : TRootNode(owner), rdTime_(Now()), wrTime_(Now()) {}

TCustomRegister::~TCustomRegister() {
  if (life_) life_->Gone = true;
}

std::shared_ptr<TRegisterLife> TCustomRegister::Life() {
  if (!life_) life_ = std::make_shared<TRegisterLife>();
  return life_;
}

const TClassInfo& TCustomRegister::StaticClassInfo() {
  using P = Props<TCustomRegister>;
  RegisterTextListConversions();
  static const TClassInfo info{
      "TCustomRegister",
      &TRootNode::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TCustomRegister(owner); },
      {
          P::Enum("RegisterType", RegisterTypeIdentifiers(), rtUnknown, &TCustomRegister::RegisterType,
                  &TCustomRegister::SetRegisterType),
          P::Enum("LastIOResult", IOResultIdentifiers(), iorFAIL, &TCustomRegister::LastIOResult,
                  &TCustomRegister::SetLastIOResult),
          P::String("LastStringData", &TCustomRegister::LastStringData, &TCustomRegister::SetLastStringData),
          // A register's history times; a command node keeps its cyclogram's seconds here.
          P::StringList("Points", &TCustomRegister::Points, &TCustomRegister::SetPoints)
              .AtMostLines(kMaxHistory)
              .LinesAreDates(
                  [](const TPersistent& o) { return dynamic_cast<const TRegisterNode*>(&o) != nullptr; }),
          P::StringList("DataList", &TCustomRegister::DataList, &TCustomRegister::SetDataList)
              .AtMostLines(kMaxHistory),
          P::Int("MaxCount", 1200, &TCustomRegister::MaxCount, &TCustomRegister::SetMaxCount)
              .Within(1, kMaxHistory),
          // A cyclogram's pixels per second, halved and doubled by its buttons: past 2^-30 or 2^30 a
          // whole cyclogram is one pixel or beyond any screen.
          P::Float("XScale", &TCustomRegister::XScale, &TCustomRegister::SetXScale)
              .Within(kMinXScale, kMaxXScale),
          // A chart's zoom, stepped within 1/64 to 1024 (TValueAxis::kMinZoom..kMaxZoom).
          P::Float("YScale", &TCustomRegister::YScale, &TCustomRegister::SetYScale).Within(1.0 / 64, 1024.0),
          P::Int("Digits", 0, &TCustomRegister::Digits, &TCustomRegister::SetDigits).Within(0, kMaxDigits),
          P::Bool("UserCanREAD", true, &TCustomRegister::UserCanREAD, &TCustomRegister::SetUserCanREAD),
          P::Bool("UserCanWRITE", false, &TCustomRegister::UserCanWRITE, &TCustomRegister::SetUserCanWRITE),
          // The value properties are streamed as the last text (a read while streaming gives it, a
          // write is ignored); they reach no line.
          [] {
            TPropInfo p;
            p.Name = QStringLiteral("StringData");
            p.Kind = TPropKind::String;
            p.Get = [](const TPersistent& o) {
              return QVariant(const_cast<TCustomRegister&>(static_cast<const TCustomRegister&>(o))
                                  .StringData(TLineContext{}));
            };
            p.Set = [](TPersistent& o, const QVariant& v) {
              static_cast<TCustomRegister&>(o).SetStringData(TLineContext{}, v.toString());
            };
            return p;
          }(),
          [] {
            TPropInfo p;
            p.Name = QStringLiteral("FloatData");
            p.Kind = TPropKind::Float;
            p.Get = [](const TPersistent& o) {
              return QVariant(const_cast<TCustomRegister&>(static_cast<const TCustomRegister&>(o))
                                  .FloatData(TLineContext{}));
            };
            p.GetFloat = [](const TPersistent& o) {
              return const_cast<TCustomRegister&>(static_cast<const TCustomRegister&>(o))
                  .FloatData(TLineContext{});
            };
            p.Set = [](TPersistent& o, const QVariant& v) {
              static_cast<TCustomRegister&>(o).SetFloatData(TLineContext{}, v.toDouble());
            };
            return p;
          }(),
          P::Int("Count", std::nullopt, &TCustomRegister::Count, nullptr),
          P::Int("RDElapsed", std::nullopt, &TCustomRegister::RDElapsed, nullptr),
          P::Int("WRElapsed", std::nullopt, &TCustomRegister::WRElapsed, nullptr),
      }};
  return info;
}

void TCustomRegister::Assign(const TPersistent& source) {
  TRootNode::Assign(source);
  if (const auto* src = dynamic_cast<const TCustomRegister*>(&source)) {
    SetRegisterType(src->registerType_);
    lastIOResult_ = src->lastIOResult_;
    lastStringData_ = src->lastStringData_;
    SetMaxCount(src->maxCount_);
    SetXScale(src->xScale_);
    SetYScale(src->yScale_);
    digits_ = src->digits_;
    SetUserCanREAD(src->userCanRead_);
    SetUserCanWRITE(src->userCanWrite_);
    points_ = src->points_;
    dataList_ = src->dataList_;
  }
  SetChanged(true);
}

void TCustomRegister::Refresh(const TLineContext& line) {
  if (Enabled()) StringData(line);
}

std::unique_ptr<TCustomRegister> TCustomRegister::DetachedCopy() const {
  auto copy = std::make_unique<TCustomRegister>(nullptr);
  copy->SetName(Name());
  copy->registerType_ = registerType_;
  copy->lastIOResult_ = lastIOResult_;
  copy->lastStringData_ = lastStringData_;  // the simulator wanders from it
  copy->digits_ = digits_;
  copy->userCanRead_ = userCanRead_;
  copy->userCanWrite_ = userCanWrite_;
  copy->rdTime_ = rdTime_.load();
  copy->wrTime_ = wrTime_;
  return copy;
}

void TCustomRegister::TakeWrite(const TCustomRegister& copy, const QString& textBefore) {
  wrTime_ = copy.wrTime_;
  lastIOResult_ = copy.lastIOResult_;
  if (copy.lastStringData_ != textBefore) lastStringData_ = copy.lastStringData_;
}

void TCustomRegister::Submit(const TLineContext& line, TWriteValue value, TWriteDone done) {
  // Without a line there is no writer: refused at once.
  if (line.Line == nullptr)
    TLineWriter::Refuse(*this, line, std::move(value), std::move(done));
  else
    line.Line->Writer().Submit(*this, line, std::move(value), std::move(done));
}

void TCustomRegister::SubmitStringData(const TLineContext& line, const QString& value, TWriteDone done) {
  Submit(line, TWriteValue::OfText(value), std::move(done));
}

void TCustomRegister::SubmitFloatData(const TLineContext& line, double value, TWriteDone done) {
  Submit(line, TWriteValue::OfNumber(value), std::move(done));
}

void TCustomRegister::TakeRead(const TCustomRegister& copy) {
  SetRegisterType(copy.registerType_);
  SetUserCanWRITE(copy.userCanWrite_);
  SetUserCanREAD(copy.userCanRead_);
  rdTime_ = copy.rdTime_.load();
  lastIOResult_ = copy.lastIOResult_;
  lastStringData_ = copy.lastStringData_;
}

void TCustomRegister::SetRegisterType(TRegisterType value) {
  StoreChanged(registerType_, value);
}
void TCustomRegister::SetMaxCount(int value) {
  StoreChanged(maxCount_, value);
}
void TCustomRegister::SetXScale(double value) {
  StoreChanged(xScale_, value);
}
void TCustomRegister::SetYScale(double value) {
  StoreChanged(yScale_, value);
}
void TCustomRegister::SetUserCanREAD(bool value) {
  StoreChanged(userCanRead_, value);
}
void TCustomRegister::SetUserCanWRITE(bool value) {
  StoreChanged(userCanWrite_, value);
}

void TCustomRegister::FillAddress(const QString& name, uint8_t& address, uint8_t& channel, uint8_t& reg) {
  const auto a = StrToInt(name.mid(1, 3));
  const auto c = StrToInt(name.mid(5, 3));
  const auto r = StrToInt(name.mid(9, 3));
  if (!a || !c || !r) {
    address = channel = reg = 0;
    return;
  }
  address = static_cast<uint8_t>(*a);
  channel = static_cast<uint8_t>(*c);
  reg = static_cast<uint8_t>(*r);
}

QString TCustomRegister::RegisterName(int address, int channel, int reg) {
  return QString::asprintf("D%03dC%03dR%03d", address, channel, reg);
}

void TCustomRegister::BuildRequest(TRegisterFrame& frame, uint8_t command) const {
  frame = TRegisterFrame{};
  FillAddress(Name(), frame.Data[kFrameAddress], frame.Data[kFrameChannel], frame.Data[kFrameRegister]);
  frame.Data[kFrameCommand] = command;
  frame.Length = kFrameHeader;
}

TExchange TCustomRegister::Exchange(const TLineContext& line, TRegisterFrame& frame) {
  TRegisterState state{registerType_, digits_, userCanRead_, userCanWrite_, lastStringData_};
  const TExchange result = Transact(line, frame, registerType_, state);
  if (line.Simulation) {
    SetRegisterType(state.Type);
    SetUserCanREAD(state.CanRead);
    SetUserCanWRITE(state.CanWrite);
    if (state.Shown != lastStringData_) lastStringData_ = state.Shown;  // a write kept
  }
  return result;
}

QString TCustomRegister::StringData(const TLineContext& line) {
  if (Guarded()) return lastStringData_;
  lastExchange_ = TExchange::NoLine;
  if (!userCanRead_) {
    lastIOResult_ = iorFAIL;
    return kFailedText;
  }
  rdTime_ = Now();
  lastIOResult_ = iorOK;
  TRegisterFrame frame;
  BuildRequest(frame, cmdRead);
  QString text;
  lastExchange_ = Exchange(line, frame);
  if (lastExchange_ != TExchange::Answered) {
    lastIOResult_ = iorFAIL;
  } else {
    const uint8_t t = frame.Data[kFrameType];
    const int code = t & kTypeCodeMask;
    SetRegisterType(code <= rtASCIIZ ? static_cast<TRegisterType>(code) : rtUnknown);
    SetUserCanWRITE((t & kTypeCanWrite) != 0);
    SetUserCanREAD((t & kTypeCanRead) != 0);
    uint8_t data[kMaxTextBytes + 1] = {};
    const int available = std::clamp(frame.Length - (kFrameData + 1), 0, kMaxTextBytes + 1);
    if (registerType_ == rtASCIIZ)
      std::memcpy(data, frame.Data + kFrameData, static_cast<size_t>(available));
    else if (registerType_ != rtUnknown)
      std::memcpy(data, frame.Data + kFrameData,
                  static_cast<size_t>(RegisterTypeSizes[static_cast<size_t>(registerType_)]));
    auto le = [&data](int n) {
      uint32_t v = 0;
      for (int i = 0; i < n; ++i) v |= uint32_t(data[i]) << (8 * i);
      return v;
    };
    switch (registerType_) {
      case rtBOOL:
        text = data[0] != 0 ? QStringLiteral("1") : QStringLiteral("0");
        break;
      case rtUBYTE:
        text = QString::number(data[0]);
        break;
      case rtBYTE:
        text = QString::number(static_cast<int8_t>(data[0]));
        break;
      case rtUINT:
        text = QString::number(le(2));
        break;
      case rtINT:
        text = QString::number(static_cast<int16_t>(le(2)));
        break;
      case rtULONG:
      case rtLONG:
        text = QString::number(static_cast<int32_t>(le(4)));
        break;
      case rtFLOAT:
      case rtDOUBLE: {
        double v = 0;
        if (registerType_ == rtFLOAT) {
          float f = 0;
          std::memcpy(&f, data, 4);
          v = f;
        } else {
          std::memcpy(&v, data, 8);
        }
        if (std::isfinite(v))
          text = FormatFixed(v, digits_);
        else
          lastIOResult_ = iorFAIL;  // a value that has no decimal text
        break;
      }
      case rtASCIIZ: {
        const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, sizeof data));
        text = FromCp1251(
            QByteArray(reinterpret_cast<const char*>(data), end ? int(end - data) : kMaxTextBytes));
        break;
      }
      case rtUnknown:
        lastIOResult_ = iorFAIL;
        break;
    }
  }
  QString result;
  if (lastIOResult_ == iorFAIL)
    result = kFailedText;
  else if (IsFixedPoint(registerType_))
    result = FixedText(text.toLongLong(), digits_);
  else
    result = text;
  lastStringData_ = result;
  return result;
}

void TCustomRegister::FailUnasked() {
  rdTime_ = Now();
  lastIOResult_ = iorFAIL;
  lastStringData_ = kFailedText;
  lastExchange_ = TExchange::Unanswered;
}

double TCustomRegister::FloatData(const TLineContext& line) {
  if (Guarded()) return StrToFloat(lastStringData_).value_or(0.0);
  if (!userCanRead_) {
    lastIOResult_ = iorFAIL;
    return 0;
  }
  const std::optional<double> v = StrToFloat(StringData(line));
  lastIOResult_ = v ? iorOK : iorFAIL;
  const double result = v.value_or(0.0);
  lastStringData_ = FloatToStr(result);
  return result;
}

bool TCustomRegister::IsValidValue(const QString& text) const {
  const QChar sep = FormatSettings().DecimalSeparator;
  switch (registerType_) {
    case rtBOOL:
      if (digits_ == 0) return StrToInt(text, 0, 1).has_value();
      return StrToFloat(text).has_value();
    case rtUBYTE:
    case rtBYTE:
    case rtUINT:
    case rtINT:
    case rtULONG:
    case rtLONG: {
      const auto [lo, hi] = RawRange(registerType_);
      if (digits_ == 0) return StrToInt(text, lo, hi).has_value();
      // With decimals the scaled raw value must still fit the register's bytes.
      const auto d = ParseDecimal(text, sep);
      if (!d) return false;
      const auto raw = ScaleDecimal(*d, digits_, TRounding::TiesToEven);
      const auto [wlo, whi] = WireRange(registerType_);
      return raw && *raw >= wlo && *raw <= whi;
    }
    case rtFLOAT:
    case rtDOUBLE:
      return StrToFloat(text).has_value();
    case rtASCIIZ:
      return text.size() <= kMaxTextBytes;
    case rtUnknown:
      return false;
  }
  return false;
}

void TCustomRegister::SendWrite(const TLineContext& line, const uint8_t* data, int size) {
  wrTime_ = Now();
  lastIOResult_ = iorOK;
  TRegisterFrame frame;
  BuildRequest(frame, cmdWrite);
  // Only writable registers send writes: the write right is always set.
  frame.Data[kFrameType] = TypeByte(registerType_, userCanRead_, true);
  std::memcpy(frame.Data + kFrameData, data, static_cast<size_t>(size));
  frame.Length = kFrameData + size;
  // The line stays quiet through the pause after a write, also for the poller's reads.
  std::unique_lock<std::recursive_mutex> lineLock;
  if (line.Line != nullptr) lineLock = line.Line->Lock();
  lastIOResult_ = Exchange(line, frame) == TExchange::Answered ? iorOK : iorFAIL;
  // No line at all (a property set outside a stream): there is nothing to keep quiet.
  if (line.Line != nullptr) Services().Clock->Sleep(100);
}

void TCustomRegister::WriteRaw(const TLineContext& line, int32_t raw) {
  uint8_t data[4];
  for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(static_cast<uint32_t>(raw) >> (8 * i));
  SendWrite(line, data, registerType_ == rtBOOL ? 1 : RegisterTypeSizes[static_cast<size_t>(registerType_)]);
}

void TCustomRegister::SetStringData(const TLineContext& line, const QString& value) {
  if (Guarded() || registerType_ == rtUnknown) return;
  if (!userCanWrite_) {
    lastIOResult_ = iorFAIL;
    return;
  }
  if (!IsValidValue(value)) return;
  switch (registerType_) {
    case rtBOOL:
      WriteRaw(line, StrToFloat(value).value_or(0) >= 0.5 ? 0xFF : 0x00);
      break;
    case rtFLOAT: {
      const auto f = static_cast<float>(StrToFloat(value).value_or(0));
      uint8_t data[4];
      std::memcpy(data, &f, 4);
      SendWrite(line, data, 4);
      break;
    }
    case rtDOUBLE: {
      const double v = StrToFloat(value).value_or(0);
      uint8_t data[8];
      std::memcpy(data, &v, 8);
      SendWrite(line, data, 8);
      break;
    }
    case rtASCIIZ: {
      QByteArray bytes = ToCp1251(value);
      bytes.append('\0');
      SendWrite(line, reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
      break;
    }
    default: {
      const auto d = ParseDecimal(value, FormatSettings().DecimalSeparator);
      const auto raw = d ? ScaleDecimal(*d, digits_, TRounding::TiesToEven) : std::nullopt;
      if (raw) WriteRaw(line, static_cast<int32_t>(*raw));  // in range: IsValidValue checked it
      break;
    }
  }
}

void TCustomRegister::SetFloatData(const TLineContext& line, double value) {
  if (Guarded() || registerType_ == rtUnknown) return;
  if (!userCanWrite_) {
    lastIOResult_ = iorFAIL;
    return;
  }
  switch (registerType_) {
    case rtBOOL:
      WriteRaw(line, value >= 0.5 ? 0xFF : 0x00);
      break;
    case rtFLOAT: {
      const auto f = static_cast<float>(value);
      uint8_t data[4];
      std::memcpy(data, &f, 4);
      SendWrite(line, data, 4);
      break;
    }
    case rtDOUBLE: {
      uint8_t data[8];
      std::memcpy(data, &value, 8);
      SendWrite(line, data, 8);
      break;
    }
    case rtASCIIZ: {
      QByteArray bytes = ToCp1251(FloatToStr(value));
      bytes.append('\0');
      SendWrite(line, reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
      break;
    }
    default: {
      // Truncated toward zero on the decimal digits the number stands for (0.29 x 100 is 29).
      const auto d = DecimalOf(value);
      const auto raw = d ? ScaleDecimal(*d, digits_, TRounding::TowardZero) : std::nullopt;
      const auto [lo, hi] = WireRange(registerType_);
      if (!raw || *raw < lo || *raw > hi) {
        lastIOResult_ = iorFAIL;  // would wrap on the wire: nothing is sent
        return;
      }
      WriteRaw(line, static_cast<int32_t>(*raw));
      break;
    }
  }
}

void TCustomRegister::AddToHistory() {
  if (dataList_.size() >= maxCount_ && !dataList_.isEmpty()) {
    dataList_.removeFirst();
    if (!points_.isEmpty()) points_.removeFirst();
  }
  dataList_.append(lastStringData_);
  points_.append(DateTimeToStr(rdTime_));
  SetChanged(true);
}

void TCustomRegister::ClearHistory() {
  dataList_.clear();
  points_.clear();
  SetChanged(true);
}

int TCustomRegister::RDElapsed() const {
  return ElapsedSeconds(rdTime_);
}
int TCustomRegister::WRElapsed() const {
  return ElapsedSeconds(wrTime_);
}

double LastNumber(const TCustomRegister& reg) {
  const QString& text = reg.LastStringData();
  const QChar separator = FormatSettings().DecimalSeparator;
  bool ok = false;
  // Whole numbers, the most of them, are read without a copy.
  const double value = separator != QLatin1Char('.') && text.contains(separator)
                           ? QString(text).replace(separator, QLatin1Char('.')).toDouble(&ok)
                           : text.toDouble(&ok);
  return ok ? value : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace vexa
