#include "storage/StreamIdents.h"

#include "storage/StreamFormat.h"

namespace vexa {

namespace {

struct TIdentValue {
  const char* Ident;
  qint64 Value;
};

constexpr qint64 kSys = 0x80000000LL;
const TIdentValue kColours[] = {
    {"clBlack", 0x000000},          {"clMaroon", 0x000080},
    {"clGreen", 0x008000},          {"clOlive", 0x008080},
    {"clNavy", 0x800000},           {"clPurple", 0x800080},
    {"clTeal", 0x808000},           {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},         {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},           {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},           {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},           {"clWhite", 0xFFFFFF},
    {"clScrollBar", kSys + 0},      {"clBackground", kSys + 1},
    {"clActiveCaption", kSys + 2},  {"clInactiveCaption", kSys + 3},
    {"clMenu", kSys + 4},           {"clWindow", kSys + 5},
    {"clWindowFrame", kSys + 6},    {"clMenuText", kSys + 7},
    {"clWindowText", kSys + 8},     {"clCaptionText", kSys + 9},
    {"clActiveBorder", kSys + 10},  {"clInactiveBorder", kSys + 11},
    {"clAppWorkSpace", kSys + 12},  {"clHighlight", kSys + 13},
    {"clHighlightText", kSys + 14}, {"clBtnFace", kSys + 15},
    {"clBtnShadow", kSys + 16},     {"clGrayText", kSys + 17},
    {"clBtnText", kSys + 18},       {"clInactiveCaptionText", kSys + 19},
    {"clBtnHighlight", kSys + 20},  {"cl3DDkShadow", kSys + 21},
    {"cl3DLight", kSys + 22},       {"clInfoText", kSys + 23},
    {"clInfoBk", kSys + 24},        {"clNone", 0x1FFFFFFF},
};

const TIdentValue kCharsets[] = {
    {"ANSI_CHARSET", 0},          {"DEFAULT_CHARSET", 1},   {"SYMBOL_CHARSET", 2},    {"MAC_CHARSET", 77},
    {"SHIFTJIS_CHARSET", 128},    {"HANGEUL_CHARSET", 129}, {"JOHAB_CHARSET", 130},   {"GB2312_CHARSET", 134},
    {"CHINESEBIG5_CHARSET", 136}, {"GREEK_CHARSET", 161},   {"TURKISH_CHARSET", 162}, {"HEBREW_CHARSET", 177},
    {"ARABIC_CHARSET", 178},      {"BALTIC_CHARSET", 186},  {"RUSSIAN_CHARSET", 204}, {"THAI_CHARSET", 222},
    {"EASTEUROPE_CHARSET", 238},  {"OEM_CHARSET", 255},
};

template <size_t N>
bool ToIdent(const TIdentValue (&table)[N], qint64 value, QString* ident) {
  for (const TIdentValue& e : table)
    if (AsInt32(e.Value) == AsInt32(value)) {
      if (ident != nullptr) *ident = QString::fromLatin1(e.Ident);
      return true;
    }
  return false;
}

template <size_t N>
bool FromIdent(const TIdentValue (&table)[N], const QString& ident, qint64* value) {
  for (const TIdentValue& e : table)
    if (ident.compare(QLatin1String(e.Ident), Qt::CaseInsensitive) == 0) {
      if (value != nullptr) *value = AsInt32(e.Value);
      return true;
    }
  return false;
}

}  // namespace

bool ColorToIdent(qint64 colour, QString* ident) {
  return ToIdent(kColours, colour, ident);
}
bool IdentToColor(const QString& ident, qint64* colour) {
  return FromIdent(kColours, ident, colour);
}
bool CharsetToIdent(qint64 charset, QString* ident) {
  return ToIdent(kCharsets, charset, ident);
}
bool IdentToCharset(const QString& ident, qint64* charset) {
  return FromIdent(kCharsets, ident, charset);
}

}  // namespace vexa
