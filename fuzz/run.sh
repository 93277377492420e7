#!/usr/bin/env bash
# Runs one libFuzzer harness for a while, seeded from the shared fixtures.
#   fuzz/run.sh NAME [SECONDS] [LIBFUZZER FLAGS...]      e.g. fuzz/run.sh id3v2 600
# NAME is a harness fuzz/NAME_fuzz.cpp; fuzz/NAME.seeds lists fixture folders (relative
# to ../shared/fixtures), one per line, copied into the corpus on the first run, as are
# the files in fuzz/seeds/NAME/ (symbolic links followed). fuzz/NAME.options holds extra
# libFuzzer flags, one per line ('#' starts a comment); flags after SECONDS come last.
# Crashes land in fuzz/artifacts/NAME/; the corpus grows in fuzz/corpus/NAME/.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: fuzz/run.sh NAME [SECONDS]}
seconds=${2:-60}
build=build-fuzz

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMENAR_FUZZ=ON -DLUMENAR_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target "fuzz_$name"

corpus=fuzz/corpus/$name
artifacts=fuzz/artifacts/$name
mkdir -p "$corpus" "$artifacts"
fixtures=../shared/fixtures
fresh=0
[ -z "$(ls -A "$corpus")" ] && fresh=1
if [ "$fresh" -eq 1 ] && [ -f "fuzz/$name.seeds" ] && [ -d "$fixtures" ]; then
  while IFS= read -r dir; do
    [ -n "$dir" ] && [ -d "$fixtures/$dir" ] && find "$fixtures/$dir" -type f ! -name '*.md' ! -name '*.json' \
      -exec cp -t "$corpus" {} + 2>/dev/null || true
  done < "fuzz/$name.seeds"
fi
if [ "$fresh" -eq 1 ] && [ -d "fuzz/seeds/$name" ]; then
  find -L "fuzz/seeds/$name" -type f -exec cp -L -t "$corpus" {} + 2>/dev/null || true
fi
extra=()
[ -f "fuzz/$name.dict" ] && extra+=("-dict=fuzz/$name.dict")
if [ -f "fuzz/$name.options" ]; then
  while IFS= read -r flag; do
    flag=${flag%%#*}
    flag=${flag#"${flag%%[![:space:]]*}"}
    flag=${flag%"${flag##*[![:space:]]}"}
    [ -n "$flag" ] && extra+=("$flag")
  done < "fuzz/$name.options"
fi
extra+=("${@:3}")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
"$build/fuzz/fuzz_$name" "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 "${extra[@]}"
