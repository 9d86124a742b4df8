#!/bin/sh
# Installs build, test and simulation dependencies from Debian packages.
# Safe to run again: packages already present are left as they are, and
# nothing is fetched when everything is there.
#
#   scripts/setup-deps.sh            the host set (build, tests, simulator)
#   scripts/setup-deps.sh PKG...     just these; NAME:ARCH names another
#                                    architecture's package (multiarch), and
#                                    that architecture is added when missing
set -eu
HOST_PKGS="build-essential cmake pkg-config clang libclang-rt-14-dev shellcheck
      libev-dev libev-libevent-dev libsqlite3-dev sqlite3
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      busybox-static faketime iproute2 util-linux procps psmisc
      libncurses-dev tmux prometheus prometheus-node-exporter curl"
if [ $# -gt 0 ]; then PKGS="$*"; else PKGS=$HOST_PKGS; fi
HOST_ARCH=$(dpkg --print-architecture)

# Asks for one architecture's package, so a second installed architecture
# (as cross-building adds) never makes a name ambiguous.
installed() {
    case $1 in
    *:*) q=$1 ;;
    *) q=$1:$HOST_ARCH ;;
    esac
    st=$(dpkg-query -W -f='${db:Status-Status}' "$q" 2>/dev/null) ||
        st=$(dpkg-query -W -f='${db:Status-Status}' "${q%%:*}:all" 2>/dev/null) || st=""
    [ "$st" = installed ]
}

missing=""
arches=""
for p in $PKGS; do
    installed "$p" && continue
    missing="$missing $p"
    case $p in
    *:*) a=${p##*:}
         [ "$a" = "$HOST_ARCH" ] || [ "$a" = all ] ||
             dpkg --print-foreign-architectures | grep -qx "$a" ||
             case " $arches " in *" $a "*) ;; *) arches="$arches $a" ;; esac ;;
    esac
done
if [ -z "$missing" ]; then
    # shellcheck disable=SC2086  # a list of words, counted
    echo "setup-deps: all $(echo $PKGS | wc -w) packages present"
    exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
for a in $arches; do $SUDO dpkg --add-architecture "$a"; done
echo "setup-deps: installing$missing"
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
