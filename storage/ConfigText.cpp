#include "storage/ConfigText.h"

#include <QHash>
#include <cmath>
#include <limits>
#include <vector>

#include "core/Services.h"
#include "storage/CompoundFile.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StreamParser.h"
#include "storage/StreamReader.h"
#include "storage/StreamWriter.h"
#include "storage/TreeFiles.h"

namespace vexa {

ETextError::ETextError(int line, int column, const QString& reason)
    : std::runtime_error(
          QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(reason).toStdString()),
      Line(line),
      Column(column),
      Reason(reason) {}

namespace {

const QString kObject = QStringLiteral("Object");
// The loader refuses a file nested deeper than this (TStgHandler), so a text may not nest deeper.
constexpr int kMaxDepth = 64;

bool IsIdentStart(QChar c) {
  return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
         (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_');
}
bool IsIdentChar(QChar c) {
  return IsIdentStart(c) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}
bool IsDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
bool IsPlainNameChar(QChar c) {
  return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Streams hold texts in code page 1251; a character outside it would be saved as '?'.
bool InCp1251(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80 || (u >= 0x0410 && u <= 0x044F)) return true;
  return ToCp1251(QString(c)) != QByteArrayLiteral("?");
}

QString NameText(const QString& name) {
  if (name.isEmpty()) return QStringLiteral("-");
  for (QChar c : name)
    if (!IsPlainNameChar(c)) return QuotedText(name);
  return name;
}

QString Shown(QChar c) {
  if (c.unicode() < 0x20 || c.unicode() == 0x7F) return QStringLiteral("#%1").arg(c.unicode());
  return QLatin1Char('\'') + c + QLatin1Char('\'');
}

// Where each part of an object's line stands, for pointing at a part the reader refuses.
struct TLineColumns {
  int Class = 1;
  int Name = 1;
  std::vector<std::pair<int, int>> Records;  // the property name and the value of each record
};

// One line of the text: its indentation, class, name and records.
class TLineParser {
 public:
  TLineParser(const QString& line, int number) : s_(line), number_(number) {}

  int Depth() const { return depth_; }
  const TLineColumns& Columns() const { return columns_; }

  // A line of spaces alone is blank: false, nothing parsed.
  bool Indentation() {
    while (pos_ < s_.size() && s_[pos_] == QLatin1Char(' ')) ++pos_;
    if (pos_ == s_.size()) return false;
    if (s_[pos_] == QLatin1Char('\t'))
      Fail(QStringLiteral("a tab in the indentation; indent by two spaces a level"));
    if (pos_ % 2 != 0)
      Fail(QStringLiteral("odd indentation (%1 spaces); indent by two spaces a level").arg(pos_), 0);
    depth_ = static_cast<int>(pos_ / 2);
    return true;
  }

  TParsedStream Object() {
    TParsedStream s;
    columns_.Class = Column();
    if (pos_ >= s_.size() || !IsIdentStart(s_[pos_]))
      Fail(QStringLiteral("a class name is expected here, not %1").arg(Shown(s_[pos_])));
    s.ClassName = Ident();
    if (!AtSeparator()) Unexpected(QStringLiteral("after the class name"));
    SkipSpaces();
    if (AtEnd()) Fail(QStringLiteral("the component name is missing (write - for none)"));
    columns_.Name = Column();
    s.Name = Name();
    if (!AtSeparator()) Unexpected(QStringLiteral("after the component name"));
    for (SkipSpaces(); !AtEnd(); SkipSpaces()) {
      TStreamRecord r;
      const int nameColumn = Column();
      if (!IsIdentStart(s_[pos_]))
        Fail(QStringLiteral("a property name is expected here, not %1").arg(Shown(s_[pos_])));
      r.Name = Ident();
      while (pos_ < s_.size() && s_[pos_] == QLatin1Char('.')) {
        ++pos_;
        if (pos_ >= s_.size() || !IsIdentStart(s_[pos_]))
          Fail(QStringLiteral("a property name is expected after the full stop"));
        r.Name += QLatin1Char('.') + Ident();
      }
      if (pos_ >= s_.size() || s_[pos_] != QLatin1Char('='))
        Unexpected(QStringLiteral("after the property name %1; Name=Value is expected").arg(r.Name));
      ++pos_;
      const int valueColumn = Column();
      r.Value = Value(false);
      if (!AtSeparator()) {
        if (s_[pos_] == QLatin1Char(',') && pos_ + 1 < s_.size() && IsDigit(s_[pos_ + 1]) &&
            (r.Value.Tag == vaInt8 || r.Value.Tag == vaInt16 || r.Value.Tag == vaInt32))
          Fail(QStringLiteral("a decimal comma; a float is written with a decimal point (1.5)"));
        Unexpected(QStringLiteral("after the value of %1").arg(r.Name));
      }
      columns_.Records.emplace_back(nameColumn, valueColumn);
      s.Records.push_back(std::move(r));
    }
    return s;
  }

 private:
  [[noreturn]] void Fail(const QString& reason) const { throw ETextError(number_, Column(), reason); }
  [[noreturn]] void Fail(const QString& reason, qsizetype at) const {
    throw ETextError(number_, static_cast<int>(at) + 1, reason);
  }
  [[noreturn]] void Unexpected(const QString& where) const {
    if (AtEnd()) Fail(QStringLiteral("the line ends %1").arg(where));
    Fail(QStringLiteral("unexpected %1 %2").arg(Shown(s_[pos_]), where));
  }

  int Column() const { return static_cast<int>(pos_) + 1; }
  bool AtEnd() const { return pos_ >= s_.size(); }
  bool AtSeparator() const { return AtEnd() || s_[pos_] == QLatin1Char(' '); }
  void SkipSpaces() {
    while (pos_ < s_.size() && s_[pos_] == QLatin1Char(' ')) ++pos_;
  }

  QString Ident() {
    const qsizetype start = pos_;
    while (pos_ < s_.size() && IsIdentChar(s_[pos_])) ++pos_;
    return s_.mid(start, pos_ - start);
  }

  QString Name() {
    const QChar c = s_[pos_];
    if (c == QLatin1Char('-') && (pos_ + 1 == s_.size() || s_[pos_ + 1] == QLatin1Char(' '))) {
      ++pos_;
      return QString();
    }
    if (c == QLatin1Char('\'') || c == QLatin1Char('#')) {
      QString name = Text();
      if (name.isEmpty()) Fail(QStringLiteral("an empty name is written -"), columns_.Name - 1);
      return name;
    }
    const qsizetype start = pos_;
    while (pos_ < s_.size() && IsPlainNameChar(s_[pos_])) {
      if (!InCp1251(s_[pos_]))
        Fail(QStringLiteral("%1 cannot be stored: streams hold code page 1251").arg(Shown(s_[pos_])));
      ++pos_;
    }
    if (pos_ == start)
      Fail(QStringLiteral("a component name is expected here, not %1 (quote a name of other characters)")
               .arg(Shown(c)));
    return s_.mid(start, pos_ - start);
  }

  // Quoted pieces and #codes, side by side: 'line 1'#13#10'line 2'.
  QString Text() {
    QString text;
    for (;;) {
      if (pos_ < s_.size() && s_[pos_] == QLatin1Char('\'')) {
        const qsizetype open = pos_++;
        for (;;) {
          if (pos_ >= s_.size()) Fail(QStringLiteral("unclosed quote"), open);
          const QChar c = s_[pos_++];
          if (c == QLatin1Char('\'')) {
            if (pos_ < s_.size() && s_[pos_] == QLatin1Char('\'')) {
              text += c;
              ++pos_;
              continue;
            }
            break;
          }
          if (c.unicode() < 0x20)
            Fail(QStringLiteral("a control character in a text; write it as #%1").arg(c.unicode()), pos_ - 1);
          if (!InCp1251(c))
            Fail(QStringLiteral("%1 cannot be stored: streams hold code page 1251").arg(Shown(c)), pos_ - 1);
          text += c;
        }
      } else if (pos_ < s_.size() && s_[pos_] == QLatin1Char('#')) {
        const qsizetype at = pos_++;
        const qsizetype start = pos_;
        while (pos_ < s_.size() && IsDigit(s_[pos_]) && pos_ - start < 6) ++pos_;
        bool ok = false;
        const uint code = s_.mid(start, pos_ - start).toUInt(&ok);
        if (!ok || code > 0xFFFF) Fail(QStringLiteral("a character code 0 to 65535 is expected after #"), at);
        const QChar c(static_cast<char16_t>(code));
        if (!InCp1251(c))
          Fail(QStringLiteral("#%1 cannot be stored: streams hold code page 1251").arg(code), at);
        text += c;
      } else {
        return text;
      }
    }
  }

  TStreamValue Number() {
    const qsizetype start = pos_;
    if (s_[pos_] == QLatin1Char('-')) ++pos_;
    if (s_.mid(pos_, 3) == QLatin1String("Inf")) {
      pos_ += 3;
      TStreamValue v;
      v.Tag = vaExtended;
      v.Float = -std::numeric_limits<double>::infinity();
      return v;
    }
    const qsizetype digits = pos_;
    while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
    bool isFloat = false;
    if (pos_ < s_.size() && s_[pos_] == QLatin1Char('.')) {
      isFloat = true;
      ++pos_;
      while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
    }
    if (pos_ == digits || (pos_ == digits + 1 && isFloat)) Fail(QStringLiteral("a malformed number"), start);
    if (pos_ < s_.size() && (s_[pos_] == QLatin1Char('e') || s_[pos_] == QLatin1Char('E'))) {
      isFloat = true;
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == QLatin1Char('+') || s_[pos_] == QLatin1Char('-'))) ++pos_;
      const qsizetype exponent = pos_;
      while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
      if (pos_ == exponent) Fail(QStringLiteral("a malformed number: the exponent has no digits"), start);
    }
    const QString text = s_.mid(start, pos_ - start);
    TStreamValue v;
    bool ok = false;
    if (isFloat) {
      v.Tag = vaExtended;
      v.Float = text.toDouble(&ok);
      if (!ok || std::isinf(v.Float))
        Fail(QStringLiteral("%1 is beyond the range of a float").arg(text), start);
      return v;
    }
    v.Int = text.toLongLong(&ok);
    if (!ok || v.Int < INT32_MIN || v.Int > INT32_MAX)
      Fail(QStringLiteral("%1 is beyond the 32-bit integers of the format").arg(text), start);
    v.Tag = v.Int >= -128 && v.Int <= 127 ? vaInt8 : v.Int >= -32768 && v.Int <= 32767 ? vaInt16 : vaInt32;
    return v;
  }

