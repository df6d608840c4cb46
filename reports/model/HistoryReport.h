#pragma once
// The temporary report through which a label's history is previewed and printed.

#include <memory>

namespace vexa {

class TRegisterNode;
class TReportNode;

// A report captioned "История" holding one copy of reg (node, register and history data), captioned
// with the register's full name; its window ends now and reaches back the register's logging
// interval times its history capacity. Null when the register holds no history point.
std::unique_ptr<TReportNode> HistoryReport(const TRegisterNode& reg);

}  // namespace vexa
