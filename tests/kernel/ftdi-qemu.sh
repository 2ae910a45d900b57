#!/usr/bin/env bash
# The program on the kernel's own FTDI driver: a Debian 12 guest (Qt 6.4) and a Debian 13 guest
# (Qt 6.8) under QEMU, each with an emulated FTDI FT232 converter (QEMU's usb-serial, USB
# 0403:6001, on an xhci controller) bound to the real ftdi_sio, a real systemd-udevd, and the
# release's own Debian package with its udev rule. The converter's serial line is the simulated
# device's pseudo-terminal; plugging in and pulling out are QMP device_add and device_del.
#
#   tests/kernel/ftdi-qemu.sh [--release 12|13]... [--deb FILE]
#
# Each release named (both by default) runs the package scripts/package-check made for it,
# build/package-check/<code name>/rzt_*.deb, or FILE. The checks (tests/kernel/ftdi-guest.sh)
# and their figures: the program, started with no device, finds /dev/ttyUSB0 through its udev
# watch (the time from device_add to the device's first "?"); the driver's line settings
# (19200 8N1, from QEMU's usb_serial trace); identification and the link checks' spacing;
# "&All Data" downloaded and saved byte for byte; a pull while connected (the search window
# back, the port closed and under 20 ms of CPU within half a second, the 3 s after it printed:
# the emulated guest runs the search's own start many times slower); plugged in again and
# identified again; a pull during a download (the program asks to save what came, and that is
# what the device sent up to a line's end); the package's udev rule on the node
# (ID_MM_DEVICE_IGNORE=1, the uaccess tag); `rzt --download all --output FILE` byte for byte.
# Results, the program's logs, the console and QEMU's trace go to build/ftdi-qemu/<code name>.
#
# The guest is a whole debootstrap --variant=minbase root of the release, from the mirror this
# machine's apt sources name (scripts/fresh-root), with udev, kmod, Xvfb, xdotool and the
# package's dependencies, packed as an uncompressed cpio initramfs; its kernel and modules come
# from the release's linux-image-amd64. PID 1 is a script. The guest (kernel and cpio) is kept in
# /var/cache/rzt-ftdi-qemu while the mirror's InRelease files of the release, the package's
# dependencies and this recipe are unchanged; the package itself is installed at every boot.
# Without the mirror no guest is made and the run fails. Runs as root (debootstrap, chroot).
set -euo pipefail
cd -P "$(dirname "$0")/../.."
export RZT_FRESH_CACHE=${RZT_FRESH_CACHE:-/var/cache/rzt-ftdi-qemu}
. scripts/prereqs
. scripts/fresh-root

usage() { echo "usage: $0 [--release 12|13]... [--deb FILE]" >&2; exit 2; }
releases=()
deb=''
args=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
        --release) [ $# -ge 2 ] || usage; r=$(fresh_root_release "$2") || usage; releases+=("$r"); shift ;;
        --deb) [ $# -ge 2 ] || usage; deb=$(realpath -e "$2") || usage; shift ;;
        *) usage ;;
    esac
    shift
