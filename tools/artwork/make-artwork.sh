#!/usr/bin/env bash
# Draws the setup's skin images and icon with ImageMagick and writes them into res/.
# Every PNG is an opaque 8-bit palette image at the exact size the skin code expects.
# Rerun after changing the artwork and commit the results.
set -euo pipefail
cd "$(dirname "$0")/../../res"
IM=/usr/bin/convert
[ -x "$IM" ] || { echo "needs ImageMagick (apt-get install imagemagick)" >&2; exit 1; }

finish() { # file: flatten onto white and store as an opaque 8-bit palette PNG
    # Near-white that the palette reduction leaves is made pure white again, so the images
    # melt into the white page.
    "$IM" "$1" -background white -alpha remove -alpha off -colors 255 \
        -fuzz 1% -fill white -opaque white -strip "PNG8:$1"
}

# The globe: a blue sphere with a lighter highlight, meridians and parallels, and a ring.
globe() { # size output
    local s=$1 out=$2 r c
    c=$(( s / 2 )); r=$(( s * 46 / 100 ))
    "$IM" -size "${s}x${s}" xc:white \
        \( -size "${s}x${s}" radial-gradient:'#8fd0ff-#1a5fb4' \) \
        \( -size "${s}x${s}" xc:black -fill white -draw "circle $c,$c $c,$(( c - r ))" \) \
        -composite \
        -fill none -stroke '#d8efff' -strokewidth "$(( s / 60 + 1 ))" \
        -draw "ellipse $c,$c $(( r / 3 )),$r 0,360" \
        -draw "ellipse $c,$c $(( r * 2 / 3 )),$r 0,360" \
        -draw "line $c,$(( c - r )) $c,$(( c + r ))" \
        -draw "line $(( c - r )),$c $(( c + r )),$c" \
        -draw "ellipse $c,$(( c - r / 2 )) $(( r * 87 / 100 )),$(( r / 6 )) 0,360" \
        -draw "ellipse $c,$(( c + r / 2 )) $(( r * 87 / 100 )),$(( r / 6 )) 0,360" \
        -stroke '#0e3f80' -strokewidth "$(( s / 80 + 1 ))" \
        -draw "circle $c,$c $c,$(( c - r ))" \
        "$out"
}

# 206: large illustration, 247 x 239, globe with a sail-shaped swoosh on white.
globe 220 /tmp/velmarin-globe.png
"$IM" -size 247x239 xc:white /tmp/velmarin-globe.png -geometry +14+6 -composite \
    -fill none -stroke '#3e79c9' -strokewidth 5 -draw "arc 10,150 240,236 190,350" \
    png/illustration.png
finish png/illustration.png

# 213: logo, 60 x 58.
globe 56 /tmp/velmarin-logo.png
"$IM" -size 60x58 xc:white /tmp/velmarin-logo.png -geometry +2+1 -composite png/logo.png
finish png/logo.png

# 225: progress fill piece, 7 x 14: left cap (0-2), stretchable middle (3), right cap (4-6).
"$IM" -size 7x14 gradient:'#7cc3ff-#1f6fd1' \
    -fill '#1656a8' -draw "point 0,0 point 0,13 point 6,0 point 6,13" \
    -fill '#3f8fe6' -draw "line 0,1 0,12 line 6,1 6,12" \
    png/progress-fill.png
finish png/progress-fill.png

# 226: progress trough, 484 x 46: rounded frame at x 16..467, y 16..29, border RGB(152,192,237).
"$IM" -size 484x46 xc:white \
    \( -size 450x12 gradient:'#f4f4f4-#dcdcdc' \) -geometry +17+17 -composite \
    -fill none -stroke 'rgb(152,192,237)' -strokewidth 1 \
    -draw "roundrectangle 16,16 467,29 3,3" \
    png/progress-trough.png
finish png/progress-trough.png

# Button strips: cells of normal, hover (brighter) and pressed (darker, flat) blue buttons.
button_cell() { # w h top bottom border output [flat]
    local w=$1 h=$2 out=$6
    "$IM" -size "${w}x${h}" xc:white \
        \( -size "$(( w - 2 ))x$(( h - 2 ))" gradient:"$3-$4" \) -geometry +1+1 -composite \
        -fill none -stroke "$5" -strokewidth 1 -draw "roundrectangle 0,0 $(( w - 1 )),$(( h - 1 )) 4,4" \
        "$out"
}
strip() { # w h output
    local w=$1 h=$2 out=$3
    button_cell "$w" "$h" '#5aa5f0' '#2a6fc9' '#1d58a6' /tmp/velmarin-c0.png
    button_cell "$w" "$h" '#7dbbff' '#3f86e0' '#2a6fc9' /tmp/velmarin-c1.png
    button_cell "$w" "$h" '#2462b5' '#2462b5' '#16447f' /tmp/velmarin-c2.png
    "$IM" /tmp/velmarin-c0.png /tmp/velmarin-c1.png /tmp/velmarin-c2.png +append "$out"
    finish "$out"
}
strip 77 26 png/button-small.png
strip 138 40 png/button-large.png
strip 117 33 png/button-medium.png

# Icon group 128: the globe at 16, 32 and 48 pixels.
globe 48 /tmp/velmarin-icon48.png
"$IM" /tmp/velmarin-icon48.png \( -clone 0 -resize 32x32 \) \( -clone 0 -resize 16x16 \) velmarin.ico

rm -f /tmp/velmarin-*.png
for f in png/*.png; do "$IM" identify -format '%f %wx%h %[type]\n' "$f" 2>/dev/null || identify -format '%f %wx%h %[type]\n' "$f"; done
