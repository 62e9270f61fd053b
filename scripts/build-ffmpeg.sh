#!/usr/bin/env bash
# Builds the FFmpeg 5.1 that the program links: Debian 12's own FFmpeg source,
# configured with only what the engine uses (the pulse and lavfi inputs, the
# filter graph's audio filters, PCM decoders, the encoders of the five codecs
# (LAME, libopus, libvorbis, FFmpeg's own AAC and FLAC), their stream and file
# muxers (MP3, ADTS, Ogg, FLAC), the demuxers and decoders that hear a stream
# as its listeners do, and the icecast/http/https protocols over GnuTLS), as
# static libraries.
# Debian's shared build links about a hundred libraries (speech voices, video
# codecs, SVG, GL), which cost a running program about 37 MiB of resident
# memory for nothing it uses.
#
# Usage: build-ffmpeg.sh FOLDER. The libraries go to FOLDER/prefix (give that
# to CMake as TAVOLIN_FFMPEG_PREFIX); a finished build is not repeated.
# The source comes through apt from the Debian archives (or mirrors, or a
# proxy) that the machine's apt is set up for; apt checks their signatures
# against Debian's keyring. No system setting is changed.
set -euo pipefail

root=$(mkdir -p "$1" && cd "$1" && pwd)
prefix=$root/prefix

configure_options=(
    --disable-programs --disable-doc --disable-debug --enable-pic
    --disable-autodetect --disable-everything --disable-swscale --disable-postproc
    --enable-libpulse --enable-libmp3lame --enable-libopus --enable-libvorbis --enable-gnutls
    --enable-indev=pulse,lavfi
    --enable-decoder='pcm_*',mp3float,aac,opus,vorbis,flac
    --enable-demuxer=mp3,aac,ogg --enable-parser=mpegaudio,aac,opus,vorbis,flac
    --enable-filter=abuffer,abuffersink,aformat,astats,aresample,asetnsamples,asetpts,asplit,sine,arealtime
    --enable-encoder=libmp3lame,aac,libopus,libvorbis,flac --enable-muxer=mp3,adts,ogg,flac
    --enable-protocol=icecast,http,https,tcp,tls,file
)

# The newest FFmpeg source of Debian 12 and its updates, from the archives this
# machine's apt already uses (a mirror or a proxy included), through a private
# apt list folder. apt itself reads its sources, in either format; each Debian
# suite of this release gets a source entry, checked against Debian's keyring.
apt_dir=$root/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/source"
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' 2>/dev/null \
    | awk -v release="${codename:-bookworm}" \
        '($1 == "deb" || $1 == "deb-src") && ($3 == release || index($3, release "-") == 1) && $4 == "main" {
            print "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] " $2 " " $3 " " $4 }' \
    | sort -u >"$apt_dir/sources.list"
apt_options=(
    -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
    -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)"
)
stamp_options="${configure_options[*]}"
if [ ! -s "$apt_dir/sources.list" ] || ! apt-get "${apt_options[@]}" update -qq; then
    # Offline: a finished build with the same options still serves.
    if [ -f "$prefix/build-stamp" ] && [ "$(cut -d' ' -f2- "$prefix/build-stamp")" = "$stamp_options" ]; then
        echo "build-ffmpeg.sh: no Debian archive answers; keeping the FFmpeg in $prefix" >&2
        exit 0
    fi
    echo "build-ffmpeg.sh: no Debian $codename archive in apt's sources answers" >&2
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