done
[ ${#releases[@]} -gt 0 ] || releases=(bookworm trixie)
[ -z "$deb" ] || [ ${#releases[@]} -eq 1 ] || usage
set -- "${args[@]}"

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$PWD/tests/kernel/ftdi-qemu.sh" "$@"
fi
fresh_root_isolate "$PWD/tests/kernel/ftdi-qemu.sh" "$@"
rzt_install_prereqs "${RZT_KERNEL_PACKAGES[@]}"

roots=()
cleanup() {
    local status=$? r
    trap - EXIT
    trap '' INT TERM
    for r in "${roots[@]}"; do fresh_root_remove "$r" || status=1; done
    [ ! -d build/ftdi-qemu ] || fresh_root_give_back "$PWD" build/ftdi-qemu || status=1
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The device's side runs here.
fresh_root_as_owner "$PWD" cmake --preset default >/dev/null
fresh_root_as_owner "$PWD" cmake --build --preset default -j 2 --target rzt-sim >/dev/null
sim=$PWD/build/default/tools/sim/rzt-sim

root_run() {
    local r=$1
    shift
    fresh_root_run "$r" "$(printf '%q ' "$@")" &
    wait $!
}
apt_in() {
    local r=$1
    shift
    root_run "$r" env DEBIAN_FRONTEND=noninteractive apt-get -o APT::Sandbox::User=root -y -q "$@"
}

# What the guest has besides the package's dependencies: udev and its module loading, the
# virtual display and the keyboard of the checks.
guest_packages=(udev kmod xvfb xdotool)
# The modules the checks need with those they depend on: the converter on its controller, and
# the host's folder on its virtio device. udevd loads them as the devices appear.
guest_modules=(xhci_pci ftdi_sio virtio_pci 9pnet_virtio 9p)

# PID 1: the mounts, udevd with every device already there, the host's folder, the checks, and
# off. Whatever happens, the machine powers off, so QEMU ends.
guest_init() {
    cat <<'INIT'
#!/bin/bash
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
exec </dev/null >/dev/console 2>&1
echo "guest: user space after $(cut -d' ' -f1 /proc/uptime) s"
/lib/systemd/systemd-udevd --daemon
udevadm trigger --action=add --type=subsystems
udevadm trigger --action=add --type=devices
udevadm settle --timeout=60
modprobe 9pnet_virtio && modprobe 9p
mkdir -p /host
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 host /host; then
    echo "guest: checks start after $(cut -d' ' -f1 /proc/uptime) s"
    bash /host/ftdi-guest.sh
    echo "guest: checks done after $(cut -d' ' -f1 /proc/uptime) s"
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
INIT
}

# Makes the guest of release $1 for the dependencies $2 in folder $3: vmlinuz and root.cpio.
# Every step is checked on its own: this runs where a failing command does not end the script.
guest_build() {
    local release=$1 depends=$2 into=$3 r kernel modules version
    fresh_root_new "rzt-ftdi-guest-$release" || return 1
    r=$fresh_root
    roots+=("$r")
    fresh_root_create "$r" "$release" && fresh_root_mount "$r" || return 1
    {
        apt_in "$r" update &&
            apt_in "$r" satisfy --no-install-recommends "$depends" &&
            apt_in "$r" install --no-install-recommends "${guest_packages[@]}" &&
            # The kernel the release installs: linux-image-amd64 names the package of the version.
            mkdir -p "$r/var/tmp/kernel" &&
            root_run "$r" bash -c 'cd /var/tmp/kernel && apt-get -o APT::Sandbox::User=root -q download linux-image-amd64 &&
                apt-get -o APT::Sandbox::User=root -q download "$(dpkg-deb -f linux-image-amd64_*.deb Depends |
                    grep -o "linux-image-[0-9][^ ,]*" | head -n 1)"'
    } >"$into.log" 2>&1 || return 1
    kernel=$(ls "$r"/var/tmp/kernel/linux-image-[0-9]*.deb) || return 1
    echo "kernel: $(basename "$kernel")"
    dpkg-deb -x "$kernel" "$r/var/tmp/kernel/x" || return 1
    modules=$(dirname "$(find "$r/var/tmp/kernel/x" -name modules.order | head -n 1)")
    version=$(basename "$modules")
    cp "$r/var/tmp/kernel/x/boot/vmlinuz-$version" "$into/vmlinuz" &&
        mkdir -p "$r/usr/lib/modules" && cp -a "$modules" "$r/usr/lib/modules/" || return 1
    # Only the modules needed, with what they need: the whole set is several hundred MB.
    root_run "$r" bash -c '
        set -eo pipefail
        depmod '"$version"'
        for m in '"${guest_modules[*]}"'; do modprobe -S '"$version"' --show-depends "$m"; done \
            | sed -n "s/^insmod \([^ ]*\).*/\1/p" | xargs -r realpath | sort -u >/var/tmp/keep
        find "$(realpath /lib/modules/'"$version"'/kernel)" -type f | sort | comm -23 - /var/tmp/keep | xargs -r rm -f
        depmod '"$version"'
        echo "modules: $(wc -l </var/tmp/keep)"' || return 1
    rm -rf "$r/var/tmp/kernel" "$r/var/tmp/keep"
    guest_init >"$r/init" && chmod 0755 "$r/init" || return 1
    [ -e "$r/dev/console" ] || mknod -m 0600 "$r/dev/console" c 5 1 || return 1
    # The mounts (/proc, the downloaded packages, ...) stay out of the guest.
    _fresh_mounts_under "$r" | tac | while IFS= read -r where; do
        [ "$where" = "$r" ] || umount "$where"
    done
    # Less to unpack at every boot: documents, apt's lists, and Mesa's drivers with the LLVM
    # they need. Nothing draws with OpenGL: the program's windows are widgets, and Xvfb goes
    # without its GLX extension.
    rm -rf "$r"/usr/share/doc/* "$r"/usr/share/man/* "$r"/usr/share/info/* "$r"/usr/share/locale/* \
        "$r"/var/lib/apt/lists/* "$r"/var/cache/apt/*.bin "$r"/usr/lib/x86_64-linux-gnu/dri \
        "$r"/usr/lib/x86_64-linux-gnu/libLLVM* "$r"/usr/lib/x86_64-linux-gnu/libz3.so*
    (cd "$r" && find . -xdev -print0 | cpio --null -o -H newc --quiet) >"$into/root.cpio" || return 1
    echo "guest: $(du -m "$into/root.cpio" | cut -f1) MB cpio, kernel $version"
    fresh_root_remove "$r" || return 1
    roots=()
}

# The guest of release $1 for package $2, from the cache or made now; its folder in $guest.
guest_for() {
    local release=$1 package=$2 depends key uri suite index tmp old
    depends=$(dpkg-deb -f "$package" Depends)
    # Every suite the root's apt reads from, as the mirror has it now, and the recipe.
    index=$(mktemp)
    {
        while read -r uri suite; do
            if ! _fresh_suite_index "${uri%/}/dists/$suite/InRelease" "$index" || [ ! -s "$index" ]; then
                echo "ftdi-qemu: cannot read ${uri%/}/dists/$suite/InRelease" >&2
                rm -f "$index"
                return 1
            fi
            cat "$index"
        done < <(fresh_root_sources "$release")
        dpkg-query -W -f '${Version}' debootstrap
        echo "$depends"
        declare -f guest_build guest_init
        echo "${guest_packages[*]} ${guest_modules[*]}"
    } >"$index.all" || { rm -f "$index" "$index.all"; return 1; }
    key=$(sha256sum <"$index.all" | cut -c1-16)
    rm -f "$index" "$index.all"
    guest=$RZT_FRESH_CACHE/guests/$release-$key
    if [ -f "$guest/root.cpio" ] && [ -f "$guest/vmlinuz" ]; then
        echo "guest: $guest (its suites, the package's dependencies and the recipe unchanged)"
        return 0
    fi
    mkdir -p "$RZT_FRESH_CACHE/guests"
    tmp=$(mktemp -d "$RZT_FRESH_CACHE/guests/.$release.XXXXXX")
    echo "guest: making the $release guest"
    guest_build "$release" "$depends" "$tmp" || { tail -n 30 "$tmp.log" >&2; rm -rf "$tmp" "$tmp.log"; return 1; }
    rm -f "$tmp.log"
    rm -rf "$guest"
    mv "$tmp" "$guest"
    for old in "$RZT_FRESH_CACHE/guests/$release"-*; do
        [ "$old" = "$guest" ] || rm -rf "$old"
    done
}

run_release() {
    local release=$1 package=$2 out=build/ftdi-qemu/$1 start status=0
    start=$(date +%s)
    if [ -z "$package" ]; then
        package=$(ls build/package-check/"$release"/rzt_*_amd64.deb 2>/dev/null | head -n 1)
        [ -n "$package" ] || {
            echo "ftdi-qemu: no package for $release: run scripts/package-check --release $release first" >&2
            return 1
        }
    fi
    printf '\n== Debian %s guest, %s\n' "$release" "$(basename "$package")"
    guest_for "$release" "$package" || return 1
    echo "guest ready: $(($(date +%s) - start)) s"
    rm -rf "$out"
    mkdir -p "$out"
    out=$(realpath "$out")
    cp "$package" "$out/rzt.deb"
    cp tests/kernel/ftdi-guest.sh tests/e2e/x-await.sh "$out/"
    python3 tests/kernel/ftdi_conductor.py --sim "$sim" --share "$out" \
        --kernel "$guest/vmlinuz" --initrd "$guest/root.cpio" >"$out/host.log" 2>&1 || status=1
    grep -a '^guest: ' "$out/console.log" || true
    cat "$out/results.txt" 2>/dev/null || echo "no results: see $out/console.log" >&2
    grep -E '^(figure|FAIL|device)' "$out/host.log" || true
    for shot in "$out"/shots/*.xwd; do
        [ -f "$shot" ] && convert "xwd:$shot" "${shot%.xwd}.png" && rm -f "$shot"
    done
    echo "Debian $release: $([ "$status" = 0 ] && echo passed || echo FAILED) in $(($(date +%s) - start)) s"
    return "$status"
}

failed=()
for release in "${releases[@]}"; do
    run_release "$release" "$deb" || failed+=("$release")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "ftdi-qemu: failed on ${failed[*]}" >&2
    exit 1
fi
echo "ftdi-qemu: passed on ${releases[*]}"
