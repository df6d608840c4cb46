#include "ui/model/LabelDisplay.h"

#include <algorithm>
#include <cmath>

namespace vexa {

namespace {

TPropInfo SetProp(const QString& name, const QStringList& names, std::optional<qint64> def,
                  quint32 (TFont::*get)() const, void (TFont::*set)(quint32)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TPropKind::Set;
  p.Default = def;
  p.Names = names;
  p.Get = [get](const TPersistent& o) { return QVariant::fromValue((static_cast<const TFont&>(o).*get)()); };
  p.Set = [set](TPersistent& o, const QVariant& v) { (static_cast<TFont&>(o).*set)(v.value<quint32>()); };
  return p;
}

}  // namespace

const TClassInfo& TFont::StaticClassInfo() {
  using P = Props<TFont>;
  static const TClassInfo info{
      "TFont",
      nullptr,
      nullptr,
      {
          P::Charset("Charset", std::nullopt, &TFont::Charset, &TFont::SetCharset).Within(0, 255),
          P::Colour("Color", std::nullopt, &TFont::Color, &TFont::SetColor),
          // Any size the label dialog takes; its magnitude is the pixel size.
          P::Int("Height", std::nullopt, &TFont::Height, &TFont::SetHeight).Within(-INT32_MAX, INT32_MAX),
          P::String("Name", &TFont::Name, &TFont::SetName),
          P::Enum("Pitch",
                  {QStringLiteral("fpDefault"), QStringLiteral("fpVariable"), QStringLiteral("fpFixed")},
                  fpDefault, &TFont::Pitch, &TFont::SetPitch),
          P::Int("Size", std::nullopt, &TFont::Size, nullptr),
          SetProp("Style",
                  {QStringLiteral("fsBold"), QStringLiteral("fsItalic"), QStringLiteral("fsUnderline"),
                   QStringLiteral("fsStrikeOut")},
                  std::nullopt, &TFont::Style, &TFont::SetStyle),
      }};
  return info;
}

void TFont::Assign(const TFont& source) {
  charset_ = source.charset_;
  color_ = source.color_;
  height_ = source.height_;
  name_ = source.name_;
  pitch_ = source.pitch_;
  style_ = source.style_;
}

bool TFont::operator==(const TFont& o) const {
  return charset_ == o.charset_ && color_ == o.color_ && height_ == o.height_ && name_ == o.name_ &&
         pitch_ == o.pitch_ && style_ == o.style_;
}

int TFont::Size() const {
  return static_cast<int>(std::lround(-height_ * 72.0 / 96.0));
}

void TFont::SetSize(int points) {
  height_ = -static_cast<int>(std::lround(points * 96.0 / 72.0));
}

const TClassInfo& TLabelDisplay::StaticClassInfo() {
  using P = Props<TLabelDisplay>;
  static const TClassInfo info{
      "TLabelDisplay",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TLabelDisplay(owner); },
      {
          P::Int("Left", std::nullopt, &TLabelDisplay::Left, &TLabelDisplay::SetLeft)
              .Within(-kMaxLabelExtent, kMaxLabelExtent),
          P::Int("Top", std::nullopt, &TLabelDisplay::Top, &TLabelDisplay::SetTop)
              .Within(-kMaxLabelExtent, kMaxLabelExtent),
          P::Int("Width", std::nullopt, &TLabelDisplay::Width, &TLabelDisplay::SetWidth)
              .Within(0, kMaxLabelExtent),
          P::Int("Height", std::nullopt, &TLabelDisplay::Height, &TLabelDisplay::SetHeight)
              .Within(0, kMaxLabelExtent),
          P::Colour("Color", 0x00FFFF, &TLabelDisplay::Color, &TLabelDisplay::SetColor),
          P::Enum("BorderStyle",
                  {QStringLiteral("sbsNone"), QStringLiteral("sbsSingle"), QStringLiteral("sbsSunken")},
                  sbsSingle, &TLabelDisplay::BorderStyle, &TLabelDisplay::SetBorderStyle),
          [] {
            TPropInfo p;
            p.Name = QStringLiteral("Font");
            p.Kind = TPropKind::Object;
            p.Get = [](const TPersistent&) { return QVariant(); };
            p.Set = [](TPersistent&, const QVariant&) {};
            p.Nested = [](TPersistent& o) -> TPersistent* { return &static_cast<TLabelDisplay&>(o).font_; };
            return p;
          }(),
          P::String("Caption", &TLabelDisplay::Caption, &TLabelDisplay::SetCaption),
          P::String("Units", &TLabelDisplay::Units, &TLabelDisplay::SetUnits),
          P::String("Value", &TLabelDisplay::Value, &TLabelDisplay::SetValue),
          P::String("Prefix", &TLabelDisplay::Prefix, &TLabelDisplay::SetPrefix),
          P::String("ParentName", &TLabelDisplay::ParentName, &TLabelDisplay::SetParentName),
      }};
  return info;
}

