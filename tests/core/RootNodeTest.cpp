#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

class RootNodeTest : public TVexaTest {
 protected:
  // regulator > two channels > two registers each
  TRootNode* BuildRegulator(int address) {
    TRootNode& regulator = AddRegulatorNode(*Net(), address);
    for (int c = 0; c < 2; ++c) {
      TRootNode& channel = AddChannelNode(regulator, c);
      for (int r = 1; r <= 2; ++r) AddRegisterNode(channel, r);
    }
    return &regulator;
  }
};

TEST_F(RootNodeTest, CreationDefaults) {
  TRootNode n(nullptr);
  EXPECT_FALSE(n.Enabled());
  EXPECT_TRUE(n.Caption().isEmpty());
  EXPECT_EQ(n.ImageIndex(), 2);
  EXPECT_TRUE(n.Visible());
  EXPECT_TRUE(n.Changed());
  EXPECT_EQ(n.PData(), nullptr);
}

TEST_F(RootNodeTest, ANetworksRootsHaveTheirNamesCaptionsAndImages) {
  struct {
    std::unique_ptr<TRootNode>* slot;
    const char* name;
    const char* caption;
    int image;
  } roots[] = {{&Net(), "NET", "Сеть", 6},
               {&TTemplates(), "TTEMPLATES", "Шаблоны процессов", 18},
               {&Tasks(), "TASKS", "Процессы", -1},
               {&RTemplates(), "RTEMPLATES", "Шаблоны отчетов", 10},
               {&Reports(), "REPORTS", "Отчеты", -1},
               {&Registry(), "REGISTRY", "Шаблоны каналов", 38},
               {&Current().Alarms(), "ALARMS", "Тревоги", -1}};
  for (const auto& r : roots) {
    ASSERT_TRUE(*r.slot);
    EXPECT_EQ((*r.slot)->Name(), r.name);
    EXPECT_EQ((*r.slot)->Caption(), QString::fromUtf8(r.caption));
    EXPECT_EQ((*r.slot)->ImageIndex(), r.image);
    EXPECT_EQ((*r.slot)->Owner(), nullptr);
    EXPECT_EQ(Current().RootSlot(r.name), r.slot);
  }
  EXPECT_EQ(Settings()->Name(), "SETUP");
}

TEST_F(RootNodeTest, CreateTreeRootReplacesTheWholeTree) {
  BuildRegulator(0);
  ASSERT_EQ(Net()->ComponentCount(), 1);
  Current().RecreateRoot("NET");
  EXPECT_EQ(Net()->ComponentCount(), 0);
  EXPECT_EQ(Net()->Name(), "NET");
  EXPECT_EQ(Net()->Caption(), "Сеть");
}

TEST_F(RootNodeTest, SetEnabledRunsDownTheSubtreeButNotUp) {
  TRootNode* regulator = BuildRegulator(0);
  auto* channel = regulator->Node(1);
  auto* reg = channel->Node(0);
  regulator->SetEnabled(true);
  EXPECT_TRUE(channel->Enabled());
  EXPECT_TRUE(reg->Enabled());
  regulator->SetEnabled(false);
  EXPECT_FALSE(reg->Enabled());
  reg->SetEnabled(true);
  EXPECT_TRUE(reg->Enabled());
  EXPECT_FALSE(channel->Enabled());
  EXPECT_FALSE(regulator->Enabled());
  // The recursion runs also when the node's own value does not change.
  channel->SetEnabled(false);
  EXPECT_FALSE(reg->Enabled());
}

TEST_F(RootNodeTest, ChangedFollowsEffectiveChangesOnly) {
  TRootNode n(nullptr);
  n.SetChanged(false);
  n.SetCaption("");
  n.SetComments("");
  n.SetImageIndex(2);
  n.SetVisible(true);
  n.SetEnabled(false);
  EXPECT_FALSE(n.Changed());
  n.SetCaption("Печь");
  EXPECT_TRUE(n.Changed());
  n.SetChanged(false);
  n.SetVisible(false);
  EXPECT_TRUE(n.Changed());
  n.SetChanged(false);
  n.SetEnabled(true);
  EXPECT_TRUE(n.Changed());

  TRegisterNode r(nullptr);
  r.SetChanged(false);
  r.SetDigits(3);  // stored directly
  r.SetLastStringData("1");
  r.SetMaxCount(1200);
  r.SetLoggingInterval(3);
  EXPECT_FALSE(r.Changed());
  r.SetPenColor(0xFF);
  EXPECT_TRUE(r.Changed());
  r.SetChanged(false);
  r.AddToHistory();
  EXPECT_TRUE(r.Changed());
  r.SetChanged(false);
  r.ClearHistory();
  EXPECT_TRUE(r.Changed());
}

