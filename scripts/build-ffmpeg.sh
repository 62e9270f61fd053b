#!/usr/bin/env bash
# Builds the FFmpeg 5.1 that the program links: Debian 12's own FFmpeg source,
# configured with only what the engine uses (the pulse and lavfi inputs, the
# filter graph's audio filters, PCM decoders, LAME, the MP3 muxer and the
# icecast/http/https protocols over GnuTLS), as static libraries.
# Debian's shared build links about a hundred libraries (speech voices, video
# codecs, SVG, GL), which cost a running program about 37 MiB of resident
# memory for nothing it uses.
#
# Usage: build-ffmpeg.sh FOLDER. The libraries go to FOLDER/prefix (give that
# to CMake as TAVOLIN_FFMPEG_PREFIX); a finished build is not repeated.
# The source comes through apt from Debian's archive, whose signatures apt
# checks; no system setting is changed.
set -euo pipefail

root=$(mkdir -p "$1" && cd "$1" && pwd)
prefix=$root/prefix

configure_options=(
    --disable-programs --disable-doc --disable-debug --enable-pic
    --disable-autodetect --disable-everything --disable-swscale --disable-postproc
    --enable-libpulse --enable-libmp3lame --enable-gnutls
    --enable-indev=pulse,lavfi
    --enable-decoder='pcm_*'
    --enable-filter=abuffer,abuffersink,aformat,astats,aresample,asetnsamples,asetpts,sine,arealtime
    --enable-encoder=libmp3lame --enable-muxer=mp3
    --enable-protocol=icecast,http,https,tcp,tls,file
)

# The newest FFmpeg source of Debian 12 and its security updates, through a
# private apt list folder.
apt_dir=$root/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/source"
cat >"$apt_dir/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
EOF
apt_options=(
    -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
    -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)"
)
stamp_options="${configure_options[*]}"
if ! apt-get "${apt_options[@]}" update -qq; then
    # Offline: a finished build with the same options still serves.
    if [ -f "$prefix/build-stamp" ] && [ "$(cut -d' ' -f2- "$prefix/build-stamp")" = "$stamp_options" ]; then
        echo "build-ffmpeg.sh: Debian's archive is out of reach; keeping the FFmpeg in $prefix" >&2
        exit 0
    fi
    exit 1
fi
version=$(apt-cache "${apt_options[@]}" showsrc ffmpeg | sed -n 's/^Version: //p' | sort -V | tail -n 1)
upstream=${version#*:}
upstream=${upstream%%-*}
case $upstream in
    5.1.*) ;;
    *) echo "build-ffmpeg.sh: Debian offers FFmpeg $upstream, not 5.1" >&2; exit 1 ;;
esac

stamp="$upstream $stamp_options"
if [ -f "$prefix/build-stamp" ] && [ "$(cat "$prefix/build-stamp")" = "$stamp" ]; then
    exit 0
fi

echo "build-ffmpeg.sh: building FFmpeg $upstream into $prefix"
(cd "$apt_dir/source" && apt-get "${apt_options[@]}" source --download-only -qq "ffmpeg=$version")
rm -rf "$root/source" "$prefix"
mkdir -p "$root/source"
tar -xJf "$apt_dir/source/ffmpeg_$upstream.orig.tar.xz" -C "$root/source" --strip-components=1
cd "$root/source"
./configure --prefix="$prefix" "${configure_options[@]}" >"$root/configure.log" \
    || { tail -n 20 "$root/configure.log" >&2; exit 1; }
make -j"$(nproc)" >"$root/make.log" 2>&1 || { tail -n 40 "$root/make.log" >&2; exit 1; }
make install >>"$root/make.log" 2>&1
echo "$stamp" >"$prefix/build-stamp"
