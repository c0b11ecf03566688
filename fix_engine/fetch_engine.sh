#!/usr/bin/env bash
# Fetches the upstream source of the QuickFIX engine (1.15.1) from Debian's source
# package into a cache outside the build tree, where fix_engine/CMakeLists.txt finds it.
# The engine is a dependency, not part of this repository: the build unpacks the cached
# tarball and applies the patches in fix_engine/patches/ on top of it.
#
# Debian's deb-src entries are derived at run time from the machine's own apt sources,
# in a private apt state folder, so the machine's configuration is left as it was.
# Idempotent: a cached tarball with the expected checksum ends the script at once.
set -euo pipefail

tarball="quickfix_1.15.1+dfsg.orig.tar.gz"
expected_sha256="2f378b5c57f355bfb4c3d733b560b3b163baad9de113afd0e1325a814660f5c2"
cache_dir="${QEL_CACHE_DIR:-$HOME/.cache/qel_ip}/quickfix"

checksum_ok() {
    [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$expected_sha256" ]
}

if checksum_ok "$cache_dir/$tarball"; then
    exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sources.list.d" "$work/lists/partial" "$work/cache/archives/partial" "$work/download"

# deb822 files: every stanza becomes a source stanza with the same URIs, suites and keys.
shopt -s nullglob
for f in /etc/apt/sources.list.d/*.sources; do
    sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$work/sources.list.d/$(basename "$f")"
done
# One-line files: every binary entry gets its source twin.
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$work/sources.list.d/derived.list"
done
shopt -u nullglob

apt_options=(
    -o "Dir::Etc::SourceList=/dev/null"
    -o "Dir::Etc::SourceParts=$work/sources.list.d"
    -o "Dir::State::Lists=$work/lists"
    -o "Dir::Cache=$work/cache"
    -o "Debug::NoLocking=1"
)
# The download folder is private to this script; apt's sandbox user could not write it.
[ "$(id -u)" -eq 0 ] && apt_options+=(-o "APT::Sandbox::User=root")

echo "fetch_engine: fetching Debian's quickfix source package"
if ! apt-get "${apt_options[@]}" -q update >"$work/update.log" 2>&1; then
    cat "$work/update.log" >&2
    echo "fetch_engine: apt-get update for the source entries failed" >&2
    exit 1
fi
if ! (cd "$work/download" && apt-get "${apt_options[@]}" -q source --download-only quickfix) >"$work/source.log" 2>&1; then
    cat "$work/source.log" >&2
    echo "fetch_engine: apt-get source --download-only quickfix failed" >&2
    exit 1
fi

if ! checksum_ok "$work/download/$tarball"; then
    ls -l "$work/download" >&2
    echo "fetch_engine: $tarball is missing or its SHA-256 is not $expected_sha256" >&2
    exit 1
fi

mkdir -p "$cache_dir"
cp "$work/download/$tarball" "$cache_dir/$tarball.partial"
mv -f "$cache_dir/$tarball.partial" "$cache_dir/$tarball"
echo "fetch_engine: $cache_dir/$tarball"
