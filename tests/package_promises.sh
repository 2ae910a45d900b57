#!/usr/bin/env bash
# What the package promises on Linux, read from its files: the udev rule gives seat access and
# keeps ModemManager away on every converter the search takes (any FTDI product, USB vendor
# 0403) and on nothing else, and the AppStream metadata does not offer the program for every
# FTDI cable plugged in (the device cannot be told apart by its USB IDs).
#   package_promises.sh PACKAGING_FOLDER
set -uo pipefail
dir=${1:?usage: package_promises.sh PACKAGING_FOLDER}
rule=$dir/70-rzt-ftdi.rules
failed=0

# The rule's verdict on one device event: "uaccess,mm-ignore" as far as it applies. Knows the
# keys the rule uses; any other key fails the check rather than being guessed at.
judge() { # ACTION SUBSYSTEM VENDOR PRODUCT
    local action=$1 subsystem=$2 vendor=$3 product=$4 skip_to="" tags="" line key op want have
    while IFS= read -r line; do
        [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
        if [ -n "$skip_to" ]; then
            [[ $line == "LABEL=\"$skip_to\"" ]] && skip_to=""
            continue
        fi
        local matched=1 actions=()
        IFS=',' read -ra parts <<< "$line"
        for part in "${parts[@]}"; do
            part=${part#"${part%%[![:space:]]*}"}
            [[ $part =~ ^([A-Za-z_{}]+)(==|!=|\+=|=)\"(.*)\"$ ]] || { echo "cannot read: $part" >&2; return 2; }
            key=${BASH_REMATCH[1]} op=${BASH_REMATCH[2]} want=${BASH_REMATCH[3]}
            case $op in
            ==|!=)
                case $key in
                ACTION) have=$action ;;
                SUBSYSTEM) have=$subsystem ;;
                'ATTRS{idVendor}') have=$vendor ;;
                'ATTRS{idProduct}') have=$product ;;
                *) echo "unknown match key: $key" >&2; return 2 ;;
                esac
                local hit=0
                IFS='|' read -ra alternatives <<< "$want"
                for alt in "${alternatives[@]}"; do
                    # shellcheck disable=SC2053 # udev patterns are globs
                    [[ $have == $alt ]] && hit=1
                done
                [ "$op" = "!=" ] && hit=$((1 - hit))
                [ $hit = 1 ] || matched=0
                ;;
            *) actions+=("$key$op$want") ;;
            esac
        done
        [ $matched = 1 ] || continue
        for a in "${actions[@]}"; do
            case $a in
            GOTO=*) skip_to=${a#GOTO=} ;;
            'TAG+=uaccess') tags+=uaccess, ;;
            'ENV{ID_MM_DEVICE_IGNORE}=1') tags+=mm-ignore, ;;
            LABEL=*) ;;
            *) echo "unknown action: $a" >&2; return 2 ;;
            esac
        done
    done < <(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$rule")
    echo "${tags%,}"
}

# event, subsystem, vendor, product, what the rule is to give
while read -r action subsystem vendor product expected; do
    got=$(judge "$action" "$subsystem" "$vendor" "$product") || { failed=1; continue; }
    [ "$expected" = - ] && expected=""
    if [ "$got" = "$expected" ]; then
        echo "ok   $action $subsystem $vendor:$product -> ${got:-nothing}"
    else
        echo "FAIL $action $subsystem $vendor:$product -> ${got:-nothing}, wanted ${expected:-nothing}"
        failed=1
    fi
done <<'TABLE'
add    tty 0403 6001 uaccess,mm-ignore
change tty 0403 6015 uaccess,mm-ignore
add    tty 0403 6048 uaccess,mm-ignore
add    tty 0403 fa33 uaccess,mm-ignore
add    tty 1a86 7523 -
add    usb 0403 6001 -
remove tty 0403 6001 -
TABLE

if grep -n '<modalias>' "$dir/io.github.zorv.rzt.metainfo.xml"; then
    echo "FAIL the metadata offers the program for USB devices it cannot tell from any other"
    failed=1
else
    echo "ok   the metadata names no USB device"
fi
exit $failed
