#!/usr/bin/env bash
# The GEM exchange of tools/main with the driver registered in a store of
# its own: gem_exchange_test.sh REGSVR COMPONENT TARVO_GEM TARVOSH SOURCE_DIR
set -uo pipefail
regsvr=$1 component=$2 tarvo_gem=$3 tarvosh=$4 src=$5
store=$(mktemp -d)
trap 'rm -rf "$store"' EXIT
export TARVO_REGISTRY=$store/registry
"$regsvr" /s "$component" || { echo "registration failed"; exit 1; }
bash "$src/tools/main/gem_exchange.sh" "$tarvo_gem" "$tarvosh"
