#!/usr/bin/env bash
# Renders the application icon (com.norvane.Pixhold.svg) into the PNG sizes of
# the hicolor theme, below hicolor/. The PNGs are kept in the repository, so
# building and installing need no SVG renderer; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v rsvg-convert >/dev/null; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends librsvg2-bin
fi
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" com.norvane.Pixhold.svg -o "hicolor/${size}x${size}/apps/com.norvane.Pixhold.png"
done
