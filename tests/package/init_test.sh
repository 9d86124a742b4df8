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

# The recorder: a line for each call (env: a line a variable); a call for
# another configuration or section is recorded too, so it shows as a fault.
rec() { printf '%s\n' "$*" >> "$T/got"; }
procd_open_instance() { rec instance; }
procd_close_instance() { rec close; }
procd_add_reload_trigger() { rec trigger "$@"; }
logger() { rec log "$@"; }
procd_set_param() { _k=$1; shift; if [ "$_k" = env ]; then for _e; do rec env "$_e"; done; else rec "$_k" "$@"; fi; }
procd_append_param() { procd_set_param "$@"; }
config_load() { [ "$1" = wlan_module ] || rec config_load "$1"; }
config_get() { [ "$2" = main ] || rec section "$2"; eval "$1=\${uci_$3-\${4-}}"; }
config_get_bool() {
    config_get "$@"
    eval "case \$$1 in 1|on|true|yes|enabled) $1=1 ;; 0|off|false|no|disabled) $1=0 ;; *) $1=\$4 ;; esac"
}

# run_case: the case in $T/case (uci, label and net lines), its expected
# records in $T/want.
run_case() {
    rm -rf "$T/net" "$T/system.sh" && mkdir "$T/net" && : > "$T/got"
    (
        # shellcheck source=/dev/null
        . "$INIT"
        # shellcheck disable=SC2034  # read by the script's functions
        NET_DIR=$T/net SYSTEM_FUNCTIONS=$T/system.sh
        while read -r what a b c; do
            d=$T/net/$a
            case $what in
            uci) eval "uci_$a=\$b\${c:+ \$c}" ;;
            label) echo "get_mac_label() { echo $a; }" > "$T/system.sh" ;;
            net) mkdir "$d" && echo "$c" > "$d/address" && echo 1 > "$d/type"
                 case $b in loop) echo 772 > "$d/type" ;; ether) mkdir "$d/device" ;;
                 wifi) mkdir "$d/device" "$d/wireless" ;; esac ;;
            esac
        done < "$T/case"
        start_service
        service_triggers
    )
    diff -u "$T/want" "$T/got" > "$T/diff" || { fail "case $name:"; cat "$T/diff"; }
}

name=""
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
    '#'* | '') ;;
    '== '*) [ -n "$name" ] && run_case
            name=${line#== } part=case; : > "$T/case"; : > "$T/want" ;;
    --) part=want ;;
    *) printf '%s\n' "$line" >> "$T/$part" ;;
    esac
done < "$SRC/tests/package/init-cases.txt"
[ -n "$name" ] && run_case

# Every setting the daemon registers is an option of the script and of the
# configuration file, commented with its default; every option of the script
# is one of the file's.
SETTINGS=$(sh -c '. "$1"; echo $SETTINGS' sh "$INIT" | tr ' ' '\n')
sed -n 's/^register_string_initenv(\([A-Z0-9_]*\), "\(.*\)");$/\1 \2/p' "$SRC/capwap_cli/conf_init.cpp" > "$T/reg"
[ "$(wc -l < "$T/reg")" -gt 20 ] || fail "no settings found in capwap_cli/conf_init.cpp"
while read -r var def; do
    opt=$(echo "$var" | tr '[:upper:]' '[:lower:]')
    echo "$SETTINGS" | grep -qx "$opt" || fail "the script does not pass $var"
    grep -B3 "option $opt ''" "$CONF" | grep -qiF "default $def" || fail "no option $opt with its default $def"
done < "$T/reg"
for opt in $SETTINGS; do grep -q "option $opt ''" "$CONF" || fail "no option $opt in the file"; done
[ "$fails" -eq 0 ] && echo "init script: every case passed"
[ "$fails" -eq 0 ]
