#!/usr/bin/env bash
# Builds the packages into build/packages/:
#   deb    the Linux release build under /usr as five Debian packages, <package>_<version>_<arch>.deb:
#          libzarerera1 (the shared library), libzarerera-dev (headers, CMake package, pkg-config
#          file, .so link, README and example), libzarerera-sim1 and libzarerera-sim-dev (the
#          same for the simulated board's library), zarerera-tools (p9050diag, zarerera and their
#          manual pages), their Depends computed by dpkg-shlibdeps (build tree build/package-deb,
#          which test.sh's clang-link step builds first);
#   win32  zarerera-<version>-win32.zip: the product, zarerera.dll for 32-bit Windows, with its
#          import library, .def, headers and CMake package (the dll-i686 preset's build tree);
#   win64  zarerera-<version>-win64.zip: the same for 64-bit Windows (the dll-win64 preset's build
#          tree; its test program is not installed).
# Usage: scripts/package.sh [deb] [win32] [win64]     (default: all three)
# scripts/check_packages.sh then checks them as their users meet them.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb win32 win64)
out=build/packages
mkdir -p "${out}"

for kind in "${kinds[@]}"; do
  case "${kind}" in
    deb)
      dir=build/package-deb
      rm -f "${out}"/*.deb  # the packages of an earlier split must not be checked as this one's
      cmake --preset package-deb >/dev/null
      ;;
    win32)
      dir=build/dll-i686
      cmake --preset dll-i686 >/dev/null
      ;;
    win64)
      dir=build/dll-win64
      cmake --preset dll-win64 >/dev/null
      ;;
    *)
      echo "package: unknown package '${kind}' (deb, win32, win64)" >&2
      exit 2
      ;;
  esac
  echo "==> package ${kind}: build ${dir}"
  cmake --build "${dir}" -j "${jobs}"
  rm -rf "${dir}/packages"
  cpack --config "${dir}/CPackConfig.cmake" -B "${dir}/packages" >/dev/null
  for file in "${dir}"/packages/*.deb "${dir}"/packages/*.zip; do
    [ -e "${file}" ] || continue
    cp "${file}" "${out}/"
    echo "package: ${out}/$(basename "${file}")"
  done
done
