// Device search on the simulated network and on a scripted line: the tree it builds, the templates
// it applies, the three modes, stopping, and that a failure still ends the search cleanly; a port
// that dies under it (scripted, and a real line whose simulator was killed) changes nothing; what
// its report counts on a clean and on a lossy line.

#include <QDir>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SimulatedNetwork.h"
#include "storage/DeviceSearch.h"
#include "storage/StrHandlerUnit.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

// A line of regulators that answer reads: register 0 of a channel carries the channel type, registers
// 1..RegistersPerChannel are readable and writable 16-bit registers holding 1234, others are silent.
struct TFakeLine {
  std::map<int, std::vector<int>> Devices;  // address -> type of each channel
  std::set<int> TextIdentifiers;            // addresses whose register 0 answers a text
  int RegistersPerChannel = 3;
  std::map<QString, int> Requests;        // register name -> frames sent to it
  std::map<QString, std::set<int>> Drop;  // register name -> frames (from 1) the line loses

  std::vector<TChunk> Answer(const QByteArray& request) {
    const int a = static_cast<uint8_t>(request[0]);
    const int c = static_cast<uint8_t>(request[1]);
    const int r = static_cast<uint8_t>(request[2]);
    const QString name = TCustomRegister::RegisterName(a, c, r);
    if (Drop[name].count(++Requests[name]) != 0) return {};
    const auto device = Devices.find(a);
    if (request[3] != 0 || device == Devices.end() || c >= static_cast<int>(device->second.size())) return {};
    QByteArray head = request.left(4);
    if (r == 0 && TextIdentifiers.count(a) != 0)
      return {{SealFrame(head + QByteArray("\x49"
                                           "abc\0",
                                           5))}};
    if (r == 0) return {{SealFrame(head + char(0x42) + char(device->second[static_cast<size_t>(c)]))}};
    if (r <= RegistersPerChannel) return {{SealFrame(head + QByteArray("\xC4\xD2\x04", 3))}};
    return {};
  }
};

struct TRegisterTemplate {
  QString Caption;
  TRegisterType Type;
  bool Writable;
  int Digits;
};

class DeviceSearchTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    search.OnDevicesFound = [this](int n) { found.push_back(n); };
    search.OnDevicesPassed = [this](int a) { passed.push_back(a); };
  }
  void TearDown() override {
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  void UseFakeLine() {
    Port->Open();
    Port->Respond = [this](const QByteArray& request) { return line.Answer(request); };
  }

  // A channel template in REGISTRY: the hidden identifier register first, then the given ones.
  TRootNode* AddTemplate(const QString& caption, const QString& comments,
                         const std::vector<TRegisterTemplate>& registers, bool withIdentifier = true) {
    auto* pattern = new TRootNode(Registry().get());
    pattern->SetName(QStringLiteral("T%1").arg(Registry()->ComponentCount()));
    pattern->SetCaption(caption);
    pattern->SetComments(comments);
    pattern->SetImageIndex(23);
    std::vector<TRegisterTemplate> all = registers;
    if (withIdentifier) all.insert(all.begin(), {QStringLiteral("Регистр-идентификатор"), rtBYTE, false, 0});
    for (size_t k = 0; k < all.size(); ++k) {
      auto* reg = new TRegisterNode(pattern);
      reg->SetName(QStringLiteral("X%1").arg(k));
      reg->SetCaption(all[k].Caption);
      reg->SetComments(all[k].Caption + QStringLiteral(", примечание"));
      reg->SetRegisterType(all[k].Type);
      reg->SetUserCanWRITE(all[k].Writable);
      reg->SetDigits(all[k].Digits);
      reg->SetImageIndex(40);
      if (withIdentifier && k == 0) reg->SetVisible(false);
    }
    return pattern;
  }

  void SaveTemplates() {
    QDir(Current().Dir()).mkdir(QStringLiteral("Config"));
    ASSERT_TRUE(SaveTreeFile(Current(), *Registry()));
  }

  TRootNode* Node(const QString& name) { return dynamic_cast<TRootNode*>(FindNode(Net().get(), name)); }
  TRegisterNode* Reg(int a, int c, int r) {
    return dynamic_cast<TRegisterNode*>(FindNode(Net().get(), TCustomRegister::RegisterName(a, c, r)));
  }
  static QStringList ChildNames(const TRootNode& node) {
    QStringList names;
    for (int i = 0; i < node.NodeCount(); ++i) names << node.Node(i)->Name();
    return names;
  }

  TDeviceSearch search{Current()};
  TFakeLine line;
  std::vector<int> found;
  std::vector<int> passed;
};

