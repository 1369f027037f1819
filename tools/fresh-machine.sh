#!/bin/bash
# shellcheck disable=SC2317  # the clean-up functions run from traps
# Runs the README's two commands on a fresh Debian 12 machine, as a new user
# would: a minimal Debian 12 root (mmdebstrap --variant=minbase) from this
# machine's own apt sources, a clone of the current commit in it, and
# tools/demo.sh and tools/test.sh run there as root, exactly as the README
# gives them, with their times and exit codes. What this script mounts for
# them is unmounted at the end, after a failure or an interruption too. The
# root is removed afterwards unless --keep is given; the logs stay, in the
# folder it names at the end.
#
#   tools/fresh-machine.sh [--keep] [--work DIR]
#
# DIR (default: a new folder in /var/tmp) needs about 8 GB free. The run
# takes 20 to 35 minutes on two cores and keeps them busy, so CI does not
# call it: run it before changing setup, tooling or what the tests need.
# Runs as root on a Debian machine (installs mmdebstrap with apt if missing).
set -uo pipefail
# All of it is read before it runs (one block, to the end): the tree may
# change during a run, this script with it.
{

usage() {
    echo "usage: $0 [--keep] [--work DIR]" >&2
    exit 2
}
arguments=("$@")
keep=no
work=""
while [ $# -gt 0 ]; do
    case $1 in
        --keep) keep=yes; shift ;;
        --work) [ $# -ge 2 ] || usage; work=$2; shift 2 ;;
        *) usage ;;
    esac
done

