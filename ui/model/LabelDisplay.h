#pragma once
// TLabelDisplay: a value label as a node of the network tree. It belongs to its register node, is
// streamed with it, and shows "Prefix Value Units"; the widget on its diagram page mirrors it.

#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>

#include "core/Component.h"
#include "core/RegisterNode.h"

namespace vexa {

enum TStaticBorderStyle { sbsNone, sbsSingle, sbsSunken };

// The largest extent a widget can have (Qt's QWIDGETSIZE_MAX): a label's size is its view's, and its
// position lies on a page picture, which is no larger.
inline constexpr int kMaxLabelExtent = (1 << 24) - 1;

enum TFontStyle : quint32 { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum TFontPitch { fpDefault, fpVariable, fpFixed };

// The label's font; streamed as Font.Charset, Font.Color, Font.Height, Font.Name, Font.Pitch and
// Font.Style. The size in points is derived from the height and is not stored.
class TFont : public TPersistent {
 public:
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void Assign(const TFont& source);
  bool operator==(const TFont& other) const;

  int Charset() const { return charset_; }
  void SetCharset(int v) { charset_ = v; }
  int Color() const { return color_; }
  void SetColor(int v) { color_ = v; }
  int Height() const { return height_; }
  void SetHeight(int v) { height_ = v; }
  const QString& Name() const { return name_; }
  void SetName(const QString& v) { name_ = v; }
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch v) { pitch_ = v; }
  quint32 Style() const { return style_; }
  void SetStyle(quint32 v) { style_ = v & (fsBold | fsItalic | fsUnderline | fsStrikeOut); }
  // Points at 96 pixels per inch; setting it sets the height.
  int Size() const;
  void SetSize(int points);

 private:
  int charset_ = 1;  // DEFAULT_CHARSET
  int color_ = 0;    // black
  int height_ = -11;
  QString name_ = QStringLiteral("MS Sans Serif");
  TFontPitch pitch_ = fpDefault;
  quint32 style_ = 0;
};

class TLabelDisplay;

// The diagram side, which gives labels their pages. Without one (the command-line tools) labels
// have no pages and simply keep their captions up to date.
class TLabelHost {
 public:
  virtual ~TLabelHost() = default;
  // After a label was read, or placed by a drop: put it on the page ParentName names, if any,
  // and tell it with SetOnPage.
  virtual void Attach(TLabelDisplay& label) = 0;
  // A label of a register whose page is gone: to be destroyed, but not under the caller, which
  // is still using it.
  virtual void Orphaned(TLabelDisplay& label) = 0;
  // The label is being destroyed: its view and every mark of it go.
  virtual void Destroying(TLabelDisplay& label) = 0;
};

class TLabelDisplay : public TComponent, public TValueSink {
 public:
  // Owned by a register node, the label clears the register's history and enables it, so that the
  // poller starts reading it. A label read from a stream is made without an owner.
  explicit TLabelDisplay(TComponent* owner);
  // Still owned by a register node, the label disables it and clears its history.
  ~TLabelDisplay() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void Loaded() override;

  int Left() const { return left_; }
  void SetLeft(int v);
  int Top() const { return top_; }
  void SetTop(int v);
  int Width() const { return width_; }
  void SetWidth(int v);
  int Height() const { return height_; }
  void SetHeight(int v);
  int Color() const { return color_; }
  void SetColor(int v);
  TStaticBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TStaticBorderStyle v);
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& v);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& v);
  const QString& Units() const { return units_; }
  void SetUnits(const QString& v);
  const QString& Value() const { return value_; }
  void SetValue(const QString& v) override;
  const QString& Prefix() const { return prefix_; }
  void SetPrefix(const QString& v);
  const QString& ParentName() const { return parentName_; }
  void SetParentName(const QString& v);

  // Caption := Prefix + " " + Value + " " + Units, one space between the parts even when empty.
  // A label of a register whose page is gone is handed to the host for destruction instead.
  void RefreshText();

  // Whether the label sits on a page; set by the host when it attaches the label.
  bool OnPage() const { return onPage_; }
  void SetOnPage(bool v) { onPage_ = v; }

  // Views mirror the label: told after every change of a shown property, and after loading.
  std::function<void(TLabelDisplay&)> OnChange;
  // The program's one diagram side, or none.
  static TLabelHost*& Host();

 private:
  void Notify();

  int left_ = 0;
  int top_ = 0;
  int width_ = 65;
  int height_ = 17;
  int color_ = 0x00FFFF;  // yellow
  TStaticBorderStyle borderStyle_ = sbsSingle;
  TFont font_;
  QString caption_;
  QString units_;
  QString value_;
  QString prefix_;
  QString parentName_;
  bool onPage_ = false;
};

// A register dropped on a page at (left, top), the point being the label's top-left corner: its
// label (made when it has none, so a register never gets two) is attached to that page, moved
// there and prefixed with the register's caption and " =". Null when the register's first child is
// something other than a label.
TLabelDisplay* PlaceLabel(TRegisterNode& reg, const QString& pageName, int left, int top);

// Where a label of `size` with its top-left corner at `at` goes so that it lies wholly inside a
// page of `page` size: moved left and up as far as needed, never past the page's left or top edge
// (a label larger than the page shows its beginning).
QPoint KeptInsidePage(QPoint at, QSize size, QSize page);

// The label of a register as the diagrams mark it: the node's first child when that is a label.
TLabelDisplay* LabelOf(const TComponent* node);

}  // namespace vexa