TEST_F(DeviceSearchTest, SimulatedNetworkIsFoundAndExploredWithoutTemplates) {
  Settings()->SetDemo(true);
  new TRootNode(Tasks().get());
  new TRootNode(Reports().get());
  auto* processTemplate = new TRootNode(TTemplates().get());
  processTemplate->SetName("P1");

  search.Run(smAfresh);

  EXPECT_EQ(Net()->Caption(), "Сеть");
  EXPECT_EQ(Net()->ImageIndex(), 6);
  ASSERT_EQ(ChildNames(*Net()), QStringList({"D000", "D001"}));
  EXPECT_EQ(Net()->Node(0)->NodeCount() + Net()->Node(1)->NodeCount(), 9);
  EXPECT_EQ(ChildNames(*Net()->Node(1)), QStringList({"D001C000", "D001C001", "D001C002"}));

  const TRootNode* regulator = Node("D001");
  EXPECT_EQ(regulator->Caption(), "Регулятор 001");
  EXPECT_EQ(regulator->Comments(), "Сетевой адрес 001");
  EXPECT_EQ(regulator->ImageIndex(), 22);
  const TRootNode* channel = Node("D000C005");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->Caption(), "Канал 005");
  EXPECT_EQ(channel->Comments(), "Тип канала неизвестен.");
  EXPECT_EQ(channel->ImageIndex(), 23);

  // The simulator answers every register number, so every channel gets all 256 registers.
  EXPECT_EQ(channel->NodeCount(), 256);
  const TRegisterNode* identifier = Reg(1, 2, 0);
  ASSERT_NE(identifier, nullptr);
  EXPECT_FALSE(identifier->Visible());
  EXPECT_EQ(identifier->Caption(), "Регистр 000");
  EXPECT_EQ(identifier->LastStringData(), "1");
  const TRegisterNode* last = Reg(1, 2, 255);
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(last->Visible());
  EXPECT_EQ(last->Caption(), "Регистр 255");
  EXPECT_EQ(last->ImageIndex(), 40);
  // Read once after it was made: type, rights and the band's start value of its address.
  EXPECT_EQ(last->RegisterType(), rtINT);
  EXPECT_TRUE(last->UserCanWRITE());
  EXPECT_EQ(last->LastIOResult(), iorOK);
  EXPECT_EQ(last->LastStringData(), "250");
  EXPECT_EQ(Reg(0, 3, 17)->LastStringData(), "350");

  EXPECT_EQ(Tasks()->NodeCount(), 0);
  EXPECT_EQ(Tasks()->Caption(), "Процессы");
  EXPECT_EQ(Reports()->NodeCount(), 0);
  EXPECT_EQ(Reports()->Caption(), "Отчеты");
  EXPECT_EQ(TTemplates()->FindComponent("P1"), processTemplate);
  EXPECT_EQ(found, std::vector<int>({0, 1, 2}));
  EXPECT_EQ(passed.back(), 255);
  EXPECT_EQ(passed.size(), 257u);  // the reset to 0, then every address
  EXPECT_TRUE(Settings()->NewConfig());
  EXPECT_FALSE(search.Running());
}

