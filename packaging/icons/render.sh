#!/usr/bin/env bash
# Renders the icon's PNG sizes from org.example.Quorvat.svg. The PNGs are kept in the
# repository, so a build needs no SVG renderer; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
../../scripts/setup.sh package
for size in 16 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" org.example.Quorvat.svg \
    --output "org.example.Quorvat-$size.png"
done
