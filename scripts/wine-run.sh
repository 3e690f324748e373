#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine, quietly and without a display:
#   scripts/wine-run.sh build-win32/msgreplay.exe ARGS...
#   scripts/wine-run.sh --init      only make the prefix where it is missing
# The Wine prefix is made on first use (WINEPREFIX, default a fixed folder in
# the user's cache), with Mono and Gecko left out: console programs need
# neither, and their installers would wait for a person. The program's exit
# status is passed on; Wine keeps only its low 8 bits.
set -euo pipefail

export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/msgreplay/wine32}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One process makes the prefix; others started at the same time wait.
  (
    flock 9
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
      wineboot --init >/dev/null 2>&1 || true
      wineserver --wait
    fi
  ) 9>"$WINEPREFIX.lock"
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine-run.sh: could not make the Wine prefix $WINEPREFIX" >&2
    exit 125
  fi
fi

[[ ${1:-} == --init ]] && exit 0
exec wine "$@"
