#!/usr/bin/env bash
# Runs the built table utility against tables in a fresh folder:
#   pixhold_db_test.sh PATH/TO/pixhold-db
# Every command is checked for its output and its exit code, the failing ones
# for their message as well.
set -u
tool=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d "${TMPDIR:-/tmp}/pixhold-db-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir data
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run ARGS...: runs the tool, keeping stdout in $out, stderr in $err, the code in $rc.
run() {
    out=$("$tool" "$@" 2>"$work/stderr")
    rc=$?
    err=$(cat "$work/stderr")
}

# ok ARGS...: the command must succeed.
ok() {
    run "$@"
    [ "$rc" -eq 0 ] || fail "'$*' exited $rc: $err"
}

# refused TEXT ARGS...: the command must fail with TEXT in its message.
refused() {
    local text=$1
    shift
    run "$@"
    [ "$rc" -ne 0 ] || fail "'$*' succeeded, expected a failure"
    [[ "$err" == *"$text"* ]] || fail "'$*': message '$err' lacks '$text'"
}

# has TEXT: the last output must contain TEXT.
has() { [[ "$out" == *"$1"* ]] || fail "output lacks '$1':"$'\n'"$out"; }
lacks() { [[ "$out" != *"$1"* ]] || fail "output holds '$1':"$'\n'"$out"; }
lines() { [ "$(printf '%s' "$out" | grep -c .)" -eq "$1" ] || fail "expected $1 lines:"$'\n'"$out"; }

# ---- create and info ----
ok create data/Pics --field Name:string:40:required --field Num:integer --field Cat:string:10 \
    --field Taken:date --field Ok:boolean --field Price:float --field Img:blob --field Id:autoinc \
    --primary Name --index 'ByCat:Cat;Num:nocase' --index 'NumDown:Num:descending'
has "created"
ok info data/Pics
has "fields: 8"
has "1 Name string:40 required"
has "7 Img blob"
has "8 Id autoinc"
has "primary: Name unique"
has "ByCat: Cat;Num nocase"
has "NumDown: Num descending"
has "records: 0"

# ---- bad definitions and missing tables ----
refused "already exists" create data/Pics --field A:integer
refused "unknown type 'strin'" create data/T1 --field A:strin
refused "needs a SIZE" create data/T1 --field A:string
refused "SIZE must be a number from 1 to 250" create data/T1 --field A:string:300
refused "expected NAME:TYPE" create data/T1 --field A
refused "no field 'B'" create data/T1 --field A:integer --primary B
refused "unknown flag 'sideways'" create data/T1 --field A:integer --index X:A:sideways
refused "at least one --field" create data/T1
refused "10038" create data/T1 --field A:integer --field a:integer
refused "10038" create data/T1 --field 1A:integer
refused "15878" create data/T1 --field A:integer --locale 99999
refused "12292" create data/T1 --field A:blob --primary A
refused "10026" create data/T1 --field A:string:250 --field B:string:250 --field C:string:250 --primary 'A;B;C'
refused "does not exist" create nowhere/T1 --field A:integer
refused "11010" info data/Missing
refused "11010" dump data/Missing
refused "unknown command" frobnicate data/Pics
refused "FOLDER/TABLE is missing" info
refused "unknown option '--colour'" info data/Pics --colour red
refused "needs a value" dump data/Pics --index
[ -e data/T1.DAT ] && fail "a refused create left data/T1.DAT behind"

# ---- insert, dump ----
printf 'picture bytes\n' >"$work/pic.bin"
blob_sum=$(sha256sum "$work/pic.bin" | cut -d' ' -f1)
ok insert data/Pics Name=beach Num=3 Cat=Holiday Taken=2024-05-31 Ok=TRUE Price=2.5 Img=@"$work/pic.bin"
ok insert data/Pics Name=attic Num=7 Cat=Home
ok insert data/Pics 'Name=quote "and" back\slash' Num=5
ok dump data/Pics
lines 3
has '{"Name":"attic","Num":7,"Cat":"Home","Taken":null,"Ok":null,"Price":null,"Img":null,"Id":2}'
has '"Name":"beach","Num":3,"Cat":"Holiday","Taken":"2024-05-31","Ok":true,"Price":2.5'
has "\"Img\":{\"length\":14,\"sha256\":\"$blob_sum\"}"
has '"Name":"quote \"and\" back\\slash"'
ok dump data/Pics --index NumDown
[ "$(printf '%s\n' "$out" | head -1 | cut -c1-16)" = '{"Name":"attic",' ] || fail "NumDown does not start at Num 7: $out"
ok dump data/Pics --filter "Num > 4 AND Cat = 'Home'"
lines 1
has '"Name":"attic"'
refused "Invalid column name" dump data/Pics --filter "Nope = 1"
refused "10022" dump data/Pics --index Nope

