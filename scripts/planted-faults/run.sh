#!/usr/bin/env bash
# Plants each fault of this folder in turn into a scratch copy of HEAD, builds
# it and runs the plain test suite (or the fault's filter from faults.txt),
# and tells which tests caught it.
#   scripts/planted-faults/run.sh                 every fault
#   scripts/planted-faults/run.sh 03 07-rtu-crc   those faults (name or prefix)
#   scripts/planted-faults/run.sh --markdown      a Markdown table at the end
#   scripts/planted-faults/run.sh --full          ignore the filters: whole suite
# JOBS (2), BUILD_TIMEOUT (s, 3600 for the first build, 900 after),
# TEST_TIMEOUT (s, 900 per run) and TMPDIR tune it.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel) || exit 2
index="$here/faults.txt"
jobs=${JOBS:-2}
build_timeout=${BUILD_TIMEOUT:-900}
test_timeout=${TEST_TIMEOUT:-900}

markdown=0
full=0
wanted=()
for arg in "$@"; do
  case "$arg" in
    --markdown) markdown=1 ;;
    --full) full=1 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    -*) echo "run.sh: unknown option $arg" >&2; exit 2 ;;
    *) wanted+=("$arg") ;;
  esac
done

# The index: name | area | ctest -R filter or - | what the fault does.
names=() areas=() filters=() texts=()
while IFS= read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  # Fields are parted by " | "; a filter's own alternatives have no blanks.
  name=${line%% | *}
  rest=${line#* | }
  area=${rest%% | *}
  rest=${rest#* | }
  text=${rest##* | }
  filter=${rest% | *}
  name=$(echo "$name" | xargs)
  [ -f "$here/$name.patch" ] || { echo "run.sh: $name.patch is missing" >&2; exit 2; }
  if [ ${#wanted[@]} -gt 0 ]; then
    keep=0
    for w in "${wanted[@]}"; do [[ "$name" == "$w"* ]] && keep=1; done
    [ $keep -eq 1 ] || continue
  fi
  names+=("$name")
  areas+=("$(echo "$area" | xargs)")
  filter=$(sed 's/^ *//;s/ *$//' <<<"$filter")
  [ "$full" -eq 1 ] && filter=-
  filters+=("$filter")
  texts+=("$(sed 's/^ *//;s/ *$//' <<<"$text")")
done <"$index"
if [ ${#names[@]} -eq 0 ]; then
  echo "run.sh: no fault matches" >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/planted-faults.XXXXXX")
tree="$scratch/tree"
build="$tree/build"
applied=""

child=""
# Runs "$@" niced and bounded by $1 seconds, in the background so that a
# signal reaches the trap at once; the trap stops it.
bounded() {
  local secs=$1
  shift
  timeout "$secs" nice -n 10 "$@" &
  child=$!
  wait "$child"
  local rc=$?
  child=""
  return $rc
}

cleanup() {
  trap - EXIT INT TERM
  if [ -n "$child" ]; then
    kill -TERM "$child" 2>/dev/null
    wait "$child" 2>/dev/null
  fi
  if [ -n "$applied" ]; then
    git -C "$tree" apply -R "$applied" 2>/dev/null || git -C "$tree" checkout -q -- . 2>/dev/null
  fi
  git -C "$repo" worktree remove --force "$tree" 2>/dev/null
  rm -rf "$scratch"
  git -C "$repo" worktree prune 2>/dev/null
}
trap cleanup EXIT
trap 'echo "run.sh: interrupted" >&2; exit 130' INT TERM

log() { echo "$*" >&2; }

git -C "$repo" worktree add -q --detach "$tree" HEAD || exit 2
# With the tree as base directory, ccache sees the same relative paths as in
# any other checkout's build/ and reuses its objects.
export CCACHE_BASEDIR="$tree" CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

start=$(date +%s)
log "== pristine build of $(git -C "$tree" rev-parse --short HEAD) in $tree"
if ! nice -n 10 cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr -DREGPROBE_BENCH=OFF "${launcher[@]}" >"$scratch/cmake.log" 2>&1; then
  cat "$scratch/cmake.log" >&2
  exit 1
fi
if ! bounded "${BUILD_TIMEOUT:-3600}" ninja -C "$build" -j"$jobs" >"$scratch/build.log" 2>&1; then
  tail -30 "$scratch/build.log" >&2
  log "run.sh: the pristine tree does not build"
  exit 1
fi

# Runs ctest (whole suite, or filter $1) and leaves the failed tests' names,
# one a line, in $scratch/failed. Its status: 0 ran, 124 timed out.
run_tests() {
  local filter=$1
  local args=(--test-dir "$build" -j"$jobs" --timeout 120 --no-tests=error)
  [ "$filter" != "-" ] && args+=(-R "$filter")
  rm -f "$build/Testing/Temporary/LastTestsFailed.log"
  bounded "$test_timeout" ctest "${args[@]}" >"$scratch/ctest.log" 2>&1
  local rc=$?
  if [ -f "$build/Testing/Temporary/LastTestsFailed.log" ]; then
    # A parameterised case's name, without the value gtest appends.
    cut -d: -f2- "$build/Testing/Temporary/LastTestsFailed.log" |
      sed 's/  *# GetParam() = .*//' | sort -u >"$scratch/failed"
  else
    : >"$scratch/failed"
  fi
  [ $rc -eq 124 ] && return 124
  return 0
}

# What fails without any fault is no fault's catch.
log "== pristine suite (built in $(($(date +%s) - start)) s)"
t0=$(date +%s)
run_tests - || log "run.sh: the pristine suite timed out"
log "== pristine suite ran in $(($(date +%s) - t0)) s"
sort -u "$scratch/failed" >"$scratch/pristine-failed"
if [ -s "$scratch/pristine-failed" ]; then
  log "run.sh: failing without a fault (not counted): $(paste -sd' ' "$scratch/pristine-failed")"
fi

verdicts=() catchers=() seconds=()
for i in "${!names[@]}"; do
  name=${names[$i]}
  patch="$here/$name.patch"
  t0=$(date +%s)
  verdict=""
  by=""
  if ! git -C "$tree" apply "$patch" 2>"$scratch/apply.log"; then
    verdict="does not apply"
  else
    applied=$patch
    if ! bounded "$build_timeout" ninja -C "$build" -j"$jobs" >"$scratch/build.log" 2>&1; then
      verdict="build failed"
      grep -m3 -E 'error|timeout' "$scratch/build.log" >&2
    else
      run_tests "${filters[$i]}"
      rc=$?
      caught=$(comm -23 "$scratch/failed" "$scratch/pristine-failed")
      n=$(printf '%s' "$caught" | grep -c .)
      if [ "$n" -gt 0 ]; then
        verdict=yes
        by=$(echo "$caught" | head -5 | paste -sd, | sed 's/,/, /g')
        [ "$n" -gt 5 ] && by="$by +$((n - 5)) more"
      elif [ $rc -eq 124 ]; then
        verdict="tests timed out"
      else
        verdict=no
      fi
    fi
    git -C "$tree" apply -R "$patch" || { log "run.sh: cannot revert $name"; exit 1; }
    applied=""
  fi
  verdicts+=("$verdict")
  catchers+=("$by")
  seconds+=($(($(date +%s) - t0)))
  if [ "$markdown" -eq 0 ]; then
    printf '%-40s %-8s %-4s %4ss  %s\n' "$name" "${areas[$i]}" "$verdict" "${seconds[$i]}" "$by"
  else
    log "$name: $verdict ${seconds[$i]}s $by"
  fi
done
total=$(($(date +%s) - start))

if [ "$markdown" -eq 1 ]; then
  echo "| fault | area | caught | caught by | tests run | s |"
  echo "| --- | --- | --- | --- | --- | --- |"
  # Faults that got through first: they are the findings.
  for pass in first rest; do
    for i in "${!names[@]}"; do
      if { [ "$pass" = first ] && [ "${verdicts[$i]}" != yes ]; } ||
        { [ "$pass" = rest ] && [ "${verdicts[$i]}" = yes ]; }; then
        scope=${filters[$i]}
        [ "$scope" = "-" ] && scope="all" || scope="${areas[$i]} filter"
        echo "| ${names[$i]}: ${texts[$i]} | ${areas[$i]} | ${verdicts[$i]} | ${catchers[$i]:-—} | $scope | ${seconds[$i]} |"
      fi
    done
  done
  echo
  echo "${#names[@]} faults, $total s in all (pristine build and suite included), JOBS=$jobs."
  echo
  echo "Test filters (ctest -R) by area:"
  echo
  for i in "${!names[@]}"; do
    [ "${filters[$i]}" = "-" ] || echo "- ${areas[$i]}: \`${filters[$i]}\`"
  done | sort -u
else
  echo "${#names[@]} faults, $total s in all"
fi
