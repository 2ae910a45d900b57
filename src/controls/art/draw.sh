#!/usr/bin/env bash
# Draws the program's artwork with ImageMagick. The PNG files are kept in the tree; run this
# only to change them. Small icons are drawn four times larger and scaled down, which gives
# clean anti-aliased edges at 16 and 32 pixels.
set -euo pipefail
cd "$(dirname "$0")"

shrink() {  # shrink <big.png> <size> <out.png>
    convert "$1" -filter Box -resize "$2x$2" -define png:color-type=6 "PNG32:$3"
}

# An open arc as short round-capped line pieces (this ImageMagick closes stroked arcs, paths
# and polylines with a chord). arc <cx> <cy> <r> <from degrees> <to degrees>; 0 = 3 o'clock,
# angles grow clockwise.
arc() {
    awk -v cx="$1" -v cy="$2" -v r="$3" -v a0="$4" -v a1="$5" 'BEGIN {
        d = 3.14159265 / 180; printf "stroke-linecap round "
        for (a = a0; a < a1; a += 3) {
            b = (a + 3 > a1) ? a1 : a + 3
            printf "line %.1f,%.1f %.1f,%.1f ", cx + r * cos(a * d), cy + r * sin(a * d),
                cx + r * cos(b * d), cy + r * sin(b * d)
        }
    }'
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Program icon: a stopwatch, navy case, white dial, red hand, laid out on a 128 x 128 grid.
# stopwatch <scale> <out.png> draws it scale times larger.
stopwatch() {
    convert -size $((128 * $1))x$((128 * $1)) xc:none -affine "$1,0,0,$1,0,0" \
        -fill '#1d3a8a' -stroke none \
        -draw 'roundrectangle 54,4 74,16 3,3' \
        -draw 'rectangle 59,14 69,26' \
        -draw 'translate 64,72 rotate 45 roundrectangle -6,-62 6,-50 3,3' \
        -fill '#1d3a8a' -draw 'circle 64,72 64,20' \
        -fill '#ffffff' -draw 'circle 64,72 64,30' \
        -stroke '#1d3a8a' -strokewidth 5 \
        -draw 'line 64,34 64,44' -draw 'line 102,72 92,72' \
        -draw 'line 64,110 64,100' -draw 'line 26,72 36,72' \
        -stroke '#d42020' -strokewidth 7 -draw 'line 64,72 88,46' \
        -stroke none -fill '#d42020' -draw 'circle 64,72 64,63' \
        "PNG32:$2"
}
stopwatch 1 "$tmp/rzt.png"
shrink "$tmp/rzt.png" 32 rzt.png
shrink "$tmp/rzt.png" 16 rzt16.png

# The same stopwatch for the desktop's icon theme, drawn at 1024 pixels and scaled down.
stopwatch 8 "$tmp/rzt-big.png"
mkdir -p icons
for size in 16 22 24 32 48 64 128 256; do
    convert "$tmp/rzt-big.png" -resize "${size}x${size}" -define png:color-type=6 \
        -strip "PNG32:icons/rzt-$size.png"
done
# The same sizes for Windows, in one .ico: the program's resource and its setup program.
convert icons/rzt-16.png icons/rzt-24.png icons/rzt-32.png icons/rzt-48.png icons/rzt-64.png \
    icons/rzt-256.png icons/rzt.ico

# Exit: an open door with a green arrow leaving it.
convert -size 64x64 xc:none \
    -fill '#8a5a2b' -stroke '#4a2e12' -strokewidth 3 -draw 'rectangle 6,4 34,60' \
    -fill '#2b1a0a' -stroke none -draw 'rectangle 11,9 29,60' \
    -fill '#c08040' -draw 'polygon 11,9 24,15 24,58 11,60' \
    -fill '#1a9a2a' -stroke '#0c5a14' -strokewidth 2 \
    -draw 'polygon 30,26 46,26 46,16 62,32 46,48 46,38 30,38' \
    "PNG32:$tmp/exit.png"
shrink "$tmp/exit.png" 16 exit.png