TEST_F(RootNodeTest, AssignCopiesFieldsAndAlwaysMarksChanged) {
  TRootNode* a = BuildRegulator(0);
  TRootNode* b = BuildRegulator(1);
  TRootNode source(nullptr);
  source.SetName("D005");
  source.SetCaption("Регулятор 5");
  source.SetComments("адрес 5");
  source.SetImageIndex(22);
  source.SetVisible(false);
  source.SetEnabled(true);
  b->SetChanged(false);
  b->Assign(source);
  EXPECT_EQ(b->Name(), "D005");
  EXPECT_EQ(b->Caption(), "Регулятор 5");
  EXPECT_EQ(b->Comments(), "адрес 5");
  EXPECT_EQ(b->ImageIndex(), 22);
  EXPECT_FALSE(b->Visible());
  EXPECT_TRUE(b->Node(0)->Node(1)->Enabled());  // Enabled went down the subtree
  EXPECT_EQ(b->ComponentCount(), 2);            // children are not copied
  EXPECT_TRUE(b->Changed());

  TRootNode same(nullptr);
  b->SetChanged(false);
  TSetupNode other(nullptr);
  b->Assign(other);  // another class: only the marker
  EXPECT_TRUE(b->Changed());

  TRootNode clash(nullptr);
  clash.SetName("D000");
  EXPECT_THROW(b->Assign(clash), EComponentError);
  EXPECT_EQ(a->Name(), "D000");
}

TEST_F(RootNodeTest, RegisterAssignCopiesHistoryAndSettings) {
  TRegisterNode src(nullptr);
  src.SetRegisterType(rtFLOAT);
  src.SetDigits(2);
  src.SetUserCanWRITE(true);
  src.SetLastStringData("1,25");
  src.SetPoints({"p1", "p2"});
  src.SetDataList({"1", "2"});
  src.SetLoggingInterval(7);
  src.SetPenColor(0x123456);
  src.SetZero(-5);
  TRegisterNode dst(nullptr);
  dst.SetPoints({"old"});
  dst.Assign(src);
  EXPECT_EQ(dst.RegisterType(), rtFLOAT);
  EXPECT_EQ(dst.Digits(), 2);
  EXPECT_TRUE(dst.UserCanWRITE());
  EXPECT_EQ(dst.LastStringData(), "1,25");
  EXPECT_EQ(dst.Points(), (QStringList{"p1", "p2"}));
  EXPECT_EQ(dst.DataList(), (QStringList{"1", "2"}));
  EXPECT_EQ(dst.LoggingInterval(), 7);
  EXPECT_EQ(dst.PenColor(), 0x123456);
  EXPECT_EQ(dst.Zero(), -5);
}

TEST_F(RootNodeTest, FindNodeIsDepthFirstPreOrder) {
  TRootNode* d0 = BuildRegulator(0);
  BuildRegulator(1);
  // The same name deep in the first regulator and shallow in the second: depth-first wins.
  auto* deep = new TRootNode(d0->Node(1)->Node(1));
  deep->SetName("X");
  auto* shallow = new TRootNode(Net().get());
  shallow->SetName("X");
  EXPECT_EQ(FindNode(Net().get(), "X"), deep);
  EXPECT_EQ(FindNode(Net().get(), "D001C001R002")->Name(), "D001C001R002");
  EXPECT_EQ(FindNode(Net().get(), "NET"), nullptr);  // the root itself is not searched
  EXPECT_EQ(FindNode(Net().get(), "d000"), nullptr);
  EXPECT_EQ(FindNode(nullptr, "X"), nullptr);
}

}  // namespace
}  // namespace vexa::test
