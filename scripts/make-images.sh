#!/usr/bin/env bash
# Draws the raster images from their SVG sources in src/images/sources:
# the window's logo, the Linux icons (hicolor sizes) and the Windows icon.
# Needs rsvg-convert (librsvg2-bin), ImageMagick and the DejaVu fonts
# (fonts-dejavu-core). The results are committed; run this after changing a source.
set -euo pipefail
cd "$(dirname "$0")/../src/images"

for tool in rsvg-convert convert; do
    command -v "$tool" >/dev/null || { echo "make-images.sh: $tool is missing" >&2; exit 1; }
done
fc-list | grep -q 'DejaVuSans-Bold' || { echo "make-images.sh: the DejaVu fonts are missing" >&2; exit 1; }

rsvg-convert -w 585 -h 187 sources/logo-horizontal-white.svg -o "Logo - horizontal - white.png"

mkdir -p icons
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" sources/app-icon.svg -o "icons/tavolin-encoder-$size.png"
done

# PNG32 keeps each image 32-bit (with alpha) inside the .ico, even though the square is opaque.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 64 32 24 16; do
    convert "icons/tavolin-encoder-$size.png" -define png:color-type=6 "PNG32:$work/$size.png"
done
convert "$work/64.png" "$work/32.png" "$work/24.png" "$work/16.png" TavolinEncoder.ico
