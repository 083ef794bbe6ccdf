# The Debian packages the project needs, in one place; sourced by .ci/run and scripts/diag.sh.
#
# zarerera_build_packages: make for the test matrix (scripts/test.mk); the native release build
# (the library, the console host p9050diag, the zarerera command with CLI11 and nlohmann-json, the
# benchmarks).
# zarerera_test_packages: everything scripts/test.sh runs besides: GoogleTest; g++-multilib for the
# -m32 record layout check and the 32-bit Linux suite, run under qemu-user-static on a kernel that
# cannot execute i386 code itself; the MinGW-w64 cross compilers (-posix thread variants:
# GoogleTest needs std::thread) for the Windows builds, with their DDK headers and ntoskrnl (and, on
# i686, hal) import libraries (mingw-w64-x86-64-dev, mingw-w64-i686-dev) for the tests' kernel-mode
# driver, and wine64 to run the 64-bit programs;
# debootstrap with the archive's keyring (debian-archive-keyring), which make the i386 Debian tree
# that wine32 runs the 32-bit Windows programs in (scripts/i386-tree.sh: the host's own archive
# cannot install wine32 beside its 64-bit packages);
# valgrind for the memcheck step; clang with its libFuzzer runtime for the fuzz targets; pciutils
# (lspci), which the sysfs driver's tests compare this machine's PCI bus with; help2man for the
# tools' manual pages, dpkg-dev (dpkg-shlibdeps), zip and unzip for the packages, lintian (Debian's
# package checker) and file (is a binary stripped?) for their check, and pkg-config for their
# consumer test; qemu-system-x86, linux-image-amd64 (the guest's kernel and modules),
# busybox-static and cpio for the vm step's guest, a Linux machine under QEMU's software emulation
# whose PCI bus the tests may write to (scripts/vm-run.sh builds its initramfs with cpio).
zarerera_build_packages=(cmake ninja-build make g++ libbenchmark-dev libcli11-dev nlohmann-json3-dev)
zarerera_test_packages=(libgtest-dev g++-multilib qemu-user-static g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev mingw-w64-i686-dev wine64 debootstrap
  debian-archive-keyring valgrind clang libclang-rt-14-dev pciutils help2man dpkg-dev zip unzip
  lintian file pkg-config qemu-system-x86 linux-image-amd64 busybox-static cpio)

# zarerera_install_missing PACKAGE...: installs those not installed yet with apt-get (through sudo
# when not root); says which on standard error.
zarerera_install_missing() {
  local need=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
  done
  [ ${#need[@]} -gt 0 ] || return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "installing: ${need[*]}" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${need[@]}" >&2
}
