#!/usr/bin/env bash
# Installs what Quillon needs on Debian 12 / Ubuntu, in two sets:
#   install-deps.sh run    what building and running the program needs (scripts/run, scripts/demo)
#   install-deps.sh test   that, plus what the checks need: test and benchmark libraries,
#                          clang-format and the MinGW-w64 cross compiler (scripts/test; the default)
# Idempotent: packages already present are not touched, nothing is recommended in.
set -euo pipefail
run_packages=(
  g++ cmake ninja-build pkg-config python3 nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix googletest
  clang-format ccache
  wine wine64 xvfb xdotool x11-utils imagemagick
)
case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
