#!/usr/bin/env bash
# Installs what building and testing Tarvo needs on a Debian machine (as root).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
[ $# -eq 0 ] || { echo "setup.sh: takes no arguments (see --help)" >&2; exit 2; }
set -euo pipefail
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential g++ cmake ninja-build pkg-config \
  clang libclang-rt-14-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev locales \
  socat qt6-base-dev fonts-dejavu-core libtomlplusplus-dev \
  python3 python3-dev python3-pybind11 python3-pytest \
  dpkg-dev lintian
# A locale whose decimal point is "," lets the tests prove that number texts ignore the process locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi
