// The value label as a node: its text, its register's polling and history, placing it by a drop,
// and its hand-over to the diagram side when its page is gone.

#include <QRect>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa::test {
namespace {

// The diagram side as the label sees it: pages by name, and what it was told.
class TRecordingHost : public TLabelHost {
 public:
  QStringList Pages{QStringLiteral("ts0"), QStringLiteral("ts1")};
  std::vector<TLabelDisplay*> Attached, Orphans, Destroyed;

  void Attach(TLabelDisplay& label) override {
    Attached.push_back(&label);
    label.SetOnPage(Pages.contains(label.ParentName()));
  }
  void Orphaned(TLabelDisplay& label) override { Orphans.push_back(&label); }
  void Destroying(TLabelDisplay& label) override { Destroyed.push_back(&label); }
};

class LabelDisplayTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    reg = new TRegisterNode(Net().get());
    reg->SetName(TCustomRegister::RegisterName(1, 0, 5));
    reg->SetCaption(QStringLiteral("Температура"));
    reg->SetPoints({"07.12.2026 12:00:00"});
    reg->SetDataList({"20,5"});
  }
  void TearDown() override {
    TLabelDisplay::Host() = nullptr;
    TVexaTest::TearDown();
  }
  TRegisterNode* reg = nullptr;
};

TEST_F(LabelDisplayTest, TheTextHasOneSpaceBetweenItsPartsEvenWhenOneIsEmpty) {
  struct TCase {
    const char* Prefix;
    const char* Value;
    const char* Units;
    const char* Caption;
  };
  const TCase cases[] = {
      {"T =", "12,5", "°C", "T = 12,5 °C"},
      {"T =", "12,5", "", "T = 12,5 "},
      {"T =", "", "°C", "T =  °C"},
      {"", "", "", "  "},
      {"Q =", "3,2", "м3/ч", "Q = 3,2 м³/ч"},
  };
  TLabelDisplay label(reg);
  for (const TCase& c : cases) {
    label.SetPrefix(QString::fromUtf8(c.Prefix));
    label.SetValue(QString::fromUtf8(c.Value));
    label.SetUnits(QString::fromUtf8(c.Units));
    EXPECT_EQ(label.Caption(), QString::fromUtf8(c.Caption));
  }
}

TEST_F(LabelDisplayTest, ALabelPollsItsRegisterFromAFreshHistoryAndStopsItWhenItGoes) {
  reg->SetEnabled(false);
  auto* label = new TLabelDisplay(reg);
  EXPECT_TRUE(reg->Enabled());
  EXPECT_TRUE(reg->Points().isEmpty());
  EXPECT_TRUE(reg->DataList().isEmpty());
  Settings()->SetDemo(true);
  reg->Update(Line());
  EXPECT_FALSE(label->Value().isEmpty());
  EXPECT_EQ(label->Value(), reg->LastStringData());

  delete label;
  EXPECT_EQ(reg->ComponentCount(), 0);
  EXPECT_FALSE(reg->Enabled());
  EXPECT_TRUE(reg->Points().isEmpty());
}

TEST_F(LabelDisplayTest, ADropMakesOneLabelAndASecondDropMovesItWithAFreshPrefix) {
  TRecordingHost host;
  TLabelDisplay::Host() = &host;
  TLabelDisplay* first = PlaceLabel(*reg, QStringLiteral("ts0"), 40, 25);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Owner(), reg);
  EXPECT_EQ(first->ParentName(), "ts0");
  EXPECT_EQ(first->Left(), 40);
  EXPECT_EQ(first->Top(), 25);
  EXPECT_EQ(first->Prefix(), QStringLiteral("Температура ="));
  EXPECT_TRUE(reg->Enabled());
  EXPECT_TRUE(reg->DataList().isEmpty());
  ASSERT_EQ(host.Attached.size(), 1u);

  first->SetPrefix(QStringLiteral("typed by hand"));
  first->SetUnits(QStringLiteral("°C"));
  first->SetColor(0x0000FF);
  TLabelDisplay* second = PlaceLabel(*reg, QStringLiteral("ts1"), 5, 6);
  EXPECT_EQ(second, first);
  EXPECT_EQ(reg->ComponentCount(), 1);
  EXPECT_EQ(second->ParentName(), "ts1");
  EXPECT_EQ(second->Prefix(), QStringLiteral("Температура ="));
  EXPECT_EQ(second->Units(), QStringLiteral("°C"));
  EXPECT_EQ(second->Color(), 0x0000FF);
  EXPECT_EQ(second->Left(), 5);
  EXPECT_EQ(host.Attached.size(), 2u);
  EXPECT_TRUE(host.Orphans.empty());

  delete second;
  EXPECT_EQ(host.Destroyed, std::vector<TLabelDisplay*>{first});
}

