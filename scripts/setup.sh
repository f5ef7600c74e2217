#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages), then configures
# and builds build/. Safe to run again: it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

# Packages for the Linux build, the tests and the embedded demo database.
PKGS=(cmake g++ make pkg-config libgtest-dev googletest
      firebird3.0-server-core firebird3.0-server firebird3.0-utils firebird-dev libfbclient2
      nlohmann-json3-dev libpugixml-dev xz-utils)
# Packages for the 32-bit Windows build and its tests under Wine.
WIN_PKGS=(g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth zip)

missing=()
want=("${PKGS[@]}")
if [ "${TRELVEX_NO_WINDOWS:-0}" != "1" ]; then want+=("${WIN_PKGS[@]}"); fi
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if printf '%s\n' "${missing[@]}" | grep -q ':i386'; then
    dpkg --print-foreign-architectures | grep -q i386 || dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
cmake --build build -j"$(nproc)"
