#!/usr/bin/env bash
# Driftharbour's one set-up script for Debian 12.
#
#   scripts/setup.sh run [URL...]   install what is missing, build, start the program
#   scripts/setup.sh test           install what is missing, build, run every test
#   scripts/setup.sh deps           only install what is missing
#
# Run it as root, or as a user with sudo for the packages. It is quiet when
# nothing is missing.
set -euo pipefail

cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n
  # Decoding (cutting at silence), containers (HLS segments), tags, metrics.
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev libtag1-dev prometheus-cpp-dev
  # Time zones for schedules (on the system's tzdata), JSON for the station
  # directory.
  libhowardhinnant-date-dev tzdata nlohmann-json3-dev
  # End-to-end tests: a real Icecast server fed by ffmpeg, curl to poke it.
  icecast2 ffmpeg curl procps python3
  # TLS failure tests: a loopback s_server with a self-signed certificate.
  openssl
  # Installation check (the .desktop file, the AppStream metainfo) and the
  # deployment manifests.
  desktop-file-utils appstream yamllint
  # The window's check for an X display before Qt starts.
  libxcb1-dev
  # Fuzzing (fuzz/run.sh): clang with libFuzzer and the sanitizer runtimes.
  clang libclang-rt-14-dev llvm
  # Linking the recorder with its functions in the order a plain stream
  # runs them (CMakeLists.txt).
  lld
)

install_missing() {
  local missing=()
  for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  local sudo=()
  if ((EUID != 0)); then
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() {
  local preset=$1
  if [[ ! -f build/$preset/build.ninja ]]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset" -- --quiet
}

command=${1:-}
shift || true
case $command in
  deps)
    install_missing
    ;;
  run)
    install_missing
    build default
    # The window needs a graphical session; without one the recorder does
    # the same job in the terminal.
    if [[ -x build/default/src/ui/driftharbour &&
          ( -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} || -n ${QT_QPA_PLATFORM:-} ) ]]; then
      exec build/default/src/ui/driftharbour "$@"
    elif (($# > 0)); then
      exec build/default/src/cli/driftharbour-record "$@"
    else
      exec build/default/src/cli/driftharbour-record --help
    fi
    ;;
  test)
    install_missing
    build default
    ctest --preset default
    ;;
  *)
    echo "usage: $0 run [URL...] | test | deps" >&2
    exit 2
    ;;
esac
