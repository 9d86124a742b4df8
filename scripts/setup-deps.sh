#!/bin/sh
# Installs every build, test and simulation dependency from Debian packages.
# Safe to run again: packages already present are left as they are.
set -eu
PKGS="build-essential cmake pkg-config clang libclang-rt-14-dev
      libev-dev libev-libevent-dev libsqlite3-dev sqlite3
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      busybox-static faketime iproute2 util-linux procps psmisc"
missing=""
for p in $PKGS; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -q --no-install-recommends $missing
fi
