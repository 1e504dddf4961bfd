# The Debian packages the build, the tests and the demo need; only the missing ones are installed.
# shellcheck shell=bash

VEMLOX_PACKAGES=(
    cmake ninja-build g++ python3           # host build and the end-to-end driver
    libgtest-dev googletest                  # GoogleTest: native library and sources for the cross build
    nlohmann-json3-dev                       # JSON encoding and the tests' oracle
    unicode-data                             # the source of the generated Unicode tables
    g++-mingw-w64-x86-64-posix               # the Windows cross compiler
    wine wine64                              # Windows runtime for the tests and the demo
    clang-19 libclang-rt-19-dev              # libFuzzer (clang 14 cannot compile std::expected here)
    rustc libstd-rust-dev-windows            # the Rust example, built for Windows by Debian's rustc
)

ensure_packages() {
    local missing=() package
    for package in "${VEMLOX_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if ((${#missing[@]})); then
        echo "== installing: ${missing[*]}"
        local sudo=()
        [[ $(id -u) -eq 0 ]] || sudo=(sudo)
        "${sudo[@]}" apt-get update -q
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# Node and npm, for the Node client package: Debian's, unless the machine has a Node of its own
# (a NodeSource build of nodejs brings its own npm and conflicts with Debian's npm package).
ensure_node() {
    if command -v node >/dev/null && command -v npm >/dev/null; then
        return
    fi
    local VEMLOX_PACKAGES=(nodejs npm)
    ensure_packages
}
