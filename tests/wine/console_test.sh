#!/usr/bin/env bash
# velkar.exe run --interactive under Wine, in a tmux terminal: the screens as the user sees them.
# Usage: console_test.sh VELKAR_EXE PLUGIN_DLL SOURCE_DIR
#
# Three runs side by side, each on a sample shop of its own:
# - "default": the way the stand-in picks for Wine's console. Wine 8's console takes the VT mode
#   but keeps escape sequences as characters, so the stand-in must find that out and draw through
#   the console API. The first message, the menu, the import dialog (ASCII frame 65 wide, Polish
#   letters, the preset selected), F3 to the file chooser and back with a file typed, F12, the
#   warehouse, the summary and the report, to a clean exit.
# - "legacy" (VELKAR_CONSOLE=legacy) at 60 x 18: the dialog's "too small" notice; Esc cancels.
# - "vt" (VELKAR_CONSOLE=vt): the sequences handed to the console as written. Wine's console
#   counts them as characters, so its lines wrap early and the frame is not checked there; the
#   letters, the absence of sequences shown as text, and Esc in the dialog are.
# On every screen: no escape sequence shown as text ("[0m", "[H"), no UTF-8 read as single bytes
# ("opcjÄ").
set -u
exe=$(realpath "$1") plugin=$(realpath "$2") src=$(realpath "$3")
for tool in tmux wine; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "FAIL: $tool is missing (scripts/setup installs it)"
    exit 1
  fi
done
# Wine writes to the terminal in the locale's character set.
export LC_ALL=C.UTF-8 WINEDEBUG=${WINEDEBUG:--all}
socket="velkar-wine-console-$$"
work=$(mktemp -d "${TMPDIR:-/tmp}/velkar-wine-console.XXXXXX") || exit 1
session=""
. "$src/tests/support/tmux_screen.sh"
trap 'tm kill-server >/dev/null 2>&1; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
started=$(date +%s)

wine "$exe" mkshop --dir "$work/shop" --products "$src/examples/products.csv" \
  --codes "$src/examples/codes.csv" >/dev/null || { echo "FAIL: mkshop under Wine"; exit 1; }
cp "$src/examples/Nowe_stawki_VAT.csv" "$work/shop/"
cp "$src/examples/Nowe_stawki_VAT.csv" "$work/shop/stawki.csv"

# Starts velkar.exe in a session named after the console way it is given ("default": none).
start() {
  local way=$1 width=$2 height=$3
  cp -r "$work/shop" "$work/shop-$way"
  local chosen=$way
  [ "$way" != default ] || chosen=""
  tm new-session -d -x "$width" -y "$height" -s "$way" \
    "VELKAR_CONSOLE=$chosen wine '$exe' run --shop '$work/shop-$way' --plugin '$plugin' \
     --interactive; echo VELKAR-EXIT=\$?; sleep 600" || exit 1
}
# Waits (up to 90 s: Wine under an emulator is slow) until a text stands on the screen; meanwhile
# every screen must be clean: no escape sequence shown as text, no UTF-8 read byte by byte.
wait_for() {
  local tries=0 shown
  while :; do
    shown=$(screen)
    ! grep -qE '\[([0-9;?]+[A-Za-z]|[HJK]([^A-Za-z]|$))' <<<"$shown" \
      || fail "an escape sequence shown as text"
    ! grep -qE 'Ä|Å|Ã' <<<"$shown" || fail "UTF-8 shown as single bytes"
    grep -qF -- "$1" <<<"$shown" && return
    tries=$((tries + 1))
    [ $tries -lt 450 ] || fail "timed out waiting for: $1"
    sleep 0.2
  done
}
# The import dialog's frame in ASCII: 65 wide, its title in the top edge, 16 lines between.
expect_framed() {
  [ "$(screen | grep -cxE '\+-+ Wprowadź -+\+')" = 1 ] || fail "no whole top line of the frame"
  [ "$(screen | grep -cxE '\+-{63}\+')" = 1 ] || fail "no whole bottom line of the frame"
  [ "$(screen | grep -E '^\+-+ Wprowadź' | tr -d '\n' | wc -m)" = 65 ] \
    || fail "the top line is not 65 wide"
  [ "$(screen | grep -cxE '\|.{63}\|')" = 16 ] || fail "not 16 framed lines 65 wide"
}
# From the start to the import dialog: the first run's message about the menu, the menu, the
# command's own message.
to_dialog() {
  wait_for "Dodano opcję w menu Inne"
  keys Enter
  wait_for "Wybierz opcję (1-1), Esc = koniec:"
  keys 1
  wait_for "Opcja umożliwia wczytanie nowych stawek VAT"
  keys Enter
}

start default 80 24
start legacy 60 18
start vt 80 24

session=default
to_dialog
wait_for "Tab - następne pole, Enter - akceptuj, Esc - rezygnuj"
expect_framed
expect "| ( ) CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]"
expect "| [Nowe_stawki_VAT.csv                   ] [F3 Zmień plik]"
# The preset selected: reverse video, which the console API gives as swapped colours.
expect_escaped "[47mNowe_stawki_VAT.csv"
keys F3
wait_for "Wybierz plik"
expect "Nowe_stawki_VAT.csv"
wait_for "Numer lub nazwa pliku (Esc - rezygnacja):"
keys s t a w k i . c s v Enter
wait_for "| [stawki.csv "
expect_framed
keys F12
wait_for "» OK"
wait_for "Numer magazynu (Esc - brak wyboru):"
keys 1 Enter
wait_for "Towary, którym ustalono nową stawkę VAT:        35"
keys Enter
wait_for "PgDn/Spacja dalej"
keys Escape
wait_for "Wybierz opcję (1-1), Esc = koniec:"
keys Escape
wait_for "VELKAR-EXIT=0"
grep -q "stawki.csv" "$work/shop-default/velkar.ini" || fail "the file chosen with F3 was not saved"

session=legacy
to_dialog
wait_for "Za mały terminal: 60 x 18."
expect "Potrzeba co najmniej 66 x 20."
expect "Powiększ okno (Esc - rezygnacja)."
keys Escape
wait_for "» Anuluj"
wait_for "Wybierz opcję (1-1), Esc = koniec:"
keys Escape
wait_for "VELKAR-EXIT=0"

session=vt
to_dialog
wait_for "Tab - następne pole, Enter - akceptuj, Esc - rezygnuj"
expect "( ) CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]"
expect "Wprowadź"
# The preset selected: the sequences as the interface writes them.
expect_escaped "[4;7mNowe_stawki_VAT.csv"
keys Escape
wait_for "» Anuluj"
wait_for "Wybierz opcję (1-1), Esc = koniec:"
keys Escape
wait_for "VELKAR-EXIT=0"

echo "ok: velkar.exe's console under Wine, default, legacy and VT ($(($(date +%s) - started)) s)"
