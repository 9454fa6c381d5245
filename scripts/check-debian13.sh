#!/usr/bin/env bash
# Runs `make test` inside a Debian 13 (trixie) root: spdlog 1.15, fmt 10 and
# Debian's own python3.13, where a Debian 12 machine has spdlog 1.10, fmt 9
# and pyenv's Python. The root is made once with debootstrap from Debian's
# packages (about a minute) and kept in build/debian13; each run copies the
# working tree (tracked and untracked files, not ignored ones) into it afresh.
# Needs root: debootstrap, chroot and the mounts.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf 'debian13: %s\n' "$*"; }

if ((EUID != 0)); then
    echo "debian13: needs root (debootstrap, chroot, mounts): sudo make check-debian13" >&2
    exit 1
fi
root=$PWD/build/debian13/root
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
packages=g++,cmake,ninja-build,make,libspdlog-dev,libfmt-dev,libeigen3-dev,libgtest-dev
packages+=,python3.13,python3.13-dev,python3.13-venv,ca-certificates,git

if [[ ! -x $root/usr/bin/python3.13 ]]; then
    command -v debootstrap >/dev/null || {
        say "installing debootstrap"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    }
    say "making the root with debootstrap in $root"
    rm -rf "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase --include="$packages" trixie "$root" "$mirror" \
        >build/debian13/debootstrap.log 2>&1 || {
        tail -n 20 build/debian13/debootstrap.log
        exit 1
    }
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The root trusts what this machine trusts (a proxy's own authority, say).
if compgen -G "/usr/local/share/ca-certificates/*" >/dev/null; then
    cp -r /usr/local/share/ca-certificates/. "$root/usr/local/share/ca-certificates/"
    chroot "$root" update-ca-certificates >/dev/null 2>&1
fi

say "copying the working tree to /src"
rm -rf "$root/src"
mkdir -p "$root/src"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -C "$root/src" -xf -

unmount() {
    for m in dev/pts dev proc; do
        mountpoint -q "$root/$m" && umount -l "$root/$m"
    done
}
trap unmount EXIT
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
mountpoint -q "$root/dev" || mount --bind /dev "$root/dev"
mountpoint -q "$root/dev/pts" || mount --bind /dev/pts "$root/dev/pts"

say "$(chroot "$root" dpkg-query -W -f='spdlog ${Version}' libspdlog-dev), $(chroot "$root" dpkg-query -W -f='fmt ${Version}' libfmt-dev), $(chroot "$root" python3.13 --version)"
proxies=()
for v in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    [[ -z ${!v:-} ]] || proxies+=("$v=${!v}")
done
chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    "${proxies[@]}" /bin/bash -c 'cd /src && make test'
say "make test passed on Debian 13"