refused "9729" insert data/Pics Name=beach Num=1
refused "9732" insert data/Pics Num=1
refused "no field 'Colour'" insert data/Pics Name=x Colour=red
refused "not a valid date" insert data/Pics Name=x Taken=2024-13-45
refused "at most 40 bytes" insert data/Pics Name=$(printf 'x%.0s' $(seq 41))
refused "auto-increment" insert data/Pics Name=x Id=5
refused "cannot read" insert data/Pics Name=x Img=@"$work/missing.bin"
ok dump data/Pics
lines 3

# ---- sql ----
ok sql data "SELECT DISTINCT Cat FROM Pics ORDER BY Cat"
lines 3
[ "$(printf '%s\n' "$out" | head -1)" = '{"Cat":null}' ] || fail "the empty category is not first: $out"
[ "$(printf '%s\n' "$out" | tail -1)" = '{"Cat":"Home"}' ] || fail "Home is not last: $out"
ok sql data "SELECT Name, Num FROM Pics WHERE Num > 4 ORDER BY Num DESC"
lines 2
[ "$(printf '%s\n' "$out" | head -1)" = '{"Name":"attic","Num":7}' ] || fail "Num 7 is not first: $out"
ok sql data "SELECT * FROM Pics WHERE Name = 'beach'"
lines 1
has "\"Img\":{\"length\":14,\"sha256\":\"$blob_sum\"}"
refused "SQL error - syntax error near 'Pics.dat'" sql data "SELECT Cat FROM My Pics.dat"
refused "SQL error - table 'Nope' not found" sql data "SELECT * FROM Nope"
refused "SQL error - unknown column 'Colour'" sql data "SELECT Colour FROM Pics"
refused "folder and one statement" sql data

# ---- update and delete by key ----
ok update data/Pics --key beach Num=4 Cat=
ok dump data/Pics --filter "Name = 'beach'"
has '"Num":4,"Cat":null'
has "\"sha256\":\"$blob_sum\""
printf 'another picture, longer than the first\n' >"$work/pic2.bin"
ok update data/Pics --key beach Img=@"$work/pic2.bin"
ok dump data/Pics --filter "Name = 'beach'"
has "\"Img\":{\"length\":39,\"sha256\":\"$(sha256sum "$work/pic2.bin" | cut -d' ' -f1)\"}"
has '"Num":4,"Cat":null'
ok update data/Pics --key beach Img=
ok dump data/Pics --filter "Name = 'beach'"
has '"Img":null'
ok update data/Pics --key beach Img=@"$work/pic.bin"
refused "no record" update data/Pics --key nobody Num=1
refused "9729" update data/Pics --key beach Name=attic
refused "--key" update data/Pics Num=1
ok delete data/Pics --key attic
ok dump data/Pics
lines 2
lacks attic
refused "no record" delete data/Pics --key attic
ok info data/Pics
has "records: 2"

# ---- a key of two fields ----
ok create data/Two --field A:string:5 --field B:integer --primary 'A;B'
ok insert data/Two A=x B=1
ok insert data/Two A=x B=2
refused "needs 2 value(s)" delete data/Two --key x
ok delete data/Two --key 'x;2'
ok dump data/Two
lines 1
has '{"A":"x","B":1}'
ok create data/NoKey --field A:integer
refused "no primary index fields" delete data/NoKey --key 1

# ---- BLOB digests across the padding boundaries of SHA-256 ----
ok create data/Blobs --field N:integer --field B:blob --primary N
for size in 1 55 56 63 64 65 119 120 1000 70001; do
    head -c "$size" /dev/urandom >"$work/b$size"
    ok insert data/Blobs N=$size B=@"$work/b$size"
done
ok dump data/Blobs
lines 10
for size in 1 55 56 63 64 65 119 120 1000 70001; do
    has "{\"N\":$size,\"B\":{\"length\":$size,\"sha256\":\"$(sha256sum "$work/b$size" | cut -d' ' -f1)\"}}"
done
# Every line of a dump is a JSON object (when python3 is at hand to say so).
if command -v python3 >/dev/null; then
    ok dump data/Pics
    printf '%s\n' "$out" | python3 -c 'import json, sys; [json.loads(l) for l in sys.stdin]' ||
        fail "dump is not JSON: $out"
fi

# ---- maintenance ----
ok verify data/Pics
has "no damage found"
ok optimize data/Pics
[ -e data/Pics.DBK ] || fail "optimize kept no backup of the data file"
ok dump data/Pics
lines 2
ok repair data/Pics
has "Repair of table"
has "nothing was wrong"
ok upgrade data/Pics
has "upgrade aborted"
refused "11010" verify data/Missing
refused "10022" optimize data/Pics --index Nope
# Damage: a record's primary key left out of the index file. Verify reports
# it and fails, repair mends it, verify is content again.
cp data/Pics.IDX "$work/Pics.IDX.good"
ok create data/Empty --field Name:string:40:required --primary Name
cp data/Empty.IDX data/Pics.IDX
refused "is damaged" verify data/Pics
ok repair data/Pics
has "error fixed"
ok verify data/Pics
ok dump data/Pics
lines 2