  // Elements separated by commas up to the closing bracket; pos_ stands on the opening one.
  template <class F>
  void Sequence(QChar close, const QString& what, F element) {
    const qsizetype open = pos_++;
    SkipSpaces();
    if (!AtEnd() && s_[pos_] == close) {
      ++pos_;
      return;
    }
    for (;;) {
      if (AtEnd()) Fail(QStringLiteral("unclosed %1: %2 is missing").arg(what).arg(close), open);
      element();
      SkipSpaces();
      if (AtEnd()) Fail(QStringLiteral("unclosed %1: %2 is missing").arg(what).arg(close), open);
      if (s_[pos_] == close) {
        ++pos_;
        return;
      }
      if (s_[pos_] != QLatin1Char(','))
        Unexpected(QStringLiteral("in a %1 (elements are separated by commas)").arg(what));
      ++pos_;
      SkipSpaces();
    }
  }

  TStreamValue Value(bool inList) {
    if (AtEnd() || s_[pos_] == QLatin1Char(' ')) Fail(QStringLiteral("a value is expected here"));
    const QChar c = s_[pos_];
    TStreamValue v;
    if (c == QLatin1Char('\'') || c == QLatin1Char('#')) {
      v.Text = Text();
      v.Tag = v.Text.size() <= 255 ? vaString : vaLString;
    } else if (c == QLatin1Char('-') || IsDigit(c)) {
      v = Number();
    } else if (IsIdentStart(c)) {
      v.Text = Ident();
      if (v.Text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        v.Tag = vaTrue;
      } else if (v.Text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
        v.Tag = vaFalse;
      } else if (v.Text.compare(QLatin1String("nil"), Qt::CaseInsensitive) == 0) {
        v.Tag = vaNil;
      } else if (v.Text == QLatin1String("Inf") || v.Text == QLatin1String("NaN")) {
        v.Tag = vaExtended;
        v.Float = v.Text == QLatin1String("Inf") ? std::numeric_limits<double>::infinity()
                                                 : std::numeric_limits<double>::quiet_NaN();
      } else {
        v.Tag = vaIdent;
        return v;
      }
      v.Text.clear();
    } else if (c == QLatin1Char('[')) {
      v.Tag = vaSet;
      Sequence(QLatin1Char(']'), QStringLiteral("set"), [&] {
        if (!IsIdentStart(s_[pos_]))
          Fail(QStringLiteral("a set element is expected here, not %1").arg(Shown(s_[pos_])));
        v.Items << Ident();
      });
    } else if (c == QLatin1Char('(')) {
      if (inList) Fail(QStringLiteral("a list cannot hold a list"));
      v.Tag = vaList;
      std::vector<TStreamValue> items;
      Sequence(QLatin1Char(')'), QStringLiteral("list"), [&] { items.push_back(Value(true)); });
      // As the stream parser keeps it: all texts in Lines, else every element in List.
      bool texts = true;
      for (const TStreamValue& e : items) texts = texts && (e.Tag == vaString || e.Tag == vaLString);
      if (texts) {
        qsizetype bytes = 0;
        for (const TStreamValue& e : items) bytes += e.Text.size();
        v.Lines.Reserve(static_cast<qsizetype>(items.size()), bytes);
        for (const TStreamValue& e : items) v.Lines.append(e.Text);
      } else {
        v.List = std::move(items);
      }
    } else {
      Fail(QStringLiteral("a value is expected here, not %1").arg(Shown(c)));
    }
    return v;
  }

