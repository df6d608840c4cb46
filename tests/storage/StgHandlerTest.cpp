// Component trees in compound files, checked with an independent reader where the layout matters.

#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <functional>
#include <map>
#include <random>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

// path inside the file ("000/001/Object") -> stream bytes; storages map to an empty optional.
using TListing = std::map<QString, std::optional<QByteArray>>;

// Lists a compound file with Python's olefile, which shares no code with ours.
TListing OleListing(const QString& path) {
  static const char* script =
      "import olefile, sys\n"
      "ole = olefile.OleFileIO(sys.argv[1])\n"
      "for e in ole.listdir(streams=True, storages=True):\n"
      "    p = '/'.join(e)\n"
      "    if ole.get_type(e) == olefile.STGTY_STREAM:\n"
      "        print('S', p, ole.openstream(e).read().hex())\n"
      "    else:\n"
      "        print('D', p, '-')\n";
  QProcess py;
  py.start("/usr/bin/python3", {"-c", script, path});
  EXPECT_TRUE(py.waitForFinished(60000));
  EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
  TListing out;
  for (const QByteArray& line : py.readAllStandardOutput().split('\n')) {
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3) continue;
    if (parts[0] == "S")
      out[QString::fromUtf8(parts[1])] = QByteArray::fromHex(parts[2]);
    else
      out[QString::fromUtf8(parts[1])] = std::nullopt;
  }
  return out;
}

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::unique_ptr<TRootNode> Flat(int children, const QString& captionPrefix = "n") {
  auto root = std::make_unique<TRootNode>(nullptr);
  root->SetName("NET");
  for (int i = 0; i < children; ++i) {
    auto* c = new TRootNode(root.get());
    c->SetName(QStringLiteral("D%1").arg(i, 4, 10, QLatin1Char('0')));
    c->SetCaption(captionPrefix + QString::number(i));
  }
  return root;
}

// Names of the direct children as loaded.
QStringList ChildNames(const TComponent& c) {
  QStringList names;
  for (int i = 0; i < c.ComponentCount(); ++i) names << c.Component(i)->Name();
  return names;
}

class TreeFileTest : public test::TVexaTest {
 protected:
  QString Path(const QString& name = "NET.cfg") const { return Dir->filePath(name); }
};

TEST_F(TreeFileTest, LayoutSeenByAnIndependentReader) {
  auto net = std::make_unique<TRootNode>(nullptr);
  net->SetName("NET");
  auto* d = new TRootNode(net.get());
  d->SetName("D001");
  auto* c = new TRootNode(d);
  c->SetName("D001C000");
  auto* r0 = new TRegisterNode(c);
  r0->SetName("D001C000R000");
  auto* label = new TLabelDisplay(r0);
  label->SetParentName("ts0");
  r0->SetPoints({"07.12.2026 12:00:00"});
  r0->SetDataList({"1"});
  auto* r1 = new TRegisterNode(c);
  r1->SetName("D001C000R001");

  const TListing expected = {
      {"Object", WriteComponent(*net)},
      {"000", std::nullopt},
      {"000/Object", WriteComponent(*d)},
      {"000/000", std::nullopt},
      {"000/000/Object", WriteComponent(*c)},
      {"000/000/000", std::nullopt},
      {"000/000/000/Object", WriteComponent(*r0)},
      {"000/000/000/000", std::nullopt},
      {"000/000/000/000/Object", WriteComponent(*label)},
      {"000/000/001", std::nullopt},
      {"000/000/001/Object", WriteComponent(*r1)},
  };
  auto h = TStgHandler::Create(Path());
  ASSERT_TRUE(h->Valid());
  ASSERT_TRUE(h->SaveTree(*net));
  EXPECT_EQ(OleListing(Path()), expected);
  for (TRootNode* n : {net.get(), d, c, static_cast<TRootNode*>(r0), static_cast<TRootNode*>(r1)})
    EXPECT_FALSE(n->Changed()) << n->Name().toStdString();

  std::unique_ptr<TComponent> back;
  auto reader = TStgHandler::Open(Path());
  reader->LoadTree(back);
  ASSERT_TRUE(back);
  // The reader gave its streams away while building; loading again leaves the target alone.
  const TComponent* first = back.get();
  reader->LoadTree(back);
  EXPECT_EQ(back.get(), first);
  const TComponent* lr0 = FindNode(back.get(), "D001C000R000");
  ASSERT_NE(lr0, nullptr);
  ASSERT_EQ(lr0->ComponentCount(), 1);
  EXPECT_EQ(lr0->Component(0)->ClassName(), "TLabelDisplay");
  EXPECT_EQ(static_cast<const TLabelDisplay*>(lr0->Component(0))->ParentName(), "ts0");
  EXPECT_EQ(ChildNames(*FindNode(back.get(), "D001C000")), (QStringList{"D001C000R000", "D001C000R001"}));
}

