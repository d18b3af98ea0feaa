#!/usr/bin/env bash
# Installs the Debian packages that building, testing and packaging need, when they are missing.
# Everything it says goes to standard error, so that callers can keep standard output for their
# own result.
set -euo pipefail
exec 1>&2
# lintian, appstream (appstreamcli), desktop-file-utils and man-db check the package
# (scripts/package-check.sh); xdotool finds windows for bench/startup.sh; lrzsz and
# python3-xmodem are XMODEM peers of the tests.
packages=(cmake ninja-build g++ clang libclang-rt-dev qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6svg6 socat lrzsz python3-xmodem xvfb xauth trayer dpkg-dev file lintian appstream
  desktop-file-utils man-db xdotool)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
