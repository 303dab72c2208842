#!/usr/bin/env bash
# Installs what the tests need (Debian packages through apt-get when run as root), then
# builds the tool twice -- optimised with warnings as errors, and with AddressSanitizer and
# UndefinedBehaviorSanitizer -- and runs the whole suite against each build.
set -euo pipefail
cd "$(dirname "$0")/.."

# package:command-or-file that shows it is there
needed=(
  "cmake:/usr/bin/cmake"
  "g++:/usr/bin/g++"
  "libgtest-dev:/usr/include/gtest/gtest.h"
  "libbenchmark-dev:/usr/include/benchmark/benchmark.h"
  "ffmpeg:/usr/bin/ffmpeg"
  "fiu-utils:/usr/bin/fiu-run"
)
missing=()
for entry in "${needed[@]}"; do
  [ -e "${entry#*:}" ] || missing+=("${entry%%:*}")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing (install them, e.g. sudo apt-get install ${missing[*]}): tests that need them are skipped." >&2
  fi
fi

for preset in release sanitize; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
