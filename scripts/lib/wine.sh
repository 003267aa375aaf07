# shellcheck shell=bash
# Wine for the Windows suites, shared by scripts/test-windows and
# scripts/test-windows-board (sourced, not run).

# wine_environment PREFIX: the prefix and a quiet Wine that needs no screen
# and never offers to install Mono or Gecko. Wine turns the programs'
# arguments and the file names it sees into UTF-16 from the Unix locale's
# character set, so that is UTF-8 whatever the caller's locale.
wine_environment() {
  export WINEPREFIX=$1
  export LC_ALL=C.UTF-8
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
}

# wine_make_prefix: makes the prefix on the first run.
wine_make_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making the Wine prefix $WINEPREFIX (once)"
    wineboot --init >/dev/null 2>&1
  fi
}

# wine_start_session: one Wine server and one idle Windows program (cmd.exe
# reading a FIFO this shell holds open) for the rest of the run. While a
# Windows program runs, Wine keeps its system programs (services, device
# manager, RPC) running; without one, each test program would start them
# afresh and the next could start while they are still shutting down.
# wine_stop_session (or the end of the shell) lets cmd.exe end.
wine_start_session() {
  wineserver -p >/dev/null 2>&1
  local fifo=$WINEPREFIX.session
  rm -f "$fifo"
  mkfifo "$fifo"
  wine cmd.exe <"$fifo" >/dev/null 2>&1 &
  exec {wine_session_fd}>"$fifo"
  wine cmd /c exit >/dev/null 2>&1  # returns once the system programs are up
}

wine_stop_session() {
  if [ -n "${wine_session_fd:-}" ]; then
    exec {wine_session_fd}>&-
    wine_session_fd=""
  fi
  wineserver -k >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX.session"
}

# wine_board_on_com1 LINE_DIR [vantor-board options...]: starts the native
# vantor-board (build/dev) on a pseudo-terminal in LINE_DIR (com1, its flash
# at each close in flash.bin, its report in board.log) and makes it the
# prefix's COM1. Sets board_pid. Call before wine_start_session: the Wine
# server is restarted to read the port key.
wine_board_on_com1() {
  local line=$1
  shift
  rm -rf "$line"
  mkdir -p "$line"
  "$root/build/dev/board/vantor-board" "$@" --link "$line/com1" --dump "$line/flash.bin" \
    >"$line/board.out" 2>"$line/board.log" &
  board_pid=$!
  local _
  for _ in $(seq 50); do
    [ -e "$line/com1" ] && break
    sleep 0.1
  done
  [ -e "$line/com1" ] || { cat "$line/board.log"; return 1; }

  cat >"$line/ports.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM1"="$line/com1"
REG
  wine regedit /S "$(winepath -w "$line/ports.reg")" >/dev/null 2>&1
  wineserver -w
  ln -sfn "$line/com1" "$WINEPREFIX/dosdevices/com1"
}

# wine_display_start DIR PROGRAM.exe...: an X display of its own (Xvfb, in
# DISPLAY), Wine's virtual desktop for the named programs (so that Wine
# draws the captions and their buttons, and the programs share one desktop),
# and the Japanese dialog font "ＭＳ Ｐゴシック" mapped to IPA P Gothic. Sets
# xvfb_pid.
wine_display_start() {
  local dir=$1
  shift
  mkdir -p "$dir"
  local number
  for number in $(seq 90 120); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || break
  done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$number"
  local _
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$number" ] && break
    sleep 0.1
  done
  # Wine draws the caption buttons with its Marlett font, which it finds
  # only among the prefix's own fonts.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  local marlett
  for marlett in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
    [ -f "$marlett" ] && cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/" && break
  done
  # Registry files in UTF-16 with a byte-order mark: regedit reads the
  # Japanese font name exactly.
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n"MS PGothic"="IPAPGothic"\r\n"MS UI Gothic"="IPAPGothic"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Vantor"="800x480"\r\n\r\n'
    local program
    for program in "$@"; do
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\Explorer]\r\n"Desktop"="Vantor"\r\n\r\n' "$program"
    done
  } | iconv -f UTF-8 -t UTF-16 >"$dir/display.reg"
  wine regedit /S "$(winepath -w "$dir/display.reg")" >/dev/null 2>&1
  wineserver -w
}
