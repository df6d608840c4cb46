#include "core/CustomRegister.h"
#include "core/Globals.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class ComponentTest : public TVexaTest {};

TEST_F(ComponentTest, OwnerOwnsChildrenInCreationOrderAndDestroysThem) {
  auto root = std::make_unique<TRootNode>(nullptr);
  auto* a = new TRootNode(root.get());
  auto* b = new TRegisterNode(root.get());
  auto* c = new TRootNode(a);
  ASSERT_EQ(root->ComponentCount(), 2);
  EXPECT_EQ(root->Component(0), a);
  EXPECT_EQ(root->Component(1), b);
  EXPECT_EQ(b->ComponentIndex(), 1);
  EXPECT_EQ(c->Owner(), a);
  delete a;  // takes c with it and leaves the owner's list
  ASSERT_EQ(root->ComponentCount(), 1);
  EXPECT_EQ(root->Component(0), b);
  EXPECT_EQ(b->ComponentIndex(), 0);
}

TEST_F(ComponentTest, NamesAreUniqueAmongSiblingsOnly) {
  TRootNode root(nullptr);
  auto* a = new TRootNode(&root);
  auto* b = new TRootNode(&root);
  a->SetName("D000");
  EXPECT_THROW(b->SetName("D000"), EComponentError);
  EXPECT_EQ(b->Name(), "");
  b->SetName("d000");  // names compare exactly
  EXPECT_EQ(b->Name(), "d000");
  auto* child = new TRootNode(a);
  child->SetName("D000");  // a cousin may share the name
  a->SetName("D000");      // renaming onto its own name is no conflict
  EXPECT_EQ(root.FindComponent("d000"), b);
  try {
    b->SetName("D000");
    FAIL();
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "A component named D000 already exists");
  }
}

TEST_F(ComponentTest, InsertAndRemoveMoveOwnership) {
  TRootNode root(nullptr);
  (new TRootNode(&root))->SetName("X");
  auto loose = std::make_unique<TRootNode>(nullptr);
  loose->SetName("X");
  EXPECT_THROW(root.InsertComponent(std::move(loose)), EComponentError);
  auto other = std::make_unique<TRootNode>(nullptr);
  other->SetName("Y");
  TRootNode* raw = other.get();
  root.InsertComponent(std::move(other));
  EXPECT_EQ(raw->Owner(), &root);
  EXPECT_EQ(root.ComponentCount(), 2);
  auto back = root.RemoveComponent(raw);
  EXPECT_EQ(back.get(), raw);
  EXPECT_EQ(raw->Owner(), nullptr);
  EXPECT_EQ(root.ComponentCount(), 1);
}

TEST_F(ComponentTest, PropertiesAreWalkedBaseClassFirstInDeclarationOrder) {
  QStringList names;
  for (const TPropInfo* p : TRegisterNode::StaticClassInfo().Properties()) names << p->Name;
  const QStringList expected = {
      "Tag",     "Enabled",      "Caption",      "Comments",        "PData",        "ImageIndex", "Visible",
      "Changed", "RegisterType", "LastIOResult", "LastStringData",  "Points",       "DataList",   "MaxCount",
      "XScale",  "YScale",       "Digits",       "UserCanREAD",     "UserCanWRITE", "StringData", "FloatData",
      "Count",   "RDElapsed",    "WRElapsed",    "LoggingInterval", "Zero",         "Notch",      "PenWidth",
      "PenColor"};
  EXPECT_EQ(names, expected);
  QStringList setup;
  for (const TPropInfo* p : TSetupNode::StaticClassInfo().Properties()) setup << p->Name;
  EXPECT_EQ(setup, (QStringList{"Tag", "Password", "PortIndex", "BaudRateIndex", "AutoSaveEnabled",
                                "AutoSaveInterval", "AutoLoadEnabled", "TablesDir", "NewConfig", "Demo",
                                "MNames", "MFiles"}));
}

