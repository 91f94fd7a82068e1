# Shared by the scripts. Configures a build folder once and builds it (everything, or the
# targets given); the logs go beside the folder, and only warnings and errors are shown.
#   build_tree <dir> [--toolchain <file>] [--target <name>]... [<cmake configure argument>]...
build_tree() {
    local dir=$1
    shift
    local configure=() targets=()
    while [ $# -gt 0 ]; do
        case $1 in
        --toolchain) configure+=("-DCMAKE_TOOLCHAIN_FILE=$2"); shift 2 ;;
        --target) targets+=(--target "$2"); shift 2 ;;
        *) configure+=("$1"); shift ;;
        esac
    done
    mkdir -p "$dir"
    # With ccache (installed with the test list), compiled objects are kept in the cache folder,
    # keyed by their preprocessed source and options with this checkout's path taken out: a
    # fresh clone's builds are then mostly cache hits.
    if command -v ccache >/dev/null; then
        configure+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        export CCACHE_DIR=${CCACHE_DIR:-$(norvane_cache)/ccache} CCACHE_BASEDIR=$root \
            CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-3G}
    fi
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" "${configure[@]}" >"$dir.configure.log" 2>&1 || {
            cat "$dir.configure.log" >&2
            return 1
        }
    fi
    local rc=0
    cmake --build "$dir" -j "${NORVANE_JOBS:-$(nproc)}" "${targets[@]}" -- --quiet \
        >"$dir.build.log" 2>&1 || rc=$?
    # Progress and re-configure chatter hidden; warnings and errors shown.
    grep -vE '^(\[|-- )' "$dir.build.log" >&2 || true
    return $rc
}

# One flavour of the program for this machine: build/<name>.
#   build_flavour <name> <build type> [sanitizers] [targets...]
build_flavour() {
    local name=$1 type=$2 sanitize=${3:-}
    shift $(($# < 3 ? $# : 3))
    local targets=() t
    for t in "$@"; do targets+=(--target "$t"); done
    build_tree "$root/build/$name" -DCMAKE_BUILD_TYPE="$type" -DNORVANE_SANITIZE="$sanitize" \
        "${targets[@]}"
}

# Where long first-time steps keep what they made (Qt for Windows, Debian systems, the Wayland
# test desktop's pieces): outside the clone, NORVANE_CACHE if set.
norvane_cache() { echo "${NORVANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/norvane}"; }

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Makes Debian's source packages reachable for `apt-get source`: a deb-src entry with the same
# URIs, suites, components and key as every deb entry of debian.sources. Idempotent.
ensure_deb_src() {
    local deb=/etc/apt/sources.list.d/debian.sources src=/etc/apt/sources.list.d/norvane-src.sources
    [ -f "$src" ] && return 0
    [ -f "$deb" ] || {
        echo "no $deb: add a deb-src entry for Debian's sources by hand" >&2
        return 1
    }
    sed 's/^Types:.*$/Types: deb-src/' "$deb" | as_root tee "$src.tmp" >/dev/null
    as_root mv "$src.tmp" "$src"
    as_root apt-get update -qq
}

# Fetches Debian's source package <name> (pinned to <version>) into <dir>, unpacked; the
# version must match, or the build it feeds would not be the one its cache is keyed by.
#   fetch_debian_source <name> <version> <dir>
fetch_debian_source() {
    local name=$1 version=$2 dir=$3
    ensure_deb_src
    mkdir -p "$dir"
    # The download lands in our own folder; apt's unprivileged user could not write there.
    (cd "$dir" && apt-get source -qq -o APT::Sandbox::User=root "$name=$version" >/dev/null)
}

# The ScreenCast backend for wlroots compositors used by the Wayland tests: Debian's
# xdg-desktop-portal-wlr, patched to serve memory buffers on machines without a GPU (Debian's
# binary refuses there). Built from the source package into the cache (norvane_cache), keyed by the
# version and the patch, in a temporary folder moved into place only when complete.
xdpw_version=0.7.0-1
xdpw_patch() { echo "$root/scripts/wayland/xdpw-no-gbm.patch"; }
xdpw_dir() {
    local hash
    hash=$(sha256sum "$(xdpw_patch)" | cut -c1-12)
    echo "$(norvane_cache)/xdpw-$xdpw_version-$hash"
}
ensure_xdpw() (
    set -euo pipefail
    local dir work
    dir=$(xdpw_dir)
    [ -x "$dir/xdg-desktop-portal-wlr" ] && exit 0
    echo "setup: building xdg-desktop-portal-wlr $xdpw_version (patched) into $dir"
    mkdir -p "$(dirname "$dir")"
    work=$(mktemp -d "$dir.tmp.XXXXXX")
    # shellcheck disable=SC2064
    trap "rm -rf '$work'" EXIT
    echo "setup:   fetching the source package"
    fetch_debian_source xdg-desktop-portal-wlr "$xdpw_version" "$work/src"
    local src
    src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'xdg-desktop-portal-wlr-*')
    patch -s -d "$src" -p1 <"$(xdpw_patch)"
    echo "setup:   configuring and compiling (meson, ninja)"
    meson setup "$work/build" "$src" -Dman-pages=disabled -Dsystemd=disabled \
        >"$work/meson.log" 2>&1 || { cat "$work/meson.log" >&2; exit 1; }
    ninja -C "$work/build" >"$work/ninja.log" 2>&1 || { cat "$work/ninja.log" >&2; exit 1; }
    mkdir -p "$work/out"
    cp "$work/build/xdg-desktop-portal-wlr" "$work/out/"
    cp "$src/LICENSE" "$work/out/" 2>/dev/null || true
    rm -rf "$dir"
    mv "$work/out" "$dir"
    echo "setup: xdg-desktop-portal-wlr ready"
)

# The wlroots protocol the Wayland tests' virtual pointer speaks (a headless seat has no
# pointer of its own). No binary package installs its XML; it is taken from Debian's wlroots
# source package into the cache's wlroots-protocol/, where tests/wayland looks for it.
wlroots_version=0.15.1-6
wlr_protocol_dir() { echo "$(norvane_cache)/wlroots-protocol"; }
ensure_wlr_protocol() (
    set -euo pipefail
    local dir work src
    dir=$(wlr_protocol_dir)
    [ "$(cat "$dir/version" 2>/dev/null)" = "$wlroots_version" ] && exit 0
    echo "setup: taking wlr-virtual-pointer-unstable-v1.xml from wlroots $wlroots_version"
    mkdir -p "$(dirname "$dir")"
    work=$(mktemp -d "$dir.tmp.XXXXXX")
    # shellcheck disable=SC2064
    trap "rm -rf '$work'" EXIT
    fetch_debian_source wlroots "$wlroots_version" "$work/src"
    src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'wlroots-*')
    mkdir -p "$work/out"
    cp "$src/protocol/wlr-virtual-pointer-unstable-v1.xml" "$work/out/"
    echo "$wlroots_version" >"$work/out/version"
    rm -rf "$dir"
    mv "$work/out" "$dir"
)

