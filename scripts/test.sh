#!/usr/bin/env bash
# Installs what is missing (when run as root), builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[[ -d /usr/src/googletest ]] || need+=(googletest libgtest-dev libgmock-dev)
if ((${#need[@]})); then
  if [[ $(id -u) == 0 ]]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
  else
    echo "test.sh: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
fi

cmake -S . -B build -G Ninja
cmake --build build
ctest --test-dir build --output-on-failure