TEST_F(ComponentTest, DeclaredDefaultsMatchTheValuesAtCreation) {
  // A property with a default equal to its value at creation is not stored for a fresh object.
  TRegisterNode reg(nullptr);
  for (const TPropInfo* p : reg.ClassInfo().Properties()) {
    if (!p->Default || p->ReadOnly()) continue;
    EXPECT_EQ(p->Get(reg).toLongLong(), *p->Default) << p->Name.toStdString();
  }
  const TPropInfo* count = reg.ClassInfo().FindProperty("Count");
  ASSERT_NE(count, nullptr);
  EXPECT_TRUE(count->ReadOnly());
  EXPECT_FALSE(reg.ClassInfo().FindProperty("Changed")->Default.has_value());
  EXPECT_FALSE(reg.ClassInfo().FindProperty("Zero")->Default.has_value());
}

TEST_F(ComponentTest, PropertiesReadAndWriteThroughTheSetters) {
  TRegisterNode reg(nullptr);
  const TClassInfo& info = reg.ClassInfo();
  info.FindProperty("RegisterType")->Set(reg, int(rtFLOAT));
  info.FindProperty("Points")->Set(reg, QStringList{"a", "b"});
  info.FindProperty("PenColor")->Set(reg, 255);
  info.FindProperty("Caption")->Set(reg, QStringLiteral("Температура"));
  EXPECT_EQ(reg.RegisterType(), rtFLOAT);
  EXPECT_EQ(reg.Points(), (QStringList{"a", "b"}));
  EXPECT_EQ(reg.PenColor(), 255);
  EXPECT_EQ(info.FindProperty("Caption")->Get(reg).toString(), QStringLiteral("Температура"));
  EXPECT_EQ(info.FindProperty("RegisterType")->Names.at(7), "rtFLOAT");
}

TEST_F(ComponentTest, RegistryCreatesClassesByStreamedName) {
  for (const char* name : {"TRootNode", "TCustomRegister", "TRegisterNode", "TSetupNode"}) {
    const TClassInfo* info = TClassRegistry::Find(name);
    ASSERT_NE(info, nullptr) << name;
    std::unique_ptr<TComponent> made(info->Create(nullptr));
    EXPECT_EQ(made->ClassName(), name);
  }
  EXPECT_EQ(TClassRegistry::Find("TComponent"), nullptr);
  EXPECT_EQ(TClassRegistry::Find("TRegisterNodeX"), nullptr);
  EXPECT_TRUE(TRegisterNode::StaticClassInfo().InheritsFrom(TRootNode::StaticClassInfo()));
  EXPECT_FALSE(TSetupNode::StaticClassInfo().InheritsFrom(TRootNode::StaticClassInfo()));
}

TEST_F(ComponentTest, StreamingStateGuardsTheRegisterValues) {
  auto* reg = new TRegisterNode(NET.get());
  reg->SetName("D000C001R002");
  reg->SetRegisterType(rtINT);
  reg->SetUserCanWRITE(true);
  reg->SetLastStringData("12,5");
  SETUP->SetDemo(true);
  reg->SetState(csWriting);
  EXPECT_EQ(reg->StringData(), "12,5");
  EXPECT_DOUBLE_EQ(reg->FloatData(), 12.5);
  reg->ClearState(csWriting);
  reg->SetState(csLoading | csReading);
  reg->SetStringData("7");
  reg->SetFloatData(7);
  reg->SetLastStringData("abc");
  EXPECT_DOUBLE_EQ(reg->FloatData(), 0.0);
  EXPECT_EQ(reg->LastStringData(), "abc");  // no exchange happened
  reg->Loaded();
  EXPECT_FALSE(reg->IsStreaming() && (reg->ComponentState() & csLoading));
  EXPECT_FALSE(reg->Changed());
}

}  // namespace
}  // namespace vexa::test
