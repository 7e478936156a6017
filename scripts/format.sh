#!/usr/bin/env bash
# Formats the sources: C and C++ with Debian's clang-format-19 against .clang-format (OBS's style), Python
# with Debian's black against pyproject.toml. Both tools come with scripts/install-deps.sh.
#
#   scripts/format.sh           rewrites every file that differs
#   scripts/format.sh --check   changes nothing; prints what differs and fails when a file does (the first
#                               stage of scripts/test.sh)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
check=false
[ "${1:-}" = --check ] && check=true

for tool in clang-format-19 black; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: run scripts/install-deps.sh" >&2
    exit 2
  }
done

# The project's own sources: the checkout's files where it is a git work tree (untracked ones included),
# never the build trees or the remote-control test's node_modules.
sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- "$@"
  else
    local patterns=() pattern
    for pattern in "$@"; do patterns+=(-o -name "$pattern"); done
    find . \( -path ./build -o -path '*/node_modules' -o -path ./.git \) -prune -o -type f \( -false "${patterns[@]}" \) \
      -print | sed 's|^\./||'
  fi
}
mapfile -t cxx < <(sources '*.c' '*.cpp' '*.h' | sort)
mapfile -t python < <(sources '*.py' | sort)

if ! $check; then
  clang-format-19 -i --style=file "${cxx[@]}"
  black -q "${python[@]}"
  exit 0
fi

# Each file clang-format would change, with the difference; then black's own check, likewise.
status=0
differing=0
for file in "${cxx[@]}"; do
  if ! clang-format-19 --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" -; then
    differing=$((differing + 1))
  fi
done
if [ "$differing" -gt 0 ]; then
  echo "clang-format-19: $differing of ${#cxx[@]} C/C++ files differ"
  status=1
fi
if ! black --check --diff -q "${python[@]}"; then
  echo "black: Python files differ (black --check names them)"
  black --check "${python[@]}" 2>&1 | grep '^would reformat' || true
  status=1
fi
[ "$status" -eq 0 ] || echo "scripts/format.sh formats them"
exit $status
