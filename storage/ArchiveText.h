#pragma once
// A report archive as tab-separated text, as the archive window exports it.

#include <QByteArray>

namespace vexa {

class TComponent;

// Code page 1251, lines ended by CR LF: a header line "Дата и время" and the register captions,
// then one line per time stamp of the first register with every register's value (an empty field
// where a register has fewer values).
QByteArray ArchiveText(const TComponent& report);

}  // namespace vexa
