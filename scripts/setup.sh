#!/usr/bin/env bash
# Installs the Debian packages Varnolt needs, for one purpose or several:
#   scripts/setup.sh run     build and run the browser
#   scripts/setup.sh test    also run the test suite (headless display, sanitizers)
#   scripts/setup.sh bench   also run the benchmarks
#   scripts/setup.sh fuzz    also build the fuzzers
# Quick when everything is present; asks apt-get (as root, or through sudo) only for what is missing.
set -euo pipefail

run_packages=(
  cmake g++ make pkg-config
  libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  libjpeg62-turbo-dev libgif-dev libgdk-pixbuf-2.0-dev libpng-dev
  libcurl4-openssl-dev libwmf-dev libemf2svg-dev librsvg2-dev libcairo2-dev
  fonts-urw-base35
)
test_packages=(
  libgtest-dev libgmock-dev xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core
  clang libclang-rt-14-dev python3
)
bench_packages=(libbenchmark-dev libjpeg-turbo-progs imagemagick xvfb xauth python3)
fuzz_packages=(clang libclang-rt-14-dev)

wanted=("${run_packages[@]}")
for purpose in "$@"; do
  case "$purpose" in
    run) ;;
    test) wanted+=("${test_packages[@]}") ;;
    bench) wanted+=("${bench_packages[@]}") ;;
    fuzz) wanted+=("${fuzz_packages[@]}") ;;
    *) echo "setup.sh: unknown purpose '$purpose' (run, test, bench, fuzz)" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "Varnolt needs these Debian packages: ${missing[*]}" >&2
  echo "Install them as root (apt-get install ${missing[*]}), or install sudo, then run this again." >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
