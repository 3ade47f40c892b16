#!/bin/sh
# Regenerates the instruction bitmaps NNN.bmp and ../brintel.ico from src/.
# The build never runs this: the rendered files are committed.
#
# Needs (Debian): python3 librsvg2-bin imagemagick fonts-wqy-microhei
#   apt-get install -y librsvg2-bin imagemagick fonts-wqy-microhei
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cd "$here"

for tool in python3 rsvg-convert convert; do
    command -v "$tool" >/dev/null || { echo "render.sh: $tool is missing" >&2; exit 1; }
done
# Without the font the Chinese labels silently come out as boxes.
fc-list | grep -q "WenQuanYi Micro Hei" || { echo "render.sh: install fonts-wqy-microhei" >&2; exit 1; }

python3 draw.py

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# id:width:height of every bitmap resource.
for entry in 134:207:236 135:294:236 139:273:236 140:256:236 141:265:236 \
             142:252:236 143:256:236 144:256:236 146:497:200; do
    id=${entry%%:*}
    size=${entry#*:}
    rsvg-convert --background-color=white -o "$tmp/$id.png" "src/$id.svg"
    # BMP3 gives the plain 40-byte BITMAPINFOHEADER; truecolor keeps 24 bits
    # even where a picture has few colours (134 would otherwise become 1-bit).
    convert "$tmp/$id.png" -background white -alpha remove -alpha off \
        -type truecolor BMP3:"$id.bmp"
    python3 check_bmp.py "$id.bmp" "${size%%:*}" "${size#*:}"
done

for px in 16 32 48; do
    rsvg-convert -w "$px" -h "$px" -o "$tmp/icon$px.png" src/icon.svg
done
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" ../brintel.ico
identify ../brintel.ico
