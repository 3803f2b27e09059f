#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, and uses what it holds:
# extracts it into a temporary root and runs its tarvosh against its own
# component library, registered into a temporary store.
#   tools/build_package.sh [BUILD_DIR]      (default build/package)
# The package lands in BUILD_DIR: tarvo_<version>_<arch>.deb.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
set -euo pipefail
[ $# -le 1 ] || { echo "build_package.sh: at most 1 arguments (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
root_dir=$(pwd)
build=${1:-build/package}
# Debian's hardening flags, as a package build uses them (without link-time
# optimisation, which would double the build time on a small machine).
eval "$(DEB_BUILD_MAINT_OPTIONS=optimize=-lto dpkg-buildflags --export=sh)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTARVO_TESTS=OFF -DTARVO_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"
(cd "$build" && rm -f tarvo_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tarvo_*.deb)
echo "== $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Architecture Depends

echo "== lintian"
lintian --fail-on error --suppress-tags-from-file "$root_dir/packaging/lintian-overrides" "$deb"

echo "== the package's tarvosh against its own component"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
libdir=$(cd "$work/root/usr" && ls -d lib/*-linux-gnu* 2>/dev/null | head -1)
export LD_LIBRARY_PATH="$work/root/usr/$libdir"
bash tests/component/scripts/run_script.sh single "$work/root/usr/bin/tarvosh" "$work/root/usr/bin/tarvo-regsvr" \
  "$work/root/usr/$libdir/tarvo/libTarvoSrv1.so" "$root_dir/tests/component/scripts/parameters.tsh" 0 \
  "$root_dir/tests/component/scripts/parameters.expected" | tail -n 3
echo "== package checked"
