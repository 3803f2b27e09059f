#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it the way a host
# programmer does: registers the installed component into a store of its own,
# starts the installed tarvosh as an equipment, builds examples/host against
# the installed CMake package (and checks the pkg-config file), and runs it;
# then runs the installed GEM simulator against the installed tarvosh.
#   install_and_use.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'kill $equipment 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
libdir=$(cd "$prefix" && ls -d lib*/ | head -1)
export TARVO_REGISTRY=$work/registry
"$prefix/bin/tarvo-regsvr" /s "$prefix/${libdir}tarvo/libTarvoSrv1.so"

# pkg-config knows the runtime.
PKG_CONFIG_PATH=$prefix/${libdir}pkgconfig pkg-config --libs tarvo | grep -q -- '-ltarvo-com'

source "$source/tools/lib/pick_port.bash"
port=$(pick_port)
sed "s/@PORT@/$port/" "$source/tools/screenshot/equipment.tsh" > "$work/equipment.tsh"
(cd "$work" && exec "$prefix/bin/tarvosh" equipment.tsh > equipment.out 2>&1) &
equipment=$!
for _ in $(seq 50); do grep -q '^SetActive' "$work/equipment.out" 2>/dev/null && break; sleep 0.1; done

cmake -S "$source/examples/host" -B "$work/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" > "$work/configure.log"
cmake --build "$work/host" > "$work/build.log"
(cd "$work" && LD_LIBRARY_PATH=$prefix/$libdir "$work/host/example_host" "$port") | tee "$work/host.out"
grep -q "^S1F2" "$work/host.out"
wait $equipment

# The installed GEM simulator (and libtarvo-gem beside it) against the installed tarvosh.
bash "$source/tools/main/gem_exchange.sh" "$prefix/bin/tarvo-gem" "$prefix/bin/tarvosh" > "$work/gem.out" 2>&1 \
  || { tail -n 20 "$work/gem.out"; exit 1; }
echo "PASS"
