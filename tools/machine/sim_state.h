// The file that keeps a simulated machine between runs (--sim-state): the clock, and for each
// board its bridge registers, digital ports, counter groups and serial EEPROM, as text that a
// person can read and diff.
//
// Kept: the clock's time (the time between runs does not count), the bridge's 21 registers as
// stored, the digital input, the output latch and its write count, each group's clock rate and
// every 8254 counter's whole state (mode, counts, latches, flip-flops, OUT, GATE), the EEPROM's
// 64 words and write-enable latch. Not kept: the PCI configuration space (the bus assigns the
// BARs afresh), the interrupt pins, worn-out cells, an EEPROM write still programming, the logs,
// the output latch's history.
#ifndef ZARERERA_TOOLS_MACHINE_SIM_STATE_H
#define ZARERERA_TOOLS_MACHINE_SIM_STATE_H

#include <string>
#include <vector>

#include "eeprom_file.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace machine {

// The file's text for the machine as it is now.
std::string FormatSimState(sim::Simulator& simulator, const std::vector<sim::SimBoard>& boards);

// Puts the machine in the state `text` describes; the boards must be the ones the text names
// (count and IDs). False with a reason ("line N: ...") on anything else; the machine may then be
// half restored and is not to be used.
bool RestoreSimState(const std::string& text, sim::Simulator& simulator,
                     const std::vector<sim::SimBoard>& boards, std::string* error);

// The file at `path` read and restored: kMissing when there is none, kBad with "path: reason".
LoadResult LoadSimStateFile(const std::string& path, sim::Simulator& simulator,
                            const std::vector<sim::SimBoard>& boards, std::string* error);

}  // namespace machine

#endif  // ZARERERA_TOOLS_MACHINE_SIM_STATE_H
