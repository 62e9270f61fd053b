#!/usr/bin/env bash
# Checks a built package as a user on a fresh Debian 12 gets it: makes a
# minimal Debian 12 root (debootstrap) from the archive that this machine's
# apt uses, installs the package there with apt (its dependencies only, no
# recommended packages), starts the program without a display and checks that
# its window was built and that it still runs after five seconds, then purges
# the package and lists what it left behind. Needs root and about 400 MB in
# /var/tmp; takes a minute or two. Not part of the tests: it downloads the
# packages from the archive.
#
# Usage: check-package.sh PACKAGE.deb (scripts/package.sh prints its path).
set -euo pipefail
package=$(realpath "$1")
source "$(dirname "$0")/lib/fresh-root.sh"
fresh_root_make
root=$fresh_root
inside() { fresh_root_inside "$@"; }
files() { # the root's files, less the user's, the logs and the package manager's own records
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./root -o -path ./tmp -o -path ./var/log \
        -o -path ./var/cache -o -path ./var/lib/apt -o -path ./var/lib/dpkg \) -prune -o -print | sort)
}

cp "$package" "$root/tmp/"
inside apt-get update -qq 2>&1
files >"$root/tmp/before.txt"
inside apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$package")" >"$root/tmp/install.log" 2>&1 \
    || { tail -n 20 "$root/tmp/install.log" >&2; exit 1; }
echo "check-package.sh: installed with $(grep -c '^Setting up' "$root/tmp/install.log") packages in all"

inside sh -c 'export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/runtime
    mkdir -p -m 700 /tmp/runtime
    tavolin-encoder >/tmp/program.log 2>&1 & program=$!
    sleep 5
    kill -0 $program || { cat /tmp/program.log; echo "check-package.sh: the program ended within 5 s"; exit 1; }
    kill -TERM $program && wait $program'
echo "check-package.sh: the program ran for 5 s and ended on SIGTERM with code 0; its output:"
sed 's/^/    /' "$root/tmp/program.log"
# A QML module that is missing shows only as a warning and a window never built.
if grep -q 'is not installed\|failed to load component' "$root/tmp/program.log" \
    || ! grep -q '^samplerate=' "$root/root/.config/Tavolin/TavolinEncoder.conf"; then
    echo "check-package.sh: the window was not built" >&2
    exit 1
fi

inside apt-get purge -y -qq tavolin-encoder >"$root/tmp/purge.log" 2>&1 || { cat "$root/tmp/purge.log" >&2; exit 1; }
inside apt-get autoremove --purge -y -qq >"$root/tmp/purge.log" 2>&1 || { cat "$root/tmp/purge.log" >&2; exit 1; }
left=$(files | comm -13 "$root/tmp/before.txt" -)
if [ -n "$left" ]; then
    echo "check-package.sh: left after apt purge:" >&2
    echo "$left" >&2
    exit 1
fi
echo "check-package.sh: apt purge and autoremove left nothing behind (outside the user's home folder)"
