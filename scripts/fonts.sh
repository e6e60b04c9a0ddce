#!/usr/bin/env bash
# Puts the application's type faces and symbol images into resources/, where the build bundles them:
# JetBrains Mono from Debian's fonts-jetbrains-mono, Inter and Space Grotesk from the npm font
# packages of Google Fonts, and the symbol SVGs of bootstrap-icons. None of these files is committed.
# Quick and quiet when everything is already in place.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/lib.sh"

fonts=$root/resources/Fonts
icons=$root/resources/Icons
# npm packages go into a private folder of the checkout (ignored by git), never globally.
npm_dir=$root/.cache/assets

# Exact versions, so every machine bundles the same glyphs.
npm_packages=(@expo-google-fonts/inter@0.4.2 @expo-google-fonts/space-grotesk@0.4.1 bootstrap-icons@1.13.2)

# Each face the design asks for, one static file per weight: destination name and source.
jetbrains=/usr/share/fonts/truetype/jetbrains-mono
font_sources=(
    "JetBrainsMono-Regular.ttf=$jetbrains/JetBrainsMono-Regular.ttf"
    "JetBrainsMono-Medium.ttf=$jetbrains/JetBrainsMono-Medium.ttf"
    "Inter-Regular.ttf=$npm_dir/node_modules/@expo-google-fonts/inter/400Regular/Inter_400Regular.ttf"
    "Inter-Medium.ttf=$npm_dir/node_modules/@expo-google-fonts/inter/500Medium/Inter_500Medium.ttf"
    "Inter-SemiBold.ttf=$npm_dir/node_modules/@expo-google-fonts/inter/600SemiBold/Inter_600SemiBold.ttf"
    "SpaceGrotesk-SemiBold.ttf=$npm_dir/node_modules/@expo-google-fonts/space-grotesk/600SemiBold/SpaceGrotesk_600SemiBold.ttf"
)

# The bootstrap-icons drawings that stand in for the symbol names the screens use (the table in
# src/app/design/Symbols.cpp; a test checks that every name there has its file).
icon_names=(
    arrow-clockwise arrow-down-circle arrow-repeat arrow-up-right box-seam check-square-fill
    chevron-down chevron-left chevron-right circle-half copy cpu database-check device-hdd disc
    exclamation-circle exclamation-triangle filter-circle hdd memory moon plus-lg square stack sun
    three-dots trash3
)

complete() {
    local entry name
    for entry in "${font_sources[@]}"; do
        [ -s "$fonts/${entry%%=*}" ] || return 1
    done
    for name in "${icon_names[@]}"; do
        [ -s "$icons/$name.svg" ] || return 1
    done
}

complete && exit 0

apt_install fonts-jetbrains-mono
if ! command -v npm >/dev/null 2>&1; then
    apt_install npm
fi

need_npm=0
for entry in "${font_sources[@]}"; do
    [ -s "${entry#*=}" ] || need_npm=1
done
for name in "${icon_names[@]}"; do
    [ -s "$npm_dir/node_modules/bootstrap-icons/icons/$name.svg" ] || need_npm=1
done
if [ "$need_npm" = 1 ]; then
    echo "==> fetching ${npm_packages[*]}"
    mkdir -p "$npm_dir"
    # A package.json of its own keeps npm from walking up to some other project's.
    [ -f "$npm_dir/package.json" ] || echo '{"private": true}' > "$npm_dir/package.json"
    (cd "$npm_dir" && npm install --no-save --no-audit --no-fund --loglevel=error --prefix "$npm_dir" "${npm_packages[@]}" >/dev/null)
fi

mkdir -p "$fonts" "$icons"
for entry in "${font_sources[@]}"; do
    source=${entry#*=}
    if [ ! -s "$source" ]; then
        echo "fonts.sh: $source is missing after installing the font packages" >&2
        exit 1
    fi
    cp "$source" "$fonts/${entry%%=*}"
done
for name in "${icon_names[@]}"; do
    cp "$npm_dir/node_modules/bootstrap-icons/icons/$name.svg" "$icons/$name.svg"
done
cp "$npm_dir/node_modules/@expo-google-fonts/inter/LICENSE_FONT" "$fonts/LICENSE-Inter.txt"
cp "$npm_dir/node_modules/@expo-google-fonts/space-grotesk/LICENSE_FONT" "$fonts/LICENSE-SpaceGrotesk.txt"
cp /usr/share/doc/fonts-jetbrains-mono/copyright "$fonts/LICENSE-JetBrainsMono.txt"
cp "$npm_dir/node_modules/bootstrap-icons/LICENSE" "$icons/LICENSE-bootstrap-icons.txt"
echo "==> fonts and symbols are in resources/Fonts and resources/Icons"
