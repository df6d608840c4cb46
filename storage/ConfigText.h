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
// A storage level and its children as indented lines. A level without an object, or with a
// damaged one, shows as a line in parentheses, and the rest still shows.
QStringList ConfigTextLines(const CompoundStorage& level);

// The compound file a text describes, laid out as the program's own save lays it out: at every
// level the stream "Object" first, then the children's storages "000", "001", ... in order. Each
// object is built as the program's loader builds it, so whatever the loader would refuse is
// refused here; raises ETextError for the first fault in the text.
std::unique_ptr<CompoundFile> CompoundFileFromText(const QString& text);

}  // namespace vexa