TEST_F(TreeFileTest, ShrinkingTreeLeavesNoStaleChildren) {
  auto five = Flat(5);
  new TRootNode(five->Component(4));  // a grandchild under the child that goes away
  ASSERT_TRUE(TStgHandler::Create(Path())->SaveTree(*five));
  auto three = Flat(3, "m");
  ASSERT_TRUE(TStgHandler::Create(Path())->SaveTree(*three));
  QStringList top;
  for (const auto& [path, value] : OleListing(Path()))
    if (!path.contains('/')) top << path;
  EXPECT_EQ(top, (QStringList{"000", "001", "002", "Object"}));

  std::unique_ptr<TComponent> back;
  TStgHandler::Open(Path())->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back), ChildNames(*three));
  EXPECT_EQ(static_cast<TRootNode*>(back->Component(2))->Caption(), "m2");
}

TEST_F(TreeFileTest, ThousandAndOneChildrenComeBackInOrder) {
  auto big = Flat(1001);
  ASSERT_TRUE(TStgHandler::Create(Path())->SaveTree(*big));
  auto file = CompoundFile::Open(Path());
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->Root().HasStorage("999"));
  EXPECT_TRUE(file->Root().HasStorage("1000"));
  EXPECT_FALSE(file->Root().HasStorage("0999"));
  EXPECT_EQ(TStgHandler::ChildName(9), "009");
  EXPECT_EQ(TStgHandler::ChildName(1000), "1000");
  std::unique_ptr<TComponent> back;
  TStgHandler::Open(Path())->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back), ChildNames(*big));
}

// Writes a file level by level through the facade, so damaged layouts can be made.
class TFileBuilder {
 public:
  TFileBuilder() : file_(CompoundFile::Create()) {}
  CompoundStorage& At(const QString& path) {
    CompoundStorage* s = &file_->Root();
    for (const QString& part : path.split('/', Qt::SkipEmptyParts))
      s = s->HasStorage(part) ? s->OpenStorage(part) : &s->CreateStorage(part);
    return *s;
  }
  void Node(const QString& path, const QString& name) {
    TRootNode n(nullptr);
    n.SetName(name);
    At(path).CreateStream("Object") = WriteComponent(n);
  }
  bool Save(const QString& path) { return file_->Save(path); }

 private:
  std::unique_ptr<CompoundFile> file_;
};

QStringList DamagedParts(const TStgHandler& h) {
  QStringList parts;
  for (const TDamagedPart& d : h.Damage()) parts << d.Part;
  return parts;
}

