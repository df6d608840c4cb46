#include "reports/model/ReportNode.h"

#include "core/Services.h"

namespace vexa {

TReportNode::TReportNode(TComponent* owner) : TRootNode(owner), startPoint_(Now()), lastPoint_(Now()) {}

const TClassInfo& TReportNode::StaticClassInfo() {
  using P = Props<TReportNode>;
  static const TClassInfo info{
      "TReportNode",
      &TRootNode::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TReportNode(owner); },
      {
          P::DateTime("StartPoint", &TReportNode::StartPoint, &TReportNode::SetStartPoint),
          P::DateTime("LastPoint", &TReportNode::LastPoint, &TReportNode::SetLastPoint),
          P::Int("LoggingIntervalIndex", 1, &TReportNode::LoggingIntervalIndex,
                 &TReportNode::SetLoggingIntervalIndex),
          P::Int("LoggingDurationIndex", 0, &TReportNode::LoggingDurationIndex,
                 &TReportNode::SetLoggingDurationIndex),
          P::Int("Trigger", 0, &TReportNode::Trigger, &TReportNode::SetTrigger),
          P::Bool("AlignEnabled", true, &TReportNode::AlignEnabled, &TReportNode::SetAlignEnabled),
          P::Int("TimeOffset", 0, &TReportNode::TimeOffset, &TReportNode::SetTimeOffset),
          P::Bool("OffsetEnabled", false, &TReportNode::OffsetEnabled, &TReportNode::SetOffsetEnabled),
          P::Int("Save", 0, &TReportNode::Save, &TReportNode::SetSave),
          P::Int("MaxCount", 20, &TReportNode::MaxCount, &TReportNode::SetMaxCount),
          P::StringList("Header", &TReportNode::Header, &TReportNode::SetHeader),
          P::StringList("Footer", &TReportNode::Footer, &TReportNode::SetFooter),
      }};
  return info;
}

void TReportNode::SetStartPoint(double value) {
  StoreChanged(startPoint_, value);
}
void TReportNode::SetLastPoint(double value) {
  StoreChanged(lastPoint_, value);
}
void TReportNode::SetLoggingIntervalIndex(int value) {
  StoreChanged(loggingIntervalIndex_, value);
}
void TReportNode::SetLoggingDurationIndex(int value) {
  StoreChanged(loggingDurationIndex_, value);
}
void TReportNode::SetTrigger(int value) {
  StoreChanged(trigger_, value);
}
void TReportNode::SetSave(int value) {
  StoreChanged(save_, value);
}
void TReportNode::SetMaxCount(int value) {
  StoreChanged(maxCount_, value);
}

}  // namespace vexa
