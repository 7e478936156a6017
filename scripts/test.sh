#!/usr/bin/env bash
# Builds the plug-in for Qt 6, for Qt 5 (the build Debian 12's OBS 29 loads) and for Qt 6 under
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs every test of each build; then builds the
# fuzz targets with clang and runs each for a bounded time. Then the Qt 6 build for Debian 13's OBS 30,
# built and tested end to end inside a Debian 13 root file system, and the .deb packages for Debian 12
# and 13, each installed into a clean system of its release, loaded by its OBS and removed again.
# The root file systems are made first, before any test, and cached (scripts/debian-root.sh), which needs
# root; tests run in a private network namespace and never download anything.
# Exits non-zero when a build or a test fails.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"

jobs=$(nproc)
# Compiler caches keyed by paths relative to the checkout, so that another clone of the same sources (CI's)
# finds them.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
# Each stage's heading says how long the run has taken so far and how long the stage before took, for CI's
# time budget.
stage_start=0
stage() {
  echo "==== $1 (at $((SECONDS / 60)) min $((SECONDS % 60)) s; the stage before took $((SECONDS - stage_start)) s)"
  stage_start=$SECONDS
}
failed_builds=()
passed=0
failed=0

# Every build has the production service addresses compiled in, as shipped; tests point it at sandboxes.
configure_and_build() {
  local name=$1
  shift
  stage "build $name"
  # -U: a tree configured with other addresses before gets the production ones back.
  cmake -S "$root" -B "$root/build/$name" -G Ninja -UAPI_BASE_URL -UOAUTH_BASE_URL -DTIPLARK_BUILD_TESTS=ON "$@" \
    >/dev/null &&
    cmake --build "$root/build/$name" -j "$jobs"
}

# The sign-in listener binds fixed loopback ports (38080-38084); a private network namespace keeps them
# apart from anything else on the machine and guarantees that no traffic leaves it. Its own range of
# ephemeral ports starts above them, so that no client connection or port the system picks takes one.
in_private_network() {
  if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    TIPLARK_OFFLINE=1 unshare -n sh -c \
      'ip link set lo up && sysctl -qw net.ipv4.ip_local_port_range="38100 60999" && exec "$@"' sh "$@"
  else
    "$@"
  fi
}

# Everything the tests need from the network, made before the first of them: the Debian root file systems
# of the other OBS hosts and of the package tests.
roots=(trixie-build trixie-clean bookworm-clean)
prepared=false
if [ "$(id -u)" -eq 0 ]; then
  stage "prepare"
  if "$root/scripts/debian-root.sh" make "${roots[@]}"; then
    prepared=true
  else
    failed_builds+=("prepare (the stages that need a Debian root file system are left out)")
  fi
fi

# The tests of one build tree; ctest runs where the tree was built (in_root: inside that root file system).
in_root=()
run_tests() {
  local name=$1
  shift
  stage "tests $name"
  local out
  out=$(mktemp)
  in_private_network "${in_root[@]}" ctest --test-dir "$root/build/$name" --output-on-failure -j "$jobs" "$@" 2>&1 |
    tee "$out"
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -1)
  if [ -z "$line" ]; then
    failed_builds+=("$name (no test summary)")
  else
    local total fails
    fails=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  rm -f "$out"
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0"

builds=(
  "qt6-asan -DCMAKE_BUILD_TYPE=Debug -DTIPLARK_SANITIZE=ON"
  "qt5 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIPLARK_QT_MAJOR=5"
  "qt6 -DCMAKE_BUILD_TYPE=RelWithDebInfo"
)
for build in "${builds[@]}"; do
  read -r -a words <<<"$build"
  if configure_and_build "${words[@]}"; then
    run_tests "${words[0]}"
  else
    failed_builds+=("${words[0]} (build)")
  fi
done

# libFuzzer comes with clang only: a small tree of its own builds the instrumented core and the fuzz
# targets, whose tests run each fuzzer for a bounded time.
stage "build fuzz"
if CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIPLARK_BUILD_TESTS=OFF -DTIPLARK_FUZZ=ON >/dev/null && cmake --build "$root/build/fuzz" -j "$jobs"; then
  run_tests fuzz
else
  failed_builds+=("fuzz (build)")
fi

# One more test, counted as the ctest ones are.
count() {
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}

if $prepared; then
  # Debian 13's OBS 30 runs Qt 6.8: the Qt 6 module and the sandbox are built inside a Debian 13 root
  # against its libobs 30, warnings as errors, and the end-to-end tests run in its OBS.
  stage "build debian13"
  in_root=("$root/scripts/debian-root.sh" run trixie-build --)
  if "${in_root[@]}" cmake -S "$root" -B "$root/build/debian13" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTIPLARK_BUILD_TESTS=ON >/dev/null &&
    "${in_root[@]}" cmake --build "$root/build/debian13" -j "$jobs" --target tiplark-obs-plugin tiplark-sandbox e2e-data; then
    run_tests debian13 -L e2e
  else
    failed_builds+=("debian13 (build)")
  fi
  in_root=()

  # The packages, each installed into a clean system of its own release (thrown away afterwards) and
  # signed in against a sandbox on this machine's side of the loopback.
  for release in debian12 debian13; do
    stage "package $release"
    if deb=$("$root/scripts/package.sh" "$release"); then
      count in_private_network env PYTHONPATH="$root" /usr/bin/python3 "$root/tests/e2e/test_package_in_obs.py" \
        --host "$release" --package "$deb" --sandbox "$root/build/qt5/sandbox/tiplark-sandbox" \
        --artifacts "$root/build/e2e-screenshots"
    else
      failed_builds+=("package $release")
    fi
  done
elif [ "$(id -u)" -ne 0 ]; then
  failed_builds+=("debian13 and packages (need root)")
fi

if [ ${#failed_builds[@]} -gt 0 ]; then
  echo "Failed: ${failed_builds[*]}"
fi
# One word and a colon before the counts: the closing line that CI reads.
stage "done"
echo "total: $passed passed, $failed failed"
[ ${#failed_builds[@]} -eq 0 ] && [ "$failed" -eq 0 ]
