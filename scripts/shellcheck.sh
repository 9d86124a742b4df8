#!/bin/sh
# Every shell script of the tree through shellcheck (the Debian package of
# that name, installed by scripts/setup-deps.sh): the files named *.sh or
# *.init and every file whose first line starts a POSIX shell or bash
# (service scripts of rc.common included). Build folders are left out.
#   scripts/shellcheck.sh        exit 0 when every script is clean
set -eu
cd "$(dirname "$0")/.."
if ! command -v shellcheck > /dev/null 2>&1; then
    echo "shellcheck: not installed (scripts/setup-deps.sh installs it)" >&2
    exit 2
fi
LIST=$(mktemp)
trap 'rm -f "$LIST"' EXIT
find . \( -path './build*' -o -path ./.git \) -prune -o -type f -print | sort |
    while IFS= read -r f; do
        case $f in
        *.sh | *.init) printf '%s\n' "$f"; continue ;;
        esac
        if head -n 1 "$f" 2> /dev/null |
            grep -Eq '^#! ?(/usr)?/bin/(env +)?(a|ba|da)?sh([[:space:]]|$)'; then
            printf '%s\n' "$f"
        fi
    done > "$LIST"
echo "shellcheck: $(wc -l < "$LIST") scripts"
tr '\n' '\0' < "$LIST" | xargs -0 shellcheck
echo "shellcheck: every script is clean"
