#pragma once
// Which folder is the program folder (Config/, Archives/, Ports/, the pictures): decided once in main,
// before the network is made in it, from vexa's command line, where the program file lies and the
// remembered choice.

#include <QString>
#include <QStringList>

class QSettings;

namespace vexa {

// vexa's command line, without the program name.
struct TProgramOptions {
  QString Dir;  // --dir DIR, made absolute
  bool ChooseDir = false;
  bool Help = false;
  bool Version = false;
  QString Error;  // a command line that is not understood, said with the usage
};
TProgramOptions ParseProgramOptions(const QStringList& arguments);
extern const char kProgramUsage[];

enum class TFolderSource {
  CommandLine,    // --dir
  BesideProgram,  // a program run from its own folder: a build folder, the demonstration, a copy
  Remembered,     // an installed program, the folder chosen at its first start
  Ask,            // an installed program that has no folder yet, or was asked to choose again
};

struct TProgramFolder {
  QString Path;  // for Ask: the folder to propose
  TFolderSource Source = TFolderSource::BesideProgram;
};

// True when the program file lies in an installed tree: <prefix>/bin beside
// <prefix>/share/applications/vexa.desktop. Such a folder is not the user's to write into.
bool InstalledProgram(const QString& programDir);
// The folder proposed at the first start: the user's data folder for Vexa (~/.local/share/Vexa).
QString DefaultDataFolder();
// --dir wins; a program that is not installed keeps its files beside itself, as it always has; an
// installed one uses the remembered folder, or asks (proposing the remembered one or the default).
TProgramFolder DecideProgramFolder(const TProgramOptions& options, const QString& programDir,
                                   const QSettings& settings);
void RememberDataFolder(QSettings& settings, const QString& folder);
// Makes the folder (with its parents) and checks that it can be written into. Empty when it is ready,
// else what the operator is told.
QString PrepareProgramFolder(const QString& folder);

}  // namespace vexa
