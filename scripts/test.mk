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
#   dll-i686     zarerera.dll for 32-bit Windows and the tools, checked by scripts/check_dll.sh,
#                the DLL loaded under wine32 and each export called cdecl, against the i686
#                kernel-mode test driver
#   dll-win64    the x86-64 DLL loaded by a test under wine64, the Win32 device channel's tests
#                against a kernel-mode test driver
#   linux32      the suite as a 32-bit Linux program, natively where the kernel runs 32-bit code
#   win64        the suite as a 64-bit Windows program under wine64, with the tools' transcripts
#   win32        the same as a 32-bit Windows program under wine32, in an i386 Debian tree that
#                scripts/i386-tree.sh makes on first use (about a minute, from the registry)
#   package      the five .debs and the Windows zips, checked as their users meet them: lintian,
#                each .deb installed alone and all together in a scratch dpkg root, the examples
#                built against the -dev packages
#   vm           in the dev tree (its preset adds the guest's test program there, nothing else),
#                the tests of label vm: Linux guests under QEMU's software emulation, booted by
#                scripts/vm-run.sh, where the sysfs driver and the tools meet a real kernel's PCI
#                bus that is theirs to write to; about 20 s once dev is built
STEPS := dev asan valgrind tsan clang-link fuzz dll-i686 dll-win64 win32 linux32 win64 package vm

all: $(STEPS)

valgrind: dev
# The vm preset reconfigures dev's tree: not while valgrind runs its programs.
vm: valgrind
# The .debs are built in clang-link's tree; the zips take the two DLL builds.
package: clang-link dll-i686 dll-win64

$(STEPS):
	@scripts/test-step.sh $@

.PHONY: all $(STEPS)
