#pragma once
// The program's file dialogs are Qt's own (not the desktop's): they speak Russian with Qt's
// translation, behave the same on every desktop and tell the folder the operator left. Prepared
// here so that they also write file sizes in Russian units and show their columns uncut.

#include <QtGlobal>

class QFileDialog;
class QString;

namespace vexa {

// A file's size as the dialogs write it: "512 байт", "1,5 КиБ", "12,0 МиБ", ... (powers of 1024,
// one decimal, the program's decimal separator).
QString FileSizeText(qint64 bytes);

// Makes `dialog` Qt's own in the detail view, with the sizes of FileSizeText, the size, type and
// date columns as wide as their contents and the name column as wide as the longest name shown.
void PrepareFileDialog(QFileDialog& dialog);

}  // namespace vexa