TEST_F(DeviceSearchTest, TemplatesFromTheSavedFileShapeTheChannels) {
  Settings()->SetDemo(true);
  AddTemplate("000", "Аналоговый вход", {{"Температура", rtFLOAT, false, 1}, {"Уставка", rtINT, true, 2}});
  AddTemplate("001", "Дискретный выход", {}, false);  // no registers at all
  AddTemplate("000", "Второй шаблон того же типа", {{"Лишний", rtBOOL, true, 0}});
  Registry()->Node(0)->Node(0)->SetVisible(true);  // the first register is hidden whatever the template says
  SaveTemplates();
  // Edited after the save: a search never sees it.
  Registry()->Node(1)->SetComments("не сохранено");
  AddTemplate("001", "не сохранено", {{"Лишний", rtBOOL, true, 0}});

  QStringList frames;
  Current().Line().Trace = [&frames](const QString& line) {
    if (line.startsWith('>')) frames << line;
  };
  search.Run(smAfresh);

  ASSERT_EQ(Net()->NodeCount(), 2);
  for (int c = 0; c < 6; ++c) {
    const TRootNode* channel = Node(QString::asprintf("D000C%03d", c));
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->Comments(), "Аналоговый вход");
    EXPECT_EQ(ChildNames(*channel),
              QStringList({QString::asprintf("D000C%03dR000", c), QString::asprintf("D000C%03dR001", c),
                           QString::asprintf("D000C%03dR002", c)}));
  }
  const TRegisterNode* identifier = Reg(0, 4, 0);
  EXPECT_FALSE(identifier->Visible());
  EXPECT_EQ(identifier->Caption(), "Регистр-идентификатор");
  EXPECT_EQ(identifier->RegisterType(), rtBYTE);
  const TRegisterNode* setpoint = Reg(0, 4, 2);
  EXPECT_TRUE(setpoint->Visible());
  EXPECT_EQ(setpoint->Caption(), "Уставка");
  EXPECT_EQ(setpoint->Comments(), "Уставка, примечание");
  EXPECT_EQ(setpoint->RegisterType(), rtINT);
  EXPECT_TRUE(setpoint->UserCanWRITE());
  EXPECT_EQ(setpoint->Digits(), 2);
  EXPECT_EQ(setpoint->ImageIndex(), 40);
  EXPECT_EQ(Reg(0, 4, 1)->RegisterType(), rtFLOAT);
  EXPECT_FALSE(Reg(0, 4, 1)->UserCanWRITE());

  const TRootNode* output = Node("D001C002");
  EXPECT_EQ(output->Comments(), "Дискретный выход");
  EXPECT_EQ(output->NodeCount(), 0);
  // Only the probes went out: 256 addresses, channels 0..6 of D000 and 0..3 of D001. Registers
  // of a template are neither probed nor read.
  EXPECT_EQ(frames.size(), 256 + 7 + 4);
  EXPECT_EQ(Registry()->NodeCount(), 3);  // the saved templates replaced the edited ones
}

// vexa-cli polls BuildSimulatedNet's tree when no network is saved: it must be what a search of the
// simulated network finds with templates made from the simulator's table, as the demonstration's are.
TEST_F(DeviceSearchTest, TheSimulatedNetIsWhatASearchFindsWithTheTablesTemplates) {
  Settings()->SetDemo(true);
  for (int type : {0, 1}) {
    const TSimChannelDef def = SimulatedChannel(type);
    auto* pattern = new TRootNode(Registry().get());
    pattern->SetCaption(QString::asprintf("%03d", type));
    pattern->SetComments(QString::fromUtf8(def.Comments));
    auto* identifier = new TRegisterNode(pattern);
    identifier->SetRegisterType(rtBYTE);
    for (const TSimRegisterDef& row : def) ApplySimulatedRegister(*new TRegisterNode(pattern), row);
  }
  SaveTemplates();
  search.Run(smAfresh);
  TRootNode built(nullptr);
  BuildSimulatedNet(built);

  // Node by node, the search's identifier registers left out.
  std::vector<const TRootNode*> searched;
  std::vector<const TRootNode*> simulated;
  std::function<void(const TRootNode&, std::vector<const TRootNode*>&)> walk =
      [&walk](const TRootNode& node, std::vector<const TRootNode*>& out) {
        for (int i = 0; i < node.NodeCount(); ++i) {
          const TRootNode* child = node.Node(i);
          if (dynamic_cast<const TRegisterNode*>(child) && child->Name().endsWith("R000")) continue;
          out.push_back(child);
          walk(*child, out);
        }
      };
  walk(*Net(), searched);
  walk(built, simulated);
  ASSERT_EQ(searched.size(), 2u + 9u + 6u * 8u + 3u * 9u);
  ASSERT_EQ(simulated.size(), searched.size());
  for (size_t i = 0; i < searched.size(); ++i) {
    const TRootNode& a = *searched[i];
    const TRootNode& b = *simulated[i];
    SCOPED_TRACE(a.Name().toStdString());
    EXPECT_EQ(b.Name(), a.Name());
    EXPECT_EQ(b.Caption(), a.Caption());
    EXPECT_EQ(b.Comments(), a.Comments());
    EXPECT_EQ(b.ImageIndex(), a.ImageIndex());
    EXPECT_EQ(b.Visible(), a.Visible());
    const auto* ra = dynamic_cast<const TRegisterNode*>(&a);
    const auto* rb = dynamic_cast<const TRegisterNode*>(&b);
    ASSERT_EQ(rb != nullptr, ra != nullptr);
    if (ra == nullptr) continue;
    EXPECT_EQ(rb->RegisterType(), ra->RegisterType());
    EXPECT_EQ(rb->Digits(), ra->Digits());
    EXPECT_EQ(rb->UserCanWRITE(), ra->UserCanWRITE());
    EXPECT_EQ(rb->UserCanREAD(), ra->UserCanREAD());
  }
}

