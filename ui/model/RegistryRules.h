#pragma once
// Rules of the channel templates window that need no window: what "Добавить" and "Удалить" do at
// each level of the template tree, and which node is selected once the tree has been rebuilt.

#include <QStringList>

#include "core/RootNode.h"

namespace vexa {

class TRegisterNode;

// Depth of an item in the template tree.
enum TRegistryLevel : int { rlRoot = 0, rlChannelTemplate = 1, rlRegisterTemplate = 2 };

// What a command acts on, fixed before the command changes anything.
struct TRegistryTarget {
  TRootNode* Node = nullptr;
  TRootNode* Owner = nullptr;  // the node's owner; the root itself when the node has none
  int Level = rlRoot;
};
// The target of a command for the selected node at that level; with no node, an empty target.
TRegistryTarget RegistryTarget(TRootNode* node, int level, TRootNode* root);

// A channel template appended to root, with its identifier register: the search copies register
// templates in order and takes the first for register 0, which this window never shows.
TRootNode* AddChannelTemplate(TRootNode& root);
// A register template appended to a channel template.
TRegisterNode* AddRegisterTemplate(TRootNode& channelTemplate);

// "Добавить": the node created, or null when the target has no node or no known level.
TRootNode* AddTemplate(const TRegistryTarget& target);
// "Удалить": destroys the target's node with everything it owns; false, and nothing done, for the
// root or an empty target.
bool DeleteTemplate(const TRegistryTarget& target);
// The node selected after the rebuild that ends either command: the owner's last child when that is
// a visible node, else the owner.
TRootNode* SelectionAfterCommand(TRootNode& owner);

// The type list of the window: entry i is the register type of code i (rtBOOL .. rtUnknown).
const QStringList& RegistryTypeNames();

}  // namespace vexa