// A part that is there but cannot be read is left out and named, and everything else still loads:
// the children after a gap in the numbering too, in the order of their numbers.
TEST_F(TreeFileTest, DamagedPartsAreLeftOutNamedAndTheRestLoads) {
  TFileBuilder b;
  b.Node("", "NET");
  b.Node("000", "A");
  b.Node("001", "B");
  b.Node("003", "D");  // no 002
  b.Node("005", "F");  // no 004
  b.At("001/000");     // an empty level below B
  b.Node("001/001", "B1");
  b.At("001").CreateStream("Extra") = "?";  // an element the program never writes
  ASSERT_TRUE(b.Save(Path()));
  std::unique_ptr<TComponent> back;
  auto h = TStgHandler::Open(Path());
  h->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back), (QStringList{"A", "B", "D", "F"}));
  EXPECT_EQ(ChildNames(*back->Component(1)), QStringList{"B1"});
  EXPECT_EQ(DamagedParts(*h), (QStringList{"001/000", "001/Extra", "002", "004"}));
  ASSERT_EQ(h->Damage().size(), 4u);
  EXPECT_EQ(DamagedPartText(h->Damage()[0]),
            QStringLiteral("001/000 (в B): нет объекта; часть пропущена вместе с вложенными"));
  EXPECT_EQ(h->Damage()[2].Owner, "NET");
  EXPECT_TRUE(h->Damage()[2].Reason.contains("нет 002 в нумерации")) << h->Damage()[2].Reason.toStdString();

  TFileBuilder c;
  c.Node("", "NET");
  c.Node("000", "A");
  TRootNode misnamed(nullptr);
  misnamed.SetName("B");
  c.At("001").CreateStream("Objecu") = WriteComponent(misnamed);  // the object misnamed
  c.Node("001/000", "B0");
  c.Node("002", "C");
  c.Node("003", "A");  // a second A
  ASSERT_TRUE(c.Save(Path("damaged.cfg")));
  h = TStgHandler::Open(Path("damaged.cfg"));
  h->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back), (QStringList{"A", "C"}));
  EXPECT_EQ(DamagedParts(*h), (QStringList{"001", "003"}));
  EXPECT_TRUE(h->Damage()[0].Reason.contains("есть поток Objecu")) << h->Damage()[0].Reason.toStdString();
  EXPECT_TRUE(h->Damage()[1].Reason.contains("имя A")) << h->Damage()[1].Reason.toStdString();

  // A sound file loads without a word.
  ASSERT_TRUE(TStgHandler::Create(Path("sound.cfg"))->SaveTree(*back));
  h = TStgHandler::Open(Path("sound.cfg"));
  h->LoadTree(back);
  EXPECT_TRUE(h->Damage().empty());
  EXPECT_EQ(ChildNames(*back), (QStringList{"A", "C"}));
}

TEST_F(TreeFileTest, MissingOrForeignFileChangesNothingOnLoad) {
  std::unique_ptr<TComponent> target = Flat(2);
  TComponent* before = target.get();
  auto h = TStgHandler::Open(Path("nothing.cfg"));
  EXPECT_FALSE(h->Valid());
  EXPECT_EQ(h->ErrorText(),
            QStringLiteral("Файл не существует или испорчен: '%1'!").arg(Path("nothing.cfg")));
  h->LoadTree(target);
  EXPECT_EQ(target.get(), before);
  EXPECT_EQ(target->ComponentCount(), 2);

  QFile text(Path("text.cfg"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("not a compound file at all, just words\n");
  text.close();
  TStgHandler::Open(Path("text.cfg"))->LoadTree(target);
  EXPECT_EQ(target.get(), before);
  EXPECT_TRUE(Messages->Shown.empty());

  // Saving over the foreign file replaces it by a compound file.
  ASSERT_TRUE(TStgHandler::Create(Path("text.cfg"))->SaveTree(*target));
  EXPECT_TRUE(CompoundFile::IsStorageFile(Path("text.cfg")));
  std::unique_ptr<TComponent> back;
  TStgHandler::Open(Path("text.cfg"))->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back), ChildNames(*target));
}

