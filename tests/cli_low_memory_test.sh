#!/usr/bin/env bash
# Runs every command on the house sample with the address space capped just above what the
# program needs to start, where some allocation must fail. Each run must end by itself: status 0,
# or status 1 with "modrin-cli: " and a reason on standard error and no output file. An abort,
# a crash or a half-written file fails the test.
source "$(dirname "$0")/support/shell_test.sh"
cli=$1
sample=$2

cp -r "$sample" "$work/house"

# The smallest cap under which the program starts at all; its libraries take most of it.
start_mb=16
until (ulimit -v $((start_mb * 1024)); exec "$cli" --version) >/dev/null 2>&1; do
  start_mb=$((start_mb + 1))
  [ "$start_mb" -le 2048 ] || fail "modrin-cli does not start under any cap"
done
echo "modrin-cli starts under a cap of $start_mb MB"

refused=0
for extra_mb in 0 1 2 4 8 16 32 64; do
  limit_mb=$((start_mb + extra_mb))
  for command in info resave calibrate export; do
    rm -f "$work"/out.* "$work"/house/*.tmp-*
    cp "$sample/house.mpj" "$work/house/house.mpj"
    case $command in
      info) args=(info "$work/house/house.mpj"); out="" ;;
      resave) args=(resave "$work/house/house.mpj" "$work/out.mpj"); out=$work/out.mpj ;;
      calibrate) args=(calibrate --all "$work/house/house.mpj" -o "$work/out.mpj"); out=$work/out.mpj ;;
      export) args=(export "$work/house/house.mpj" "$work/out.obj"); out=$work/out.obj ;;
    esac
    status=0
    (ulimit -v $((limit_mb * 1024)); exec "$cli" "${args[@]}") >"$work/stdout" 2>"$work/stderr" ||
      status=$?
    case $status in
      0) ;;
      1)
        refused=$((refused + 1))
        grep -q '^modrin-cli: ' "$work/stderr" || fail "$command at $limit_mb MB: no reason given"
        [ -z "$out" ] || [ ! -e "$out" ] || fail "$command at $limit_mb MB failed but wrote $out"
        ;;
      *) fail "$command at $limit_mb MB ended with status $status: $(tail -n 3 "$work/stderr")" ;;
    esac
    ls "$work"/out.*.tmp-* "$work"/house/*.tmp-* >/dev/null 2>&1 && fail "temporary files left"
    cmp -s "$sample/house.mpj" "$work/house/house.mpj" || fail "$command changed its input"
  done
done
[ "$refused" -gt 0 ] || fail "no limit was tight enough to make a command fail"
echo "cli_low_memory: all checks passed ($refused runs refused for want of memory)"
