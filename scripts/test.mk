# The test matrix: one target a step, each run by scripts/test-step.sh, with what it needs built
# first as its prerequisites. scripts/test.sh runs it with `make -k -j<processors>`, so that the
# steps share the processors as they become free and a failed step stops only the steps that need
# it.
#
# The steps, longest first so that they start early:
#   dev, asan    the suite in a debug build (each test its own process), and under
#                AddressSanitizer with UndefinedBehaviorSanitizer (each test program once)
#   valgrind     the dev build's test programs under memcheck
#   tsan         the tests of boards used from several threads, under ThreadSanitizer
#   clang-link   the release preset's static libraries (GCC, link-time optimised), linked and run
#                from the board demo built by clang (scripts/clang-link.sh)
#   fuzz         the libFuzzer targets, each FUZZ_SMOKE_SECONDS (10) on its seed corpus
#   dll-i686     zarerera.dll for 32-bit Windows and the tools, checked by scripts/check_dll.sh
#   dll-win64    the x86-64 DLL loaded by a test under wine64, the Win32 device channel's tests
#                against a kernel-mode test driver
#   linux32      the suite as a 32-bit Linux program
#   win64        the suite as a 64-bit Windows program under wine64, with the tools' transcripts
#   package      the .deb and the Windows zips, checked as their users meet them
#   vm           the tests of label vm, in Linux guests under QEMU (scripts/vm-run.sh), in the dev
#                tree: the drivers meet a real kernel's PCI bus that is theirs to write to
STEPS := dev asan valgrind tsan clang-link fuzz dll-i686 dll-win64 linux32 win64 package vm

all: $(STEPS)

valgrind: dev
# vm builds its guest program in dev's tree.
vm: dev
# The .deb is built in clang-link's tree; the zips take the two DLL builds.
package: clang-link dll-i686 dll-win64

$(STEPS):
	@scripts/test-step.sh $@

.PHONY: all $(STEPS)
