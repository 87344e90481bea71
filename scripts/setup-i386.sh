#!/bin/bash
# Prepares (once) what the shipping tests need to run the i686 exe under
# 32-bit Wine. This kernel refuses 32-bit Linux programs, so they run through
# user-mode emulation (qemu-i386) inside an i386 Debian chroot; the host's own
# dpkg and its x86-64 Wine are left as they are (no i386 architecture, no
# wine32 on the host).
#
#   1. host: qemu-user-static and debootstrap; binfmt_misc mounted; qemu-i386
#      registered for i386 ELF programs with the F flag (the interpreter is
#      opened now, so it works inside the chroot too);
#   2. build/i386/root: an i386 Debian 12 (minbase) made by debootstrap;
#   3. in it, Debian's 32-bit Wine with its preloader (without it every Wine
#      process spends about a minute of emulated time reserving memory);
#   4. build/i386/template: a Wine prefix prepared like the window tests' one
#      (tests/e2e/prepare-prefix.sh), without Wine's crash debugger, which
#      would hang when one of Wine's own helpers crashes under emulation.
#
# Every step is skipped when it is done. A failure says which step failed and
# exits non-zero: a missing emulation must never look like a passing test.
# KEYSTRIP_I386_DIR overrides build/i386, KEYSTRIP_DEBIAN_MIRROR the archive
# (default: the one this machine's apt sources use for bookworm).
set -euo pipefail
cd "$(dirname "$0")/.."
project="$PWD"
dir="${KEYSTRIP_I386_DIR:-$project/build/i386}"
root="$dir/root"
template="$dir/template"
export KEYSTRIP_I386_DIR="$dir"

fail() {
    echo "FAIL: 32-bit Wine set-up: $*" >&2
    exit 1
}
step() { echo "--- i386 [${SECONDS} s]: $*"; }

[ "$(id -u)" -eq 0 ] || fail "must run as root (binfmt_misc, debootstrap, chroot)"
mkdir -p "$dir"
exec 8>"$dir/setup.lock"
flock 8

# --- 1. the host ------------------------------------------------------------
missing=()
for p in qemu-user-static debootstrap; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    step "installing ${missing[*]} on the host"
    if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"; } >"$dir/host-apt.log" 2>&1; then
        tail -n 20 "$dir/host-apt.log" >&2
        fail "could not install ${missing[*]} from the archive (log: $dir/host-apt.log)"
    fi
fi
qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || fail "$qemu is missing although qemu-user-static is installed"

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
    step "mounting binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$binfmt" ||
        fail "binfmt_misc is not mounted and cannot be mounted: no way to run 32-bit programs"
fi
# The i386 ELF header (class 32-bit, little-endian, executable or shared
# object, machine 3), as qemu's own binfmt table gives it.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
entry="$binfmt/qemu-i386"
if [ -e "$entry" ] && ! { grep -qx enabled "$entry" &&
    grep -qx "interpreter $qemu" "$entry" && grep -q '^flags: .*F' "$entry"; }; then
    step "replacing a different qemu-i386 registration"
    echo -1 >"$entry" || fail "cannot remove the old registration $entry"
fi
if [ ! -e "$entry" ]; then
    step "registering $qemu for i386 programs"
    printf ':qemu-i386:M::%s:%s:%s:F' "$magic" "$mask" "$qemu" >"$binfmt/register" ||
        fail "cannot register $qemu with binfmt_misc"
fi

# --- 2. the chroot ------------------------------------------------------------
# The archive this machine reaches for bookworm, from its apt sources (one-line
# and deb822 forms).
debian_mirror() {
    local found
    found=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                          if ($(i + 1) == "bookworm") { print $i; exit } }')
    if [ -z "$found" ]; then
        found=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
            awk 'BEGIN { RS = ""; FS = "\n" }
                 { uri = ""; ok = 0
                   for (i = 1; i <= NF; i++) {
                       if ($i ~ /^URIs:/) { split($i, f, " "); uri = f[2] }
                       if ($i ~ /^Suites:/ && $i ~ /[ \t]bookworm([ \t]|$)/) ok = 1 }
                   if (ok && uri != "") { print uri; exit } }')
    fi
    echo "${found:-http://deb.debian.org/debian}"
}

