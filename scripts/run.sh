#!/usr/bin/env bash
# Installs what is missing, builds Varnolt and opens it on the pictures bundled in samples/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" run
cmake --preset release -S "$root" >/dev/null
cmake --build --preset release --target varnolt
cd "$root/samples"
exec "$root/build/release/shell/varnolt"
