#!/bin/sh
# aarch64-ns.sh CMD [ARG...]: runs CMD where AArch64 programs run under
# qemu-user, without touching the host's binfmt_misc registrations.
#
# CMD runs in a new user and mount namespace. The user namespace is what makes
# the binfmt_misc mounted there a private instance (Linux >= 6.7): a mount
# made in the first user namespace, even by root in a private mount
# namespace, is the host's own. qemu is registered in that instance with the
# F flag (the kernel opens the emulator at registration, so it is found from
# any later mount namespace or root), so every AArch64 program that CMD or
# its children start, in this namespace or in namespaces made below it, runs
# emulated.
#
# Root outside stays root inside: uid and gid 0 map to themselves and CMD
# holds every capability over the namespaces it creates below (mount,
# network, PID), which is what the simulated access point needs. Host files
# of other users show as owned by nobody.
#
# Environment:
#   QEMU_AARCH64     the emulator (default: Debian's qemu-user-static)
#   QEMU_LD_PREFIX   read by qemu itself: the target's library root
set -eu

if [ "${1:-}" = --inside ]; then
    shift
    bm=/proc/sys/fs/binfmt_misc
    mount -t binfmt_misc binfmt_misc "$bm" || {
        echo "aarch64-ns: cannot mount a private binfmt_misc (needs Linux >= 6.7)" >&2
        exit 1
    }
    # An ELF64 little-endian AArch64 executable or shared object (PIE).
    magic='\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
    mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    case ${QEMU_AARCH64##*/} in
    # Debian's name for the emulator that expects the original argv[0]
    # after the program path (P flag).
    *-binfmt-P) flags=OPF ;;
    *) flags=OF ;;
    esac
    printf ':qemu-aarch64:M::%s:%s:%s:%s' "$magic" "$mask" "$QEMU_AARCH64" "$flags" \
        > "$bm/register"
    exec "$@"
fi

[ $# -gt 0 ] || { echo "usage: $0 CMD [ARG...]" >&2; exit 2; }
if [ -z "${QEMU_AARCH64:-}" ]; then
    for q in /usr/libexec/qemu-binfmt/aarch64-binfmt-P /usr/bin/qemu-aarch64-static; do
        [ -x "$q" ] && { QEMU_AARCH64=$q; break; }
    done
fi
if [ -z "${QEMU_AARCH64:-}" ] || [ ! -x "$QEMU_AARCH64" ]; then
    echo "aarch64-ns: no qemu-aarch64 emulator (Debian package qemu-user-static)" >&2
    exit 1
fi
export QEMU_AARCH64
exec unshare --user --map-root-user --mount --propagation private \
    /bin/sh "$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" --inside "$@"
