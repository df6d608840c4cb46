#pragma once
// What the compound-file reader and writer share: the format's fixed values, little-endian access
// and the order of sibling names. Private to storage/Compound*.

#include <QString>
#include <QtGlobal>

namespace vexa::compound {

constexpr quint32 kNoStream = 0xFFFFFFFFu;
constexpr quint32 kFreeSector = 0xFFFFFFFFu;
constexpr quint32 kEndOfChain = 0xFFFFFFFEu;
constexpr quint32 kFatSector = 0xFFFFFFFDu;
constexpr quint32 kDifatSector = 0xFFFFFFFCu;
constexpr quint32 kMaxRegularSector = 0xFFFFFFFAu;

constexpr int kHeaderSize = 512;
constexpr int kDirEntrySize = 128;
constexpr int kMiniSectorSize = 64;
constexpr qint64 kMiniStreamCutoff = 4096;
// Allocation table sectors listed in the header itself; more continue in a chain of list sectors.
constexpr int kHeaderDifatIds = 109;
constexpr uchar kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr uchar kTypeStorage = 1;
constexpr uchar kTypeStream = 2;
constexpr uchar kTypeRoot = 5;

constexpr uchar kRed = 0;
constexpr uchar kBlack = 1;

// Tables are read and written as they are held in memory.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

inline void SetError(QString* error, const QString& text) {
  if (error) *error = text;
}

inline quint16 Le16(const uchar* p) {
  return static_cast<quint16>(p[0] | (p[1] << 8));
}
inline quint32 Le32(const uchar* p) {
  return static_cast<quint32>(p[0]) | (static_cast<quint32>(p[1]) << 8) | (static_cast<quint32>(p[2]) << 16) |
         (static_cast<quint32>(p[3]) << 24);
}
inline quint64 Le64(const uchar* p) {
  return static_cast<quint64>(Le32(p)) | (static_cast<quint64>(Le32(p + 4)) << 32);
}
inline void PutLe16(uchar* p, quint16 v) {
  p[0] = static_cast<uchar>(v);
  p[1] = static_cast<uchar>(v >> 8);
}
inline void PutLe32(uchar* p, quint32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uchar>(v >> (8 * i));
}

inline qint64 SectorsFor(qint64 bytes, qint64 unit) {
  return (bytes + unit - 1) / unit;
}

// A code unit upper-cased; ASCII, most of every name, without a look-up.
inline char16_t UpperUnit(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
  return static_cast<char16_t>(QChar::toUpper(c));
}

// Sibling order of the format: shorter names first, then by upper-cased code units.
inline bool NameLess(const QString& a, const QString& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (qsizetype i = 0; i < a.size(); ++i) {
    const char16_t x = UpperUnit(a[i].unicode());
    const char16_t y = UpperUnit(b[i].unicode());
    if (x != y) return x < y;
  }
  return false;
}

}  // namespace vexa::compound
