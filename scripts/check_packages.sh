#!/usr/bin/env bash
# Checks the packages of scripts/package.sh as their users meet them:
#   - the five Debian packages: a real section, the maintainer, a description, no lintian error;
#     each installed with dpkg into a scratch root of its own with only the packages it depends on
#     (and refused without them): exactly its files, removed without a trace; all five together:
#     the shared libraries' SONAME and links, their exports, stripped binaries, the computed
#     Depends, the manual pages; the example built with find_package(zarerera) against
#     libzarerera-dev alone (board_demo), and against the -dev packages with its tests run on the
#     simulated board; the same examples built with `pkg-config --cflags --libs` (zarerera,
#     zarerera-sim) and run;
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
# same_lines NAME EXPECTED ACTUAL: the two sorted lists, blank lines left out, are equal (the
# difference is shown).
same_lines() {
  diff -u --label "expected $1" --label "actual $1" <(sed '/^$/d' <<<"$2" | sort) \
    <(sed '/^$/d' <<<"$3" | sort)
}

demo_lines="digital output 0xa5
digital input 0x5a
counters are counting
simulated board: output latch 0xa5 after 1 write(s), 0 registration(s) left, 0 handle(s) open"
# The lines of board_demo's run that tell whether it worked (the counts in between vary).
demo_result() {
  grep -Ev '^counter [0-9]:' <<<"$1"
}

# The Debian packages, each with the files it alone holds (apart from share/doc/<package>/
# copyright and changelog.gz, which every one has) and the packages of this build it depends on.
debs=(libzarerera1 libzarerera-dev libzarerera-sim1 libzarerera-sim-dev zarerera-tools)
deb_needs() {
  case "$1" in
    libzarerera-dev) echo libzarerera1 ;;
    libzarerera-sim-dev) echo libzarerera-sim1 libzarerera-dev libzarerera1 ;;
  esac
}
deb_files() {
  local lib=./usr/lib/${multiarch}
  case "$1" in
    libzarerera1) printf '%s\n' "${lib}/libzarerera.so.${major}" "${lib}/libzarerera.so.${version}" ;;
    libzarerera-sim1)
      printf '%s\n' "${lib}/libzarerera_sim.so.${major}" "${lib}/libzarerera_sim.so.${version}" ;;
    libzarerera-dev)
      printf '%s\n' ./usr/include/zarerera.h ./usr/include/zarerera_version.h \
        "${lib}/libzarerera.so" "${lib}/pkgconfig/zarerera.pc" \
        "${lib}/cmake/zarerera/zarereraConfig.cmake" \
        "${lib}/cmake/zarerera/zarereraConfigVersion.cmake" \
        "${lib}/cmake/zarerera/zarereraTargets-release.cmake" \
        "${lib}/cmake/zarerera/zarereraTargets.cmake" \
        ./usr/share/doc/zarerera/README.md ./usr/share/doc/zarerera/examples/CMakeLists.txt \
        ./usr/share/doc/zarerera/examples/board_demo.c \
        ./usr/share/doc/zarerera/examples/sim_board_host.c \
        ./usr/share/doc/zarerera/examples/counter_test.c ;;
    libzarerera-sim-dev)
      printf '%s\n' ./usr/include/zarerera_sim.h "${lib}/libzarerera_sim.so" \
        "${lib}/pkgconfig/zarerera-sim.pc" \
        "${lib}/cmake/zarerera/zarereraSimTargets-release.cmake" \
        "${lib}/cmake/zarerera/zarereraSimTargets.cmake" ;;
    zarerera-tools)
      printf '%s\n' ./usr/bin/p9050diag ./usr/bin/zarerera ./usr/share/man/man1/p9050diag.1.gz \
        ./usr/share/man/man1/zarerera.1.gz ./usr/lib/udev/rules.d/70-zarerera-vfio.rules
      # A page per zarerera command.
      for command in list config regs di do counters counter-set read write eeprom-dump \
        eeprom-write eeprom-verify watch; do
        printf '%s\n' "./usr/share/man/man1/zarerera-${command}.1.gz"
      done ;;
  esac
  printf '%s\n' "./usr/share/doc/$1/copyright" "./usr/share/doc/$1/changelog.gz"
}
deb_path() {
  echo "build/packages/$1_${version}_${arch}.deb"
}

