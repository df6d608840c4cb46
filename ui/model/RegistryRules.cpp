#include "ui/model/RegistryRules.h"

#include "core/RegisterNode.h"

namespace vexa {

namespace {

const QString kChannelTemplate = QStringLiteral("Шаблон канала");
const QString kRegisterTemplate = QStringLiteral("Шаблон регистра");
const QString kIdentifierRegister = QStringLiteral("Регистр-идентификатор");

}  // namespace

TRegistryTarget RegistryTarget(TRootNode* node, int level, TRootNode* root) {
  if (node == nullptr) return {};
  auto* owner = dynamic_cast<TRootNode*>(node->Owner());
  return {node, owner != nullptr ? owner : root, level};
}

TRootNode* AddChannelTemplate(TRootNode& root) {
  auto* channel = new TRootNode(&root);
  channel->SetCaption(kChannelTemplate);
  channel->SetImageIndex(iiCHANNEL);
  auto* identifier = new TRegisterNode(channel);
  identifier->SetCaption(kIdentifierRegister);
  identifier->SetImageIndex(iiREGISTER);
  identifier->SetRegisterType(rtBYTE);
  identifier->SetVisible(false);
  return channel;
}

TRegisterNode* AddRegisterTemplate(TRootNode& channelTemplate) {
  auto* reg = new TRegisterNode(&channelTemplate);
  reg->SetCaption(kRegisterTemplate);
  reg->SetImageIndex(iiREGISTER);
  return reg;
}

TRootNode* AddTemplate(const TRegistryTarget& target) {
  if (target.Node == nullptr) return nullptr;
  switch (target.Level) {
    case rlRoot:
      return AddChannelTemplate(*target.Node);
    case rlChannelTemplate:
      return AddRegisterTemplate(*target.Node);
    case rlRegisterTemplate:
      return target.Owner != nullptr ? AddRegisterTemplate(*target.Owner) : nullptr;
    default:
      return nullptr;
  }
}

bool DeleteTemplate(const TRegistryTarget& target) {
  if (target.Node == nullptr) return false;
  if (target.Level != rlChannelTemplate && target.Level != rlRegisterTemplate) return false;
  // Only a node some other node owns: a root without owner belongs to its global slot.
  if (target.Node->Owner() == nullptr) return false;
  delete target.Node;
  return true;
}

TRootNode* SelectionAfterCommand(TRootNode& owner) {
  if (owner.ComponentCount() == 0) return &owner;
  auto* last = dynamic_cast<TRootNode*>(owner.Component(owner.ComponentCount() - 1));
  return last != nullptr && last->Visible() ? last : &owner;
}

const QStringList& RegistryTypeNames() {
  static const QStringList names = {"BOOL", "UBYTE", "BYTE",   "UINT",   "INT",    "ULONG",
                                    "LONG", "FLOAT", "DOUBLE", "ASCIIZ", "Unknown"};
  return names;
}

}  // namespace vexa