TLabelHost*& TLabelDisplay::Host() {
  static TLabelHost* host = nullptr;
  return host;
}

TLabelDisplay::TLabelDisplay(TComponent* owner) : TComponent(owner) {
  if (auto* reg = dynamic_cast<TRegisterNode*>(owner)) {
    reg->ClearHistory();
    reg->SetEnabled(true);
  }
}

TLabelDisplay::~TLabelDisplay() {
  if (Host()) Host()->Destroying(*this);
  if (auto* reg = dynamic_cast<TRegisterNode*>(Owner());
      reg != nullptr && !(reg->ComponentState() & csDestroying)) {
    reg->SetEnabled(false);
    reg->ClearHistory();
  }
}

void TLabelDisplay::Loaded() {
  TComponent::Loaded();
  if (Host()) Host()->Attach(*this);
}

void TLabelDisplay::Notify() {
  if (OnChange && !IsStreaming()) OnChange(*this);
}

void TLabelDisplay::SetLeft(int v) {
  if (StoreIfDifferent(left_, v)) Notify();
}
void TLabelDisplay::SetTop(int v) {
  if (StoreIfDifferent(top_, v)) Notify();
}
void TLabelDisplay::SetWidth(int v) {
  if (StoreIfDifferent(width_, v)) Notify();
}
void TLabelDisplay::SetHeight(int v) {
  if (StoreIfDifferent(height_, v)) Notify();
}
void TLabelDisplay::SetColor(int v) {
  if (StoreIfDifferent(color_, v)) Notify();
}
void TLabelDisplay::SetBorderStyle(TStaticBorderStyle v) {
  if (StoreIfDifferent(borderStyle_, v)) Notify();
}
void TLabelDisplay::SetCaption(const QString& v) {
  if (StoreIfDifferent(caption_, v)) Notify();
}
void TLabelDisplay::SetParentName(const QString& v) {
  if (StoreIfDifferent(parentName_, v)) Notify();
}

void TLabelDisplay::SetFont(const TFont& v) {
  if (v == font_) return;
  font_.Assign(v);
  Notify();
}

void TLabelDisplay::SetUnits(const QString& v) {
  units_ = v;
  RefreshText();
}

void TLabelDisplay::SetValue(const QString& v) {
  value_ = v;
  RefreshText();
}

void TLabelDisplay::SetPrefix(const QString& v) {
  prefix_ = v;
  RefreshText();
}

void TLabelDisplay::RefreshText() {
  // A label being read has no owner yet: its text is built as it is read.
  if (Host() && Owner() != nullptr && !onPage_ && !IsStreaming()) {
    Host()->Orphaned(*this);
    return;
  }
  caption_ = prefix_ + QLatin1Char(' ') + value_ + QLatin1Char(' ') + UnitsShown(units_);
  Notify();
}

TLabelDisplay* LabelOf(const TComponent* node) {
  if (node == nullptr || node->ComponentCount() == 0) return nullptr;
  return dynamic_cast<TLabelDisplay*>(node->Component(0));
}

TLabelDisplay* PlaceLabel(TRegisterNode& reg, const QString& pageName, int left, int top) {
  TLabelDisplay* label = nullptr;
  if (reg.ComponentCount() == 0) {
    label = new TLabelDisplay(&reg);
  } else {
    label = LabelOf(&reg);
    if (label == nullptr) return nullptr;
  }
  label->SetParentName(pageName);
  if (TLabelDisplay::Host()) TLabelDisplay::Host()->Attach(*label);
  label->SetLeft(left);
  label->SetTop(top);
  label->SetPrefix(reg.Caption() + QStringLiteral(" ="));
  return label;
}

QPoint KeptInsidePage(QPoint at, QSize size, QSize page) {
  const auto keep = [](int start, int length, int room) {
    return std::max(0, std::min(start, room - length));
  };
  return {keep(at.x(), size.width(), page.width()), keep(at.y(), size.height(), page.height())};
}

}  // namespace vexa
