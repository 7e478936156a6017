#!/usr/bin/env bash
# Checks the format of the sources first (scripts/format.sh --check, counted as one test). Then builds the
# plug-in for Qt 5 (the build Debian 12's OBS 29 loads) and for Qt 6 under AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs every test of each build; then builds the fuzz targets with clang
# and runs each for a bounded time. Then the per-user archive for every OBS from 30 on, built on this
# Debian 12 machine and checked for what it needs from its host; the Qt 6 build for Debian 13's OBS 30 and
# for Debian forky's OBS 32, each built and wholly tested inside a root file system of its Debian, except
# the product and remote-control end-to-end tests: those run with the archive installed per user, in a root
# of that Debian where only OBS was installed; and the .deb packages for Debian 12, 13 and forky, each
# installed into a clean system of its release, loaded by its OBS and removed again. Every build is a preset of CMakePresets.json, in build/<preset>: configured, built and tested
# with its configure, build and test presets (the workflow preset of the same name runs the three).
# The root file systems are made first, before any test, and cached (scripts/debian-root.sh), which needs
# root; tests run in a private network namespace and never download anything.
# Exits non-zero when a build or a test fails. It needs root, and stops at once, saying so, without it.
set -uo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/test.sh needs root: its tests run in private network and mount namespaces and in Debian" \
    "root file systems, and it installs packages into clean systems. Run it as root (sudo scripts/test.sh)." >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if ! "$root/scripts/install-deps.sh"; then
  echo "Failed: the Debian packages the builds and tests need could not be installed"
  echo "total: 0 passed, 1 failed"
  exit 1
fi

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

# One more test, counted as the ctest ones are.
count() {
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}

# The format of every C, C++ and Python source, before anything is built; a difference fails this one test
# and the run goes on.
stage "format"
count "$root/scripts/format.sh" --check

# Every build has the production service addresses compiled in, as shipped; tests point it at sandboxes.
# Inside a root file system (in_root) when one is set; presets are read from the checkout's folder, which
# is also the working folder inside a root.
# Further arguments go to the configuration.
configure_and_build() {
  local name=$1
  shift
  stage "build $name"
  # -U: a tree configured with other addresses before gets the production ones back.
  "${in_root[@]}" env -C "$root" cmake --preset "$name" -UAPI_BASE_URL -UOAUTH_BASE_URL "$@" >/dev/null &&
    "${in_root[@]}" env -C "$root" cmake --build --preset "$name" -j "$jobs"
}

# The sign-in listener binds fixed loopback ports (38080-38084); a private network namespace keeps them
# apart from anything else on the machine and guarantees that no traffic leaves it. Its own range of
# ephemeral ports starts above them, so that no client connection or port the system picks takes one.
in_private_network() {
  if unshare -n true 2>/dev/null; then
    TIPLARK_OFFLINE=1 unshare -n sh -c \
      'ip link set lo up && sysctl -qw net.ipv4.ip_local_port_range="38100 60999" && exec "$@"' sh "$@"
  else
    "$@"
  fi
}

# Everything the tests need from the network, made before the first of them: the remote-control test's
# client from the npm registry, and the Debian root file systems of the other OBS hosts and of the package
# tests. A release's roots are made one after the other (they
# share its downloaded packages), the releases side by side, and all of it beside the first build, which
# needs none of it; the first test waits for it.
roots_by_release=("trixie-build trixie-clean" "forky-build forky-clean" "bookworm-clean")
prepared=false
prepare_log=$(mktemp -d)
prepare() {
  # Without the client only the remote-control tests fail; the roots are still made.
  npm ci --prefix "$root/tests/e2e/websocket-client" --no-audit --no-fund --loglevel=error >"$prepare_log/npm.out" 2>&1 ||
    echo "the remote-control client could not be installed from the npm registry" >"$prepare_log/npm.failed"
  local kinds pids=() status=0 pid
  for kinds in "${roots_by_release[@]}"; do
    "$root/scripts/debian-root.sh" make $kinds >"$prepare_log/${kinds%% *}.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || status=1
  done
  return $status
}
stage "prepare"
prepare_start=$SECONDS
(
  prepare
  status=$?
  echo $((SECONDS - prepare_start)) >"$prepare_log/seconds"
  exit $status
) &
prepare_pid=$!