// Below the file level a stream that does not parse costs its level and subtree only; at the file
// level it is the whole file, and the load changes nothing.
TEST_F(TreeFileTest, AMalformedStreamCostsItsLevelOrAtTheTopTheWholeLoad) {
  const QByteArray bogus(
      "TPF0\x09TRootNode\x00\x05"
      "Bogus\x02\x01\x00\x00",
      25);
  TFileBuilder b;
  b.Node("", "NET");
  b.Node("000", "A");
  b.Node("000/000", "A0");
  b.At("000/001").CreateStream("Object") = bogus;
  b.Node("000/001/000", "lost");
  b.Node("000/002", "A2");
  ASSERT_TRUE(b.Save(Path()));
  const QByteArray fileBefore = FileBytes(Path());
  std::unique_ptr<TComponent> back;
  auto h = TStgHandler::Open(Path());
  h->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back->Component(0)), (QStringList{"A0", "A2"}));
  ASSERT_EQ(DamagedParts(*h), QStringList{"000/001"});
  EXPECT_EQ(h->Damage()[0].Owner, "A");
  EXPECT_TRUE(h->Damage()[0].Reason.contains("Bogus")) << h->Damage()[0].Reason.toStdString();
  EXPECT_EQ(FileBytes(Path()), fileBefore);

  TFileBuilder top;
  top.At("").CreateStream("Object") = bogus;
  top.Node("000", "A");
  ASSERT_TRUE(top.Save(Path("top.cfg")));
  std::unique_ptr<TComponent> target = Flat(3);
  TComponent* before = target.get();
  try {
    TStgHandler::Open(Path("top.cfg"))->LoadTree(target);
    ADD_FAILURE() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_TRUE(e.Message().contains("Bogus")) << e.what();
  }
  EXPECT_EQ(target.get(), before);
  EXPECT_EQ(ChildNames(*target), ChildNames(*Flat(3)));
}

TEST_F(TreeFileTest, UnwritableLocationWritesNothingAndKeepsChangedSet) {
  auto tree = Flat(2);
  const QString path = Dir->filePath("no/such/folder/NET.cfg");
  auto h = TStgHandler::Create(path);
  EXPECT_FALSE(h->Valid());
  EXPECT_EQ(h->ErrorText(), QStringLiteral("Не могу создать файл: '%1': папка не существует!").arg(path));
  EXPECT_FALSE(h->SaveTree(*tree));
  EXPECT_TRUE(tree->Changed());
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(TreeFileTest, SubStorageHandlersReportTheirNames) {
  auto file = TStgHandler::Create(Path());
  ASSERT_TRUE(file->Valid());
  auto bad = TStgHandler::Create("a/b", file.get());  // not a valid element name
  EXPECT_FALSE(bad->Valid());
  EXPECT_EQ(bad->ErrorText(), QStringLiteral("Не могу создать субпамять: 'a/b'!"));
  auto missing = TStgHandler::Open("000", file.get());
  EXPECT_FALSE(missing->Valid());
  EXPECT_EQ(missing->ErrorText(), QStringLiteral("Не могу открыть субпамять: '000'!"));
}

// A save killed at any moment leaves a file that loads, holding the old tree or the new one.
TEST_F(TreeFileTest, KilledSaveLeavesTheOldOrTheNewFile) {
  auto make = [](const QString& caption) {
    auto net = std::make_unique<TRootNode>(nullptr);
    net->SetName("NET");
    net->SetCaption(caption);
    for (int d = 0; d < 4; ++d) {
      auto* dev = new TRootNode(net.get());
      dev->SetName(QStringLiteral("D%1").arg(d));
      for (int r = 0; r < 100; ++r) {
        auto* reg = new TRegisterNode(dev);
        reg->SetName(TCustomRegister::RegisterName(d, 0, r));
        QStringList points;
        for (int k = 0; k < 100; ++k) points << QStringLiteral("07.12.2026 12:%1:00").arg(k % 60);
        reg->SetPoints(points);
        reg->SetDataList(points);
      }
    }
    return net;
  };
  auto oldTree = make("old");
  ASSERT_TRUE(TStgHandler::Create(Path())->SaveTree(*oldTree));
  QElapsedTimer timer;
  timer.start();
  auto newTree = make("new");
  ASSERT_TRUE(TStgHandler::Create(Path("probe.cfg"))->SaveTree(*newTree));
  const qint64 saveMs = std::max<qint64>(timer.elapsed(), 5);

  std::mt19937 random(11);
  for (int round = 0; round < 5; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) TStgHandler::Create(Path())->SaveTree(i % 2 == 0 ? *newTree : *oldTree);
    }
    usleep(static_cast<useconds_t>(1000 * (random() % (3 * saveMs))));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::unique_ptr<TComponent> back;
    TStgHandler::Open(Path())->LoadTree(back);
    ASSERT_TRUE(back) << "round " << round;
    const QString caption = static_cast<TRootNode&>(*back).Caption();
    EXPECT_TRUE(caption == "old" || caption == "new") << caption.toStdString();
    EXPECT_EQ(back->ComponentCount(), 4);
    EXPECT_EQ(back->Component(3)->ComponentCount(), 100);
  }
}

