// The subcommands. Each prints its result on standard output (text, or one JSON document with
// --json) and returns the exit status; failures are thrown (errors.h).
#ifndef ZARERERA_TOOLS_ZARERERA_COMMANDS_H
#define ZARERERA_TOOLS_ZARERERA_COMMANDS_H

#include "config.h"
#include "session.h"

namespace zcmd {

int RunList(Session& session, const Config& config);

int RunRegs(Session& session, const Config& config);
int RunDi(Session& session, const Config& config);
int RunDo(Session& session, const Config& config);
int RunCounters(Session& session, const Config& config);
int RunCounterSet(Session& session, const Config& config);
int RunRead(Session& session, const Config& config);
int RunWrite(Session& session, const Config& config);
int RunWatch(Session& session, const Config& config);
int RunBind(Session& session, const Config& config);
int RunUnbind(Session& session, const Config& config);
int RunConfig(Session& session, const Config& config);

int RunEepromDump(Session& session, const Config& config);
int RunEepromWrite(Session& session, const Config& config);
int RunEepromVerify(Session& session, const Config& config);

// Runs what `config` asks for: starts the driver, runs the command, stops the driver. Prints
// failures on standard error and returns the exit status.
int Run(const Config& config);

}  // namespace zcmd

#endif  // ZARERERA_TOOLS_ZARERERA_COMMANDS_H
