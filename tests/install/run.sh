#!/usr/bin/env bash
# Installs Tarnwick into a scratch prefix and builds two consumers against the installed tree:
# C++ with find_package(Tarnwick), plain C with pkg-config. Each plays a few moves with the
# installed model. `run.sh static` installs the release preset's build (as `make test` has
# built it), `run.sh shared` the shared preset's (BUILD_SHARED_LIBS=ON).
set -euo pipefail

kind="${1:-static}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install.XXXXXX")"
trap 'rm -rf "$work"' EXIT
case "$kind" in
static) preset=release ;;
shared) preset=shared ;;
*) echo "usage: run.sh static|shared" >&2; exit 2 ;;
esac

cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "${JOBS:-2}"
cmake --install "build/$preset" --prefix "$work/prefix" >/dev/null

# Both consumers find the model through the package, not beside themselves.
cmake -S "$root/tests/install/cpp" -B "$work/cpp" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cpp" >/dev/null
"$work/cpp/consumer"

pc="$(dirname "$(find "$work/prefix" -name tarnwick.pc)")"
export PKG_CONFIG_PATH="$pc"
libdir="$(pkg-config --variable=libdir tarnwick)"
cc -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags tarnwick) \
    "$root/tests/install/c/consumer.c" $(pkg-config --libs tarnwick) -Wl,-rpath,"$libdir" \
    -o "$work/c-consumer"
"$work/c-consumer" "$(pkg-config --variable=modeldir tarnwick)"

if [ "$kind" = shared ]; then
    # Only the interface leaves the shared library: no Eigen, JSON reader or std internals.
    so="$(find "$work/prefix" -name 'libtarnwick.so.*' -type f | head -n 1)"
    leaked="$(nm -D --defined-only -C "$so" | awk '{ $1 = ""; $2 = ""; print }' |
        grep -v -E '^ +(tarnwick_|tarnwick::|typeinfo (name )?for tarnwick::|vtable for tarnwick::|guard variable for tarnwick::|TLS (init|wrapper) function for tarnwick::)' |
        grep -v -E '^ +[A-Z_]+$' || true)"
    if [ -n "$leaked" ]; then
        echo "symbols exported beyond the interface:"
        echo "$leaked" | head -n 20
        exit 1
    fi
    echo "shared library exports $(nm -D --defined-only "$so" | grep -c ' tarnwick_') C functions"
fi
echo "install test ($kind): passed"
