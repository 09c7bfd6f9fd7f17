#!/usr/bin/env bash
# defrag_sim on the example game folder: the lines a reader of a replayed run relies on.
#   defrag_sim_tool.sh DEFRAG_SIM
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
examples=$here/../../tools/defrag_sim/examples
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $(basename "$0") DEFRAG_SIM" >&2; exit 2; }
tool=$1
folder='C:\Games\Quarry'
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1: $2"; }
# check NAME EXPECTED ACTUAL
check() {
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1" "expected [${2//$'\n'//}] got [${3//$'\n'//}]"; fi
}
# run ARGS...: sets rc, out (stdout) and err (stderr)
run() {
  out=$("$tool" "$@" 2>"$work/err")
  rc=$?
  err=$(cat "$work/err")
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run "$examples/quarry.vol" "$folder"
check "a clean run ends well" "0 result true" "$rc $(grep '^result' <<<"$out")"
check "a fragmented file: its run's start and size, then its pieces" \
  "log Tarnwell:New LCN for File:4018
log Tarnwell:Lcn Count:4174
progress $folder\\data\\level1.pak" \
  "$(grep -B2 -m1 'progress .*level1.pak' <<<"$out")"
check "150 clusters in pieces of 64, 64 and 22: three progress events and one after" \
  4 "$(grep -c '^progress .*level1.pak$' <<<"$out")"
check "the fragmented file ends in one extent" \
  "file $folder\\data\\level1.pak extents 4018:150" "$(grep '^file .*level1.pak' <<<"$out")"
check "locked and denied items are skipped as files of unknown size" \
  "skip $folder\\save\\acl.dat 1 0
skip $folder\\save\\slot1.sav 1 0" "$(grep '^skip .*\\save\\' <<<"$out")"
check "an unmovable item is left where it was" \
  "file $folder\\system\\boot.bin extents 2440:2 2450:2 unmovable" \
  "$(grep '^file .*boot.bin' <<<"$out")"
check "nothing lost or shared" "check content=ok shared=0 bitmap=ok" "$(tail -n 1 <<<"$out")"
check "the volume after the run reads back (its text is the input format)" "0" \
  "$(sed -n '/^volume /,/^check /p' <<<"$out" | sed '$d' >"$work/after.vol"
     "$tool" "$work/after.vol" 'C:\Nowhere' >/dev/null 2>&1; echo $?)"

# Moves 1 and 2 are the folder mods, 3 to 5 level1.pak: the 5th is its last piece.
run "$examples/quarry.vol" "$folder" --fail-move 5
check "a refused move: where it stood, then the error" \
  "log Tarnwell:PrevVCN = 128
log Tarnwell:FreeLcn = 4168
log Tarnwell:VCNCount = 22
log Tarnwell:Defrag File Error:Move file $folder\\data\\level1.pak error: 5
progress $folder\\data\\level1.pak" \
  "$(grep -A4 'PrevVCN' <<<"$out" | head -n 5)"
check "the run goes on to the next item" "log Tarnwell:New LCN for File:4168" \
  "$(grep -m1 -A5 'PrevVCN' <<<"$out" | tail -n 1)"
check "a refused move loses nothing" "check content=ok shared=0 bitmap=ok" "$(tail -n 1 <<<"$out")"

run "$examples/quarry.vol" "$folder" --fail-move 1
check "the first move refused" "log Tarnwell:PrevVCN = 0 log Tarnwell:VCNCount = 1" \
  "$(grep -E 'PrevVCN|VCNCount' <<<"$out" | head -n 2 | tr '\n' ' ' | sed 's/ $//')"
check "its error names the folder" \
  "log Tarnwell:Defrag File Error:Move file $folder\\mods error: 5" \
  "$(grep -m1 'Defrag File Error' <<<"$out")"

# Events 1, 2: the skips of data and logs; 3, 4: the first two progress events of mods.
run "$examples/quarry.vol" "$folder" --abort-at-event 4
check "an abort stops the run after the item's last progress event" \
  "skip $folder\\data 0 0
skip $folder\\logs 0 0
progress $folder\\mods
progress $folder\\mods
progress $folder\\mods
result true" "$(grep -E '^(skip|progress|result) ' <<<"$out")"
check "what was aborted stays sound" "check content=ok shared=0 bitmap=ok" "$(tail -n 1 <<<"$out")"

run "$examples/quarry.vol" 'D:\Games'
check "a volume that cannot be opened: the exception, its line end kept on one line" \
  'result exception CreateFile \\.\D:\r\nThe system cannot find the file specified' \
  "$(grep '^result' <<<"$out")"

run "$examples/quarry.vol" "$folder" --preview
check "the preview's figures, one line each" \
  "preview items 14
preview fragmented 6
preview fragmented-clusters 191
preview free-clusters 7871
preview largest-free-run 4176" "$(grep '^preview ' <<<"$out")"
# A run on a folder that does not exist leaves the volume as it was read.
check "the preview moves nothing: the volume and its check as they were" \
  "$("$tool" "$examples/quarry.vol" 'C:\Nowhere' | sed -n '/^volume /,$p')" \
  "$(sed -n '/^volume /,$p' <<<"$out")"

run "$examples/broken.vol" "$folder"
check "a malformed volume: exit 2 and the line named" "2 line 3: extent 2000:x is not LCN:COUNT" \
  "$rc $(sed 's/^.*: line/line/' <<<"$err")"
check "a malformed volume prints no run" "" "$out"
run "$work/missing.vol" "$folder"
check "a missing volume file: exit 2" "2" "$rc"

for args in "" "$examples/quarry.vol" "$examples/quarry.vol $folder --fail-move" \
            "$examples/quarry.vol $folder --fail-move 0" "$examples/quarry.vol $folder --abort-at-event x" \
            "$examples/quarry.vol $folder --bogus 1" "$examples/quarry.vol $folder extra"; do
  # shellcheck disable=SC2086 # the words of args are the arguments
  run $args
  check "bad arguments [$args]: usage, exit 2" "2 usage:" "$rc $(head -c 6 <<<"$err")"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