// How a save updated a file before its streams were made straight into it: the old file read
// whole, each node's stream written over the old one in memory, surplus children removed, the
// whole tree written out.
QByteArray UpdatedInMemory(const QString& path, TComponent& tree) {
  std::unique_ptr<CompoundFile> file =
      QFile::exists(path) ? CompoundFile::Open(path) : CompoundFile::Create();
  const std::function<void(CompoundStorage&, TComponent&)> store = [&](CompoundStorage& level,
                                                                       TComponent& node) {
    WriteComponentOver(node,
                       level.HasStream("Object") ? level.Stream("Object") : level.CreateStream("Object"));
    const int count = node.ComponentCount();
    for (int i = 0; i < count; ++i) {
      const QString name = TStgHandler::ChildName(i);
      CompoundStorage* child = level.OpenStorage(name);
      store(child ? *child : level.CreateStorage(name), *node.Component(i));
    }
    for (const QString& name : level.StorageNames()) {
      bool number = false;
      const int index = name.toInt(&number);
      if (number && TStgHandler::ChildName(index) == name && index >= count) level.RemoveStorage(name);
    }
  };
  store(file->Root(), tree);
  return *file->ToBytes();
}

// A state file saved over and over as a network changes (regulators, channels and registers
// come and go, texts and histories grow and shrink across the mini stream's cut-off) holds what
// updating the whole file in memory gives, whether the save starts from the tree it wrote last
// or reads the old file again, or fails on the way.
TEST_F(TreeFileTest, StateFileSavesWriteWhatUpdatingTheFileInMemoryWrites) {
  QDir(Dir->path()).mkpath("Config");
  const QString path = ConfigFilePath(Current().Dir(), "NET");
  std::mt19937 random(3);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const auto history = [&](int entries) {
    QStringList list;
    for (int k = 0; k < entries; ++k)
      list << QStringLiteral("07.12.2026 09:%1:00,%2").arg(k % 60).arg(pick(1000));
    return list;
  };
  TRootNode& net = *Net();
  int serial = 0;
  const auto addRegister = [&](TComponent& channel) {
    auto* reg = new TRegisterNode(&channel);
    reg->SetName(QStringLiteral("R%1").arg(++serial));
    reg->SetCaption(QString(pick(30), QChar(0x0416)));
    if (pick(2) == 0) reg->SetDataList(history(pick(400)));
    if (pick(4) == 0) (new TLabelDisplay(reg))->SetPrefix(QString(pick(10), QLatin1Char('p')));
  };
  const auto addDevice = [&] {
    auto* dev = new TRootNode(&net);
    dev->SetName(QStringLiteral("D%1").arg(++serial));
    for (int c = pick(3); c >= 0; --c) {
      auto* ch = new TRootNode(dev);
      ch->SetName(QStringLiteral("C%1").arg(++serial));
      for (int r = pick(6); r >= 0; --r) addRegister(*ch);
    }
  };
  for (int d = 0; d < 4; ++d) addDevice();
  for (int round = 0; round < 24; ++round) {
    const std::string what = "round " + std::to_string(round);
    net.SetCaption(QString(pick(200), QLatin1Char('n')));
    for (int change = 0; change < 6; ++change) {
      const int op = pick(5);
      auto* dev = net.ComponentCount() > 0
                      ? static_cast<TRootNode*>(net.Component(pick(net.ComponentCount())))
                      : nullptr;
      auto* ch = dev && dev->ComponentCount() > 0 ? dev->Component(pick(dev->ComponentCount())) : nullptr;
      auto* reg = ch && ch->ComponentCount() > 0
                      ? static_cast<TRegisterNode*>(ch->Component(pick(ch->ComponentCount())))
                      : nullptr;
      if (op == 0) addDevice();
      if (op == 1 && dev && net.ComponentCount() > 1) delete dev;
      if (op == 2 && ch) addRegister(*ch);
      if (op == 3 && reg) delete reg;
      if (op == 4 && reg) reg->SetDataList(history(pick(2) == 0 ? pick(20) : 150 + pick(300)));
    }
    if (round % 4 == 3) CompoundFile::TakeKept(path);  // as a new run: the old file read again
    const QByteArray expected = UpdatedInMemory(path, net);
    if (round % 5 == 4) {
      // A failed save leaves the file and lets the tree it started from go; the next one is whole.
      SetFileFault([](TFileStep step, const QString&) { return step == TFileStep::Rename ? EIO : 0; });
      EXPECT_FALSE(SaveTreeFile(Current(), net)) << what;
      SetFileFault(nullptr);
    }
    QString why;
    ASSERT_TRUE(SaveTreeFile(Current(), net, &why)) << what << ": " << why.toStdString();
    ASSERT_TRUE(FileBytes(path) == expected) << what;
  }
}

