#!/usr/bin/env bash
# Installs what is missing (when run as root), builds and runs every test:
# the native build in build/, then the 32-bit Windows build in build-win32/
# with its unit tests and the end-to-end tests run under Wine.
#
# Where the Windows part cannot run (no cross compiler or Wine, and not root
# to install them) it is skipped with a plain message; under CI (CI=true) that
# skip is a failure. MSGREPLAY_SKIP_WINDOWS=1 skips it on purpose (not in CI).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

is_root() { [[ $(id -u) == 0 ]]; }
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "$@"
}

# --- native -----------------------------------------------------------------
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[[ -d /usr/src/googletest ]] || need+=(googletest libgtest-dev libgmock-dev)
# clang with its runtimes (libFuzzer) for the fuzz runs.
command -v clang++ >/dev/null || need+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'ok installed' ||
  need+=(libclang-rt-14-dev)
if ((${#need[@]})); then
  if is_root; then
    apt-get update -qq
    apt_install "${need[@]}"
  else
    echo "test.sh: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
fi

failed=()
cmake -S . -B build -G Ninja
cmake --build build
ctest --test-dir build --output-on-failure || failed+=("native tests")

# --- the native suite under AddressSanitizer and UBSan; bounded fuzz runs ---
cmake -S . -B build-asan -G Ninja -DMSGREPLAY_SANITIZE=ON
cmake --build build-asan
ctest --test-dir build-asan --output-on-failure || failed+=("sanitizer tests")
# Each fuzz target for FUZZ_SECONDS (default 60); see docs/testing.md.
scripts/fuzz.sh "${FUZZ_SECONDS:-60}" || failed+=("fuzzing")

# --- 32-bit Windows, under Wine ---------------------------------------------
# Why the Windows part cannot run here, or nothing when it can.
windows_blocker() {
  local missing=()
  command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686)
  command -v wine >/dev/null || missing+=(wine)
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed' ||
    missing+=(wine32:i386)
  ((${#missing[@]} == 0)) && return 0
  if ! is_root; then
    echo "missing ${missing[*]}, and not root to install them"
    return 0
  fi
  echo "test.sh: installing ${missing[*]}" >&2
  local started=$SECONDS
  {
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq && apt_install "${missing[@]}"
  } >&2 || {
    echo "installing ${missing[*]} failed"
    return 0
  }
  echo "test.sh: installed in $((SECONDS - started)) s" >&2
}

if [[ ${MSGREPLAY_SKIP_WINDOWS:-} == 1 && ${CI:-} != true ]]; then
  blocker="MSGREPLAY_SKIP_WINDOWS=1"
else
  blocker=$(windows_blocker)
fi

if [[ -n $blocker ]]; then
  echo "Windows tests skipped: $blocker" >&2
  [[ ${CI:-} == true ]] && failed+=("Windows tests (skipped under CI)")
else
  # One Wine prefix per build folder, made on first use by wine-run.sh.
  export WINEPREFIX=$top/build-win32/wine32
  wine_run=$top/scripts/wine-run.sh
  started=$SECONDS
  "$wine_run" --init
  # A Wine server and services that outlive each test, started with no pipe
  # of ctest's: otherwise every test waits seconds for them to go. Killed,
  # with this prefix's programs, when the script ends.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  trap 'wineserver -k 2>/dev/null || true' EXIT
  "$wine_run" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
  echo "test.sh: Wine ready in $((SECONDS - started)) s" >&2

  cmake -S . -B build-win32 -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.toolchain.cmake"
  cmake --build build-win32
  ctest --test-dir build-win32 --output-on-failure --no-tests=error ||
    failed+=("Windows unit tests")
  # The end-to-end cases: the native test program runs msgreplay.exe.

  MSGREPLAY_COMMAND="'$wine_run' '$top/build-win32/msgreplay.exe'" \
    MSGREPLAY_PLATFORM=windows \
    ctest --test-dir build --output-on-failure --no-tests=error \
    -R '^(e2e_test|bad_input_test)$' ||
    failed+=("Windows end-to-end tests")
fi

if ((${#failed[@]})); then
  printf 'test.sh: FAILED: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "test.sh: all tests passed"
