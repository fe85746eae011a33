#!/bin/sh
# Runs the UI driver on a tmux terminal, types at it and checks what the screen shows: the framed
# message window with its emphasis and tab stops, the progress display (run to its end, and
# stopped with Esc), and the import dialog (F3 through the key handler, typing into the input
# line, a radio item, Enter to accept); then the editing of a text field (the first key replaces
# the preset, the editing keys), the warehouse prompt (the number passed in, a warehouse without a
# product file named, Esc for no choice), the dialog in a narrower terminal and in one too small
# for it, and a long message in the least terminal.
set -u
driver=$1
if ! command -v tmux >/dev/null 2>&1; then
  echo "FAIL: tmux is missing (scripts/setup installs it)"
  exit 1
fi
export LC_ALL=C.UTF-8
socket="velkar-ui-test-$$"
shop=$(mktemp -d "${TMPDIR:-/tmp}/velkar-ui-shop.XXXXXX") || exit 1
session=""
. "$(dirname "$0")/../support/tmux_screen.sh"
trap 'tm kill-server >/dev/null 2>&1; rm -rf "$shop"' EXIT
trap 'exit 1' INT TERM

# Starts the driver with arguments in a session of the given size; it becomes the one the
# checks below look at.
start() {
  session=$1
  width=$2
  height=$3
  shift 3
  tm new-session -d -x "$width" -y "$height" -s "$session" \
    "'$driver' $*; echo DRIVER-EXIT=\$?; sleep 300" || exit 1
}
# Waits (up to 15 s) until a text stands on the screen.
wait_for() {
  tries=0
  while ! screen | grep -qF -- "$1"; do
    tries=$((tries + 1))
    [ $tries -lt 150 ] || fail "timed out waiting for: $1"
    sleep 0.1
  done
}
wait_for_line() {
  tries=0
  while ! screen | grep -qxF -- "$1"; do
    tries=$((tries + 1))
    [ $tries -lt 150 ] || fail "timed out waiting for the line: $1"
    sleep 0.1
  done
}
expect_not() { ! screen | grep -qF -- "$1" || fail "on the screen, but should not be: $1"; }
spaces() { printf "%${1}s" ""; }
# The dialog's frame stands whole: its four corners, and its top and bottom lines 65 columns wide.
expect_framed() {
  [ "$(screen | grep -c '^┌─.*─┐$')" = 1 ] || fail "no whole top line of the frame"
  [ "$(screen | grep -c '^└─*┘$')" = 1 ] || fail "no whole bottom line of the frame"
  [ "$(screen | grep '^┌' | tr -d '\n' | wc -m)" = 65 ] || fail "the top line is not 65 wide"
  [ "$(screen | grep -c '^│.*│$')" = 16 ] || fail "not 16 framed lines"
}

start ui 100 40

# The message window: its frame and title, numbers right-aligned to column 30 (counted from the
# text's edge, two columns right of the frame), left stops at 4 and 20, emphasis in bold.
wait_for "─ uwaga ─"
expect "┌"
expect "│ Ilość towarów:$(spaces 14)12 "
expect "│ Nowe stawki VAT:$(spaces 10)3456 "
expect "│ $(spaces 4)lewa$(spaces 12)prawa"
expect "└"
expect_escaped "[1m12"
expect_escaped "[1mvatupdate.dll"
keys Enter

wait_for "PROGRESS DONE"
expect "100%  100/100"
wait_for "PROGRESS 2"
wait_for "/100000"
keys Escape
wait_for "STOPPED AT"
wait_for "Koniec"
keys Enter

wait_for "─ Wprowadź ─"
expect "│ Plik towarów:"
expect "[Nowe_stawki_VAT.csv"
expect "[F3 Zmień plik]"
expect "(•) KOD_KRESOWY,STAWKA_VAT[CR][LF]"
expect "( ) CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]"
expect "[F12 OK]"
expect_framed
keys F3
wait_for "[z_f3.csv "
keys BSpace BSpace BSpace t x t
wait_for "[z_f3.txt "
keys Tab Tab Down
wait_for "(•) CZĘŚĆ NAZWY TOWARU"
keys Enter
wait_for "RESULT"
expect "RESULT 0x5001 FILE=z_f3.txt FORMAT=1"
wait_for "DRIVER-EXIT=0"

# The file field: the preset is shown selected and the first key typed replaces it; then the
# cursor moves with Left, Home and End, and characters go in where it stands.
start edit 80 24 dialog
wait_for "─ Wprowadź ─"
expect_escaped "7mNowe_stawki_VAT.csv"
keys a b c . c s v
wait_for "[abc.csv "
expect_not "Nowe_stawki"
keys Left Left Left Left d
wait_for "[abcd.csv "
keys Home Delete
wait_for "[bcd.csv "
keys End BSpace
wait_for "[bcd.cs "
keys Left Left Right x
wait_for "[bcd.cxs "
keys F12
wait_for "RESULT 0x5001 FILE=bcd.cxs FORMAT=0"

# The warehouse prompt: the number the module passes in, selected; a warehouse without a product
# file named under the field while its number stands there; Esc answers "no choice".
: >"$shop/MMM001.MGR"
: >"$shop/MMM002.MGR"
start warehouse 80 24 warehouse "$shop" 2 7
wait_for "Magazyny: 1, 2"
wait_for "Numer magazynu (Esc - brak wyboru): 2"
expect_escaped "7m2"
expect_not "nie ma pliku"
keys 5
wait_for "Numer magazynu (Esc - brak wyboru): 5"
wait_for "Magazyn 5 nie ma pliku towarów (MMM005.MGR)"
keys x BSpace
wait_for_line "Numer magazynu (Esc - brak wyboru):"
expect_not "Magazyn 5 nie ma"
keys 1 Enter
wait_for "WAREHOUSE=1"
wait_for "Numer magazynu (Esc - brak wyboru): 7"
wait_for "Magazyn 7 nie ma pliku towarów (MMM007.MGR)"
keys Escape
wait_for "WAREHOUSE=-1"
expect "Magazyn: brak wyboru"
wait_for "DRIVER-EXIT=0"

# A terminal narrower than 80 x 24 still holds the dialog whole; one below its own size (66 x 20)
# is told to be too small, and the dialog comes back when it grows again.
start narrow 70 22 dialog
wait_for "─ Wprowadź ─"
expect_framed
expect "[F12 OK]"
tm resize-window -t narrow -x 60 -y 18
wait_for "Za mały terminal: 60 x 18."
expect "Potrzeba co najmniej 66 x 20."
expect_not "┌"
tm resize-window -t narrow -x 66 -y 20
wait_for "─ Wprowadź ─"
expect_framed
keys F12
wait_for "RESULT 0x5001 FILE=Nowe_stawki_VAT.csv"

# A long message in the dialog's least terminal wraps inside its frame, one column short of the
# edge.
start message 66 20 message
wait_for "[Enter OK]"
[ "$(screen | grep -c '^┌─.*─┐$')" = 1 ] || fail "no whole top line of the frame"
[ "$(screen | grep '^┌' | tr -d '\n' | wc -m)" -le 65 ] || fail "the top line is over 65 wide"
[ "$(screen | grep -c '^│.*│$')" = "$(screen | grep -c '^│')" ] || fail "a line without its edge"
[ "$(screen | grep -c '^└─*┘$')" = 1 ] || fail "no whole bottom line of the frame"
keys F12
wait_for "ANSWER 0x5001"

# Started too small: the message at once, and Esc gives up the dialog.
start small 60 18 dialog
wait_for "Za mały terminal: 60 x 18."
keys Escape
wait_for "RESULT 0x5002"
echo "ok"