TEST_F(DeviceSearchTest, TemplatesNeverSavedAreNotUsed) {
  UseFakeLine();
  line.Devices[2] = {1};
  line.RegistersPerChannel = 1;
  AddTemplate("001", "не сохранено", {{"Лишний", rtBOOL, true, 0}});  // no templates file exists
  search.Run(smAfresh);
  EXPECT_EQ(Node("D002C000")->Comments(), "Тип канала неизвестен.");
  EXPECT_EQ(Reg(2, 0, 1)->Caption(), "Регистр 001");
  EXPECT_EQ(Registry()->NodeCount(), 0);
  EXPECT_EQ(Registry()->Caption(), "Шаблоны каналов");
}

TEST_F(DeviceSearchTest, SilentLineGivesAnEmptyNetwork) {
  UseFakeLine();
  new TRootNode(Tasks().get());
  AddRegulatorNode(*Net(), 3);

  search.Run(smAfresh);

  EXPECT_EQ(Net()->NodeCount(), 0);
  EXPECT_EQ(Net()->Caption(), "Сеть");
  EXPECT_EQ(Tasks()->NodeCount(), 0);
  EXPECT_EQ(search.DevicesFound(), 0);
  EXPECT_EQ(found, std::vector<int>({0}));
  EXPECT_EQ(search.DevicesPassed(), 255);
  EXPECT_EQ(line.Requests["D255C000R000"], 3);  // a silent address costs the three attempts
  EXPECT_TRUE(Settings()->NewConfig());
}

TEST_F(DeviceSearchTest, RegulatorAtAddress7WithAKnownAndAnUnknownChannelType) {
  UseFakeLine();
  line.Devices[7] = {1, 99};
  AddTemplate("001", "Регулятор температуры",
              {{"Температура", rtINT, false, 1}, {"Уставка", rtINT, true, 1}});
  SaveTemplates();

  search.Run(smAfresh);

  ASSERT_EQ(ChildNames(*Net()), QStringList{"D007"});
  EXPECT_EQ(ChildNames(*Node("D007")), QStringList({"D007C000", "D007C001"}));
  const TRootNode* typed = Node("D007C000");
  EXPECT_EQ(typed->Comments(), "Регулятор температуры");
  EXPECT_EQ(ChildNames(*typed), QStringList({"D007C000R000", "D007C000R001", "D007C000R002"}));
  EXPECT_FALSE(Reg(7, 0, 0)->Visible());
  EXPECT_EQ(Reg(7, 0, 1)->Caption(), "Температура");
  EXPECT_EQ(Reg(7, 0, 2)->Caption(), "Уставка");
  EXPECT_EQ(line.Requests.count("D007C000R001"), 0u);

  const TRootNode* untyped = Node("D007C001");
  EXPECT_EQ(untyped->Comments(), "Тип канала неизвестен.");
  // Probed up to the first register that does not answer (R004), each found one read once more.
  EXPECT_EQ(ChildNames(*untyped),
            QStringList({"D007C001R000", "D007C001R001", "D007C001R002", "D007C001R003"}));
  EXPECT_FALSE(Reg(7, 1, 0)->Visible());
  EXPECT_EQ(Reg(7, 1, 0)->LastStringData(), "99");
  EXPECT_EQ(Reg(7, 1, 3)->Caption(), "Регистр 003");
  EXPECT_EQ(Reg(7, 1, 3)->RegisterType(), rtINT);
  EXPECT_TRUE(Reg(7, 1, 3)->UserCanWRITE());
  EXPECT_EQ(Reg(7, 1, 3)->LastStringData(), "1234");
  EXPECT_EQ(line.Requests["D007C001R002"], 2);
  EXPECT_EQ(line.Requests["D007C001R004"], 3);
  EXPECT_EQ(line.Requests.count("D007C001R005"), 0u);
  EXPECT_EQ(found, std::vector<int>({0, 1}));
}

