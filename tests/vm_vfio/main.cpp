// The guest's VFIO test program: it binds functions to vfio-pci and takes their interrupts, so it
// refuses to run anywhere but in the emulated guest scripts/vm-run.sh boots.
#include <gtest/gtest.h>

#include <cstdio>

#include "vm/guest.h"

int main(int argc, char** argv) {
  if (!vm_test::InGuest()) {
    std::fprintf(stderr,
                 "test_vm_vfio binds PCI functions to vfio-pci: it runs only in the guest that "
                 "scripts/vm-run.sh boots (zarerera.vm=1 is not on this kernel's command line)\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
