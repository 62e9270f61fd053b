# A fresh minimal Debian root for scripts/check-package.sh and
# scripts/ci-in-fresh-root.sh: what a newcomer's machine has before anything
# of the project is installed. Source it as root, then call fresh_root_make;
# fresh_root_inside runs a command there. The root and its mounts go when the
# shell exits. The packages come from the archive (or mirror, or proxy) that
# this machine's apt uses.

# fresh_root_make [--with-devices]: debootstrap --variant=minbase of this
# machine's release into a new folder under /var/tmp (about 400 MB), its path
# in $fresh_root. With --with-devices it also gets the machine's /dev, /sys,
# and name resolution, which servers and a build inside need.
fresh_root_make() {
    [ "$(id -u)" -eq 0 ] || { echo "fresh-root: needs root (debootstrap, chroot)" >&2; return 1; }
    command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    local codename mirror
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    mirror=$(apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' 2>/dev/null \
        | awk -v release="$codename" '$1 == "deb" && $3 == release && $4 == "main" { print $2; exit }')
    [ -n "$mirror" ] || { echo "fresh-root: no Debian $codename archive in apt's sources" >&2; return 1; }

    fresh_root=$(mktemp -d /var/tmp/tavolin-fresh-root.XXXXXX)
    fresh_root_mounts=()
    chmod 755 "$fresh_root" # apt's downloads run as the user _apt
    trap fresh_root_remove EXIT
    echo "fresh-root: debootstrap --variant=minbase $codename from $mirror"
    debootstrap --variant=minbase "$codename" "$fresh_root" "$mirror" >"$fresh_root.log" 2>&1 \
        || { tail -n 20 "$fresh_root.log" >&2; rm -f "$fresh_root.log"; return 1; }
    rm -f "$fresh_root.log"
    mount -t proc proc "$fresh_root/proc" && fresh_root_mounts+=("$fresh_root/proc")
    if [ "${1:-}" = --with-devices ]; then
        local folder
        for folder in dev dev/pts dev/shm sys; do
            mount --bind "/$folder" "$fresh_root/$folder" && fresh_root_mounts+=("$fresh_root/$folder")
        done
        cp /etc/resolv.conf "$fresh_root/etc/resolv.conf"
        # What an installed machine has and debootstrap leaves out: "localhost" by name.
        printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$fresh_root/etc/hosts"
    fi
}

fresh_root_inside() {
    chroot "$fresh_root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        DEBIAN_FRONTEND=noninteractive HOME=/root LANG=C.UTF-8 "$@"
}

fresh_root_remove() {
    local i process
    # Servers that tests inside left running hold the mounts.
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/root" 2>/dev/null)" = "$fresh_root" ] && kill -9 "${process#/proc/}" 2>/dev/null
    done
    sleep 1
    for ((i = ${#fresh_root_mounts[@]} - 1; i >= 0; i--)); do
        umount -l "${fresh_root_mounts[i]}" 2>/dev/null || true
    done
    # Only once nothing is mounted inside any more.
    if ! grep -q " $fresh_root/" /proc/mounts; then
        rm -rf "$fresh_root"
    else
        echo "fresh-root: $fresh_root still has mounts; left in place" >&2
    fi
}
