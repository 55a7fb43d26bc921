#!/usr/bin/env bash
# Installs the kit into a temporary prefix and checks it as a user would find
# it: versioned libraries without run paths into the build folder, a C
# program built with only find_package and with only pkg-config, and ravel
# finding its installed deployment.
#   install-test.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd) work=$3
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/prefix
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
libdir=$(dirname "$(find "$prefix" -name 'libPellam.so.1' | head -1)")
[ -n "$libdir" ] || fail "libPellam.so.1 not installed"
for lib in Ravel Pellam Drumlin Brindle; do
  [ -L "$libdir/lib$lib.so" ] || fail "lib$lib.so link missing"
  soname=$(readelf -d "$libdir/lib$lib.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.1" ] || fail "lib$lib.so has SONAME '$soname'"
done
for f in "$libdir"/lib*.so.1.* "$prefix/bin/ravel"; do
  if readelf -d "$f" | grep -E 'RPATH|RUNPATH' | grep -q "$build"; then
    fail "$f has a run path into the build folder"
  fi
done
models=$prefix/share/jor-speaker/models/default
[ -f "$models/ulxmodel.dat" ] || fail "default deployment not installed"
[ -f "$prefix/include/pellam/pellam-names.h" ] || fail "pellam-names.h not installed"
if [ -d "$build/java" ]; then
  [ -f "$prefix/share/java/jor_diarization_wrapper.jar" ] || fail "jar not installed"
fi

# The installed libraries load each other without LD_LIBRARY_PATH.
unset LD_LIBRARY_PATH
export LD_LIBRARY_PATH=

cmake -S "$src/tests/install/app" -B "$work/app-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release > "$work/app-cmake.log" || { cat "$work/app-cmake.log"; fail "configure"; }
cmake --build "$work/app-cmake" > "$work/app-build.log" || { cat "$work/app-build.log"; fail "build"; }
"$work/app-cmake/pellam_app" "$models"

pc_dir=$(dirname "$(find "$prefix" -name pellam.pc | head -1)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs pellam)
libs_dir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir pellam)
cc -std=c11 -o "$work/pellam_app_pc" "$src/tests/install/app/main.c" $flags -lm \
  -Wl,-rpath,"$libs_dir"
"$work/pellam_app_pc" "$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=modelsdir pellam)"

# ravel, run from anywhere, finds the deployment installed beside it.
cd "$work"
"$prefix/bin/ravel" quality "$src/tests/data/trained/heldout/es-f1-008.wav" --json > quality.json
grep -q '"speech_seconds"' quality.json || fail "ravel quality"
echo "install test passed"
