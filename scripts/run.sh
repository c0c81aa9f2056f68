#!/usr/bin/env bash
# Sets up, builds and starts Zapfer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DZAPFER_TESTS=OFF -DZAPFER_BENCH=OFF
if [[ -x "$root/build/app/zapfer" ]]; then
    exec "$root/build/app/zapfer" "$@"
fi
exec "$root/build/cli/zapfer-cli" --help