// A file-level handler writes once: it then holds no tree, whether its save succeeded or not, so
// nothing is left pointing at the nodes it made its streams from.
TEST_F(TreeFileTest, AFileLevelHandlerWritesOnce) {
  auto tree = Flat(3);
  for (bool fails : {false, true}) {
    auto h = TStgHandler::Create(Path());
    ASSERT_TRUE(h->Valid());
    if (fails)
      SetFileFault([](TFileStep step, const QString&) { return step == TFileStep::Write ? ENOSPC : 0; });
    EXPECT_EQ(h->SaveTree(*tree), !fails);
    SetFileFault(nullptr);
    EXPECT_FALSE(h->Valid());
    EXPECT_EQ(h->Storage(), nullptr);
    EXPECT_TRUE(h->StorageNames().isEmpty());
    EXPECT_FALSE(h->SaveTree(*tree));
  }
  std::unique_ptr<TComponent> back;
  TStgHandler::Open(Path())->LoadTree(back);
  ASSERT_TRUE(back);
  EXPECT_EQ(ChildNames(*back), ChildNames(*tree));
}

// A load reads the streams as it builds the tree: a file cut short after it was opened is told as
// a file whose structure cannot be read, as when it is cut short before, and the tree is not
// replaced; a stream that does not parse is still told as before, the rest loaded.
TEST_F(TreeFileTest, ALoadReadingStreamAsItGoesTellsAFileCutShortAsBefore) {
  auto tree = Flat(40);
  for (int i = 0; i < 40; ++i) {
    auto* reg = new TRegisterNode(tree->Component(i));
    reg->SetName("R");
    reg->SetDataList(QStringList(300, "12,5"));
  }
  ASSERT_TRUE(TStgHandler::Create(Path())->SaveTree(*tree));
  const QByteArray whole = FileBytes(Path());

  auto h = TStgHandler::Open(Path());
  ASSERT_TRUE(h->Valid());
  QFile f(Path());
  ASSERT_TRUE(f.resize(whole.size() / 2));
  std::unique_ptr<TComponent> target;
  EXPECT_THROW(h->LoadTree(target), ECompoundReadError);
  EXPECT_FALSE(target);
  try {
    ReadTreeFile(Path());
    ADD_FAILURE() << "the cut file was read";
  } catch (const EUnreadableFiles& e) {
    ASSERT_EQ(e.Files().size(), 1u);
    EXPECT_TRUE(e.Files()[0].Reason.startsWith("структура файла нарушена"))
        << e.Files()[0].Reason.toStdString();
  }

  auto file = CompoundFile::OpenBytes(whole);
  ASSERT_TRUE(file);
  file->Root().OpenStorage("007")->OpenStorage("000")->Stream("Object") = "TPF0 not a stream";
  ASSERT_TRUE(file->Save(Path()));
  std::vector<TDamagedPart> damage;
  const auto loaded = ReadTreeFile(Path(), &damage);
  ASSERT_TRUE(loaded);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0].Part, "007/000");
  EXPECT_TRUE(damage[0].Reason.startsWith("объект не разбирается")) << damage[0].Reason.toStdString();
  EXPECT_EQ(loaded->Component(7)->ComponentCount(), 0);
  EXPECT_EQ(loaded->Component(8)->ComponentCount(), 1);
}

}  // namespace
}  // namespace vexa
