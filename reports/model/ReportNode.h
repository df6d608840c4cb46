#pragma once
// TReportNode: a report (or report template) with its stored settings; its children are the
// register nodes it samples.

#include <QStringList>

#include "core/RootNode.h"

namespace vexa {

class TReportNode : public TRootNode {
 public:
  explicit TReportNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  double StartPoint() const { return startPoint_; }
  void SetStartPoint(double v);
  double LastPoint() const { return lastPoint_; }
  void SetLastPoint(double v);
  int LoggingIntervalIndex() const { return loggingIntervalIndex_; }
  void SetLoggingIntervalIndex(int v);
  int LoggingDurationIndex() const { return loggingDurationIndex_; }
  void SetLoggingDurationIndex(int v);
  int Trigger() const { return trigger_; }
  void SetTrigger(int v);
  bool AlignEnabled() const { return alignEnabled_; }
  void SetAlignEnabled(bool v) { alignEnabled_ = v; }
  int TimeOffset() const { return timeOffset_; }
  void SetTimeOffset(int v) { timeOffset_ = v; }
  bool OffsetEnabled() const { return offsetEnabled_; }
  void SetOffsetEnabled(bool v) { offsetEnabled_ = v; }
  int Save() const { return save_; }
  void SetSave(int v);
  int MaxCount() const { return maxCount_; }
  void SetMaxCount(int v);
  const QStringList& Header() const { return header_; }
  void SetHeader(const QStringList& v) { header_ = v; }
  const QStringList& Footer() const { return footer_; }
  void SetFooter(const QStringList& v) { footer_ = v; }

 private:
  double startPoint_;
  double lastPoint_;
  int loggingIntervalIndex_ = 1;
  int loggingDurationIndex_ = 0;
  int trigger_ = 0;
  bool alignEnabled_ = true;
  int timeOffset_ = 0;
  bool offsetEnabled_ = false;
  int save_ = 0;
  int maxCount_ = 20;
  QStringList header_;
  QStringList footer_;
};

}  // namespace vexa
