# Shared by the scripts: configure and build one flavour of the project.
#   build_flavour <name> <build type> [sanitizers] [targets...]  -> build/<name>
# With no targets, everything is built.
build_flavour() {
    local name=$1 type=$2 sanitize=${3:-}
    shift $(($# < 3 ? $# : 3))
    local targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    local dir="$root/build/$name"
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DNORVANE_SANITIZE="$sanitize" \
            >"$root/build/$name.configure.log" || {
            cat "$root/build/$name.configure.log"
            return 1
        }
    fi
    local rc=0
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}" -- --quiet \
        >"$root/build/$name.build.log" 2>&1 || rc=$?
    # Progress and re-configure chatter hidden; warnings and errors shown.
    grep -vE '^(\[|-- )' "$root/build/$name.build.log" || true
    return $rc
}
