#!/usr/bin/env bash
# The Wine tier's checks. Usage:
#   wine_test.sh start     VELKAR_EXE PLUGIN_DLL SOURCE_DIR
#   wine_test.sh leave-out VELKAR_EXE PLUGIN_DLL SOURCE_DIR ORDINAL
#   wine_test.sh scenario  VELKAR_EXE PLUGIN_DLL SOURCE_DIR NAME
#   wine_test.sh variants  VELKAR_EXE PLUGIN_DLL SOURCE_DIR NAME:VARIANT[,VARIANT...]
#   wine_test.sh check-rates VELKAR_EXE PLUGIN_DLL SOURCE_DIR
#   wine_test.sh refused   VELKAR_EXE PLUGIN_DLL SOURCE_DIR
#   wine_test.sh expect    NATIVE_VELKAR NATIVE_PLUGIN SOURCE_DIR NAME   (writes expected/NAME)
#
# "variants" runs a scenario under Wine on a host that plays other readings of its contract
# (velkar run --variant ..., docs/host-variants.md) and expects the default host's outcome: the
# files kept in expected/NAME.
#
# A scenario is the sample shop of examples/, a rate file and the user's scripted answers. It runs
# under Wine and, when the native build (VELKAR_NATIVE_BUILD_DIR, default build/native) is there,
# natively too; both must leave the same product files, additional-code file, settings and report,
# byte for byte. Under Wine the result must also match the files kept in expected/NAME (products
# exported as CSV, the settings, the report), so the tier checks something even without a native
# build.
set -euo pipefail

mode=$1 exe=$(realpath "$2") plugin=$(realpath "$3") src=$(realpath "$4") arg=${5:-}
here=$src/tests/wine
examples=$src/examples
export WINEDEBUG=${WINEDEBUG:--all}

# Wine's prefix and server are the tier's (tests/wine/server.sh starts them before the first test);
# run by hand, Wine uses WINEPREFIX or its default prefix.
work=$(mktemp -d /tmp/velkar-wine.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The velkar program of a world: "wine" or "native".
velkar() {
  local world=$1
  shift
  if [ "$world" = wine ]; then wine "$exe" "$@"; else "$native_velkar" "$@"; fi
}

make_shop() {  # world folder
  velkar "$1" mkshop --dir "$2" --products "$examples/products.csv" --codes "$examples/codes.csv" \
    >/dev/null || fail "$1: mkshop"
}

# Scenario NAME -> rate file and answers.
scenario_setup() {
  local name=$1 answers=$2
  case "$name" in
    barcodes)
      rate_file=Nowe_stawki_VAT.csv
      printf 'message ok\ndialog file=%s format=0 ok\nwarehouse 1\n' "$rate_file" >"$answers" ;;
    names)
      rate_file=Nowe_stawki_VAT_nazwy.csv
      printf 'message ok\ndialog file=%s format=1 ok\nwarehouse 1\n' "$rate_file" >"$answers" ;;
    cn_codes)
      rate_file=Kody_CN.csv
      printf 'message ok\ndialog file=%s format=2 ok\nwarehouse 2\n' "$rate_file" >"$answers" ;;
    stopped)
      rate_file=Nowe_stawki_VAT.csv
      printf 'message ok\ndialog file=%s format=0 ok\nwarehouse 1\nstop-after 70\n' \
        "$rate_file" >"$answers" ;;
    cancelled)
      rate_file=Nowe_stawki_VAT.csv
      printf 'message cancel\n' >"$answers" ;;
    *) fail "no scenario $name" ;;
  esac
}

# Runs a scenario in one world, in $work/<world>: the shop in shop/, the products exported to
# exported/.
run_scenario() {
  local world=$1 name=$2 plugin_file=$3
  local dir=$work/$world
  mkdir -p "$dir/exported"
  cd "$dir"
  make_shop "$world" shop
  scenario_setup "$name" answers
  cp "$examples/$rate_file" shop/
  # A report left from an earlier run must go: the command deletes it first.
  echo "old report" >shop/zmianavat.txt
  velkar "$world" run --shop shop --plugin "$plugin_file" --script answers --style marked \
    "${run_extra[@]}" >output.txt 2>errors.txt || fail "$world: run failed: $(cat errors.txt)"
  for w in 1 2; do
    velkar "$world" export --shop shop --warehouse $w --out exported/MMM00$w.csv \
      || fail "$world: export of warehouse $w"
  done
  cd - >/dev/null
}

