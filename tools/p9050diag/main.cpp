// p9050diag: the console host of the PLX 9050 diagnostics, on a simulated PCI bus (or on this
// machine's real one: with --driver=sysfs on Linux, through the kernel driver on Windows).
//
// It builds the simulated machine the command line asks for, opens the default board when it is
// the only one, runs the main menu until 99 or the end of standard input, then closes the board
// and saves what it was asked to keep. Interactive use and piped scripts take the same path. A
// signal or a failed output ends the session at its next step, and the files are saved then too
// (session_end.h).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "diag/pci_diag.h"
#include "machine/sim_machine.h"
#include "main_menu.h"
#include "options.h"
#include "session_end.h"
#ifdef __linux__
#include "machine/sysfs_host.h"
#endif

namespace {

#ifdef __linux__
// --driver=sysfs: the tree the high regions are read from.
std::string g_sysfsRoot;

uint32_t HighRegions(WdPciSlot slot, PciBus_HighRegion* regions, uint32_t max) {
  uint32_t count = 0;
  for (const machine::HighRegion& r : machine::HighRegions(g_sysfsRoot, slot)) {
    if (count == max) break;
    regions[count++] = {r.bar, r.memory ? 1u : 0u, r.start, r.bytes};
  }
  return count;
}
#endif

// Flushes the output and saves the files; the exit status.
int Finish(machine::SimMachine* simMachine) {
  namespace session = p9050diag::session;
  int status = 0;
  FILE* out = DiagConsole_Out();
  errno = 0;
  const bool flushed = std::fflush(out) == 0;
  if (!flushed || session::EndAsked()) {
    const int error = session::OutputError() != 0 ? session::OutputError() : errno;
    // A reader that went away is the usual end of `p9050diag | head`: the signal says it.
    if (!flushed || error != 0) {
#ifdef SIGPIPE
      const bool readerGone = session::EndSignal() == SIGPIPE;
#else
      const bool readerGone = false;
#endif
      if (!readerGone) {
        std::fprintf(stderr, "p9050diag: standard output: %s\n",
                     std::strerror(error != 0 ? error : EIO));
      }
      status = 1;
    }
  }
  std::vector<std::string> errors;
  if (!simMachine->Stop(&errors)) {
    for (const std::string& e : errors) std::fprintf(stderr, "p9050diag: %s\n", e.c_str());
    status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  namespace session = p9050diag::session;
  session::KeepStandardDescriptors();

  p9050diag::Options options;
  std::string error;
  if (!p9050diag::ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "p9050diag: %s\nTry 'p9050diag --help' for more information.\n",
                 error.c_str());
    return 2;
  }
  if (options.help || options.version) {
    const std::string text =
        options.help ? p9050diag::Usage("p9050diag") : p9050diag::VersionText("p9050diag");
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0) {
      std::fprintf(stderr, "p9050diag: standard output: %s\n", std::strerror(errno));
      return 1;
    }
    return 0;
  }

  machine::SimMachine simMachine;
  std::vector<std::string> notes;
#ifdef __linux__
  std::unique_ptr<machine::SysfsHost> realBus;
  if (machine::IsLinuxDriver(options.driver)) {
    realBus = std::make_unique<machine::SysfsHost>(options.sysfsRoot, options.readOnly, "p9050diag",
                                                   options.driver);
    // The resource lists show the BARs the driver's records leave out, from the same tree.
    g_sysfsRoot = options.sysfsRoot;
    PciBus_SetHighRegionSource(HighRegions);
  }
#endif
  // The kernel driver (Windows) needs nothing started: the library opens its device.
  if (options.driver == p9050diag::Driver::kSim && !simMachine.Start(options, &notes, &error)) {
    std::fprintf(stderr, "p9050diag: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& note : notes) std::fprintf(stderr, "p9050diag: %s\n", note.c_str());

  FILE* input = nullptr;
  if (!session::CatchSignals(&error) || (input = session::OpenInput(&error)) == nullptr) {
    std::fprintf(stderr, "p9050diag: %s\n", error.c_str());
    return 1;
  }
  DiagConsole_SetStreams(input, nullptr);
  session::SetEndAction([&simMachine] { return Finish(&simMachine); });
  simMachine.set_before_request(session::EndIfAsked);

  p9050diag::HostState state;
  if (options.driver == p9050diag::Driver::kSim) {
    state.pulseInterrupt = [&simMachine](P9050_Handle* board) {
      return simMachine.PulseInterrupt(board);
    };
  }
  p9050diag::OpenDefaultBoard(&state);
  p9050diag::RunMainMenu(&state);
  p9050diag::CloseBoard(&state);
  session::End();
}
