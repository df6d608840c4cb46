#pragma once
// The shared image list: 45 pictures whose indexes every toolbar, tree and list uses, and whose
// indexes are stored in the configuration files (ImageIndex), so their order never changes.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace vexa {

// Image names in list order: "DELETE", "LOOKUP", ... "DATE".
const QStringList& ImageNames();
int ImageCount();
// A null icon/pixmap for -1 ("no image") and any other index outside the list.
QIcon ImageIcon(int index);
// The alarms' picture (the list has none).
QIcon AlarmIcon();
QPixmap ImagePixmap(int index);
// Index of a named image, -1 when there is none.
int ImageIndexOf(const QString& name);

// Resource paths of the program's other built-in pictures.
inline constexpr const char* kProgramIcon32 = ":/icons/vexa-32.png";
inline constexpr const char* kProgramIcon48 = ":/icons/vexa-48.png";
inline constexpr const char* kMnemoPicture = ":/pictures/MNEMO.png";
inline constexpr const char* kSplashPicture = ":/pictures/splash.png";

// The program icon in both sizes, for window icons.
QIcon ProgramIcon();

// Registers the compiled-in resources; the library is static, so nothing else would pull them in.
// Every function here calls it; call it before reading a resource path directly.
void InitResources();

}  // namespace vexa
