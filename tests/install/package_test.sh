#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# package_test.sh BUILD_DIR WITH_GUI: builds the Debian package of the build in BUILD_DIR
# with cpack, in a temporary folder, and checks it as a distribution would: lintian
# reports no error and no warning, the programs carry Debian's hardening, and the
# copyright file, the changelog and the AppStream metadata are there and valid.
set -euo pipefail
build=$1 with_gui=$2

tmp=$(mktemp -d "${TMPDIR:-/tmp}/wct-package-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# cpack installs the build into its own staging folder under -B.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log" >&2
    exit 1
}
debs=("$tmp"/*.deb)
deb=${debs[0]}
[[ -f $deb ]] || { echo "cpack made no package" >&2; exit 1; }
echo "package: ${deb##*/}"

# Info tags are shown, for the reader; errors and warnings fail.
if ! lintian --fail-on error,warning --display-info "$deb" >"$tmp/lintian.log" 2>&1; then
    fail "lintian:"
    cat "$tmp/lintian.log" >&2
else
    sed 's/^/lintian: /' "$tmp/lintian.log"
fi

root=$tmp/root
dpkg-deb -x "$deb" "$root"
field() { dpkg-deb -f "$deb" "$1"; }
version=$(field Version)

# Hardening of every program: PIE, full RELRO (GNU_RELRO with BIND_NOW), the stack
# protector and fortified C library calls. The programs are stripped, so their dynamic
# symbols tell what they call.
programs=(wct wct-sim)
[[ $with_gui == 1 ]] && programs+=(wirelessconsoletest)
for program in "${programs[@]}"; do
    binary=$root/usr/bin/$program
    [[ -x $binary ]] || { fail "$program is not in the package"; continue; }
    header=$(readelf -h "$binary") dynamic=$(readelf -d "$binary")
    segments=$(readelf -l -W "$binary") symbols=$(readelf --dyn-syms -W "$binary")
    [[ $header == *"DYN (Position-Independent Executable"* ]] ||
        [[ $dynamic == *"FLAGS_1"*"PIE"* ]] || fail "$program is not position-independent"
    [[ $segments == *GNU_RELRO* ]] || fail "$program has no GNU_RELRO segment"
    [[ $dynamic =~ \(FLAGS\).*BIND_NOW || $dynamic =~ \(FLAGS_1\).*NOW ]] ||
        fail "$program does not bind now"
    [[ $symbols == *" __stack_chk_fail"* ]] || fail "$program has no stack protector"
    fortified=$(grep -Eo '__[a-z0-9_]+_chk(@|$)' <<<"$symbols" | tr -d @ | sort -u | paste -sd' ' ||
        true)
    [[ -n $fortified ]] || fail "$program calls no fortified function"
    echo "$program: $fortified"
done

# The maintainer is the project, at an address that can be written to.
maintainer=$(field Maintainer)
[[ $maintainer =~ ^[^\<]+\ \<[^@\>]+@[a-z0-9.-]+\.[a-z]+\>$ && $maintainer != *localhost* ]] ||
    fail "maintainer '$maintainer'"

doc=$root/usr/share/doc/wirelessconsoletest
copyright=$doc/copyright
if [[ -f $copyright ]]; then
    dep5='Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
    [[ $(sed -n 1p "$copyright") == "$dep5" ]] ||
        fail "the copyright file is not machine-readable (DEP-5)"
    # The project's own files are Apache-2.0; every library named has its licence.
    grep -Pzq 'Files: \*\nCopyright: [^\n]+\nLicense: Apache-2.0\n' "$copyright" ||
        fail "the copyright file does not give the project's files the Apache-2.0 licence"
    for library in libQt6Core libQt6Charts libmosquitto libsqlite3 libtomlplusplus libstdc++ \
        libc CLI/ nlohmann/; do
        grep -q "$library" "$copyright" || fail "the copyright file does not name $library"
    done
    # Each licence a paragraph names has its text, here or in common-licenses.
    for license in $(grep -Po '^License: \K\S+' "$copyright" | sort -u); do
        grep -q "^License: $license\$" "$copyright" ||
            grep -Pzq "License: $license\n " "$copyright" || fail "no text for licence $license"
    done
else
    fail "no copyright file"
fi
if [[ -f $doc/changelog.gz ]]; then
    gzip -t "$doc/changelog.gz" || fail "the changelog is not gzip"
    [[ $(zcat "$doc/changelog.gz" | sed -n 1p) == "wirelessconsoletest ($version) "* ]] ||
        fail "the changelog's first entry is not version $version"
else
    fail "no changelog"
fi

metainfo=$root/usr/share/metainfo/org.wirelessconsoletest.WirelessConsoleTest.metainfo.xml
if [[ -f $metainfo ]]; then
    appstreamcli validate --no-net --explain "$metainfo" >"$tmp/appstream.log" 2>&1 ||
        { fail "appstreamcli validate:"; cat "$tmp/appstream.log" >&2; }
    grep -q "<release version=\"$version\"" "$metainfo" ||
        fail "the AppStream metadata does not name release $version"
else
    fail "no AppStream metadata"
fi

((failures == 0)) || exit 1
echo "package ${deb##*/} passed"
