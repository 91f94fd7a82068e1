# Shared by the scripts: configure and build one flavour of the project.
#   build_flavour <name> <build type> [sanitizers]  -> build/<name>
build_flavour() {
    local name=$1 type=$2 sanitize=${3:-}
    local dir="$root/build/$name"
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DNORVANE_SANITIZE="$sanitize" \
            >"$root/build/$name.configure.log" || {
            cat "$root/build/$name.configure.log"
            return 1
        }
    fi
    cmake --build "$dir" -j "$(nproc)" -- --quiet 2>&1 | grep -v '^\[' || true
    test "${PIPESTATUS[0]}" -eq 0
}