# A scratch root with its own dpkg database, in which packages are installed and removed for
# real. The database starts with this machine's entries of the system libraries the packages
# depend on (so that they count as installed), and nothing of this build. The maintainer scripts
# run outside the root (ours do nothing), triggers are not run.
system_libraries=(libc6 libgcc-s1 libstdc++6)
new_root() {
  local root=$1 name
  rm -rf "${root}"
  mkdir -p "${root}/var/lib/dpkg/info" "${root}/var/lib/dpkg/updates"
  dpkg-query -s "${system_libraries[@]}" >"${root}/var/lib/dpkg/status"
  for name in $(dpkg-query -W -f='${binary:Package}\n' "${system_libraries[@]}"); do
    touch "${root}/var/lib/dpkg/info/${name}.list"
  done
  touch "${root}/var/lib/dpkg/available"
}
in_root() {  # in_root ROOT DPKG-ARGUMENTS...
  local root=$1
  shift
  dpkg --root="${root}" --admindir="${root}/var/lib/dpkg" --force-not-root \
    --force-script-chrootless --no-triggers --log="${root}/dpkg.log" "$@"
}
# The files (not directories) under ROOT/usr: what the packages put there.
files_in() {
  (cd "$1" && find ./usr ! -type d 2>/dev/null | sort)
}