  const QString& s_;
  int number_;
  qsizetype pos_ = 0;
  int depth_ = 0;
  TLineColumns columns_;
};

// The column of the part of a line the reader or the writer refused.
int BlamedColumn(const TLineColumns& columns, const EStreamRecordError& e) {
  switch (e.Part) {
    case EStreamRecordError::rpClassName:
      return columns.Class;
    case EStreamRecordError::rpComponentName:
      return columns.Name;
    case EStreamRecordError::rpPropertyName:
    case EStreamRecordError::rpValue:
      if (e.Record >= 0 && static_cast<size_t>(e.Record) < columns.Records.size()) {
        const auto& [name, value] = columns.Records[static_cast<size_t>(e.Record)];
        return e.Part == EStreamRecordError::rpValue ? value : name;
      }
      break;
  }
  return columns.Class;
}

// An object of the text on its way into the file.
struct TLevel {
  TComponent* Object = nullptr;
  CompoundStorage* Storage = nullptr;
  int Line = 0;
  int Children = 0;
  QHash<QString, int> Names;  // the children's names and their lines
};

}  // namespace

QString ConfigLineText(const TParsedStream& s) {
  QString line = s.ClassName + QLatin1Char(' ') + NameText(s.Name);
  for (const TStreamRecord& r : s.Records)
    line += QLatin1Char(' ') + r.Name + QLatin1Char('=') + StreamValueText(r.Value);
  return line;
}

