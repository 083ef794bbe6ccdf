// The command line of `zarerera`: every option and subcommand, defined once with CLI11. The
// program's --help texts are generated from these definitions, and the tests walk them.
#ifndef ZARERERA_TOOLS_ZARERERA_CLI_H
#define ZARERERA_TOOLS_ZARERERA_CLI_H

#include <CLI/CLI.hpp>

#include "config.h"

namespace zcmd {

// Defines everything on `app`, parsed into `config`.
void DefineCommandLine(CLI::App& app, Config& config);

// Parses argv and runs the command: the whole program. Returns the exit status.
int Main(int argc, char** argv);

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_CLI_H