TEST_F(DeviceSearchTest, AnIdentifierThatIsNoNumberMeansNoDevice) {
  UseFakeLine();
  line.Devices[2] = {0};
  line.Devices[4] = {0};
  line.TextIdentifiers = {2};
  EXPECT_EQ(TDeviceSearch::ProbeChannel(Line(), 2, 0), -1);
  EXPECT_EQ(TDeviceSearch::ProbeChannel(Line(), 4, 0), 0);
  EXPECT_EQ(TDeviceSearch::ProbeChannel(Line(), 4, 1), -1);
  EXPECT_EQ(TDeviceSearch::ProbeRegister(Line(), 4, 0, 3), rtINT);
  EXPECT_EQ(TDeviceSearch::ProbeRegister(Line(), 4, 0, 4), rtUnknown);
  search.Run(smAfresh);
  EXPECT_EQ(ChildNames(*Net()), QStringList{"D004"});
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(DeviceSearchTest, OnlyAddedKeepsTheTreeAndAppendsNewRegulatorsBehind) {
  UseFakeLine();
  line.Devices[3] = {5};
  line.Devices[7] = {5};
  search.Run(smAfresh);
  TRootNode* d3 = Node("D003");
  d3->SetCaption("Печь");
  const TRegisterNode* kept = Reg(7, 0, 1);

  line.Requests.clear();
  found.clear();
  search.Run(smAdded);
  EXPECT_EQ(search.DevicesFound(), 0);
  EXPECT_EQ(ChildNames(*Net()), QStringList({"D003", "D007"}));
  EXPECT_EQ(Node("D003"), d3);
  EXPECT_EQ(d3->Caption(), "Печь");
  EXPECT_EQ(Reg(7, 0, 1), kept);
  // Addresses already in the tree are not asked.
  EXPECT_EQ(line.Requests.count("D003C000R000"), 0u);
  EXPECT_EQ(line.Requests["D004C000R000"], 3);

  line.Devices[5] = {5, 5};
  search.Run(smAdded);
  EXPECT_EQ(found, std::vector<int>({0, 0, 1}));
  EXPECT_EQ(ChildNames(*Net()), QStringList({"D003", "D007", "D005"}));
  EXPECT_EQ(Node("D005")->NodeCount(), 2);
  EXPECT_TRUE(Settings()->NewConfig());
}

TEST_F(DeviceSearchTest, OnlyRemovedDropsTheUnpluggedRegulator) {
  UseFakeLine();
  line.Devices[5] = {0};
  line.Devices[9] = {0};
  search.Run(smAfresh);
  TRootNode* d9 = Node("D009");
  line.Devices.erase(5);
  found.clear();
  // D009 answers, so the line is alive: the silent one goes without a question.
  search.ConfirmRemoval = [](int) {
    ADD_FAILURE() << "asked on a line that answers";
    return false;
  };

  const TSearchResult result = search.Run(smRemoved);

  EXPECT_EQ(found, std::vector<int>({0, 1}));
  EXPECT_EQ(Node("D005"), nullptr);
  EXPECT_EQ(FindNode(Net().get(), "D005C000R001"), nullptr);
  EXPECT_EQ(ChildNames(*Net()), QStringList{"D009"});
  EXPECT_EQ(Node("D009"), d9);
  // Only addresses in the tree are asked.
  EXPECT_EQ(line.Requests["D006C000R000"], 3);  // from the first search only
  EXPECT_EQ(search.DevicesPassed(), 255);
  EXPECT_EQ(result.Regulators, 1);
  EXPECT_EQ(result.Kept, 0);
  EXPECT_EQ(SearchReport(result).first(), "Удалено регуляторов: 1.");
}

TEST_F(DeviceSearchTest, StopEndsTheSearchAfterTheRegulatorBeingBuilt) {
  UseFakeLine();
  line.Devices[7] = {0, 0, 0};
  line.Devices[9] = {0};
  int idles = 0;
  search.OnIdle = [&idles] { ++idles; };
  // The operator presses stop while the regulator at 7 is being built.
  search.OnDevicesFound = [this](int n) {
    if (n == 1) search.Stop();
  };
  int after = 0;
  search.OnAfterChange = [&after] { ++after; };

  search.Run(smAfresh);

  EXPECT_EQ(ChildNames(*Net()), QStringList{"D007"});
  EXPECT_EQ(Node("D007")->NodeCount(), 3);  // completed first
  EXPECT_EQ(Node("D007C002")->NodeCount(), 4);
  EXPECT_EQ(search.DevicesPassed(), 7);
  EXPECT_EQ(idles, 9);  // addresses 0..7, then the one at which it stopped
  EXPECT_EQ(line.Requests.count("D008C000R000"), 0u);
  EXPECT_EQ(after, 1);
  EXPECT_TRUE(Settings()->NewConfig());
  EXPECT_FALSE(search.Running());

  // A stop request belongs to one search: the next runs to its end.
  search.OnDevicesFound = nullptr;
  search.Stop();
  search.Run(smAdded);
  EXPECT_EQ(ChildNames(*Net()), QStringList({"D007", "D009"}));
}

TEST_F(DeviceSearchTest, AFailureStillEndsTheSearchCleanly) {
  UseFakeLine();
  line.Devices[1] = {0};
  // A templates file holding something else than templates cannot be read.
  QDir(Current().Dir()).mkdir("Config");
  TSetupNode stranger(nullptr);
  stranger.SetName("REGISTRY");
  ASSERT_TRUE(SaveTreeFile(Current(), stranger));
  std::vector<QString> events;
  search.OnBeforeChange = [&events] { events.push_back("before"); };
  search.OnAfterChange = [&events] { events.push_back("after"); };

  EXPECT_THROW(search.Run(smAfresh), EStreamError);
  EXPECT_FALSE(search.Running());
  EXPECT_EQ(events, std::vector<QString>({"before", "after"}));
  EXPECT_TRUE(Settings()->NewConfig());
  EXPECT_EQ(Net()->NodeCount(), 0);

  // An error raised from a window's callback in the middle of the walk ends it the same way.
  QFile::remove(ConfigFilePath(Current().Dir(), "REGISTRY"));
  search.OnDevicesPassed = [](int a) {
    if (a == 3) throw std::runtime_error("window gone");
  };
  EXPECT_THROW(search.Run(smAfresh), std::runtime_error);
  EXPECT_FALSE(search.Running());
  EXPECT_EQ(ChildNames(*Net()), QStringList{"D001"});
  EXPECT_EQ(events.back(), "after");
  search.OnDevicesPassed = nullptr;
  search.Run(smRemoved);  // usable again
  EXPECT_EQ(Net()->NodeCount(), 1);
}

TEST_F(DeviceSearchTest, ViewsAndThePollerAreSetAsideWhileTheTreeChanges) {
  Settings()->SetDemo(true);
  AddRegulatorNode(*Net(), 100);  // before the poller walks the tree
  Current().StartPoller();
  bool oldTreeBefore = false;
  bool oldTreeAfter = true;
  bool pollerDuringSearch = true;
  search.OnBeforeChange = [&] { oldTreeBefore = Net()->FindComponent("D100") != nullptr; };
  search.OnIdle = [&] { pollerDuringSearch = Current().PollerRunning(); };
  search.OnAfterChange = [&] { oldTreeAfter = Net()->FindComponent("D100") != nullptr; };
  AddTemplate("000", "", {});
  AddTemplate("001", "", {});
  SaveTemplates();

  search.Run(smAfresh);

  EXPECT_TRUE(oldTreeBefore);
  EXPECT_FALSE(oldTreeAfter);
  EXPECT_EQ(Net()->NodeCount(), 2);
  EXPECT_FALSE(pollerDuringSearch);
  EXPECT_TRUE(Current().PollerRunning());
}

TEST_F(DeviceSearchTest, RunDuringASearchOnlyAsksItToStop) {
  UseFakeLine();
  line.Devices[0] = {0};
  line.Devices[1] = {0};
  search.OnIdle = [this] {
    if (search.DevicesPassed() == 0 && search.DevicesFound() == 1) search.Run(smRemoved);
  };
  search.Run(smAfresh);
  EXPECT_EQ(ChildNames(*Net()), QStringList{"D000"});
  EXPECT_EQ(search.DevicesPassed(), 0);
}

// ---- a dead port, a lossy line --------------------------------------------------------------------

TEST_F(DeviceSearchTest, APortErrorEndsTheSearchInEveryModeAndChangesNothing) {
  UseFakeLine();
  line.Devices[3] = {0};
  line.Devices[7] = {0, 0};
  search.Run(smAfresh);
  line.Devices[9] = {0};  // plugged in since: the added mode would append it
  line.Devices.erase(3);  // and unplugged: the removed mode would drop it
  TRootNode* const net = Net().get();
  const TComponent* const d3 = Node("D003");
  auto* process = new TRootNode(Tasks().get());
  auto* report = new TRootNode(Reports().get());
  TRootNode* const registry = Registry().get();
  AddTemplate("000", "не сохранено", {});  // an unsaved template edit
  line.Requests.clear();

  const struct {
    TSearchMode Mode;
    int LostAt;  // the address at which the device behind the port goes away
  } cases[] = {{smAfresh, 0}, {smAfresh, 8}, {smAdded, 0}, {smAdded, 10}, {smRemoved, 0}, {smRemoved, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Mode) + " lost at " + std::to_string(c.LostAt));
    Settings()->SetNewConfig(false);
    search.OnDevicesPassed = [this, &c](int a) {
      if (a == c.LostAt) Port->SetLost(true);
    };
    search.ConfirmRemoval = [](int) {
      ADD_FAILURE() << "asked about a dead port";
      return true;
    };

    const TSearchResult result = search.Run(c.Mode);

    EXPECT_TRUE(result.PortError);
    EXPECT_EQ(result.PortErrorText, "порт Com2 потерян: устройство отключено");
    EXPECT_EQ(SearchReport(result),
              QStringList({"Поиск прерван: порт Com2 потерян: устройство отключено.", "Сеть не изменена."}));
    // Ended at that address, the same trees as before, and no new configuration to save.
    EXPECT_EQ(line.Requests.count(TCustomRegister::RegisterName(c.LostAt + 1, 0, 0)), 0u);
    EXPECT_EQ(Net().get(), net);
    EXPECT_EQ(ChildNames(*Net()), QStringList({"D003", "D007"}));
    EXPECT_EQ(Node("D003"), d3);
    EXPECT_EQ(Node("D007")->NodeCount(), 2);
    EXPECT_EQ(Tasks()->Node(0), process);
    EXPECT_EQ(Reports()->Node(0), report);
    EXPECT_EQ(Registry().get(), registry);
    EXPECT_EQ(Registry()->NodeCount(), 1);
    EXPECT_FALSE(Settings()->NewConfig());
    EXPECT_EQ(found.back(), 0);
    EXPECT_FALSE(search.Running());

    Port->Close();  // the adapter is back and the port opened again
    Port->Open();
    line.Requests.clear();
  }

  // A port that was never opened fails every exchange: nothing is asked and nothing touched.
  Port->Close();
  search.OnDevicesPassed = nullptr;
  const TSearchResult closed = search.Run(smRemoved);
  EXPECT_TRUE(closed.PortError);
  EXPECT_EQ(closed.PortErrorText, "порт Com2 не открыт");
  EXPECT_TRUE(line.Requests.empty());
  EXPECT_EQ(ChildNames(*Net()), QStringList({"D003", "D007"}));
  EXPECT_EQ(Registry().get(), registry);
}

