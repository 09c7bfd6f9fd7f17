#!/usr/bin/env bash
# Checks the house rules of HACKING.md that a script can check, in the product code (app, boost,
# common, defrag, search, win32); prints every file and line that breaks one, then a self-check
# that each rule still catches a planted violation. The last line is "N passed, N failed", one
# count per rule.
#
#   bash tools/check-conventions.sh [ROOT]    (ROOT: the tree to check, default this one)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=$(cd "${1:-$here}" && pwd) || exit 1

# The version tools/install-deps.sh installs; another version lays some lines out differently.
clang_format=clang-format-14

product_dirs=(app boost common defrag search win32)

passed=0
failed=0

# Every C++ file of the product under $1, relative to it, sorted.
product_files() {
  (cd "$1" && for dir in "${product_dirs[@]}"; do
    [ -d "$dir" ] && find "$dir" -type f \( -name '*.h' -o -name '*.cpp' \)
  done | LC_ALL=C sort)
}

# Lines of the files matching an extended regular expression once // comments are cut off:
# "file:line: text". $1 the tree, $2 the expression, the rest the files.
code_matches() {
  local tree=$1 pattern=$2
  shift 2
  [ $# -gt 0 ] || return 0
  (cd "$tree" && awk -v pattern="$pattern" '
    { code = $0; sub(/\/\/.*/, "", code) }
    code ~ pattern { print FILENAME ":" FNR ": " $0 }' "$@")
}

# Prints what breaks a rule (nothing when it holds). Each takes the tree and its product files.
rule_format() {
  local tree=$1 file
  shift
  if ! command -v "$clang_format" >/dev/null; then
    echo "$clang_format is not installed (tools/install-deps.sh installs it)"
    return
  fi
  for file in "$@"; do
    (cd "$tree" && "$clang_format" --style=file --dry-run "$file" 2>&1) |
      sed -nE 's/^([^:]+):([0-9]+):[0-9]+: (warning|error): code should be clang-formatted.*/\1:\2: not as '"$clang_format"' lays it out/p' |
      sort -t: -k2,2n -u
  done
}

rule_no_conditional_compilation() {
  local tree=$1
  shift
  code_matches "$tree" '^[ \t]*#[ \t]*(if|ifdef|ifndef|elif)([^a-z_]|$)' "$@"
}

rule_run_time_lookups() {
  local tree=$1 file others=()
  shift
  for file in "$@"; do [ "$file" = win32/dynamic_calls_win.cpp ] || others+=("$file"); done
  [ ${#others[@]} -eq 0 ] || code_matches "$tree" 'GetProcAddress' "${others[@]}"
}

rule_handles_closed_by_wrappers() {
  local tree=$1 file others=()
  shift
  for file in "$@"; do [ "$file" = win32/unique_handle.h ] || others+=("$file"); done
  [ ${#others[@]} -eq 0 ] ||
    code_matches "$tree" '(^|[^A-Za-z0-9_])(CloseHandle|RegCloseKey|CloseServiceHandle|DestroyWindow)[ \t]*\(' \
      "${others[@]}"
}

rule_threads_in_posix_adapters() {
  local tree=$1 file others=()
  shift
  for file in "$@"; do
    case $file in *_posix.cpp) ;; *) others+=("$file") ;; esac
  done
  [ ${#others[@]} -eq 0 ] ||
    code_matches "$tree" 'std::(thread|this_thread|mutex|recursive_mutex|timed_mutex|condition_variable)([^A-Za-z0-9_]|$)|#[ \t]*include[ \t]*<(thread|mutex|condition_variable)>' \
      "${others[@]}"
}

rules=(rule_format rule_no_conditional_compilation rule_run_time_lookups
       rule_handles_closed_by_wrappers rule_threads_in_posix_adapters)
declare -A rule_text=(
  [rule_format]="clang-format keeps the look"
  [rule_no_conditional_compilation]="no #if in product code"
  [rule_run_time_lookups]="GetProcAddress only in the table of run-time lookups (win32/dynamic_calls_win.cpp)"
  [rule_handles_closed_by_wrappers]="Win32 handles closed only by the handle wrappers (win32/unique_handle.h)"
  [rule_threads_in_posix_adapters]="std::thread, std::mutex and their kin only in _posix.cpp adapters"
)

# Runs one rule on a tree and prints its verdict; fails when the rule is broken.
check() {
  local rule=$1 tree=$2 breaks
  shift 2
  breaks=$("$rule" "$tree" "$@")
  if [ -z "$breaks" ]; then
    echo "ok: ${rule_text[$rule]}"
    return 0
  fi
  echo "BROKEN: ${rule_text[$rule]}"
  sed 's/^/  /' <<<"$breaks"
  return 1
}

mapfile -t files < <(product_files "$root")
for rule in "${rules[@]}"; do
  if check "$rule" "$root" "${files[@]}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done

# The self-check: a tree that keeps every rule passes them all, and one violation planted for
# each rule is caught by that rule, so that a check that has quietly stopped matching shows.
self_check() {
  local tree=$1 rule planted
  cp "$here/.clang-format" "$tree/"
  mkdir -p "$tree"/{app,boost,common,search,win32}
  printf '#pragma once\n// Keeps every rule.\nnamespace kestrava {}\n' >"$tree/common/clean.h"
  printf '#include <mutex>\n' >"$tree/common/lock_posix.cpp"
  printf 'void CloseKernelHandle(void* h) { ::CloseHandle(h); }\n' >"$tree/win32/unique_handle.h"
  mapfile -t planted < <(product_files "$tree")
  for rule in "${rules[@]}"; do
    "$rule" "$tree" "${planted[@]}" | grep -q . && { echo "$rule fails a clean tree"; return 1; }
  done
  printf 'int  Badly( ){return 1;}\n' >"$tree/app/format.cpp"
  printf '#ifdef _WIN32\n#endif\n' >"$tree/boost/conditional.cpp"
  printf 'void* Find() { return GetProcAddress(0, "x"); }\n' >"$tree/search/lookup_win.cpp"
  printf 'void Drop(void* h) { CloseHandle(h); }\n' >"$tree/common/close_win.cpp"
  printf '#include <thread>\n' >"$tree/app/worker.cpp"
  mapfile -t planted < <(product_files "$tree")
  for rule in "${rules[@]}"; do
    "$rule" "$tree" "${planted[@]}" | grep -q . || { echo "$rule misses its planted violation"; return 1; }
  done
}

scratch=$(mktemp -d) || exit 1
self_check "$scratch"
self_checked=$?
rm -rf "$scratch"
if [ "$self_checked" -eq 0 ]; then
  echo "ok: every rule passes a clean tree and catches a planted violation"
  passed=$((passed + 1))
else
  echo "BROKEN: the self-check of the rules"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
