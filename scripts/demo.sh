#!/usr/bin/env bash
# Builds the tool and runs it on a copy of the bundled sample clip (the committed file is
# never touched): once to report, once to patch the aspect ratio to 16:9 in every header.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target tessarwick >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/fixtures/pal_dvd_4x3.m2v "$work/clip.m2v"
cd "$work"
echo "\$ tessarwick /f=clip.m2v /log"
"$OLDPWD/build/release/tessarwick" /f=clip.m2v /log
tr -d '\r' < clip.m2v-Tessarwick.log
echo
echo "\$ tessarwick /f=clip.m2v /ar=3 /all /log"
"$OLDPWD/build/release/tessarwick" /f=clip.m2v /ar=3 /all /log
tr -d '\r' < clip.m2v-Tessarwick.log
