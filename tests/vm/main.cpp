// The guest's test program. It writes to the PCI bus it runs on (registers cards, maps BARs,
// writes configuration registers, removes and rescans functions), so it refuses to run anywhere
// but in the emulated guest scripts/vm-run.sh boots: a machine's own bus is never its to write.
#include <gtest/gtest.h>

#include <cstdio>

#include "vm/guest.h"

int main(int argc, char** argv) {
  if (!vm_test::InGuest()) {
    std::fprintf(stderr,
                 "test_vm writes to the PCI bus it runs on: it runs only in the guest that "
                 "scripts/vm-run.sh boots (zarerera.vm=1 is not on this kernel's command line)\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