say() { echo "fresh-machine: $*"; }
fail() {
    echo "fresh-machine: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run it as root (it builds a root file system and mounts into it)"
command -v apt-get >/dev/null || fail "needs a Debian machine (apt-get)"
source_tree=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$source_tree" rev-parse HEAD) || fail "$source_tree is not a git clone"

# The mounts below stay in a mount namespace of this script's own: none is
# seen by, or propagates to, the rest of the machine, and they go with the
# last process in it should this script be killed outright.
if [ -z "${HALVERN_FRESH_MACHINE_NAMESPACE:-}" ]; then
    HALVERN_FRESH_MACHINE_NAMESPACE=1 exec unshare --mount --propagation private "$0" "${arguments[@]}"
fi

if [ -z "$work" ]; then
    work=$(mktemp -d /var/tmp/halvern-fresh-machine.XXXXXX) || fail "cannot make a folder in /var/tmp"
else
    mkdir -p "$work" || fail "cannot make $work"
    work=$(cd "$work" && pwd)
fi
root=$work/root
logs=$work/logs
clone=/root/halvern-service-hosts
mkdir -p "$logs" || fail "cannot make $logs"
[ ! -e "$root" ] || fail "$root exists already: give another --work folder"

took() {
    local seconds=$1
    if [ "$seconds" -ge 60 ]; then
        echo "$((seconds / 60)) min $((seconds % 60)) s"
    else
        echo "$seconds s"
    fi
}

mounted=()
child=""

# Every process whose root is the new root: what the commands left running
# (e.g. a wineserver) holds mounts busy.
stop_processes_in_root() {
    local signal=$1 entry pid found=0
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        if [ "$(readlink "$entry/root" 2>/dev/null)" = "$root" ]; then
            kill "-$signal" "$pid" 2>/dev/null && found=1
        fi
    done
    [ "$found" -eq 1 ]
}

mounts_left() {
    awk -v root="$root" '$5 == root || index($5, root "/") == 1 {print $5}' /proc/self/mountinfo
}

cleanup() {
    local status=$? index left
    trap - EXIT INT TERM HUP
    [ -z "$child" ] || kill "$child" 2>/dev/null
    if stop_processes_in_root TERM; then
        sleep 2
        stop_processes_in_root KILL && sleep 1
    fi
    for ((index = ${#mounted[@]} - 1; index >= 0; index--)); do
        umount "${mounted[index]}" 2>/dev/null || umount --lazy "${mounted[index]}" ||
            echo "fresh-machine: could not unmount ${mounted[index]}" >&2
    done
    # Any left by an interrupted mmdebstrap, innermost first.
    mounts_left | tac | while read -r left; do
        umount "$left" 2>/dev/null || umount --lazy "$left"
    done
    left=$(mounts_left)
    if [ -n "$left" ]; then
        echo "fresh-machine: still mounted, so $root is kept: $left" >&2
    elif [ "$keep" = no ] && [ -d "$root" ]; then
        rm -rf --one-file-system "$root"
    fi
    [ "$keep" = no ] || [ ! -d "$root" ] || say "the root is kept: $root"
    say "logs: $logs"
    exit "$status"
}
trap cleanup EXIT
trap 'echo; say "interrupted"; exit 130' INT
trap 'say "terminated"; exit 143' TERM HUP

# A command in the background, waited for, so that an interruption is acted
# on at once; its output goes to a log.
run_logged() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 </dev/null &
    child=$!
    wait "$child"
    local status=$?
    child=""
    return $status
}

# The Debian 12 entries of this machine's apt sources, as one-line sources,
# components gathered per archive and suite.
debian12_sources() {
    # shellcheck disable=SC2016  # apt's own placeholders
    apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT) $(CODENAME)' |
        awk '$1 == "deb" && $4 != "" && ($3 ~ /^bookworm(-|$)/ || $5 ~ /^bookworm(-|$)/) {
                key = $2 " " $3
                if (!(key in components)) { order[++n] = key; components[key] = "" }
                if (index(components[key] " ", " " $4 " ") == 0) components[key] = components[key] " " $4
             }
             END { for (i = 1; i <= n; i++) print "deb " order[i] components[order[i]] }'
}

# What this machine's apt needs to reach its archives (a proxy, and whether
# Release files may be out of date, as on an archive snapshot), for the new
# root's apt as well.
acquire_settings() {
    apt-config dump | grep -E '^Acquire::((http|https|ftp)::Proxy|Check-Valid-Until|Check-Date)[ :]'
}

if ! command -v mmdebstrap >/dev/null; then
    say "installing mmdebstrap with apt-get"
    run_logged "$logs/mmdebstrap-install.log" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends mmdebstrap ||
        fail "could not install mmdebstrap (see $logs/mmdebstrap-install.log)"
fi

mapfile -t sources < <(debian12_sources)
[ ${#sources[@]} -gt 0 ] || fail "this machine's apt sources name no Debian 12 (bookworm) archive"
printf '%s\n' "${sources[@]}" >"$logs/sources.list"
apt_options=()
if acquire_settings >"$logs/apt-acquire.conf" && [ -s "$logs/apt-acquire.conf" ]; then
    apt_options=(--aptopt="$logs/apt-acquire.conf")
fi

say "commit $commit of $source_tree"
if [ -n "$(git -C "$source_tree" status --porcelain --untracked-files=no)" ]; then
    say "(uncommitted changes in $source_tree are not in the clone)"
fi
say "work folder $work"
for source in "${sources[@]}"; do
    say "apt source: $source"
done

total_started=$SECONDS
say "building a minimal Debian 12 root (mmdebstrap --variant=minbase)"
started=$SECONDS
run_logged "$logs/mmdebstrap.log" mmdebstrap --variant=minbase "${apt_options[@]}" bookworm "$root" "${sources[@]}" ||
    fail "mmdebstrap failed after $(took $((SECONDS - started))); its log: $logs/mmdebstrap.log"
say "  done in $(took $((SECONDS - started)))"
cp -L --remove-destination /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
base_size=$(du -sx --block-size=1M "$root" | cut -f1)

say "cloning the commit into $clone"
# shellcheck disable=SC2016  # the arguments follow
run_logged "$logs/clone.log" sh -c 'git clone --quiet --no-checkout "$1" "$2" &&
        git -C "$2" fetch --quiet "$1" "$3" && git -C "$2" checkout --quiet --detach "$3"' \
    clone "$source_tree" "$root$clone" "$commit" ||
    fail "cloning failed (see $logs/clone.log)"

mount_in_root() {
    local target=$root$1
    shift
    if ! mkdir -p "$target" || ! mount "$@" "$target"; then
        fail "could not mount $target: mount $*"
    fi
    mounted+=("$target")
}
mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
mount_in_root /tmp -t tmpfs -o mode=1777,nosuid,nodev tmpfs

# One of the README's commands, run in the clone as root in the new root,
# with a clean environment and no stdin, as CI runs it. Shows its stages
# as they begin; all it prints goes to its log.
results=()
failed=0
run_command() {
    local command=$1 log=$logs/$2.log started=$SECONDS status
    say "\$ $command    (in $clone, as root; log: $log)"
    (
        chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            ${http_proxy:+http_proxy="$http_proxy"} ${https_proxy:+https_proxy="$https_proxy"} \
            ${no_proxy:+no_proxy="$no_proxy"} \
            /bin/bash -c "cd $clone && $command" </dev/null 2>&1 |
            tee "$log" | grep --line-buffered -E '^(==== |setup: )' | sed -u 's/^/    /'
        exit "${PIPESTATUS[0]}"
    ) &
    child=$!
    wait "$child"
    status=$?
    child=""
    results+=("$command: exit code $status after $(took $((SECONDS - started)))")
    say "${results[-1]}"
    if [ $status -ne 0 ]; then
        failed=1
        say "  its last lines:"
        tail -n 25 "$log" | sed 's/^/    /'
    fi
}
run_command tools/demo.sh demo
run_command tools/test.sh test

total_size=$(du -sx --block-size=1M "$root" | cut -f1)
build_size=$(du -sx --block-size=1M "$root$clone/build" 2>/dev/null | cut -f1)
cache_size=$(du -sx --block-size=1M "$root/var/cache/apt" 2>/dev/null | cut -f1)
{
    echo "commit $commit"
    echo "Debian 12 root (minbase): ${base_size} MB"
    echo "after both commands: ${total_size} MB, ${build_size:-0} MB of it $clone/build, ${cache_size:-0} MB apt's cache"
    echo "added by the commands: $((total_size - base_size)) MB"
    printf '%s\n' "${results[@]}"
    echo "all: $(took $((SECONDS - total_started)))"
} >"$logs/summary.txt"
say "disk: the minimal root ${base_size} MB; after both commands ${total_size} MB (${build_size:-0} MB of it build/, ${cache_size:-0} MB apt's cache)"
say "all done in $(took $((SECONDS - total_started)))"
for result in "${results[@]}"; do
    say "$result"
done
exit $failed
}
