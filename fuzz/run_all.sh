#!/usr/bin/env bash
# Runs every fuzz target for a bounded time: fuzz/run_all.sh BUILD_DIR SECONDS
# Seeds: the demo sample, the test fixtures dumped by fuzz_seeds (when built) and the real
# packages of ../shared/corpus (when present). Findings are kept in BUILD_DIR/fuzz-findings.
set -euo pipefail
build=$(cd "$1" && pwd)
secs=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
work="$build/fuzz-work"
mkdir -p "$work" "$build/fuzz-findings"

seed_dir() {  # TARGET -> folder of seeds for it
  local t=$1 d="$work/seeds-$1"
  rm -rf "$d"; mkdir -p "$d"
  case "$t" in
    fuzz_open_pkg)
      [ -d "$root/../shared/corpus" ] && find "$root/../shared/corpus" -name '*.pkg' -size -64k -exec cp {} "$d/" \; ;;
    fuzz_open_qsd)
      [ -d "$root/samples" ] && find "$root/samples" -name '*.qsd' -exec cp {} "$d/" \; ;;
    *)
      find "$root/samples" -iname '*.sis*' -size -256k -exec cp {} "$d/" \; 2>/dev/null || true
      [ -d "$root/../shared/corpus" ] && find "$root/../shared/corpus" -iname '*.sis*' -size -256k -exec cp {} "$d/" \;
      ;;
  esac
  if [ -x "$build/fuzz/fuzz_seeds" ]; then "$build/fuzz/fuzz_seeds" "$t" "$d" || true; fi
  echo "$d"
}

status=0
for bin in "$build"/fuzz/fuzz_*; do
  t=$(basename "$bin")
  [ "$t" = fuzz_seeds ] && continue
  [ -x "$bin" ] || continue
  seeds=$(seed_dir "$t")
  corpus="$work/corpus-$t"
  mkdir -p "$corpus"
  echo "== $t for ${secs}s"
  # The entropic schedule keeps every feature seen fewer than 255 times on its list of rare
  # features and searches that list for each feature of each run: with the thousands of
  # features of the package readers that took most of a run. A threshold of 16 keeps the
  # list short (about twice the executions, and more features found, in the same time).
  if ! (cd "$build/fuzz-findings" && "$bin" -max_total_time="$secs" -timeout=20 -rss_limit_mb=2560 \
          -max_len=262144 -entropic_feature_frequency_threshold=16 -entropic_number_of_rarest_features=16 \
          -print_final_stats=1 "$corpus" "$seeds" 2>"$work/$t.log"); then
    echo "!! $t found a failure:"; tail -60 "$work/$t.log"; status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/$t.log" || true
  fi
done
exit $status