# Data: a sheet of readings with a blue arrow coming down onto it.
convert -size 64x64 xc:none \
    -fill '#ffffff' -stroke '#505050' -strokewidth 3 -draw 'rectangle 8,18 48,62' \
    -stroke '#3070c0' -strokewidth 4 \
    -draw 'line 15,32 41,32' -draw 'line 15,42 41,42' -draw 'line 15,52 33,52' \
    -fill '#2060d0' -stroke '#103070' -strokewidth 2 \
    -draw 'polygon 44,2 56,2 56,22 63,22 50,36 37,22 44,22' \
    "PNG32:$tmp/data.png"
shrink "$tmp/data.png" 16 data.png

# Save: a diskette.
convert -size 64x64 xc:none \
    -fill '#2a4fa8' -stroke '#142a60' -strokewidth 3 \
    -draw 'polygon 4,4 52,4 60,12 60,60 4,60' \
    -fill '#c8ccd4' -stroke none -draw 'rectangle 16,6 46,24' \
    -fill '#2a4fa8' -draw 'rectangle 36,9 42,21' \
    -fill '#ffffff' -draw 'rectangle 12,34 52,58' \
    -stroke '#9098a8' -strokewidth 3 -draw 'line 17,42 47,42' -draw 'line 17,50 47,50' \
    "PNG32:$tmp/save.png"
shrink "$tmp/save.png" 16 save.png

# Logo banner: "ZORV RZT" on a dark blue plate with speed streaks.
convert -size 159x40 xc:none \
    \( -size 159x40 gradient:'#27479e'-'#0b1a48' \) -compose over -composite \
    -fill none -stroke '#0b1a48' -strokewidth 1 -draw 'roundrectangle 0,0 158,39 6,6' \
    -stroke '#f0a020' -strokewidth 2 \
    -draw 'line 6,13 26,13' -draw 'line 2,20 24,20' -draw 'line 8,27 26,27' \
    -stroke none -font Liberation-Sans-Bold-Italic -pointsize 22 \
    -fill '#ffffff' -annotate +30+28 'ZORV' \
    -fill '#f0a020' -annotate +99+28 'RZT' \
    -fill '#9fb4e8' -draw 'rectangle 30,32 150,33' \
    \( -size 159x40 xc:black -fill white -draw 'roundrectangle 0,0 158,39 6,6' \) \
    -alpha off -compose copy_opacity -composite \
    "PNG32:logo.png"

# About picture: an abstract stopwatch of rings and arcs on a blue field, 24-bit colour.
convert -size 517x297 gradient:'#0d2463'-'#3a78c9' \
    -fill none -stroke '#ffffff22' -strokewidth 1 \
    -draw 'line 0,60 517,20' -draw 'line 0,140 517,90' -draw 'line 0,230 517,170' \
    -draw 'line 0,280 517,250' \
    -stroke '#f0a020' -strokewidth 6 -draw 'line 330,110 500,110' \
    -stroke '#f0a02099' -strokewidth 4 -draw 'line 345,135 490,135' \
    -stroke '#f0a02055' -strokewidth 3 -draw 'line 360,158 480,158' \
    -stroke none -fill '#0b1a48' \
    -draw 'roundrectangle 190,14 246,36 5,5' -draw 'rectangle 208,34 228,52' \
    -draw 'translate 218,160 rotate 45 roundrectangle -10,-128 10,-108 5,5' \
    -draw 'translate 218,160 rotate -45 roundrectangle -10,-128 10,-108 5,5' \
    -fill '#0b1a48' -draw 'circle 218,160 218,50' \
    -fill '#e8eef8' -draw 'circle 218,160 218,64' \
    -fill none -stroke '#3a78c9' -strokewidth 12 -draw "$(arc 218 160 52 -90 120)" \
    -stroke '#d42020' -strokewidth 12 -draw "$(arc 218 160 72 -90 20)" \
    -stroke '#f0a020' -strokewidth 5 -draw "$(arc 218 160 86 -90 200)" \
    -stroke '#0b1a48' -strokewidth 4 \
    -draw 'line 218,70 218,84' -draw 'line 308,160 294,160' \
    -draw 'line 218,250 218,236' -draw 'line 128,160 142,160' \
    -stroke '#d42020' -strokewidth 5 -draw 'line 218,160 270,104' \
    -stroke none -fill '#d42020' -draw 'circle 218,160 218,150' \
    -fill '#ffffff' -draw 'circle 218,160 218,155' \
    -alpha off -type TrueColor "PNG24:about.png"

echo "artwork written to $(pwd)"