TEST_F(DeviceSearchTest, ASearchOverALineWhoseSimulatorWasKilledChangesNothing) {
  Settings()->SetDemo(true);
  AddTemplate("000", "", {});
  AddTemplate("001", "", {});
  SaveTemplates();
  search.Run(smAfresh);
  ASSERT_EQ(ChildNames(*Net()), QStringList({"D000", "D001"}));
  // The same trees on a network whose real port is on vexa-sim's line, whose other end then goes away.
  TSimLine sim;
  auto port = std::make_unique<TComm>(Current().Dir());
  port->SetDeviceName(sim.Link());
  port->Open();
  TNetwork real(Current().Dir(), std::move(port));
  real.Net() = std::move(Net());
  real.Registry() = std::move(Registry());
  real.Setup()->SetDemo(false);
  TRootNode* const net = real.Net().get();
  TDeviceSearch realSearch(real);
  sim.Kill();

  for (const TSearchMode mode : {smAfresh, smAdded, smRemoved}) {
    SCOPED_TRACE(mode);
    const TSearchResult result = realSearch.Run(mode);
    EXPECT_TRUE(result.PortError);
    EXPECT_TRUE(result.PortErrorText.endsWith("устройство отключено")) << result.PortErrorText.toStdString();
    EXPECT_EQ(real.Net().get(), net);
    EXPECT_EQ(ChildNames(*real.Net()), QStringList({"D000", "D001"}));
    EXPECT_EQ(real.Net()->Node(0)->NodeCount(), 6);
  }
}

