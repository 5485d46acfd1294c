#!/bin/sh
# Renders the PNG sizes of the icon from quillfen.svg (needs rsvg-convert,
# Debian package librsvg2-bin). The PNGs are kept in the tree so that a build
# needs no SVG renderer; run this after changing the drawing.
set -e
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" quillfen.svg -o "quillfen-$size.png"
done
