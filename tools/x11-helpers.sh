# SPDX-License-Identifier: MIT
# Driving windows on a virtual display without a window manager, for the scripts that do it
# (tools/record-traces.sh, tools/take-screenshots.sh): source this file, then call
# start_display. Needs Xvfb and xdotool. A script may define missing_window NAME to say more
# when a window does not come.

# Starts Xvfb on a free display of its own and exports DISPLAY; its pid is in $xvfb. Xvfb
# picks the number itself and writes it only once it takes connections, so a display that
# another server holds or a server slow to start on a loaded machine cannot be mistaken for
# ours; a server that does not come up ends the script.
start_display() {
  local ready number=
  ready=$(mktemp)
  xvfb_log=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >"$xvfb_log" 2>&1 &
  xvfb=$!
  for _ in $(seq 600); do
    number=$(cat "$ready")
    [ -n "$number" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$ready"
  if [ -z "$number" ]; then
    echo "$(basename "$0"): Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$number"
}

# Starts a program with its output to the file $1 and the rest of the arguments as its
# command, in the background ($! as usual), and waits until it has shown a window. An X
# server refuses a new client now and then under load; a program that says it could not
# connect to the display before showing anything is started again (three tries in all),
# each refusal and the server's state said on standard error.
start_program() {
  local log=$1 try
  shift
  for try in 1 2 3; do
    "$@" >"$log" 2>&1 &
    local pid=$!
    for _ in $(seq 300); do
      xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1 && return 0
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null || ! grep -q "could not connect to display" "$log"; then
      return 0  # running without a window yet, or ended for a reason of its own: the caller sees
    fi
    echo "$(basename "$0"): try $try: $(basename "$1") could not connect to $DISPLAY" \
         "(the server $(kill -0 "$xvfb" 2>/dev/null && echo runs || echo has ended))" >&2
    if ! kill -0 "$xvfb" 2>/dev/null; then
      cat "$xvfb_log" >&2
      start_display
    fi
  done
}

# Waits for a shown window of that exact title, other than window $2 when given, and prints
# its id.
window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:-none}" | head -1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return
    fi
    sleep 0.1
  done
  echo "$(basename "$0"): no window \"$1\"" >&2
  if declare -F missing_window >/dev/null; then missing_window "$1"; fi
  exit 1
}

# Waits until no shown window has that title.
gone() {
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "$(basename "$0"): the window \"$1\" stays" >&2
  exit 1
}

# Gives a window the keyboard (without a window manager, focus follows a click) by clicking
# its blank bottom-left corner (the top holds the menu bar).
focus() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + 3)) $((Y + HEIGHT - 3)) click 1
  sleep 0.3
}