TEST_F(DeviceSearchTest, RemovingEveryRegulatorOfASilentLineNeedsTheOperatorsYes) {
  UseFakeLine();
  line.Devices[3] = {0};
  line.Devices[7] = {0};
  search.Run(smAfresh);
  line.Devices.clear();  // the port is fine, but nothing answers: a cut cable looks the same

  const struct {
    const char* Step;
    std::optional<bool> Answer;  // none: nobody to ask
    QStringList Left;
  } steps[] = {
      {"no one to ask", std::nullopt, {"D003", "D007"}},
      {"No", false, {"D003", "D007"}},
      {"Yes", true, {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Step);
    std::vector<int> asked;
    search.ConfirmRemoval = nullptr;
    if (step.Answer) {
      search.ConfirmRemoval = [&asked, &step](int count) {
        asked.push_back(count);
        return *step.Answer;
      };
    }
    found.clear();

    const TSearchResult result = search.Run(smRemoved);

    EXPECT_EQ(asked, step.Answer ? std::vector<int>{2} : std::vector<int>{});
    EXPECT_EQ(ChildNames(*Net()), step.Left);
    EXPECT_FALSE(result.PortError);
    EXPECT_EQ(result.Regulators, step.Left.isEmpty() ? 2 : 0);
    EXPECT_EQ(result.Kept, step.Left.isEmpty() ? 0 : 2);
    EXPECT_EQ(found.back(), result.Regulators);
  }
}

TEST_F(DeviceSearchTest, TheReportCountsWhatFailedAndWarnsOfAPartialAnswer) {
  UseFakeLine();
  line.Devices[2] = {0};
  line.Devices[7] = {0, 0};
  line.RegistersPerChannel = 2;

  const struct {
    const char* Line;
    std::map<QString, std::set<int>> Drop;
    int Channels, Failed, Retried;
    std::vector<int> Partial;
  } cases[] = {
      {"clean", {}, 3, 0, 0, {}},
      // The channel probe of D007C001 answers at its second attempt: nothing is missing.
      {"one answer lost", {{"D007C001R000", {1}}}, 3, 0, 1, {}},
      // A noisy line: every regulator repeats requests, and each is answered in the end.
      {"noisy, all answered",
       {{"D002C000R000", {1}}, {"D007C000R001", {1, 2}}, {"D007C001R000", {2}}, {"D007C000R002", {1}}},
       3,
       0,
       4,
       {}},
      // R002 answers its probe, then not its read: three attempts lost.
      {"a read lost", {{"D007C000R002", {2, 3, 4}}}, 3, 1, 0, {7}},
      // Channel 0 of D002 answered the address probe, then never again: no channels, not silence.
      {"channel 0 lost", {{"D002C000R000", {2, 3, 4}}, {"D007C000R001", {1, 2}}}, 2, 1, 1, {2}},
      {"both lose a read", {{"D002C000R001", {2, 3, 4}}, {"D007C001R001", {2, 3, 4}}}, 3, 2, 0, {2, 7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    line.Drop = c.Drop;
    line.Requests.clear();

    const TSearchResult result = search.Run(smAfresh);

    EXPECT_EQ(ChildNames(*Net()), QStringList({"D002", "D007"}));
    EXPECT_EQ(result.Regulators, 2);
    EXPECT_EQ(result.Channels, c.Channels);
    EXPECT_EQ(result.Failed, c.Failed);
    EXPECT_EQ(result.Retried, c.Retried);
    EXPECT_EQ(result.Partial, c.Partial);
    EXPECT_EQ(result.Partial.empty(), result.Failed == 0);
    EXPECT_FALSE(result.Stopped);
    QStringList report = {QStringLiteral("Найдено регуляторов: 2, каналов: %1.").arg(c.Channels),
                          QStringLiteral("Запросов без ответа после всех попыток: %1.").arg(c.Failed),
                          QStringLiteral("Запросов с ответом только после повтора: %1.").arg(c.Retried)};
    for (int a : c.Partial)
      report << QString::asprintf("Регулятор %03d ответил не на все запросы: поиск стоит повторить.", a);
    EXPECT_EQ(SearchReport(result), report);
  }

  // In simulation mode nothing is lost and nothing is a port error.
  Settings()->SetDemo(true);
  AddTemplate("000", "", {});
  AddTemplate("001", "", {});
  SaveTemplates();
  search.OnIdle = [this] {
    if (search.DevicesPassed() == 1) search.Stop();
  };
  const TSearchResult simulated = search.Run(smAfresh);
  EXPECT_EQ(simulated.Regulators, 2);
  EXPECT_EQ(simulated.Channels, 9);
  EXPECT_EQ(simulated.Failed + simulated.Retried, 0);
  EXPECT_TRUE(simulated.Partial.empty());
  EXPECT_TRUE(simulated.Stopped);
  EXPECT_EQ(SearchReport(simulated).first(), "Поиск остановлен оператором.");
}

}  // namespace
}  // namespace vexa::test
