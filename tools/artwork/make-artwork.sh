#!/usr/bin/env bash
# Draws the setup's skin images and icon with ImageMagick and writes them into res/.
# Every PNG is an opaque 8-bit palette image at the exact size the skin code expects: the 1x
# set for 96 DPI, and the same drawings at 1.5x and 2x (suffixes -150 and -200) for 144 and
# 192 DPI, whose sizes the skin code derives by the same rounding (half away from zero).
# Rerun after changing the artwork and commit the results.
set -euo pipefail
cd "$(dirname "$0")/../../res"
IM=/usr/bin/convert
[ -x "$IM" ] || { echo "needs ImageMagick (apt-get install imagemagick)" >&2; exit 1; }

P=100  # the scale being drawn, in percent
S() { echo $(( ($1 * P + 50) / 100 )); }          # a 1x length at this scale
W() { awk -v v="$1" -v p="$P" 'BEGIN { print v * p / 100 }'; }  # a stroke width, unrounded

finish() { # file: flatten onto white and store as an opaque 8-bit palette PNG
    # Near-white that the palette reduction leaves is made pure white again, so the images
    # melt into the white page. The larger sets are reduced without dithering: their smooth
    # gradients then compress to half the size, which keeps the setup within its size budget.
    local dither=()
    [ "$P" = 100 ] || dither=(+dither)
    "$IM" "$1" -background white -alpha remove -alpha off "${dither[@]}" -colors 255 \
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

# Button strips: cells of normal, hover (brighter) and pressed (darker, flat) blue buttons.
button_cell() { # w h top bottom border output
    local w=$1 h=$2 out=$6 b
    b=$(S 1)
    "$IM" -size "${w}x${h}" xc:white \
        \( -size "$(( w - 2 * b ))x$(( h - 2 * b ))" gradient:"$3-$4" \) -geometry "+$b+$b" -composite \
        -fill none -stroke "$5" -strokewidth "$(W 1)" \
        -draw "roundrectangle 0,0 $(( w - 1 )),$(( h - 1 )) $(S 4),$(S 4)" \
        "$out"
}
strip() { # w h output (1x sizes)
    local w h out=$3
    w=$(S "$1"); h=$(S "$2")
    button_cell "$w" "$h" '#5aa5f0' '#2a6fc9' '#1d58a6' /tmp/velmarin-c0.png
    button_cell "$w" "$h" '#7dbbff' '#3f86e0' '#2a6fc9' /tmp/velmarin-c1.png
    button_cell "$w" "$h" '#2462b5' '#2462b5' '#16447f' /tmp/velmarin-c2.png
    "$IM" /tmp/velmarin-c0.png /tmp/velmarin-c1.png /tmp/velmarin-c2.png +append "$out"
    finish "$out"
}

skin_set() { # suffix
    local x=$1
    # 206: large illustration, 247 x 239, globe with a sail-shaped swoosh on white.
    globe "$(S 220)" /tmp/velmarin-globe.png
    "$IM" -size "$(S 247)x$(S 239)" xc:white /tmp/velmarin-globe.png -geometry "+$(S 14)+$(S 6)" -composite \
        -fill none -stroke '#3e79c9' -strokewidth "$(S 5)" \
        -draw "arc $(S 10),$(S 150) $(S 240),$(S 236) 190,350" \
        "png/illustration$x.png"
    finish "png/illustration$x.png"

    # 213: logo, 60 x 58.
    globe "$(S 56)" /tmp/velmarin-logo.png
    "$IM" -size "$(S 60)x$(S 58)" xc:white /tmp/velmarin-logo.png -geometry "+$(S 2)+$(S 1)" -composite \
        "png/logo$x.png"
    finish "png/logo$x.png"

    # 225: progress fill piece, 7 x 14: left cap (0-2), stretchable middle (3), right cap (4-6).
    local fw fh
    fw=$(S 7); fh=$(S 14)
    "$IM" -size "${fw}x${fh}" gradient:'#7cc3ff-#1f6fd1' \
        -fill '#1656a8' -draw "point 0,0 point 0,$(( fh - 1 )) point $(( fw - 1 )),0 point $(( fw - 1 )),$(( fh - 1 ))" \
        -fill '#3f8fe6' -draw "line 0,1 0,$(( fh - 2 )) line $(( fw - 1 )),1 $(( fw - 1 )),$(( fh - 2 ))" \
        "png/progress-fill$x.png"
    finish "png/progress-fill$x.png"

    # 226: progress trough, 484 x 46: rounded frame at x 16..467, y 16..29, border RGB(152,192,237).
    local left right bottom
    left=$(S 16); right=$(( left + $(S 452) - 1 )); bottom=$(( left + $(S 14) - 1 ))
    "$IM" -size "$(S 484)x$(S 46)" xc:white \
        \( -size "$(( right - left - 1 ))x$(( bottom - left - 1 ))" gradient:'#f4f4f4-#dcdcdc' \) \
        -geometry "+$(( left + 1 ))+$(( left + 1 ))" -composite \
        -fill none -stroke 'rgb(152,192,237)' -strokewidth "$(W 1)" \
        -draw "roundrectangle $left,$left $right,$bottom $(S 3),$(S 3)" \
        "png/progress-trough$x.png"
    finish "png/progress-trough$x.png"

    strip 77 26 "png/button-small$x.png"
    strip 138 40 "png/button-large$x.png"
    strip 117 33 "png/button-medium$x.png"
}

P=100; skin_set ""
P=150; skin_set "-150"
P=200; skin_set "-200"

# Icon group 128: the globe at 16, 32 and 48 pixels.
globe 48 /tmp/velmarin-icon48.png
"$IM" /tmp/velmarin-icon48.png \( -clone 0 -resize 32x32 \) \( -clone 0 -resize 16x16 \) velmarin.ico

rm -f /tmp/velmarin-*.png
for f in png/*.png; do "$IM" identify -format '%f %wx%h %[type]\n' "$f" 2>/dev/null || identify -format '%f %wx%h %[type]\n' "$f"; done