# ---- damaged files ----
# poke FILE OFFSET HEX: overwrites one byte.
poke() { printf "\\x$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
fresh_damage_table() {
    rm -f data/Dmg.*
    ok create data/Dmg --field Name:string:20 --field Num:integer --field Img:blob --primary Name
    ok insert data/Dmg Name=one Num=1 Img=@"$work/pic2.bin"
    ok insert data/Dmg Name=two Num=2 Img=@"$work/pic.bin"
    ok insert data/Dmg Name=three Num=3
}
# An index file cut short inside its header is rebuilt like a lost one.
fresh_damage_table
truncate -s 2048 data/Dmg.IDX
refused "8961" dump data/Dmg
refused "is damaged" verify data/Dmg
ok repair data/Dmg
has "Invalid or corrupt index file header, error fixed"
ok verify data/Dmg
ok dump data/Dmg
lines 3
# A field offset that does not fit the record: the open refuses it, nothing
# reads past the record, and the repair puts the offset back.
fresh_damage_table
poke data/Dmg.DAT $((127 + 768 + 91)) 7f
refused "8961" dump data/Dmg
refused "8961" dump data/Dmg --filter "Num > 1"
ok repair data/Dmg
has "Invalid field offset for field Num in table header, error fixed"
ok dump data/Dmg --filter "Num > 1"
lines 2
# A field without a type cannot be mended: the repair changes nothing.
fresh_damage_table
poke data/Dmg.DAT $((127 + 768 + 84)) 00
cp data/Dmg.DAT "$work/Dmg.DAT.before"
refused "8961" repair data/Dmg
cmp -s data/Dmg.DAT "$work/Dmg.DAT.before" || fail "a refused repair changed the data file"
# A damaged name that is not UTF-8 is escaped, not printed as it is.
fresh_damage_table
poke data/Dmg.DAT $((127 + 4)) ff
ok info data/Dmg
has 'N\xffme string:20'
printf '%s' "$out" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 || fail "info printed bytes that are not UTF-8"
ok dump data/Dmg
has '"N\ufffdme":"one"'

# ---- encrypted tables ----
ok create data/Secret --field A:string:8 --primary A --password s3cret
refused "10498" info data/Secret
refused "10498" dump data/Secret --password wrong
refused "10498" insert data/Secret A=x --password wrong
ok insert data/Secret A=hidden --password s3cret
ok dump data/Secret --password s3cret
has '{"A":"hidden"}'
grep -q hidden data/Secret.DAT && fail "the encrypted table stores its text in the clear"

# ---- image tables and picture files ----
fixtures=$here/../imaging/fixtures
mkdir -p pics/Sub/Deeper pics/LongerThanTen out
cp "$fixtures/jpeg/baseline.jpg" pics/a.jpg
cp "$fixtures/png/rgba.png" pics/Sub/b.png
cp "$fixtures/gif/still.gif" pics/Sub/Deeper/c.gif
cp "$fixtures/jpeg/progressive.jpg" pics/LongerThanTen/d.JPG
echo "no picture" > pics/notes.txt
ok import data/Album pics --recurse --folders-as-categories --category Trip
has "4 stored, 0 skipped, 0 failed"
ok categories data/Album
[ "$out" = $'Deeper\nLongerThan\nSub\nTrip' ] || fail "categories: $out"
ok dump data/Album
has '"FileName":"d.JPG"'
has '"Type":0'
# A duplicate is numbered, skipped or replaced.
ok import data/Album pics/a.jpg --category Trip
has "stored as a1.jpg"
ok import data/Album pics/a.jpg --on-duplicate skip
has "skipped"
ok import data/Album pics/a.jpg --on-duplicate replace --category Home
ok categories data/Album
[ "$(printf '%s' "$out" | head -1)" = "Deeper" ] || fail "replace kept the old category: $out"
# A file that cannot be decoded is reported and skipped; the exit status says so.
echo "GIF89a broken" > pics/broken.gif
run import data/Album pics/broken.gif pics/Sub/b.png
[ "$rc" -eq 1 ] || fail "import of a damaged file exited $rc"
[[ "$out" == *"broken.gif: "* ]] || fail "no line for the damaged file: $out"
[[ "$out" == *"1 stored, 0 skipped, 1 failed"* ]] || fail "summary: $out"
# Export writes the bytes unchanged, thumbnails as .jpg.
ok export data/Album out --category Sub
cmp -s out/b.png pics/Sub/b.png || fail "export changed the picture's bytes"
ok export data/Album out --thumbs --category Deeper
[ -s out/c.jpg ] || fail "no thumbnail written"
# The record thumbnail and conversions.
ok thumb pics/a.jpg out/t.jpg
[ "$(head -c 2 out/t.jpg | od -An -tx1 | tr -d ' ')" = "ffd8" ] || fail "thumb wrote no JPEG"
ok convert pics/Sub/b.png out/b.bmp
[ "$(head -c 2 out/b.bmp)" = "BM" ] || fail "convert to .bmp wrote no bitmap"
refused "pics/broken.gif" convert pics/broken.gif out/x.png
refused "OUT must end in" convert pics/a.jpg out/x.tif
run import data/Album --recurse
[ "$rc" -eq 2 ] || fail "import without PATH exited $rc"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all pixhold-db checks passed"