if [ ! -f "$root/.keystrip-base" ]; then
    mirror="${KEYSTRIP_DEBIAN_MIRROR:-$(debian_mirror)}"
    step "debootstrap of an i386 bookworm (minbase) from $mirror (a few minutes)"
    # What an interrupted run left; debootstrap's own mounts lived in a
    # namespace of their own, so none is left on the host.
    rm -rf --one-file-system "$root"
    mkdir -p "$root"
    if ! unshare --mount --propagation private \
        debootstrap --arch=i386 --variant=minbase bookworm "$root" "$mirror" \
        >"$dir/debootstrap.log" 2>&1; then
        tail -n 20 "$dir/debootstrap.log" >&2
        fail "debootstrap of the i386 chroot failed (whole log: $dir/debootstrap.log)"
    fi
    touch "$root/.keystrip-base"
fi
scripts/in-i386.sh /bin/true ||
    fail "the i386 chroot's programs do not run: the qemu-i386 emulation is not working"

# --- 3. 32-bit Wine in the chroot -------------------------------------------------
packages=(wine wine32 wine32-preloader libxrender1 libxrandr2 libxi6 libxcursor1
    libxcomposite1 libxinerama1 libxfixes3 fonts-wine)
if [ "$(cat "$root/.keystrip-packages" 2>/dev/null)" != "${packages[*]}" ]; then
    step "installing 32-bit Wine in the chroot (a few minutes)"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    in_root() { DEBIAN_FRONTEND=noninteractive scripts/in-i386.sh "$@"; }
    if ! { in_root apt-get update -qq &&
        in_root apt-get install -y -qq --no-install-recommends "${packages[@]}"; } \
        >"$dir/apt.log" 2>&1; then
        tail -n 20 "$dir/apt.log" >&2
        fail "installing 32-bit Wine in the chroot failed (log: $dir/apt.log)"
    fi
    in_root apt-get clean >/dev/null 2>&1 || true
    printf '%s' "${packages[*]}" >"$root/.keystrip-packages"
fi
for f in /usr/lib/wine/wine /usr/lib/wine/wine-preloader /usr/lib/wine/wineserver; do
    [ -e "$root$f" ] || fail "the chroot has no $f"
done

# --- 4. the template prefix ---------------------------------------------------------
export KEYSTRIP_WINE="$project/scripts/in-i386.sh /usr/lib/wine/wine"
export KEYSTRIP_WINESERVER="$project/scripts/in-i386.sh /usr/lib/wine/wineserver"
# A prefix belongs to the Wine that made it (another version would update
# every copy of it at its first start), so the template records that version.
wine_version=$(awk '/^Package: wine32$/ { f = 1 } f && /^Version:/ { print $2; exit }' \
    "$root/var/lib/dpkg/status")
[ -n "$wine_version" ] || fail "the chroot's dpkg does not know wine32"
if [ "$(cat "$template/.keystrip-i386-ready" 2>/dev/null)" != "$wine_version" ]; then
    step "preparing the template Wine prefix $template (Wine $wine_version)"
    rm -rf "$template"
    tests/e2e/prepare-prefix.sh "$template" || fail "the template prefix could not be made"
    export WINEPREFIX="$template" WINEDEBUG=-all
    $KEYSTRIP_WINE reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /f >/dev/null 2>&1 || true
    $KEYSTRIP_WINESERVER -w
    [ -f "$template/system.reg" ] || fail "the template prefix has no registry"
    if grep -q '^"Debugger"=' <(sed -n '/AeDebug\]/,/^\[/p' "$template/system.reg"); then
        fail "the crash debugger is still set in the template prefix"
    fi
    printf '%s' "$wine_version" >"$template/.keystrip-i386-ready"
fi
step "ready: $root, $template"
