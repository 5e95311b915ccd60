#!/bin/sh
# Turns the program's drawings (resources/images/*.svg) into the resources the Win32 window
# loads: icons as multi-size .ico (16, 24, 32, 48 pixels), bitmaps as 24-bit .bmp on white
# (the window paints white as transparent), and an images.rc naming each by its id.
# rsvg-convert draws, ImageMagick packs. Usage: convert-images.sh SVG_DIR OUT_DIR
set -eu
svg=$1
out=$2
magick=$(command -v convert-im6.q16 || command -v magick || true)
[ -n "$magick" ] || { echo "convert-images.sh: ImageMagick (convert-im6.q16 or magick) is missing" >&2; exit 1; }
command -v rsvg-convert >/dev/null || { echo "convert-images.sh: rsvg-convert (librsvg2-bin) is missing" >&2; exit 1; }
mkdir -p "$out"
rc="$out/images.rc.tmp"
: > "$rc"
for id in 128 187 188 189 190 195 204 206 207 208; do
  sizes=""
  for size in 16 24 32 48; do
    rsvg-convert -w $size -h $size "$svg/$id.svg" -o "$out/$id-$size.png"
    sizes="$sizes $out/$id-$size.png"
  done
  # shellcheck disable=SC2086
  "$magick" $sizes "$out/$id.ico"
  rm -f $sizes
  echo "$id ICON \"$id.ico\"" >> "$rc"
done
for id in 181 198 199 200 201 203; do
  rsvg-convert "$svg/$id.svg" -o "$out/$id.png"
  "$magick" "$out/$id.png" -background white -flatten "BMP3:$out/$id.bmp"
  rm -f "$out/$id.png"
  echo "$id BITMAP \"$id.bmp\"" >> "$rc"
done
mv "$rc" "$out/images.rc"
