# What the tmux tests share (sourced; POSIX sh): a tmux server of the test's own ($socket), the
# session the checks look at ($session), keys sent to it, its screen read back, and a failure that
# shows the screen.
tm() { tmux -L "$socket" -f /dev/null "$@"; }
keys() { tm send-keys -t "$session" "$@"; }
screen() { tm capture-pane -p -t "$session" "$@"; }
fail() {
  echo "FAIL ($session): $1"
  echo "--- screen ---"
  screen
  exit 1
}
expect() { screen | grep -qF -- "$1" || fail "not on the screen: $1"; }
expect_escaped() { screen -e | grep -qF -- "$1" || fail "not on the screen (with attributes): $1"; }
