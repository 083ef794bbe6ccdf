#!/usr/bin/env bash
# Checks the packages of scripts/package.sh as their users meet them:
#   - the Linux build installed to a temporary prefix; examples/ built from there as a project of
#     its own with find_package(zarerera) and its test run on the simulated board
#     (zarerera::zarerera_sim); the same example built with `pkg-config --cflags --libs` (zarerera,
#     zarerera-sim) and run;
#   - the .deb unpacked in a throwaway root (dpkg -x): exactly the expected files, the shared
#     libraries' SONAME and links, their exports, the computed Depends;
#   - each Windows zip: exactly the expected files, its DLL through scripts/check_dll.sh, and the
#     example cross-built against the unpacked tree with find_package, importing zarerera.dll.
# Usage: scripts/check_packages.sh [deb] [win32] [win64]     (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb win32 win64)
version=$(sed -n 's/^project(zarerera VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
major=${version%%.*}
work=$(mktemp -d "${PWD}/build/check-packages.XXXXXX")
trap 'rm -rf "${work}"' EXIT

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: one check, its output shown only when it fails
  local what=$1 log
  shift
  log=$("$@" 2>&1) && {
    passed=$((passed + 1))
    echo "ok: ${what}"
    return 0
  }
  failed=$((failed + 1))
  echo "${log}"
  echo "FAILED: ${what}"
}
# same_lines NAME EXPECTED ACTUAL: the two sorted lists are equal (the difference is shown).
same_lines() {
  diff -u --label "expected $1" --label "actual $1" <(sort <<<"$2") <(sort <<<"$3")
}

demo_lines="digital output 0xa5
digital input 0x5a
counters are counting
simulated board: output latch 0xa5 after 1 write(s), 0 registration(s) left, 0 handle(s) open"
# The lines of board_demo's run that tell whether it worked (the counts in between vary).
demo_result() {
  grep -Ev '^counter [0-9]:' <<<"$1"
}

check_deb() {
  local arch multiarch prefix libdir deb root
  arch=$(dpkg --print-architecture)
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  prefix=${work}/prefix
  libdir=${prefix}/lib/${multiarch}

  cmake --install build/package-deb --prefix "${prefix}" >/dev/null
  check "find_package: examples/ configure and build against ${prefix}" \
    bash -c "cmake -S examples -B '${work}/examples' -G Ninja -DCMAKE_PREFIX_PATH='${prefix}' &&
             cmake --build '${work}/examples'"
  check "find_package: the example's test passes on the simulated board" \
    ctest --test-dir "${work}/examples" --no-tests=error --output-on-failure
  check "find_package: board_demo needs libzarerera by its SONAME" \
    bash -c "readelf -d '${work}/examples/board_demo' | grep -F 'Shared library: [libzarerera.so.${major}]'"

  export PKG_CONFIG_PATH=${libdir}/pkgconfig
  check "pkg-config: zarerera and zarerera-sim ${version}" \
    test "$(pkg-config --modversion zarerera zarerera-sim | tr '\n' ' ')" = "${version} ${version} "
  # shellcheck disable=SC2046 # pkg-config's words are separate arguments
  check "pkg-config: board_demo builds with zarerera" \
    cc -Wall -Wextra -Werror -o "${work}/board_demo" examples/board_demo.c \
    $(pkg-config --cflags --libs zarerera)
  # shellcheck disable=SC2046
  check "pkg-config: board_demo builds with zarerera-sim" \
    cc -Wall -Wextra -Werror -o "${work}/board_demo_sim" examples/board_demo.c \
    examples/sim_board_host.c $(pkg-config --cflags --libs zarerera-sim)
  local output
  output=$(LD_LIBRARY_PATH=${libdir} "${work}/board_demo_sim" 2>&1 || true)
  check "pkg-config: board_demo runs on the simulated board" \
    same_lines board_demo "${demo_lines}" "$(demo_result "${output}")"

  deb=build/packages/zarerera_${version}_${arch}.deb
  root=${work}/root
  echo "--- dpkg-deb -c ${deb}"
  dpkg-deb -c "${deb}"
  dpkg -x "${deb}" "${root}"
  local lib=./usr/lib/${multiarch} expected
  expected="./usr/bin/p9050diag
./usr/bin/zarerera
./usr/include/zarerera.h
./usr/include/zarerera_sim.h
./usr/include/zarerera_version.h
${lib}/cmake/zarerera/zarereraConfig.cmake
${lib}/cmake/zarerera/zarereraConfigVersion.cmake
${lib}/cmake/zarerera/zarereraTargets-release.cmake
${lib}/cmake/zarerera/zarereraTargets.cmake
${lib}/libzarerera.so
${lib}/libzarerera.so.${major}
${lib}/libzarerera.so.${version}
${lib}/libzarerera_sim.so
${lib}/libzarerera_sim.so.${major}
${lib}/libzarerera_sim.so.${version}
${lib}/pkgconfig/zarerera-sim.pc
${lib}/pkgconfig/zarerera.pc
./usr/lib/udev/rules.d/70-zarerera-vfio.rules
./usr/share/doc/zarerera/README.md
./usr/share/doc/zarerera/examples/CMakeLists.txt
./usr/share/doc/zarerera/examples/board_demo.c
./usr/share/doc/zarerera/examples/sim_board_host.c
./usr/share/man/man1/p9050diag.1
./usr/share/man/man1/zarerera.1"
  check "deb: exactly the expected files" \
    same_lines "files of ${deb}" "${expected}" "$(cd "${root}" && find . ! -type d)"
  local name
  for name in libzarerera libzarerera_sim; do
    check "deb: ${name}.so -> .so.${major} -> .so.${version}, SONAME ${name}.so.${major}" bash -c "
      test \"\$(readlink '${root}/${lib}/${name}.so')\" = ${name}.so.${major} &&
      test \"\$(readlink '${root}/${lib}/${name}.so.${major}')\" = ${name}.so.${version} &&
      readelf -d '${root}/${lib}/${name}.so.${version}' | grep -F 'Library soname: [${name}.so.${major}]'"
  done
  check "deb: libzarerera.so exports exactly the board API" \
    cmake -DNM=nm -DLIBRARY="${root}/${lib}/libzarerera.so.${version}" \
    -P tests/board/check_exports.cmake
  check "deb: Depends computed (libc6, libstdc++6)" \
    bash -c "dpkg-deb -f '${deb}' Depends | tee /dev/stderr | grep -q 'libc6 (>=' &&
             dpkg-deb -f '${deb}' Depends | grep -q 'libstdc++6 (>='"
  check "deb: the manual pages show the version" \
    grep -q "p9050diag ${version}" "${root}/usr/share/man/man1/p9050diag.1"
}