check_deb() {
  local root pkg need expected
  arch=$(dpkg --print-architecture)
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  local lib=usr/lib/${multiarch}

  for pkg in "${debs[@]}"; do
    echo "--- dpkg-deb -c $(deb_path "${pkg}")"
    dpkg-deb -c "$(deb_path "${pkg}")"
    check "${pkg}: real section, maintainer, description" bash -c "
      deb='$(deb_path "${pkg}")'
      test \"\$(dpkg-deb -f \"\${deb}\" Section)\" != '' &&
      dpkg-deb -f \"\${deb}\" Section | grep -Eqx 'libs|libdevel|utils' &&
      test \"\$(dpkg-deb -f \"\${deb}\" Maintainer)\" = 'zarerera developers <dev@zarerera.example>' &&
      test \"\$(dpkg-deb -f \"\${deb}\" Description | wc -l)\" -ge 3"
  done
  check "lintian: no error in any package" \
    bash -c "lintian --fail-on error $(for pkg in "${debs[@]}"; do printf "'%s' " "$(deb_path "${pkg}")"; done)"

  # Each package on its own, with only the packages of this build it needs: its files, nothing
  # else, and removed again without a trace.
  for pkg in "${debs[@]}"; do
    root=${work}/root-${pkg}
    new_root "${root}"
    expected=""
    for need in $(deb_needs "${pkg}") "${pkg}"; do
      expected+=$(deb_files "${need}")$'\n'
    done
    if [ -n "$(deb_needs "${pkg}")" ]; then
      check "${pkg}: refused without the packages it depends on" \
        bash -c "$(declare -f in_root); ! in_root '${root}' -i '$(deb_path "${pkg}")'"
      new_root "${root}"
    fi
    local debs_needed=()
    for need in $(deb_needs "${pkg}") "${pkg}"; do debs_needed+=("$(deb_path "${need}")"); done
    local with
    with=$(deb_needs "${pkg}")
    check "${pkg}: installs with ${with:-nothing else of this build}" \
      in_root "${root}" -i "${debs_needed[@]}"
    check "${pkg}: exactly its files (and its dependencies')" \
      same_lines "files of ${pkg}" "${expected}" "$(files_in "${root}")"
    check "${pkg}: removed, leaves no file" bash -c "$(declare -f in_root files_in)
      in_root '${root}' --purge ${pkg} $(deb_needs "${pkg}") && test -z \"\$(files_in '${root}')\""
  done

  # Every package together, in one root: the libraries, the example built against the
  # development packages and run, the tools.
  root=${work}/root-all
  new_root "${root}"
  local all=()
  for pkg in "${debs[@]}"; do all+=("$(deb_path "${pkg}")"); done
  check "all five install together" in_root "${root}" -i "${all[@]}"
  expected=""
  for pkg in "${debs[@]}"; do expected+=$(deb_files "${pkg}")$'\n'; done
  check "together: every package's files" same_lines "files of all" "${expected}" "$(files_in "${root}")"
  local name
  for name in libzarerera libzarerera_sim; do
    check "${name}.so -> .so.${major} -> .so.${version}, SONAME ${name}.so.${major}" bash -c "
      test \"\$(readlink '${root}/${lib}/${name}.so')\" = ${name}.so.${major} &&
      test \"\$(readlink '${root}/${lib}/${name}.so.${major}')\" = ${name}.so.${version} &&
      readelf -d '${root}/${lib}/${name}.so.${version}' | grep -F 'Library soname: [${name}.so.${major}]'"
  done
  check "libzarerera.so exports exactly the board API" \
    cmake -DNM=nm -DLIBRARY="${root}/${lib}/libzarerera.so.${version}" \
    -P tests/board/check_exports.cmake
  check "binaries are stripped" bash -c "
    file -L '${root}/usr/bin/p9050diag' '${root}/usr/bin/zarerera' \
      '${root}/${lib}/libzarerera.so.${version}' '${root}/${lib}/libzarerera_sim.so.${version}' |
      tee /dev/stderr | grep -c ', stripped' | grep -qx 4"
  check "Depends of the libraries and tools computed (libc6, libstdc++6)" bash -c "
    for pkg in libzarerera1 libzarerera-sim1 zarerera-tools; do
      deb=build/packages/\${pkg}_${version}_${arch}.deb
      dpkg-deb -f \"\${deb}\" Depends | tee /dev/stderr | grep -q 'libc6 (>=' &&
        dpkg-deb -f \"\${deb}\" Depends | grep -q 'libstdc++6 (>=' || exit 1
    done"
  check "the manual pages show the version" \
    bash -c "zcat '${root}/usr/share/man/man1/p9050diag.1.gz' | grep -q 'p9050diag ${version}'"
  check "the tools run from the package" \
    bash -c "'${root}/usr/bin/zarerera' --version | grep -qx 'zarerera ${version}'"

  # The example against the development packages only: with libzarerera-dev board_demo builds
  # (the simulated board's targets are not there); with libzarerera-sim-dev too, the example's
  # tests run on the simulated board.
  local devroot=${work}/root-dev
  new_root "${devroot}"
  in_root "${devroot}" -i "$(deb_path libzarerera1)" "$(deb_path libzarerera-dev)" >/dev/null
  check "find_package: examples/ build against libzarerera-dev alone: board_demo, no sim targets" \
    bash -c "cmake -S '${devroot}/usr/share/doc/zarerera/examples' -B '${work}/examples-dev' -G Ninja \
               -DCMAKE_PREFIX_PATH='${devroot}/usr' >/dev/null &&
             cmake --build '${work}/examples-dev' >/dev/null &&
             test -x '${work}/examples-dev/board_demo' && ! test -e '${work}/examples-dev/counter_test' &&
             readelf -d '${work}/examples-dev/board_demo' |
               grep -F 'Shared library: [libzarerera.so.${major}]'"
  check "find_package: examples/ build against the -dev packages and their tests pass" \
    bash -c "cmake -S '${root}/usr/share/doc/zarerera/examples' -B '${work}/examples' -G Ninja \
               -DCMAKE_PREFIX_PATH='${root}/usr' >/dev/null && cmake --build '${work}/examples' &&
             LD_LIBRARY_PATH='${root}/${lib}' ctest --test-dir '${work}/examples' \
               --no-tests=error --output-on-failure"

  export PKG_CONFIG_PATH=${root}/${lib}/pkgconfig
  check "pkg-config: zarerera and zarerera-sim ${version}" \
    test "$(pkg-config --modversion zarerera zarerera-sim | tr '\n' ' ')" = "${version} ${version} "
  # shellcheck disable=SC2046 # pkg-config's words are separate arguments
  check "pkg-config: board_demo builds with zarerera" \
    cc -Wall -Wextra -Werror -o "${work}/board_demo" examples/board_demo.c \
    $(pkg-config --cflags --libs zarerera)
  # shellcheck disable=SC2046
  check "pkg-config: board_demo and counter_test build with zarerera-sim" \
    bash -c "cc -Wall -Wextra -Werror -o '${work}/board_demo_sim' examples/board_demo.c \
               examples/sim_board_host.c $(pkg-config --cflags --libs zarerera-sim) &&
             cc -Wall -Wextra -Werror -o '${work}/counter_test' examples/counter_test.c \
               $(pkg-config --cflags --libs zarerera-sim)"
  local output
  output=$(LD_LIBRARY_PATH=${root}/${lib} "${work}/board_demo_sim" 2>&1 || true)
  check "pkg-config: board_demo runs on the simulated board" \
    same_lines board_demo "${demo_lines}" "$(demo_result "${output}")"
  check "pkg-config: counter_test passes on the simulated board" \
    env LD_LIBRARY_PATH="${root}/${lib}" "${work}/counter_test"
  unset PKG_CONFIG_PATH
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
${top}/share/doc/zarerera/examples/sim_board_host.c
${top}/share/doc/zarerera/examples/counter_test.c"
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