namespace {

int AppendLevel(const CompoundStorage& level, const QString& path, int depth,
                const std::function<void(const QString&)>& line) {
  const QString indent(2 * depth, QLatin1Char(' '));
  const QString mark = indent + QString::fromUtf8(kDamagedMark);
  const QString where = path.isEmpty() ? QStringLiteral("/") : path;
  int damaged = 0;
  // What the loader says of such a level (storage/StgHandlerUnit.cpp); the file level without an
  // object has nothing to load at all.
  if (!level.HasStream(kObject)) {
    line(mark + where + QStringLiteral(": ") + TStgHandler::MissingObjectText(level) +
         QStringLiteral("; часть пропущена вместе с вложенными"));
    ++damaged;
  } else {
    try {
      line(indent + ConfigLineText(ParseComponentStream(level.Stream(kObject))));
    } catch (const EStreamError& e) {
      line(mark + where +
           QStringLiteral(": объект не разбирается (%1); часть пропущена вместе с вложенными")
               .arg(e.Message()));
      ++damaged;
    }
  }
  // Children in the order the program loads them, each fault at its place.
  for (const TLevelEntry& entry : TStgHandler::LevelEntries(level)) {
    const QString part = path.isEmpty() ? entry.Name : path + QLatin1Char('/') + entry.Name;
    if (!entry.Fault.isEmpty()) {
      line(indent + QStringLiteral("  ") + QString::fromUtf8(kDamagedMark) + part + QStringLiteral(": ") +
           entry.Fault);
      ++damaged;
    } else {
      damaged += AppendLevel(*level.OpenStorage(entry.Name), part, depth + 1, line);
    }
  }
  return damaged;
}

}  // namespace

int WriteConfigText(const CompoundStorage& level, const std::function<void(const QString&)>& line) {
  return AppendLevel(level, QString(), 0, line);
}

QStringList ConfigTextLines(const CompoundStorage& level) {
  QStringList out;
  WriteConfigText(level, [&out](const QString& l) { out << l; });
  return out;
}

