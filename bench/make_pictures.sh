#!/usr/bin/env bash
# Makes the benchmark pictures from real photographs shipped in two Debian packages
# (mate-backgrounds and lomiri-wallpapers-20.04, fetched with `apt-get download`, never
# installed):
#   data/large/picture1.jpg … picture9.jpg   4000 × 3000, quality 90, baseline, 4:2:0
#   data/grain/picture1.jpg … picture9.jpg   the same nine with camera-like luminance grain
#   data/small/picture1.jpg … picture9.jpg   800 × 600, quality 90, baseline, 4:2:0
#   data/empty/                              no pictures at all
#   data/formats/                            picture 1 as BMP, PNG, GIF and TGA, for the
#                                            per-format micro-benchmarks
# Every photo is scaled to cover the frame and cropped about its centre. The grain is seeded
# per picture, so the same package versions and ImageMagick give the same bytes every time.
# Usage: bench/make_pictures.sh [output folder]   (default: bench/data)
# Needs apt-get, dpkg-deb and ImageMagick (scripts/setup.sh bench installs ImageMagick).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/data}

# Pinned so the set stays the same; the checksums tell when a mirror serves other bytes.
packages=(mate-backgrounds=1.26.0-1 lomiri-wallpapers-20.04=20.04.0-2)
declare -A checksums=(
  [mate-backgrounds]=7bf4c2209f34b4f61ba6d24c8b58c28b361e82e4b943aae6d42c030169af9e04
  [lomiri-wallpapers-20.04]=d44e89b8473aafe64a5b678f014862dc31335aaaf18665c544d985d854f1a709
)
# Nine photographs (no renders or drawings: those compress unlike camera pictures), largest
# first where there is a choice. Most are 2560 × 1600 and are enlarged; the grain set puts back
# the fine detail an enlargement smooths away.
sources=(
  usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg
  usr/share/backgrounds/mate/nature/Garden.jpg
  usr/share/backgrounds/mate/nature/LadyBird.jpg
  usr/share/backgrounds/mate/nature/Aqua.jpg
  usr/share/backgrounds/mate/nature/TwoWings.jpg
  usr/share/backgrounds/mate/nature/YellowFlower.jpg
  usr/share/backgrounds/mate/nature/Wood.jpg
  usr/share/backgrounds/mate/nature/Storm.jpg
  usr/share/backgrounds/mate/nature/RainDrops.jpg
)
# Standard deviation of the grain layer, as ImageMagick's noise attenuation: about 6 grey levels,
# which brings a q90 file to 4–5 MB, where 12-megapixel camera JPEGs are.
grain=0.8

convert=convert
command -v convert-im6.q16 >/dev/null 2>&1 && convert=convert-im6.q16
for tool in apt-get dpkg-deb sha256sum "$convert"; do
  command -v "$tool" >/dev/null 2>&1 || { echo "make_pictures.sh: needs $tool" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$work"
  # apt-get download needs package lists; a fresh machine may not have them yet.
  if ! apt-get download -q "${packages[@]}" >/dev/null 2>&1; then
    as_root=()
    [[ $(id -u) -eq 0 ]] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    apt-get download -q "${packages[@]}" >/dev/null
  fi
  for deb in ./*.deb; do
    name=$(dpkg-deb -f "$deb" Package)
    sum=$(sha256sum "$deb" | cut -d' ' -f1)
    if [[ "${checksums[$name]:-}" != "$sum" ]]; then
      echo "make_pictures.sh: warning: $deb differs from the package the figures were measured" \
           "with; the pictures will differ too" >&2
    fi
    dpkg-deb -x "$deb" root
  done
)

mkdir -p "$out/large" "$out/grain" "$out/small" "$out/empty" "$out/formats"
jpeg=(-strip -quality 90 -sampling-factor 2x2 -interlace none)
for n in 1 2 3 4 5 6 7 8 9; do
  source=$work/root/${sources[$((n - 1))]}
  [[ -f "$source" ]] || { echo "make_pictures.sh: $source is missing" >&2; exit 1; }
  # The frame filled, then the middle kept.
  fit=(-filter Lanczos -resize 4000x3000^ -gravity center -extent 4000x3000 +repage)
  "$convert" "$source" "${fit[@]}" "${jpeg[@]}" "$out/large/picture$n.jpg"
  # Grain: a grey noise layer around mid-grey, added to the photo (result = photo + noise − ½).
  "$convert" "$source" "${fit[@]}" \
    \( +clone -fill gray50 -colorize 100 -seed "$n" -attenuate "$grain" +noise Gaussian \
       -colorspace gray \) \
    -compose mathematics -define compose:args=0,1,1,-0.5 -composite \
    "${jpeg[@]}" "$out/grain/picture$n.jpg"
  "$convert" "$source" -filter Lanczos -resize 800x600^ -gravity center -extent 800x600 +repage \
    "${jpeg[@]}" "$out/small/picture$n.jpg"
done

# Picture 1 (grain version: real pictures carry it) in the other formats the program opens.
# BMP, PNG and GIF at 4000 × 3000 (what a camera picture becomes after conversion); TGA at
# 2048 × 2048 with 24 bits, uncompressed (image type 2) and run-length encoded (type 10).
formats=$out/formats
"$convert" "$out/grain/picture1.jpg" -type TrueColor "BMP3:$formats/picture.bmp"
"$convert" "$out/grain/picture1.jpg" -define png:compression-level=6 "PNG24:$formats/picture.png"
"$convert" "$out/grain/picture1.jpg" -colors 256 "$formats/picture.gif"
"$convert" "$out/grain/picture1.jpg" -resize 2048x2048! -type TrueColor -compress None \
  "$formats/picture-raw.tga"
"$convert" "$out/grain/picture1.jpg" -resize 2048x2048! -type TrueColor -compress RLE \
  "$formats/picture-rle.tga"
cp "$out/small/picture1.jpg" "$formats/small.jpg"
cp "$out/large/picture1.jpg" "$formats/large.jpg"
cp "$out/grain/picture1.jpg" "$formats/grain.jpg"

du -sh "$out/large" "$out/grain" "$out/small" "$out/formats"
