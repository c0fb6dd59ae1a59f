#!/usr/bin/env bash
# Installs what is missing, builds Varnolt with warnings as errors and runs the whole test suite,
# then the same suite built with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
# Starts a virtual display of its own when there is none.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" run test

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$BASH_SOURCE" "$@"
fi

cd "$root"
presets=(ci)
[[ "${VARNOLT_SKIP_SANITIZE:-}" == 1 ]] || presets+=(sanitize)
for preset in "${presets[@]}"; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset tests"
  ctest --preset "$preset" -j2
done
