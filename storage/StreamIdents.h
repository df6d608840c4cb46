#pragma once
// Colour and font character-set names of component streams.

#include <QString>

namespace vexa {

bool ColorToIdent(qint64 colour, QString* ident);
bool IdentToColor(const QString& ident, qint64* colour);
bool CharsetToIdent(qint64 charset, QString* ident);
bool IdentToCharset(const QString& ident, qint64* charset);

}  // namespace vexa
