# shellcheck shell=bash
# Debian packages the builds and suites need; ensure_packages installs the
# missing ones (apt-get update first; never asks a question).
VANTOR_PACKAGES=(
  cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # The H8/300 assembler, linker and objcopy: the board's suites assemble
  # small test programs of their own.
  binutils-h8300-hms
  # python3 makes the write-control program's clock parameter table
  # (firmware/build.sh).
  python3
  # The Windows build and its suite under Wine (scripts/test-windows); socat
  # joins two pseudo-terminals into a null-modem line.
  g++-mingw-w64-x86-64-posix wine wine64 socat
  # The dialog's window tests (scripts/test-windows-dialog): an X display of
  # their own, ImageMagick's import for the screenshots, xdotool for looking
  # at the display by hand, and the Japanese font the dialog's font maps to.
  xvfb xdotool imagemagick fonts-ipafont-gothic fonts-wine
  # The packages and their checks (scripts/test-package, scripts/test-windows):
  # dpkg-shlibdeps and file for the Debian package's dependencies, groff for
  # the manual pages, srecord to read an S-record file independently, unzip
  # for the Windows zip.
  dpkg-dev file groff srecord unzip
)

ensure_packages() {
  local missing=()
  local p
  for p in "${VANTOR_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" </dev/null
}