# Waits for the prepare stage and says how it went: what it made, or why it failed.
wait_for_prepare() {
  [ -n "$prepare_pid" ] || return 0
  local status=0
  wait "$prepare_pid" || status=$?
  prepare_pid=""
  echo "==== prepare ended (it took $(cat "$prepare_log/seconds") s, beside the first build)"
  grep -h -E '^(==== |the mirror|cannot reach|the .* root is not made|E: )' "$prepare_log"/*.log 2>/dev/null
  if [ -e "$prepare_log/npm.failed" ]; then
    cat "$prepare_log/npm.failed"
    tail -n 5 "$prepare_log/npm.out"
    failed_builds+=("prepare (the remote-control client)")
  fi
  if [ "$status" -eq 0 ]; then
    prepared=true
  elif [ "$status" -ne 0 ]; then
    failed_builds+=("prepare (the stages that need a Debian root file system are left out)")
  fi
}

# The tests of one build tree; ctest runs where the tree was built (in_root: inside that root file system).
in_root=()
run_tests() {
  local name=$1
  wait_for_prepare
  stage "tests $name"
  local out
  out=$(mktemp)
  in_private_network "${in_root[@]}" env -C "$root" ctest --preset "$name" -j "$jobs" 2>&1 |
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

# The README's run command, headless as on a machine without a display: it builds (nothing, by now), signs
# in, moderates and quits; it passes when it exits 0 with the six screenshots of its steps.
run_command() {
  local host=$1 shots=$root/build/demo/screenshots
  [ "$host" = debian12 ] || shots=$root/build/demo-$host/screenshots
  stage "run command ($host)"
  rm -rf "$shots"
  in_private_network env -u DISPLAY "$root/scripts/run.sh" --host "$host" || return 1
  local taken
  taken=$(find "$shots" -name 'demo-*.png' -size +0 2>/dev/null | wc -l)
  [ "$taken" -eq 6 ] || { echo "the run command left $taken of its 6 screenshots in $shots"; return 1; }
}

# The product or remote-control end-to-end test with the per-user archive in OBS 30 or 32, where a streamer's
# system is: the test runs itself again in a fresh root of that release where only OBS and the tests' tools
# were installed, against the Debian 12 tree's sandbox on this side of the loopback. Further arguments are
# the test's environment.
archive_test() {
  local test=$1 host=$2
  shift 2
  stage "per-user archive: $test ($host)"
  in_private_network env "$@" PYTHONPATH="$root" timeout 600 /usr/bin/python3 "$root/tests/e2e/test_${test}_in_obs.py" \
    --host "$host" --archive "$archive" --sandbox "$root/build/qt5/sandbox/tiplark-sandbox" \
    --artifacts "$root/build/e2e-screenshots"
}

# The Qt 6 module's optimised builds are those of the OBS hosts below, built inside their own releases; on
# this machine the Qt 6 tests run under the sanitizers only, which keeps a cold run inside CI's budget.
# libFuzzer comes with clang only: the fuzz tree builds the instrumented core and the fuzz targets, whose
# tests run each fuzzer for a bounded time. The sanitizers' options are those of the test presets.
for build in qt6-asan qt5 fuzz; do
  if configure_and_build "$build"; then
    run_tests "$build"
    [ "$build" != qt5 ] || count run_command debian12
  else
    failed_builds+=("$build (build)")
  fi
done


wait_for_prepare
if $prepared; then
  # The archive is built against libobs 30 unpacked from the Debian 13 root's packages, so after the roots.
  stage "package portable"
  archive=$("$root/scripts/package.sh" portable) || {
    failed_builds+=("package portable")
    archive=""
  }
  # Debian 13's OBS 30 runs Qt 6.8, forky's OBS 32 Qt 6.11: the Qt 6 module and the sandbox are built inside
  # a root of that Debian against its libobs, warnings as errors, and the end-to-end tests run in its OBS.
  # The whole suite runs in both, against their libcurl 8 and Qt 6.
  # Each host's name is also its presets' and its screenshots'.
  for host in "debian13 trixie-build" "forky forky-build"; do
    read -r name kind <<<"$host"
    in_root=("$root/scripts/debian-root.sh" run "$kind" --)
    if configure_and_build "$name" -DTIPLARK_E2E_PRODUCT=OFF; then
      run_tests "$name"
      in_root=()
      count run_command "$name"
    else
      failed_builds+=("$name (build)")
    fi
    in_root=()
    if [ -n "$archive" ]; then
      count archive_test product "$name"
      # An OBS that has loaded OpenSSL's libcurl, as Fedora's and Arch's have.
      count archive_test remote "$name" TIPLARK_E2E_LIBCURL=libcurl.so.4
    fi
  done
  in_root=()

  # The packages, each installed into a clean system of its own release (thrown away afterwards) and
  # signed in against a sandbox on this machine's side of the loopback.
  for host in debian12 debian13 forky; do
    stage "package $host"
    if deb=$("$root/scripts/package.sh" "$host"); then
      count in_private_network env PYTHONPATH="$root" /usr/bin/python3 "$root/tests/e2e/test_package_in_obs.py" \
        --host "$host" --package "$deb" --sandbox "$root/build/qt5/sandbox/tiplark-sandbox" \
        --artifacts "$root/build/e2e-screenshots"
    else
      failed_builds+=("package $host")
    fi
  done
fi

if [ ${#failed_builds[@]} -gt 0 ]; then
  echo "Failed: ${failed_builds[*]}"
fi
# One word and a colon before the counts: the closing line that CI reads.
stage "done"
echo "total: $passed passed, $failed failed"
[ ${#failed_builds[@]} -eq 0 ] && [ "$failed" -eq 0 ]
