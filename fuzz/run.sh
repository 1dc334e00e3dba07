#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for SECONDS
# (default 60). Seeds come from fuzz/corpus/<target>/ (read only); what the
# fuzzer finds on the way goes to build/fuzz/corpus/<target>/, and a crash
# leaves its input in build/fuzz/ and fails the script.
#
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/obj"

cxx=${CXX_FUZZ:-clang++}
if ! command -v "$cxx" >/dev/null; then
  cxx=clang++-14
fi
flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -Werror -Isrc
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       # date/tz as its CMake package builds it (the OS time-zone database);
       # the version the directory client sends.
       -DUSE_OS_TZDB=1 -DONLY_C_LOCALE=1 -DHAS_STRING_VIEW=1 -DDRIFTHARBOUR_VERSION=\"1.0\")
# The libraries besides curl: FFmpeg (the media module's decoding and containers, linked in here) and TagLib.
libraries=(libavcodec libavformat libavutil libswresample taglib)
read -r -a library_cflags <<<"$(pkg-config --cflags "${libraries[@]}")"
read -r -a library_libs <<<"$(pkg-config --libs "${libraries[@]}")"

# The library sources the targets need, compiled without the fuzzer's main.
sources=(src/{base,text,net,ogg,audio,media,media/ffmpeg,playlist,hls,directory,stream,recording,schedule,config,app}/*.cpp)
objects=()
for source in "${sources[@]}"; do
  object=$out/obj/$(basename "${source%.cpp}").o
  objects+=("$object")
  if [[ ! -f $object || $source -nt $object || -n $(find src -name '*.h' -newer "$object" -print -quit) ]]; then
    "$cxx" "${flags[@]}" "${library_cflags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object" &
    if (($(jobs -r | wc -l) >= 2)); then wait -n; fi
  fi
done
wait

status=0
# Each target with its corpus folder under fuzz/corpus/.
targets=(Demultiplexer:demultiplexer IniDocument:ini Playlist:playlist HlsPlaylist:hlsplaylist
         OggChain:oggchain Segment:segment)
for pair in "${targets[@]}"; do
  target=${pair%%:*}
  name=${pair#*:}
  binary=$out/${target}Fuzzer
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "fuzz/${target}Fuzzer.cpp" "${objects[@]}" -lcurl -ldate-tz -ldl "${library_libs[@]}" -o "$binary"
  mkdir -p "$out/corpus/$name"
  echo "== fuzzing $target for ${seconds}s"
  # A small quarantine keeps the resident-memory limit meaningful.
  if ! ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1 "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=512 -malloc_limit_mb=256 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$out/$name-" \
      "$out/corpus/$name" "fuzz/corpus/$name" 2>"$out/$name.log"; then
    tail -n 40 "$out/$name.log"
    status=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$out/$name.log" || true
  fi
done
exit $status
