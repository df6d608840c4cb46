#pragma once
// Configuration and archive files as text, one object per line, children indented by two spaces
// below their parent:
//
//   TRootNode TTEMPLATES Caption='Процессы' Changed=False
//     TRootNode P001 Caption='Отжиг'
//       TCommandNode D000C000R004 Points.Strings=('0', '60') DataList.Strings=('20', '80')
//
// A line is the class, the component name (- for none; a quoted text when it is not made of
// letters, digits and underscores), then the stream's records in their order as Path=Value in the
// notation of StreamValueText. The text reads back into the same records, so a file written from
// it holds the bytes the program's own save gave.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>

namespace vexa {

class CompoundFile;
class CompoundStorage;
struct TParsedStream;

// A text that cannot be read: where (1-based) and why.
class ETextError : public std::runtime_error {
 public:
  ETextError(int line, int column, const QString& reason);
  int Line;
  int Column;
  QString Reason;
};

// One object's line without its indentation.
QString ConfigLineText(const TParsedStream& stream);
// A storage level and its children as indented lines, each handed to `line` as it is made. A part
// the program's load leaves out (a level without an object or with one that does not parse, a gap
// in the children's numbering, an element the program never writes) shows at its place as a line
// "# повреждено: <storage path>: <reason>", and the rest still shows. Returns how many parts were
// so marked. Check ConfigTextRefusal first: the walk goes as deep as the levels nest.
int WriteConfigText(const CompoundStorage& level, const std::function<void(const QString&)>& line);
// The same lines as a list.
QStringList ConfigTextLines(const CompoundStorage& level);
// Why the text of a file is not made: its levels nest deeper than the program loads. Empty when
// it can be.
QString ConfigTextRefusal(const CompoundStorage& level);
// The start of a line that marks a damaged part.
inline constexpr const char* kDamagedMark = "# повреждено: ";

// The compound file a text describes, laid out as the program's own save lays it out: at every
// level the stream "Object" first, then the children's storages "000", "001", ... in order. Each
// object is built as the program's loader builds it, so whatever the loader would refuse is
// refused here; raises ETextError for the first fault in the text. Given stateRoot (NET, ...,
// SETUP: the file is that state file), the root must be that file's root, as the loader requires.
std::unique_ptr<CompoundFile> CompoundFileFromText(const QString& text, const QString& stateRoot = QString());

}  // namespace vexa
