#!/usr/bin/env bash
# Makes the README's pictures: runs the roads of the test suite that photograph every page (the
# uninstaller's too) and copies the pictures into docs/.
source "$(dirname "$0")/env.sh"
"$ROOT/tools/test.sh" -R 'QuickInstall.TickedThenRunNow|CustomInstall.FolderChecksAndTheWayBack|ExistingInstall|Uninstall.AnInstallationUpdatedTwice'
mkdir -p "$ROOT/docs"
for page in welcome custom upgrade downgrade licence privacy progress finish uninstall-question uninstall-done; do
    cp "$BUILD/screenshots/$page.png" "$ROOT/docs/$page.png"
done
echo "Pictures of the eight pages and the uninstaller are in docs/."
