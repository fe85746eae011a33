#!/bin/sh
# Runs the UI driver on a tmux terminal, types at it and checks what the screen shows: the framed
# message window with its emphasis and tab stops, the progress display (run to its end, and
# stopped with Esc), and the import dialog (F3 through the key handler, typing into the input
# line, a radio item, Enter to accept).
set -u
driver=$1
if ! command -v tmux >/dev/null 2>&1; then
  echo "tmux is missing: skipped"
  exit 77
fi
export LC_ALL=C.UTF-8
socket="velkar-ui-test-$$"
tm() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'tm kill-server >/dev/null 2>&1' EXIT INT TERM

tm new-session -d -x 100 -y 40 -s ui "'$driver'; echo DRIVER-EXIT=\$?; sleep 300" || exit 1

screen() { tm capture-pane -p -t ui "$@"; }
fail() {
  echo "FAIL: $1"
  echo "--- screen ---"
  screen
  exit 1
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
expect() { screen | grep -qF -- "$1" || fail "not on the screen: $1"; }
expect_escaped() { screen -e | grep -qF -- "$1" || fail "not on the screen (with attributes): $1"; }
spaces() { printf "%${1}s" ""; }

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
tm send-keys -t ui Enter

wait_for "PROGRESS DONE"
expect "100%  100/100"
wait_for "PROGRESS 2"
wait_for "/100000"
tm send-keys -t ui Escape
wait_for "STOPPED AT"
wait_for "Koniec"
tm send-keys -t ui Enter

wait_for "─ Wprowadź ─"
expect "│ Plik towarów:"
expect "[Nowe_stawki_VAT.csv"
expect "[F3 Zmień plik]"
expect "(•) KOD_KRESOWY,STAWKA_VAT[CR][LF]"
expect "( ) CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]"
expect "[F12 OK]"
tm send-keys -t ui F3
wait_for "[z_f3.csv "
tm send-keys -t ui BSpace BSpace BSpace t x t
wait_for "[z_f3.txt "
tm send-keys -t ui Tab Tab Down
wait_for "(•) CZĘŚĆ NAZWY TOWARU"
tm send-keys -t ui Enter
wait_for "RESULT"
expect "RESULT 0x5001 FILE=z_f3.txt FORMAT=1"
wait_for "DRIVER-EXIT=0"
echo "ok"
