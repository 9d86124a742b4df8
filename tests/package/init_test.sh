#!/bin/sh
# The service script's start-up, run with a recorder of procd's and UCI's
# shell helpers over the cases of init-cases.txt (its head explains them);
# then its settings checked against the daemon's and the configuration file.
#   init_test.sh SOURCE_DIR
set -u
SRC=${1:?source folder}
INIT=$SRC/package/wlan-module/files/wlan_module.init
CONF=$SRC/package/wlan-module/files/wlan_module.config
T=$(mktemp -d) || exit 1
trap 'rm -rf "$T"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# The recorder: one line for each helper call (env: one line a variable).
rec() { printf '%s\n' "$*" >> "$T/got"; }
procd_open_instance() { rec instance; }
procd_close_instance() { rec close; }
procd_add_reload_trigger() { rec trigger "$@"; }
logger() { rec log "$@"; }
procd_set_param() {
    _k=$1; shift
    if [ "$_k" = env ]; then for _e in "$@"; do rec env "$_e"; done; else rec "$_k" "$@"; fi
}
procd_append_param() { procd_set_param "$@"; }
config_load() { LOADED=$1; }
config_get() {
    _v=${4-}
    if [ "$LOADED" = wlan_module ] && [ "$2" = main ] && eval "[ -n \"\${uci_$3+x}\" ]"; then
        eval "_v=\$uci_$3"
    fi
    eval "$1=\$_v"
}
config_get_bool() {
    config_get "$1" "$2" "$3" "$4"
    eval "_b=\$$1"
    case $_b in 1|on|true|yes|enabled) _b=1 ;; 0|off|false|no|disabled) _b=0 ;; *) _b=$4 ;; esac
    eval "$1=\$_b"
}

# run_case: the case gathered in $T/case (uci, label and net lines) and its
# expected records in $T/want.
run_case() {
    rm -rf "$T/net" "$T/got" "$T/system.sh"
    mkdir -p "$T/net"
    : > "$T/got"
    (
        # shellcheck source=/dev/null
        . "$INIT"
        # shellcheck disable=SC2034  # read by the script's functions
        NET_DIR=$T/net SYSTEM_FUNCTIONS=$T/system.sh LOADED=""
        while read -r what a b c; do
            case $what in
            uci) eval "uci_$a=\$b\${c:+ \$c}" ;;
            label) echo "get_mac_label() { echo $a; }" > "$T/system.sh" ;;
            net) mkdir -p "$T/net/$a"; echo "$c" > "$T/net/$a/address"
                 case $b in loop) echo 772 ;; *) echo 1 ;; esac > "$T/net/$a/type"
                 case $b in ether|wifi) mkdir "$T/net/$a/device" ;; esac
                 [ "$b" = wifi ] && mkdir "$T/net/$a/wireless" ;;
            esac
        done < "$T/case"
        start_service
        service_triggers
    )
    diff -u "$T/want" "$T/got" > "$T/diff" || { fail "case $name:"; cat "$T/diff"; }
}

name=""
part=case
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
    '#'*) continue ;;
    '== '*) [ -n "$name" ] && run_case
            name=${line#== } part=case; : > "$T/case"; : > "$T/want" ;;
    --) part=want ;;
    '') ;;
    *) printf '%s\n' "$line" >> "$T/$part" ;;
    esac
done < "$SRC/tests/package/init-cases.txt"
[ -n "$name" ] && run_case

# Every setting the daemon registers is an option of the script and of the
# configuration file, commented with its default; the script passes nothing
# else.
SETTINGS=$(sh -c '. "$1"; echo $SETTINGS' sh "$INIT" | tr ' ' '\n' | sort)
sed -n 's/^register_string_initenv(\([A-Z0-9_]*\), "\(.*\)");$/\1 \2/p' \
    "$SRC/capwap_cli/conf_init.cpp" > "$T/registered"
[ "$(wc -l < "$T/registered")" -gt 20 ] || fail "no settings found in capwap_cli/conf_init.cpp"
while read -r var def; do
    opt=$(echo "$var" | tr '[:upper:]' '[:lower:]')
    echo "$SETTINGS" | grep -qx "$opt" || fail "the script does not pass $var"
    grep -B3 "option $opt ''" "$CONF" | grep -qiF "default $def" ||
        fail "the configuration file lacks option $opt commented with its default $def"
done < "$T/registered"
for opt in $SETTINGS; do
    grep -q "option $opt ''" "$CONF" || fail "the configuration file lacks option $opt"
done
[ "$fails" -eq 0 ] && echo "init script: every case passed"
[ "$fails" -eq 0 ]
