#!/usr/bin/env bash
# Builds msgreplay, replays the bundled example onto a local queue manager in
# a scratch folder, and shows what arrived on the queue.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null ||
   ! command -v ninja >/dev/null || [[ ! -d /usr/src/googletest ]]; then
  if [[ $(id -u) == 0 ]]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
      cmake ninja-build g++ googletest libgtest-dev libgmock-dev
  else
    echo "demo.sh: needs cmake, ninja, g++ and googletest (run as root to install them)" >&2
    exit 1
  fi
fi

echo "== Building"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target msgreplay localqm

root=$(mktemp -d "${TMPDIR:-/tmp}/msgreplay-demo.XXXXXX")
export LOCALQM_ROOT=$root
echo
echo "== A local queue manager DEMO.QM with a queue REPLAY.IN, under $root"
build/localqm create DEMO.QM --default
build/localqm define DEMO.QM REPLAY.IN

echo
echo "== build/msgreplay examples/channel.ini"
cat examples/channel.ini
set +e
build/msgreplay examples/channel.ini
status=$?
set -e
echo
echo
echo "== msgreplay ended with exit status $status"

echo
echo "== What arrived: build/localqm list DEMO.QM; build/localqm browse DEMO.QM REPLAY.IN"
build/localqm list DEMO.QM
build/localqm browse DEMO.QM REPLAY.IN
echo
echo "(The queue stays under $root; remove it when done.)"
exit "$status"
