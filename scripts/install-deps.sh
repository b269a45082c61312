#!/usr/bin/env bash
# Installs what building and testing winprobe needs on Debian or Ubuntu:
# CMake, Ninja, the MinGW-w64 i686 and x86-64 cross compilers, GoogleTest's
# source, 32- and 64-bit Wine, Xvfb, Python (for the output-format example's
# test), and shellcheck and clang-format (CI checks the scripts and the C++
# layout). Both Wines install on any x86-64 machine; arch.sh finds out which
# of them runs.
# Does nothing when all of it is there.
set -euo pipefail

packages=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine32:i386 wine64 xvfb python3 shellcheck clang-format)
# The release: reprotest and what its variations need (faketime, disorderfs,
# locales for localedef), diffoscope for its report, git for the builds'
# clones, and PyYAML for the check of the winget manifests.
release_packages=(git reprotest diffoscope-minimal faketime disorderfs locales python3-yaml)
packages+=("${release_packages[@]}")

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