# The native build the Windows build is compared with (in "expect" mode, the build given).
native=${VELKAR_NATIVE_BUILD_DIR:-$src/build/native}
native_velkar=$native/velkar
native_plugin=$native/vatupdate.so

# Further options of velkar run (the variants mode).
run_extra=()

# The files a scenario is judged by.
shop_files="MMM001.MGR MMM002.MGR KODY154.DAT velkar.ini zmianavat.txt"
expected_files="MMM001.csv MMM002.csv velkar.ini zmianavat.txt"

# The Wine world's files of scenario NAME against those kept in expected/NAME.
expect_files() {
  local name=$1 f want got
  for f in $expected_files; do
    want=$here/expected/$name/$f
    got=$work/wine/exported/$f
    [ -e "$got" ] || got=$work/wine/shop/$f
    if [ -e "$want" ]; then
      [ -e "$got" ] || fail "$f was not written"
      cmp "$want" "$got" || { diff "$want" "$got" | head -20 >&2; fail "$f is not as expected"; }
    else
      [ ! -e "$got" ] || fail "$f was written but is not expected"
    fi
  done
}

case "$mode" in
  start)
    cd "$work"
    make_shop wine shop
    wine "$exe" run --shop shop --plugin "$plugin" --command 0 --style marked \
      >output.txt 2>errors.txt || fail "the plug-in did not start: $(cat output.txt errors.txt)"
    grep -q 'Wtyczka: Aktualizacja VAT z pliku tekstowego' output.txt \
      || fail "no title from entry 30001: $(cat output.txt)"
    grep -q '1\. Aktualizacja VAT z pliku tekstowego' output.txt \
      || fail "no command in the menu: $(cat output.txt)"
    grep -q 'Dodano opcję w menu Inne' output.txt \
      || fail "no menu registration message: $(cat output.txt)"
    grep -q 'Pytaj' shop/velkar.ini || fail "the setting Pytaj was not stored"
    [ ! -s errors.txt ] || fail "complaints: $(cat errors.txt)"
    echo "started, registered its command, withdrew it"
    ;;

  leave-out)
    cd "$work"
    make_shop wine shop
    status=0
    wine "$exe" run --shop shop --plugin "$plugin" --command 0 --leave-out "$arg" \
      >output.txt 2>errors.txt || status=$?
    [ "$status" -ne 0 ] || fail "the plug-in loaded although the host lacks $arg"
    grep -q 'did not load' errors.txt || fail "no load failure reported: $(cat errors.txt)"
    # ERROR_DLL_INIT_FAILED: the library was found and mapped, and its process attach refused.
    grep -q 'error 1114' errors.txt || fail "not refused by process attach: $(cat errors.txt)"
    if grep -q 'Wtyczka:' output.txt; then fail "entry 30001 ran: $(cat output.txt)"; fi
    echo "without host function $arg the plug-in does not load (status $status)"
    ;;

  scenario)
    name=$arg
    have_native=0
    [ -x "$native_velkar" ] && [ -f "$native_plugin" ] && have_native=1
    [ -d "$here/expected/$name" ] || [ "$have_native" = 1 ] \
      || fail "no native build ($native) and no expected files for $name: nothing to compare with"

    run_scenario wine "$name" "$plugin"
    checked=0
    if [ "$have_native" = 1 ]; then
      run_scenario native "$name" "$native_plugin"
      for f in $shop_files; do
        a=$work/native/shop/$f b=$work/wine/shop/$f
        if [ -e "$a" ] || [ -e "$b" ]; then
          [ -e "$a" ] || fail "$f: only under Wine"
          [ -e "$b" ] || fail "$f: only natively"
          cmp "$a" "$b" || fail "$f differs between native and Wine"
        fi
      done
      checked=1
      echo "native and Wine leave the same $shop_files"
    fi
    if [ -d "$here/expected/$name" ]; then
      expect_files "$name"
      checked=1
      echo "Wine leaves the expected $expected_files"
    fi
    [ "$checked" = 1 ]
    ;;

  variants)
    name=${arg%%:*}
    variant=${arg#*:}
    [ -n "$name" ] && [ "$variant" != "$arg" ] || fail "variants needs NAME:VARIANT, not $arg"
    [ -d "$here/expected/$name" ] || fail "no expected files for $name"
    run_extra=(--variant "$variant")
    run_scenario wine "$name" "$plugin"
    expect_files "$name"
    [ ! -s "$work/wine/errors.txt" ] || fail "complaints: $(cat "$work/wine/errors.txt")"
    echo "with --variant $variant Wine leaves the default host's $expected_files"
    ;;

  refused)
    # A host that runs the command although the start refused its product table (a record size
    # the DLL does not know): the DLL says so again and touches nothing, the old report included.
    cd "$work"
    make_shop wine shop
    cp "$examples/Nowe_stawki_VAT.csv" shop/
    echo "old report" >shop/zmianavat.txt
    cp -r shop before
    printf 'allow-unused\nmessage ok\ndialog ok\nwarehouse 1\n' >answers
    status=0
    wine "$exe" run --shop shop --plugin "$plugin" --script answers --style marked \
      --record-size 49=1000 --ignore-refusal >output.txt 2>errors.txt || status=$?
    [ "$status" = 4 ] || fail "exit status $status, not 4 (does not fit): $(cat errors.txt)"
    [ "$(grep -c 'Potrzebna nowsza wtyczka!' output.txt)" = 2 ] \
      || fail "the refusal was not shown at the start and at the command: $(cat output.txt)"
    diff -r before shop >&2 || fail "the refused command changed the shop"
    echo "the refused command touched nothing"
    ;;

  check-rates)
    # The bundled example checked against warehouse 1 of the sample shop, by velkar.exe with the
    # DLL and by the native build: the same findings, line by line, and the shop left as it was.
    [ -x "$native_velkar" ] && [ -f "$native_plugin" ] \
      || fail "no native build in $native to compare with (build the native preset first)"
    for world in wine native; do
      mkdir -p "$work/$world"
      cd "$work/$world"
      make_shop "$world" shop
      cp "$examples/Nowe_stawki_VAT.csv" shop/
      cp -r shop before
      plugin_file=$plugin
      [ "$world" = wine ] || plugin_file=$native_plugin
      status=0
      velkar "$world" check-rates shop/Nowe_stawki_VAT.csv --format 0 --plugin "$plugin_file" \
        --shop shop --warehouse 1 >output.txt 2>errors.txt || status=$?
      [ "$status" = 0 ] || fail "$world: check-rates exited with $status: $(cat errors.txt)"
      [ ! -s errors.txt ] || fail "$world: complaints: $(cat errors.txt)"
      diff -r before shop >/dev/null || fail "$world: check-rates changed the shop"
      # Windows writes CR LF, names the folder as Wine maps it (Z:\tmp\...) and the plug-in by
      # its own name; the findings are the same text.
      findings=$(tr -d '\r' <output.txt)
      dos_dir="Z:${work//\//\\}\\$world"
      findings=${findings//"$dos_dir\\shop\\"/<shop>/}
      findings=${findings//"$dos_dir\\shop"/<shop>}
      findings=${findings//"$work/$world/shop"/<shop>}
      findings=${findings//vatupdate.dll/<plug-in>}
      findings=${findings//vatupdate.so/<plug-in>}
      printf '%s\n' "$findings" >findings.txt
      cd - >/dev/null
    done
    grep -q . "$work/wine/findings.txt" || fail "check-rates printed nothing under Wine"
    diff "$work/native/findings.txt" "$work/wine/findings.txt" >&2 \
      || fail "check-rates says other things under Wine than natively"
    echo "check-rates under Wine: $(wc -l <"$work/wine/findings.txt") lines, as natively;" \
      "the shop untouched"
    ;;

  expect)
    name=$arg
    native_velkar=$exe
    run_scenario native "$name" "$plugin"
    out=$here/expected/$name
    rm -rf "$out"
    mkdir -p "$out"
    for f in $expected_files; do
      from=$work/native/exported/$f
      [ -e "$from" ] || from=$work/native/shop/$f
      [ ! -e "$from" ] || cp "$from" "$out/$f"
    done
    echo "expected files of $name written to $out"
    ;;

  *) fail "unknown mode $mode" ;;
esac
