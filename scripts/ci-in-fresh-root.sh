#!/usr/bin/env bash
# Runs CI (.ci/run: install, build, every test) on a fresh clone of this
# checkout's committed HEAD inside a fresh minimal Debian 12 root, as a
# newcomer's machine gets it: a package that only this machine has installed
# by hand shows as a failure there. Needs root, network access to the archive
# that apt uses, and about 3 GB in /var/tmp; takes about as long as a build
# and the tests (longer the first time apt downloads the packages). Not part
# of the tests.
#
# Usage: sudo bash scripts/ci-in-fresh-root.sh; the log is kept in
# /var/tmp/tavolin-ci-in-fresh-root.log, and the exit status is CI's.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
log=/var/tmp/tavolin-ci-in-fresh-root.log
source "$checkout/scripts/lib/fresh-root.sh"
fresh_root_make --with-devices

git clone --quiet "$checkout" "$fresh_root/root/project"
echo "ci-in-fresh-root.sh: CI=true bash .ci/run on $(git -C "$checkout" rev-parse --short HEAD), log in $log"
status=0
fresh_root_inside sh -c 'cd /root/project && CI=true bash .ci/run' >"$log" 2>&1 || status=$?
tail -n 25 "$log"
echo "ci-in-fresh-root.sh: exit status $status"
exit "$status"
