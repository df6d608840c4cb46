#pragma once
// What the commands of vexa-cli share: the options, the command table and the line set-up.

#include <QString>
#include <QStringList>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <memory>
#include <utility>

#include "core/Network.h"

class QCoreApplication;

namespace vexa::cli {

struct TCliContext {
  QString Dir;
  bool Demo = false;
  bool Trace = false;
  QString Port;
  int Baud = 19200;
  // The command's network in DIR, made by PrepareLine.
  std::unique_ptr<TNetwork> Network;

  // A file named on the command line: a relative path lies in DIR, an absolute one stays as given.
  QString FilePath(const QString& argument) const;
};

// What a command writes of a program folder: a writer holds the folder's lock while it runs.
enum class TFolderWrites {
  Nothing,     // reads only, or writes beside what it reads (a text, a PDF)
  Folder,      // DIR
  WithSave,    // DIR, when given --save
  WithAck,     // DIR, when given --ack
  TargetFile,  // the program folder its last argument lies in
};

struct TCommand {
  int (*Run)(TCliContext&, const QStringList& args);
  QString Help;  // one usage line; empty for the commands listed in the fixed usage text
  bool NeedsLine = true;
  bool NeedsGui = false;  // draws with Qt Gui (fonts, painters): runs on the offscreen platform
  TFolderWrites Writes = TFolderWrites::Nothing;
};

std::map<QString, TCommand>& Commands();

// Each command file adds its command to the table: `const TCommandRegistrar poll{"poll", {...}};`
struct TCommandRegistrar {
  TCommandRegistrar(const QString& name, TCommand command) { Commands()[name] = std::move(command); }
};
// The usage text (on standard error unless told); returns the exit code of a bad command line.
int Usage(FILE* to = stderr);
// A word of the command line that is not understood, named, with a pointer to --help; the exit code
// of a bad command line. args[i] is an unknown option, one of the `valued` options given last
// without its value, or a word too many.
int BadArgument(const QStringList& args, qsizetype i, std::initializer_list<const char*> valued = {});
// An option's value that is out of its range or not a number; the exit code of a bad command line.
int BadValue(const QString& option, const QString& value);
// The application object the command on the command line needs: Qt Gui's for one that draws.
std::unique_ptr<QCoreApplication> CreateApplication(int& argc, char** argv);
void Out(const QString& text);
// How much a line on standard error matters, as syslog has it. When standard error is the journal's
// stream (JOURNAL_STREAM), each line carries its priority ("<4>…"), so that journalctl -p warning
// shows the lines that need a look.
enum class TPriority { Error, Warning, Info, Debug };
void Err(const QString& text, TPriority priority = TPriority::Error);
// Tells on standard error which of DIR's files exist but cannot be read, and why (the lines the
// program shows at start-up); the exit code of a command that then changed nothing.
int UnreadableFilesExit(const QString& text);
// Makes the command's network in DIR and readies its line (simulation or port), and says on
// standard error which line it is; 0 when ready.
int PrepareLine(TCliContext& ctx, bool needsLine);
// After DIR's settings were loaded, the command line's line wins over theirs: a folder in
// simulation mode used with --port runs on the port, and says so once. Returns the folder's own,
// for RestoreFolderLine before the settings are saved, so the folder keeps them.
struct TFolderLine {
  bool Demo = false;
  int BaudRateIndex = -1;
};
TFolderLine UseCommandLineLine(TCliContext& ctx);
void RestoreFolderLine(TCliContext& ctx, const TFolderLine& folder);

}  // namespace vexa::cli
