#!/usr/bin/env bash
# Cross-builds Trelvex.exe for 32-bit Windows (Release, folder build-win32/)
# and writes dist/Trelvex-<version>-win32.zip with the program and its
# Windows README.
set -euo pipefail
cd "$(dirname "$0")/.."

# The cross compiler and zip come with the project's setup.
TRELVEX_NO_WINDOWS=0 bash scripts/setup.sh >/dev/null

build=${TRELVEX_WIN32_BUILD:-build-win32}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target Trelvex

version=$(sed -n 's/^#define TRELVEX_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/common/version.h")
[ -n "$version" ] || { echo "package-windows: no version in $build/generated/common/version.h" >&2; exit 1; }

stage=$(mktemp -d "${TMPDIR:-/tmp}/trelvex-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
i686-w64-mingw32-strip -o "$stage/Trelvex.exe" "$build/Trelvex.exe"
# Windows line ends for Notepad.
sed 's/\r*$/\r/' packaging/README-windows.txt > "$stage/README.txt"

mkdir -p dist
zip_file="dist/Trelvex-$version-win32.zip"
rm -f "$zip_file"
(cd "$stage" && zip -q -X "$OLDPWD/$zip_file" Trelvex.exe README.txt)
echo "$zip_file"
