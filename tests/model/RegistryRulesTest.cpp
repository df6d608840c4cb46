// Rules of the channel templates window that hold without any window: what "Добавить" and
// "Удалить" do at each level and which node is selected afterwards.

#include <gtest/gtest.h>

#include <memory>

#include "core/CustomRegister.h"
#include "core/RegisterNode.h"
#include "ui/model/RegistryRules.h"

namespace vexa {
namespace {

TEST(RegistryRules, ANewChannelTemplateOwnsOnlyItsHiddenIdentifierRegister) {
  TRootNode root(nullptr);
  TRootNode* added = AddChannelTemplate(root);
  EXPECT_EQ(added->Caption(), QStringLiteral("Шаблон канала"));
  EXPECT_EQ(added->ImageIndex(), 23);
  ASSERT_EQ(added->ComponentCount(), 1);
  auto* identifier = dynamic_cast<TRegisterNode*>(added->Component(0));
  ASSERT_NE(identifier, nullptr);
  EXPECT_EQ(identifier->Caption(), QStringLiteral("Регистр-идентификатор"));
  EXPECT_EQ(identifier->ImageIndex(), 40);
  EXPECT_EQ(identifier->RegisterType(), rtBYTE);
  EXPECT_FALSE(identifier->Visible());
  // With nothing visible below it, the template itself is selected after a command on it.
  EXPECT_EQ(SelectionAfterCommand(*added), added);
  AddRegisterTemplate(*added)->SetVisible(false);
  EXPECT_EQ(SelectionAfterCommand(*added), added);
  TRegisterNode* reg = AddRegisterTemplate(*added);
  EXPECT_EQ(reg->Caption(), QStringLiteral("Шаблон регистра"));
  EXPECT_EQ(reg->ImageIndex(), 40);
  EXPECT_EQ(SelectionAfterCommand(*added), reg);
  EXPECT_EQ(SelectionAfterCommand(*reg), reg);  // no children at all
}

// Each command from each level: what it changes and what is selected after the rebuild.
TEST(RegistryRules, CommandsAtEachLevelAndTheSelectionThatFollows) {
  enum TWhich { wRoot, wFirst, wSecond, wA, wB, wAdded };
  const struct {
    const char* Case;
    bool Add;
    TWhich Selected;
    int Level;
    bool Done;
    int RootChildren, FirstChildren, SecondChildren;  // components afterwards; -1: deleted
    TWhich Selection;
  } cases[] = {
      {"add at the root", true, wRoot, rlRoot, true, 3, 3, 1, wAdded},
      // The owner of a channel template is the root: its last child is selected.
      {"add to the first channel template", true, wFirst, rlChannelTemplate, true, 2, 4, 1, wSecond},
      {"add to the last channel template", true, wSecond, rlChannelTemplate, true, 2, 3, 2, wSecond},
      {"add beside a register template", true, wA, rlRegisterTemplate, true, 2, 4, 1, wAdded},
      {"add below the template levels", true, wA, 3, false, 2, 3, 1, wA},
      {"delete the root", false, wRoot, rlRoot, false, 2, 3, 1, wRoot},
      // A root reached at another level is still never destroyed: its global slot owns it.
      {"delete the root as a template", false, wRoot, rlChannelTemplate, false, 2, 3, 1, wRoot},
      {"delete the last channel template", false, wSecond, rlChannelTemplate, true, 1, 3, -1, wFirst},
      {"delete the first channel template", false, wFirst, rlChannelTemplate, true, 1, -1, 1, wSecond},
      {"delete the last register template", false, wB, rlRegisterTemplate, true, 2, 2, 1, wA},
      {"delete one before another", false, wA, rlRegisterTemplate, true, 2, 2, 1, wB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    // Two channel templates: the first with register templates a and b, the second with none.
    auto root = std::make_unique<TRootNode>(nullptr);
    TRootNode* first = AddChannelTemplate(*root);
    TRootNode* a = AddRegisterTemplate(*first);
    TRootNode* b = AddRegisterTemplate(*first);
    TRootNode* second = AddChannelTemplate(*root);
    TRootNode* nodes[] = {root.get(), first, second, a, b, nullptr};

    const TRegistryTarget target = RegistryTarget(nodes[c.Selected], c.Level, root.get());
    EXPECT_EQ(target.Owner, c.Selected == wRoot ? root.get() : nodes[c.Selected]->Owner());
    TRootNode* added = nullptr;
    const bool done = c.Add ? (added = AddTemplate(target)) != nullptr : DeleteTemplate(target);
    EXPECT_EQ(done, c.Done);
    EXPECT_EQ(root->ComponentCount(), c.RootChildren);
    if (c.FirstChildren >= 0) {
      EXPECT_EQ(first->ComponentCount(), c.FirstChildren);
    }
    if (c.SecondChildren >= 0) {
      EXPECT_EQ(second->ComponentCount(), c.SecondChildren);
    }
    if (added != nullptr) {
      EXPECT_EQ(added->Owner(), c.Level == rlRoot              ? root.get()
                                : c.Level == rlChannelTemplate ? nodes[c.Selected]
                                                               : first);
    }
    // A command that did nothing leaves the tree and its selection as they were.
    if (done) {
      EXPECT_EQ(SelectionAfterCommand(*target.Owner), c.Selection == wAdded ? added : nodes[c.Selection]);
    }
  }
  EXPECT_EQ(AddTemplate({}), nullptr);
  EXPECT_FALSE(DeleteTemplate({}));
}

TEST(RegistryRules, TypeListEntryIIsTheTypeOfCodeI) {
  const QStringList& names = RegistryTypeNames();
  ASSERT_EQ(names.size(), static_cast<int>(rtUnknown) + 1);
  for (int i = 0; i < names.size(); ++i)
    EXPECT_EQ(QStringLiteral("rt") + names[i], RegisterTypeIdentifiers().value(i)) << "entry " << i;
}

}  // namespace
}  // namespace vexa
