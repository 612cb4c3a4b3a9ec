#!/usr/bin/env bash
# Makes the README's pictures: runs the roads of the test suite that photograph every page (the
# uninstaller's too) and copies the pictures into docs/.
source "$(dirname "$0")/env.sh"
"$ROOT/tools/test.sh" -R 'QuickInstall.TickedThenRunNow|CustomInstall.FolderChecksAndTheWayBack|ExistingInstall|Uninstall.AnInstallationUpdatedTwice|Pages.EveryPageIsSkinnedAlikeAtEveryScale|^Startup.AtOneHundredAndFiftyPercent'
mkdir -p "$ROOT/docs"
for page in welcome custom upgrade downgrade licence privacy progress finish; do
    for picture in "$page" "$page-150" "$page-200"; do
        cp "$BUILD/screenshots/$picture.png" "$ROOT/docs/$picture.png"
    done
done
for picture in uninstall-question uninstall-done setup-150; do
    cp "$BUILD/screenshots/$picture.png" "$ROOT/docs/$picture.png"
done
echo "Pictures of the eight pages (at 100, 150 and 200 %), the setup at 150 % and the uninstaller are in docs/."