TEST_F(LabelDisplayTest, WithoutADiagramSideLabelsKeepTheirTextAndNeverGo) {
  TLabelDisplay* label = PlaceLabel(*reg, QStringLiteral("ts9"), 1, 1);
  ASSERT_NE(label, nullptr);
  label->SetValue(QStringLiteral("7"));
  EXPECT_EQ(label->Caption(), QStringLiteral("Температура = 7 "));
  EXPECT_EQ(reg->ComponentCount(), 1);
}

TEST_F(LabelDisplayTest, ALabelWhosePageIsGoneIsHandedOverAtItsNextRefreshNotDestroyedInIt) {
  TRecordingHost host;
  TLabelDisplay::Host() = &host;
  TLabelDisplay* label = PlaceLabel(*reg, QStringLiteral("ts7"), 1, 1);
  ASSERT_NE(label, nullptr);
  EXPECT_FALSE(label->OnPage());
  host.Orphans.clear();

  Settings()->SetDemo(true);
  reg->Update(Line());  // the register's refresh hands its value on
  ASSERT_EQ(host.Orphans, std::vector<TLabelDisplay*>{label});
  EXPECT_EQ(reg->ComponentCount(), 1) << "destroyed inside the refresh that used it";
  EXPECT_EQ(label->Caption(), QString()) << "an orphan's text is not rebuilt";

  // A label of an existing page and one without a register are never handed over.
  host.Orphans.clear();
  label->SetParentName(QStringLiteral("ts1"));
  host.Attach(*label);
  label->SetValue(QStringLiteral("1"));
  TLabelDisplay loose(nullptr);
  loose.SetValue(QStringLiteral("2"));
  EXPECT_TRUE(host.Orphans.empty());
  EXPECT_EQ(loose.Caption(), QStringLiteral(" 2 "));
}

TEST_F(LabelDisplayTest, OnlyALabelAsFirstChildIsARegistersLabel) {
  EXPECT_EQ(LabelOf(nullptr), nullptr);
  EXPECT_EQ(LabelOf(reg), nullptr);
  auto* other = new TRootNode(reg);
  other->SetName("X");
  EXPECT_EQ(LabelOf(reg), nullptr);
  EXPECT_EQ(PlaceLabel(*reg, QStringLiteral("ts0"), 0, 0), nullptr);
  EXPECT_EQ(reg->ComponentCount(), 1);
}

// A 120 x 20 label on a 640 x 400 page, dropped at each edge and corner and beyond: it is moved
// left and up just enough to be whole; a label larger than the page starts at its top-left corner.
TEST(KeptInsidePage, ALabelIsMovedLeftAndUpUntilItIsWhole) {
  const QSize page(640, 400);
  const QSize label(120, 20);
  const struct {
    const char* Where;
    QPoint At;
    QSize Size;
    QPoint Kept;
  } cases[] = {
      {"inside", {100, 50}, label, {100, 50}},
      {"touching the right edge", {520, 50}, label, {520, 50}},
      {"over the right edge", {600, 50}, label, {520, 50}},
      {"over the bottom edge", {100, 395}, label, {100, 380}},
      {"top-left corner", {0, 0}, label, {0, 0}},
      {"top-right corner", {639, 0}, label, {520, 0}},
      {"bottom-left corner", {0, 399}, label, {0, 380}},
      {"bottom-right corner", {639, 399}, label, {520, 380}},
      {"beyond the bottom-right corner", {900, 700}, label, {520, 380}},
      {"left of the page", {-30, 50}, label, {0, 50}},
      {"above the page", {100, -5}, label, {100, 0}},
      {"wider than the page", {300, 50}, {800, 20}, {0, 50}},
      {"taller than the page", {100, 200}, {120, 500}, {100, 0}},
      {"larger than the page", {300, 300}, {700, 450}, {0, 0}},
      {"exactly the page", {10, 10}, page, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Where);
    const QPoint kept = KeptInsidePage(c.At, c.Size, page);
    EXPECT_EQ(kept, c.Kept);
    const QRect shown(kept, c.Size);
    if (c.Size.width() <= page.width() && c.Size.height() <= page.height()) {
      EXPECT_TRUE(QRect(QPoint(0, 0), page).contains(shown));
    }
  }
}

}  // namespace
}  // namespace vexa::test
