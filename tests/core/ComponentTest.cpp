#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/model/CommandNode.h"
#include "processes/model/Cyclogram.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportRules.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"
#include "ui/model/SetupRules.h"

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

// A fresh object of each persistent class the registry creates, by class name.
std::vector<std::pair<std::string, std::unique_ptr<TPersistent>>> PersistentObjects() {
  std::vector<std::pair<std::string, std::unique_ptr<TPersistent>>> objects;
  for (const char* cls :
       {"TRootNode", "TRegisterNode", "TCommandNode", "TReportNode", "TSetupNode", "TLabelDisplay"}) {
    const TClassInfo* info = TClassRegistry::Find(cls);
    EXPECT_TRUE(info != nullptr && info->Create) << cls;
    if (info != nullptr && info->Create)
      objects.emplace_back(cls, std::unique_ptr<TPersistent>(info->Create(nullptr)));
  }
  return objects;
}

// Each stored number and list of the persistent classes says what it may hold, and its default and
// its value at creation lie within that, so that a new object always saves a file that loads.
TEST_F(ComponentTest, EveryStoredNumberAndListHasARangeThatHoldsItsDefault) {
  auto objects = PersistentObjects();
  objects.emplace_back("TFont", std::make_unique<TFont>());
  // A component's Tag is the user's own number: any 32-bit value.
  const QStringList unbounded = {"Tag"};
  int checked = 0;
  for (const auto& [cls, object] : objects) {
    for (const TPropInfo* p : object->ClassInfo().Properties()) {
      if (p->ReadOnly()) continue;
      const std::string what = cls + "." + p->Name.toStdString();
      const bool number = p->Kind == TPropKind::Integer || p->Kind == TPropKind::Charset;
      if (number && !unbounded.contains(p->Name)) {
        EXPECT_TRUE(p->Min > INT32_MIN || p->Max < INT32_MAX) << what << " has no range";
        const qint64 v = p->Get(*object).toLongLong();
        EXPECT_TRUE(v >= p->Min && v <= p->Max) << what << " is " << v << " at creation";
        if (p->Default) {
          EXPECT_TRUE(*p->Default >= p->Min && *p->Default <= p->Max) << what;
        }
        ++checked;
      }
      if (p->Kind == TPropKind::StringList) {
        EXPECT_LT(p->Max, 100000) << what << " has no length";
        ++checked;
      }
    }
  }
  EXPECT_GE(checked, 30);
}

// The getters the stream writer takes without a variant give what Get gives, for every property
// of the persistent classes, fresh and with values set; each class has them for its plain ones.
TEST_F(ComponentTest, TypedGettersGiveWhatTheVariantGives) {
  auto objects = PersistentObjects();
  auto reg = std::make_unique<TRegisterNode>(nullptr);
  reg->SetCaption(QStringLiteral("Температура"));
  reg->SetRegisterType(rtFLOAT);
  reg->SetLastStringData(QStringLiteral("12,5"));
  reg->SetPoints({"07.12.2026 09:05:03", "07.12.2026 09:05:06"});
  reg->SetDataList({"12,5", "***"});
  reg->SetPenColor(0x0000FF);
  reg->SetUserCanWRITE(true);
  objects.emplace_back("TRegisterNode with values", std::move(reg));
  int typed = 0;
  for (const auto& [cls, object] : objects) {
    // As the writer reads them: registers answer from their cached values.
    static_cast<TComponent&>(*object).SetState(csWriting);
    for (const TPropInfo* p : object->ClassInfo().Properties()) {
      const std::string what = cls + "." + p->Name.toStdString();
      const QVariant v = p->Get(*object);
      if (p->GetInteger) {
        EXPECT_EQ(p->GetInteger(*object), v.toLongLong()) << what;
      }
      if (p->GetFloat) {
        EXPECT_EQ(p->GetFloat(*object), v.toDouble()) << what;
      }
      if (p->GetText) {
        EXPECT_EQ(*p->GetText(*object), v.toString()) << what;
      }
      if (p->GetLines) {
        EXPECT_EQ(*p->GetLines(*object), v.toStringList()) << what;
      }
      typed += (p->GetInteger || p->GetFloat || p->GetText || p->GetLines) ? 1 : 0;
    }
  }
  EXPECT_GE(typed, 60);
  const TClassInfo& info = TRegisterNode::StaticClassInfo();
  for (const char* name :
       {"RegisterType", "Caption", "Points", "DataList", "XScale", "FloatData", "Digits"}) {
    const TPropInfo* p = info.FindProperty(name);
    ASSERT_NE(p, nullptr) << name;
    EXPECT_TRUE(p->GetInteger || p->GetFloat || p->GetText || p->GetLines)
        << name << " goes through a variant";
  }
}

// The stored ranges follow the limits of the editors that make the values.
TEST_F(ComponentTest, StoredRangesAreTheEditorsLimits) {
  const auto range = [](const TClassInfo& info, const char* name) {
    const TPropInfo* p = info.FindProperty(name);
    return p != nullptr ? std::pair(p->Min, p->Max) : std::pair(qint64{1}, qint64{0});
  };
  EXPECT_EQ(range(TSetupNode::StaticClassInfo(), "AutoSaveInterval"),
            std::pair(qint64{kAutoSaveIntervalMin}, qint64{kAutoSaveIntervalMax}));
  EXPECT_EQ(range(TCommandNode::StaticClassInfo(), "SlotNumber").second,
            kCyclogramMaxRows - 2);  // the last point
  EXPECT_EQ(range(TReportNode::StaticClassInfo(), "MaxCount").second, kMaxPointCount);
  EXPECT_LE(range(TReportNode::StaticClassInfo(), "MaxCount").first, kMinPointCount);
  EXPECT_EQ(range(TReportNode::StaticClassInfo(), "LoggingIntervalIndex").second,
            static_cast<qint64>(kLoggingIntervals.size()) - 1);
  EXPECT_EQ(range(TReportNode::StaticClassInfo(), "LoggingDurationIndex").second,
            static_cast<qint64>(kLoggingDurations.size()) - 1);
  EXPECT_EQ(range(TRegisterNode::StaticClassInfo(), "MaxCount").second, kMaxReportCount)
      << "a report's registers keep their whole window";
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
  auto* reg = new TRegisterNode(Net().get());
  reg->SetName("D000C001R002");
  reg->SetRegisterType(rtINT);
  reg->SetUserCanWRITE(true);
  reg->SetLastStringData("12,5");
  Settings()->SetDemo(true);
  reg->SetState(csWriting);
  EXPECT_EQ(reg->StringData(Line()), "12,5");
  EXPECT_DOUBLE_EQ(reg->FloatData(Line()), 12.5);
  reg->ClearState(csWriting);
  reg->SetState(csLoading | csReading);
  reg->SetStringData(Line(), "7");
  reg->SetFloatData(Line(), 7);
  reg->SetLastStringData("abc");
  EXPECT_DOUBLE_EQ(reg->FloatData(Line()), 0.0);
  EXPECT_EQ(reg->LastStringData(), "abc");  // no exchange happened
  reg->Loaded();
  EXPECT_FALSE(reg->IsStreaming() && (reg->ComponentState() & csLoading));
  EXPECT_FALSE(reg->Changed());
}

}  // namespace
}  // namespace vexa::test
