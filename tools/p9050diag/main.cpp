// p9050diag: the console host of the PLX 9050 diagnostics, on a simulated PCI bus (or, with
// --driver=sysfs, on this machine's real one).
//
// It builds the simulated machine the command line asks for, opens the default board when it is
// the only one, runs the main menu until 99 or the end of standard input, then closes the board
// and saves what it was asked to keep. Interactive use and piped scripts take the same path.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>

#include "diag/console.h"
#include "main_menu.h"
#include "options.h"
#include "sim_machine.h"
#include "sysfs_host.h"

namespace {

void Interrupted(int) {}

// Ctrl-C and SIGTERM interrupt the line read that waits for the user instead of killing the
// process: the read fails like the end of input, every menu returns, and the host closes the board
// and saves the EEPROM files on its normal way out.
void EndInputOnSignals() {
  struct sigaction action {};
  action.sa_handler = Interrupted;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the waiting read returns with EINTR
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  p9050diag::Options options;
  std::string error;
  if (!p9050diag::ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "p9050diag: %s\nTry 'p9050diag --help' for more information.\n",
                 error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(p9050diag::Usage("p9050diag").c_str(), stdout);
    return 0;
  }

  p9050diag::SimMachine machine;
  std::unique_ptr<p9050diag::SysfsHost> realBus;
  if (options.driver == p9050diag::Driver::kSysfs) {
    realBus = std::make_unique<p9050diag::SysfsHost>(options);
  } else if (!machine.Start(options, &error)) {
    std::fprintf(stderr, "p9050diag: %s\n", error.c_str());
    return 1;
  }

  EndInputOnSignals();
  p9050diag::HostState state;
  p9050diag::OpenDefaultBoard(&state);
  p9050diag::RunMainMenu(&state);
  p9050diag::CloseBoard(&state);
  DiagConsole_Flush();

  if (!machine.Stop(&error)) {
    std::fprintf(stderr, "p9050diag: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
