#!/usr/bin/env bash
# Builds the Debian package of the program (tavolin-encoder_<version>_<arch>.deb)
# for this machine's architecture: installs what the build needs, builds the
# slim FFmpeg and the program without its tests, and lets CPack make the
# package (packaging/debian-package.cmake). The package's path is the last
# line printed. BUILD_DIR names the build folder (default: build-package).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-package}

bash scripts/install-dependencies.sh
bash scripts/build-ffmpeg.sh "$build_dir/ffmpeg"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVOLIN_BUILD_TESTS=OFF -DTAVOLIN_BUILD_BENCHMARKS=OFF \
    -DTAVOLIN_FFMPEG_PREFIX="$(cd "$build_dir/ffmpeg/prefix" && pwd)" >/dev/null
cmake --build "$build_dir"
log=$build_dir/cpack.log
(cd "$build_dir" && cpack -G DEB) >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
package=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$log")
[ -f "$package" ] || { cat "$log" >&2; exit 1; }
echo "$package"
