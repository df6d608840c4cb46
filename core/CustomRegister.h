#pragma once
// TCustomRegister: one register of one channel of one regulator, with its type, rights, last value,
// last outcome and a bounded history; reading and writing its value properties talks to the device.

#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>

#include "core/Frame.h"
#include "core/LineWriter.h"
#include "core/Protocol.h"
#include "core/RootNode.h"
#include "core/TextList.h"

namespace vexa {

const QStringList& RegisterTypeNames();        // display names, "Логический" ...
const QStringList& RegisterTypeIdentifiers();  // "rtBOOL" ...
const QStringList& IOResultIdentifiers();      // "iorOK" ...

inline const QString kFailedText = QStringLiteral("***");

// Decimal places a register may have: the register dialog offers 0..15; texts and the fixed-point
// scale are built from them.
inline constexpr int kMaxDigits = 15;
// The longest history a register keeps: a report's log of one window (its MaxCount, at most 8000
// samples). A history is never cut when MaxCount is lowered, so no list grows past the largest.
inline constexpr int kMaxHistory = 8000;

class TCustomRegister : public TRootNode {
 public:
  explicit TCustomRegister(TComponent* owner);
  ~TCustomRegister() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void Assign(const TPersistent& source) override;
  // When enabled: one read of StringData on the line, result discarded.
  virtual void Refresh(const TLineContext& line);

  TRegisterType RegisterType() const { return registerType_; }
  void SetRegisterType(TRegisterType value);
  TIOResult LastIOResult() const { return lastIOResult_; }
  void SetLastIOResult(TIOResult value) { lastIOResult_ = value; }
  const QString& LastStringData() const { return lastStringData_; }
  void SetLastStringData(const QString& value) { lastStringData_ = value; }
  // History: read times as text and the values read then, oldest first.
  const TTextList& Points() const { return points_; }
  void SetPoints(const TTextList& value) { points_ = value; }
  const TTextList& DataList() const { return dataList_; }
  void SetDataList(const TTextList& value) { dataList_ = value; }
  int MaxCount() const { return maxCount_; }
  void SetMaxCount(int value);
  // A cyclogram's pixels per second, as stored and as its zoom may set it.
  static constexpr double kMinXScale = 0x1p-30;
  static constexpr double kMaxXScale = 0x1p30;
  double XScale() const { return xScale_; }
  void SetXScale(double value);
  double YScale() const { return yScale_; }
  void SetYScale(double value);
  int Digits() const { return digits_; }
  // Kept within 0..kMaxDigits whatever a caller gives.
  void SetDigits(int value) { digits_ = std::clamp(value, 0, kMaxDigits); }
  bool UserCanREAD() const { return userCanRead_; }
  void SetUserCanREAD(bool value);
  bool UserCanWRITE() const { return userCanWrite_; }
  void SetUserCanWRITE(bool value);

  // Device read as text ("***" on failure) and device write from text, on the given line. The write
  // holds the line through its exchange and the pause after it on the caller's thread: the main
  // thread writes through SubmitStringData instead.
  QString StringData(const TLineContext& line);
  void SetStringData(const TLineContext& line, const QString& value);
  // The same writes without waiting: the line's writer (core/LineWriter.h) runs them on a detached
  // copy, in the order asked, and stores the outcome here (LastIOResult, the write time, the text
  // the simulator keeps) on the main thread before `done` is called. A null line refuses at once.
  void SubmitStringData(const TLineContext& line, const QString& value, TWriteDone done = {});
  void SubmitFloatData(const TLineContext& line, double value, TWriteDone done = {});
  // Writes asked and not yet stored.
  bool WritePending() const { return writesPending_ > 0; }
  // Shared with work that outlives a call on this register (a queued write): marked gone with it.
  std::shared_ptr<TRegisterLife> Life();
  // Main thread: stores a write made on a detached copy, as that write on this node would have; the
  // text only when the write changed the copy's (textBefore), so a read stored meanwhile stays.
  void TakeWrite(const TCustomRegister& copy, const QString& textBefore);
  // A read done away from this node: DetachedCopy (on the node's thread) holds what the exchange
  // needs, another thread reads the copy with StringData(line), and TakeRead stores the copy's
  // outcome here as that read on this node would have. ReadsTheLine tells whether StringData would
  // exchange at all.
  bool ReadsTheLine() const { return !Guarded() && userCanRead_; }
  std::unique_ptr<TCustomRegister> DetachedCopy() const;
  void TakeRead(const TCustomRegister& copy);
  // How the exchange of the last StringData ended; NoLine also when it sent nothing.
  TExchange LastExchange() const { return lastExchange_; }
  // Ends a read as an unanswered one ends, without asking the line: "***", iorFAIL, read now.
  void FailUnasked();
  // Device read as a number (0 on failure) and device write from a number.
  double FloatData(const TLineContext& line);
  void SetFloatData(const TLineContext& line, double value);

  bool IsValidValue(const QString& text) const;
  void AddToHistory();
  void ClearHistory();
  int Count() const { return static_cast<int>(points_.size()); }
  int RDElapsed() const;
  int WRElapsed() const;
  double RDTime() const { return rdTime_; }
  double WRTime() const { return wrTime_; }

  // Network address, channel and register from a name "D%0.3dC%0.3dR%0.3d"; all 0 when any part
  // does not parse.
  static void FillAddress(const QString& name, uint8_t& address, uint8_t& channel, uint8_t& reg);
  static QString RegisterName(int address, int channel, int reg);

 private:
  friend class TLineWriter;
  void Submit(const TLineContext& line, TWriteValue value, TWriteDone done);

  // Stored text of the last value while streaming, so a save or restore never touches the line.
  bool Guarded() const { return IsStreaming(); }
  void BuildRequest(TRegisterFrame& frame, uint8_t command) const;
  // One exchange of `frame`; in simulation the register then takes what the simulator made of it.
  TExchange Exchange(const TLineContext& line, TRegisterFrame& frame);
  // Sends a write of `data` (the type's bytes) and waits the pause that follows every write.
  void SendWrite(const TLineContext& line, const uint8_t* data, int size);
  // Raw bytes for a fixed-point value R (types 1..6) or a whole-number Boolean.
  void WriteRaw(const TLineContext& line, int32_t raw);

  TRegisterType registerType_ = rtUnknown;
  TIOResult lastIOResult_ = iorFAIL;
  QString lastStringData_;
  TTextList points_;
  TTextList dataList_;
  int maxCount_ = 1200;
  double xScale_ = 1.0;
  double yScale_ = 1.0;
  int digits_ = 0;
  bool userCanRead_ = true;
  bool userCanWrite_ = false;
  TExchange lastExchange_ = TExchange::NoLine;
  std::atomic<double> rdTime_ = 0;  // read by the poller thread
  double wrTime_ = 0;
  int writesPending_ = 0;  // main thread
  std::shared_ptr<TRegisterLife> life_;
};

// A register's last text value as a number; NaN for "***" or a text that is none.
double LastNumber(const TCustomRegister& reg);

}  // namespace vexa
