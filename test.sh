#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root or through sudo), builds everything with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ ccache pkg-config libicu-dev libgtest-dev libgmock-dev
          libbenchmark-dev libsqlite3-dev libexpat1-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELVO_SANITIZE=ON
cmake --build build/test -j2
ctest --test-dir build/test --output-on-failure -j2
