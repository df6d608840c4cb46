#pragma once
// vexa-cli as the tests run it: the program this build made, with what it printed and its exit code.
// VEXA_CLI_PATH comes with each test program.

#include <QByteArray>
#include <QStringList>

#include "support/TestSupport.h"

namespace vexa::test {

inline TRun Cli(const QStringList& args, const TRunOptions& options = {}) {
  return RunProgram(QStringLiteral(VEXA_CLI_PATH), args, options);
}
// With `input` on its standard input.
inline TRun Cli(const QStringList& args, const QByteArray& input) {
  return Cli(args, TRunOptions{.Input = input});
}

}  // namespace vexa::test