# Installs Debian packages without starting any service they bring. avahi-daemon above all: on
# the machine's own interfaces it would announce and answer on the real network; the tests
# start it only inside namespaces of their own. For the length of the install a policy-rc.d
# refuses every start (invoke-rc.d and deb-systemd-invoke ask it); whatever policy was there
# before is put back on every way out, also after an install that was interrupted. A package
# installed here is not left enabled for the next boot either.
#   install_without_starting_services package...
#   install_without_starting_services --build-dep <tree>    (its debian/control's Build-Depends)
policy_rc=/usr/sbin/policy-rc.d
policy_mark="# refusing while scripts/setup installs"
install_without_starting_services() (
    set -euo pipefail
    local saved=$policy_rc.norvane-saved
    # Every change of the policy is one rename, so that no moment is without one.
    # shellcheck disable=SC2317
    restore() {
        if [ -e "$saved" ]; then
            as_root mv -f "$saved" "$policy_rc"
        else
            as_root rm -f "$policy_rc"
        fi
    }
    # A copy of the policy there was; unless ours is still in place from an install that was
    # cut short, in which case the copy taken then is the one to put back.
    if ! grep -qxF "$policy_mark" "$policy_rc" 2>/dev/null; then
        as_root rm -f "$saved"
        [ ! -e "$policy_rc" ] || as_root cp -p "$policy_rc" "$saved"
    fi
    trap restore EXIT
    trap 'exit 130' INT TERM HUP
    printf '#!/bin/sh\n%s\nexit 101\n' "$policy_mark" | as_root tee "$policy_rc.norvane-new" >/dev/null
    as_root chmod 755 "$policy_rc.norvane-new"
    as_root mv -f "$policy_rc.norvane-new" "$policy_rc"
    # The downloaded .debs are not kept once installed, as apt(8) does.
    local verb=install
    if [ "$1" = --build-dep ]; then
        verb=build-dep
        shift
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$verb" -y -qq \
        --no-install-recommends -o APT::Keep-Downloaded-Packages=false "$@" >/dev/null
    # Installed now (the caller names only what is missing), but not to be started at the next
    # boot either.
    case " $* " in
    *" avahi-daemon "*)
        if command -v systemctl >/dev/null; then
            as_root systemctl --quiet --no-reload disable avahi-daemon.service avahi-daemon.socket
        fi
        ;;
    esac
)
