#include "core/SetupNode.h"

#include "core/LineSpeeds.h"

namespace vexa {

TSetupNode::TSetupNode(TComponent* owner) : TComponent(owner) {
  SetName(QStringLiteral("SETUP"));
}

const TClassInfo& TSetupNode::StaticClassInfo() {
  using P = Props<TSetupNode>;
  static const TClassInfo info{
      "TSetupNode",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TSetupNode(owner); },
      {
          P::String("Password", &TSetupNode::Password, &TSetupNode::SetPassword),
          // -1: no port chosen; 0..7: COM1..COM8.
          P::Int("PortIndex", std::nullopt, &TSetupNode::PortIndex, &TSetupNode::SetPortIndex).Within(-1, 7),
          P::Int("BaudRateIndex", std::nullopt, &TSetupNode::BaudRateIndex, &TSetupNode::SetBaudRateIndex)
              .Within(0, kLineSpeedCount - 1),
          P::Bool("AutoSaveEnabled", false, &TSetupNode::AutoSaveEnabled, &TSetupNode::SetAutoSaveEnabled),
          // Minutes, as the settings window offers them.
          P::Int("AutoSaveInterval", 5, &TSetupNode::AutoSaveInterval, &TSetupNode::SetAutoSaveInterval)
              .Within(1, 120),
          P::Bool("AutoLoadEnabled", true, &TSetupNode::AutoLoadEnabled, &TSetupNode::SetAutoLoadEnabled),
          P::String("TablesDir", &TSetupNode::TablesDir, &TSetupNode::SetTablesDir),
          P::Bool("NewConfig", false, &TSetupNode::NewConfig, &TSetupNode::SetNewConfig),
          P::Bool("Demo", false, &TSetupNode::Demo, &TSetupNode::SetDemo),
          P::StringList("MNames", &TSetupNode::MNames, &TSetupNode::SetMNames).AtMostLines(kMaxDiagramPages),
          P::StringList("MFiles", &TSetupNode::MFiles, &TSetupNode::SetMFiles).AtMostLines(kMaxDiagramPages),
      }};
  return info;
}

}  // namespace vexa
