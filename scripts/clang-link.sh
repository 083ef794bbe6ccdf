#!/usr/bin/env bash
# Links the release build's static libraries (GCC, link-time optimised) from a program that clang
# compiles and links, and runs it: the board demo on the simulated board, as an application of the
# libraries built with another toolchain would. Fails when the link fails (libraries holding only
# GCC's intermediate code give clang nothing to link) or the demo does not print every line of a
# good run.
#
# Usage: scripts/clang-link.sh [BUILD_DIR]   (default build/release, already built)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
out=${build}/clang-link
mkdir -p "${out}"

# The include directories the public simulator library is compiled with reach every header the
# demo, its simulator host and that library include.
includes=$(grep -m1 -E '"command": .*/sim/public/zarerera_sim\.cpp"' "${build}/compile_commands.json" |
  grep -oE -- '-(I|isystem) ?[^ ]+' | tr '\n' ' ')
libraries=("${build}"/libzarerera_*.a)

# The demo and its host as an application's test builds them (examples/), with the simulated
# board's calls (sim/public) compiled by clang too; everything else comes from GCC's libraries.
# shellcheck disable=SC2086 # the include options are separate words
clang -std=c11 -O2 -Wall -Werror ${includes} -c examples/board_demo.c -o "${out}/board_demo.o"
# shellcheck disable=SC2086
clang -std=c11 -O2 -Wall -Werror ${includes} -c examples/sim_board_host.c \
  -o "${out}/sim_board_host.o"
# shellcheck disable=SC2086
clang++ -std=c++20 -O2 -Wall -Werror ${includes} -c sim/public/zarerera_sim.cpp \
  -o "${out}/zarerera_sim.o"
clang++ -o "${out}/board_demo" "${out}/board_demo.o" "${out}/sim_board_host.o" \
  "${out}/zarerera_sim.o" -Wl,--start-group "${libraries[@]}" -Wl,--end-group -pthread

output=$("${out}/board_demo")
echo "${output}"
for line in "digital output 0xa5" "digital input 0x5a" "counters are counting" \
  "simulated board: output latch 0xa5 after 1 write(s), 0 registration(s) left, 0 handle(s) open"; do
  if ! grep -qxF "${line}" <<<"${output}"; then
    echo "clang-link: the demo linked by clang did not print: ${line}" >&2
    exit 1
  fi
done
echo "clang-link: the release libraries link and run from a program built by clang"
