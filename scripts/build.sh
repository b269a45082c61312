#!/usr/bin/env bash
# Installs what is missing, then builds with the mingw-i686 preset: every
# target, or the ones named.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw-i686 >/dev/null
if [ $# -gt 0 ]; then
    cmake --build --preset mingw-i686 --target "$@"
else
    cmake --build --preset mingw-i686
fi
