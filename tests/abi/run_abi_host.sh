#!/bin/sh
# Writes the native build's reference bytes, then runs the interface host
# under Wine against the Windows modules.
#   run_abi_host.sh NATIVE_BUILD WORKDIR WINE_RUN ABI_HOST MODULE TESTHOOKS_MODULE
set -eu
native=$1 work=$2 wine_run=$3 host=$4 module=$5 testhooks=$6
mkdir -p "$work"
"$native/abi_reference" "$native/zemivtc.so" "$work/reference.bin"
exec "$wine_run" "$host" "$module" "$testhooks" "$work/reference.bin" "$work"