check_zip() {
  local kind=$1 dir triple zip top unpacked expected tool
  case "${kind}" in
    win32) dir=build/dll-i686 triple=i686-w64-mingw32 ;;
    win64) dir=build/dll-win64 triple=x86_64-w64-mingw32 ;;
  esac
  zip=build/packages/zarerera-${version}-${kind}.zip
  top=zarerera-${version}-${kind}
  echo "--- unzip -l ${zip}"
  unzip -l "${zip}"
  expected="${top}/bin/zarerera.dll
${top}/include/zarerera.h
${top}/include/zarerera_version.h
${top}/lib/cmake/zarerera/zarereraConfig.cmake
${top}/lib/cmake/zarerera/zarereraConfigVersion.cmake
${top}/lib/cmake/zarerera/zarereraTargets-release.cmake
${top}/lib/cmake/zarerera/zarereraTargets.cmake
${top}/lib/libzarerera.dll.a
${top}/lib/pkgconfig/zarerera.pc
${top}/lib/zarerera.def
${top}/share/doc/zarerera/README.md
${top}/share/doc/zarerera/examples/CMakeLists.txt
${top}/share/doc/zarerera/examples/board_demo.c
${top}/share/doc/zarerera/examples/sim_board_host.c"
  # The Windows tools travel in the zip where the build makes them.
  for tool in p9050diag zarerera; do
    if [ -e "${dir}/tools/${tool}.exe" ]; then expected+=$'\n'"${top}/bin/${tool}.exe"; fi
  done
  check "${kind} zip: exactly the expected files" \
    same_lines "files of ${zip}" "${expected}" "$(unzip -Z1 "${zip}" | grep -v '/$')"
  unpacked=${work}/${kind}
  unzip -q "${zip}" -d "${unpacked}"
  check "${kind} zip: check_dll.sh passes on its DLL" scripts/check_dll.sh "${unpacked}/${top}/bin/zarerera.dll"
  check "${kind} zip: board_demo.exe builds against it with find_package and imports zarerera.dll" \
    bash -c "cmake -S examples -B '${work}/examples-${kind}' -G Ninja \
               --toolchain '${PWD}/cmake/mingw-${triple%%-*}.cmake' \
               -Dzarerera_DIR='${unpacked}/${top}/lib/cmake/zarerera' >/dev/null &&
             cmake --build '${work}/examples-${kind}' >/dev/null &&
             ${triple}-objdump -p '${work}/examples-${kind}/board_demo.exe' |
               grep -E 'DLL Name: zarerera.dll'"
}

for kind in "${kinds[@]}"; do
  case "${kind}" in
    deb) check_deb ;;
    win32 | win64) check_zip "${kind}" ;;
    *)
      echo "check_packages: unknown package '${kind}' (deb, win32, win64)" >&2
      exit 2
      ;;
  esac
done

echo "check_packages: ${passed} passed, ${failed} failed"
[ "${failed}" -eq 0 ]
