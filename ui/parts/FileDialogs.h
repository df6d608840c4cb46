#pragma once
// The program's file dialogs are Qt's own (not the desktop's): they speak Russian with Qt's
// translation, behave the same on every desktop and tell the folder the operator left. Prepared
// here so that they also write file sizes in Russian units and show their columns uncut.

#include <QtGlobal>

class QFileDialog;
class QString;

namespace vexa {

// Makes `dialog` Qt's own in the detail view, with the sizes of FileSizeText (core/Services.h), the size, type and
// date columns as wide as their contents and the name column as wide as the longest name shown.
void PrepareFileDialog(QFileDialog& dialog);

}  // namespace vexa
