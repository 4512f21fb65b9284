#!/usr/bin/env bash
# Builds the screenshot tool on the program's own libraries, runs a comparison in the real
# main window over a small demonstration tree, and saves the main window at first start,
# during the comparison and after it, the preview with a deletion unticked, the
# synchronisation that follows it and its report, and the help window, as
# docs/premier-demarrage.png, docs/comparaison-en-cours.png, docs/fenetre-principale.png,
# docs/apercu.png, docs/synchronisation-en-cours.png, docs/bilan.png and docs/aide.png.
# Needs no display: the windows
# are drawn off screen (or under Xvfb with JUMELIX_CAPTURES_XVFB=1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${JUMELIX_CAPTURES_BUILD:-build-captures}
cmake -S scripts/captures -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target captures -j "${JOBS:-2}"
mkdir -p docs
if [[ ${JUMELIX_CAPTURES_XVFB:-0} == 1 ]]; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$build/captures" docs
else
  QT_QPA_PLATFORM=offscreen "$build/captures" docs
fi
echo "Images écrites : docs/premier-demarrage.png docs/comparaison-en-cours.png" \
  "docs/fenetre-principale.png docs/apercu.png docs/synchronisation-en-cours.png" \
  "docs/bilan.png docs/aide.png"