QString ConfigTextRefusal(const CompoundStorage& level) {
  // Without recursion: a hostile file may nest thousands of levels.
  std::vector<std::pair<const CompoundStorage*, int>> pending{{&level, 0}};
  while (!pending.empty()) {
    const auto [storage, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxDepth)
      return QStringLiteral("its storages nest deeper than %1 levels, which the program does not load")
          .arg(kMaxDepth);
    for (const QString& name : storage->StorageNames())
      pending.emplace_back(storage->OpenStorage(name), depth + 1);
  }
  return QString();
}

std::unique_ptr<CompoundFile> CompoundFileFromText(const QString& text, const QString& stateRoot) {
  std::unique_ptr<CompoundFile> file = CompoundFile::Create();
  std::unique_ptr<TComponent> root;
  std::vector<TLevel> levels;  // the current line's ancestors, the root first
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    QString line = lines[i];
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (i == 0 && line.startsWith(QChar(0xFEFF))) line.remove(0, 1);
    for (qsizetype c = 0; c < line.size(); ++c)
      if (line[c].unicode() < 0x20 && line[c] != QLatin1Char('\t'))
        throw ETextError(
            number, static_cast<int>(c) + 1,
            QStringLiteral("a control character; write it as #%1 in a text").arg(line[c].unicode()));
    TLineParser parser(line, number);
    if (!parser.Indentation()) continue;
    const int depth = parser.Depth();
    if (root && depth == 0)
      throw ETextError(number, 1,
                       QStringLiteral("a second root object (the first is on line %1); a file holds one tree")
                           .arg(levels.front().Line));
    if (!root && depth != 0)
      throw ETextError(number, 1, QStringLiteral("the first object is the root and is not indented"));
    if (depth > static_cast<int>(levels.size()))
      throw ETextError(
          number, 2 * depth + 1,
          QStringLiteral("indented %1 levels below the object on line %2; a child is indented one "
                         "level (two spaces) below its parent")
              .arg(depth - static_cast<int>(levels.size()) + 1)
              .arg(levels.back().Line));
    if (depth > kMaxDepth)
      throw ETextError(
          number, 2 * depth + 1,
          QStringLiteral("nested deeper than %1 levels, which the program does not load").arg(kMaxDepth));
    const TParsedStream stream = parser.Object();
    const TLineColumns& columns = parser.Columns();

    std::unique_ptr<TComponent> object;
    QByteArray bytes;
    try {
      object = BuildComponent(stream);
      bytes = WriteParsedStream(stream);
    } catch (const EStreamRecordError& e) {
      throw ETextError(number, BlamedColumn(columns, e), e.Message());
    } catch (const EStreamError& e) {
      throw ETextError(number, columns.Class, e.Message());
    }

    levels.resize(static_cast<size_t>(depth));
    CompoundStorage* storage = &file->Root();
    TComponent* built = object.get();
    if (depth == 0) {
      // A state file holds its own root, or the program refuses the file.
      if (!stateRoot.isEmpty()) {
        const TRootFault fault = CheckStateRoot(stateRoot, *object);
        if (fault == TRootFault::WrongClass)
          throw ETextError(number, columns.Class,
                           QStringLiteral("%1.cfg holds a %2, not a %3")
                               .arg(stateRoot, StateRootClass(stateRoot), stream.ClassName));
        if (fault == TRootFault::WrongName)
          throw ETextError(
              number, columns.Name,
              QStringLiteral("the root of %1.cfg is named %1, not %2").arg(stateRoot, NameText(stream.Name)));
      }
      root = std::move(object);
    } else {
      TLevel& parent = levels.back();
      if (parent.Children >= CompoundFile::kMaxChildren - 1)
        throw ETextError(
            number, columns.Class,
            QStringLiteral("the object on line %1 has more children than a file can hold").arg(parent.Line));
      const auto same = parent.Names.constFind(stream.Name);
      try {
        parent.Object->InsertComponent(std::move(object));
      } catch (const EComponentError& e) {
        throw ETextError(number, columns.Name,
                         same != parent.Names.constEnd()
                             ? QStringLiteral("the name %1 is taken by a sibling on line %2")
                                   .arg(NameText(stream.Name))
                                   .arg(*same)
                             : e.Message());
      }
      if (!stream.Name.isEmpty()) parent.Names.insert(stream.Name, number);
      storage = &parent.Storage->CreateStorage(TStgHandler::ChildName(parent.Children++));
    }
    storage->CreateStream(kObject) = bytes;
    levels.push_back({built, storage, number, 0, {}});
  }
  if (!root)
    throw ETextError(1, 1, QStringLiteral("the text holds no object; its first line is the root object"));
  return file;
}

}  // namespace vexa
