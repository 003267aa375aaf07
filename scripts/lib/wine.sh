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
