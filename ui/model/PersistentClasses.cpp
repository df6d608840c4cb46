#include "ui/model/PersistentClasses.h"

#include "core/CustomRegister.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportNode.h"
#include "alarms/model/AlarmNode.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {

void RegisterPersistentClasses() {
  static const bool done = [] {
    TClassRegistry::Register(TRootNode::StaticClassInfo());
    TClassRegistry::Register(TCustomRegister::StaticClassInfo());
    TClassRegistry::Register(TRegisterNode::StaticClassInfo());
    TClassRegistry::Register(TSetupNode::StaticClassInfo());
    TClassRegistry::Register(TLabelDisplay::StaticClassInfo());
    TClassRegistry::Register(TCommandNode::StaticClassInfo());
    TClassRegistry::Register(TReportNode::StaticClassInfo());
    TClassRegistry::Register(TAlarmNode::StaticClassInfo());
    TClassRegistry::Register(TAlarmJournalNode::StaticClassInfo());
    return true;
  }();
  (void)done;
}

}  // namespace vexa
