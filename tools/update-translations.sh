#!/usr/bin/env bash
# Refreshes the English catalogue of the desktop application from its sources:
# texts new in app/ are added, waiting for their translation; texts the code no
# longer has are dropped. Translate the new ones (Qt Linguist, or by hand:
# fill <translation> and remove type="unfinished") and rebuild.
#
#   tools/update-translations.sh              refreshes translations/fornax_en.ts
#   tools/update-translations.sh OTHER.ts     writes the sources' catalogue to OTHER.ts
#
# LUPDATE may name the lupdate to use (Qt 6's; Debian: qt6-l10n-tools).
set -euo pipefail
catalogue=$(realpath -m "${1:-$(dirname "$0")/../translations/fornax_en.ts}")
cd "$(dirname "$0")/.."

lupdate=${LUPDATE:-}
if [ -z "$lupdate" ]; then
  for candidate in /usr/lib/qt6/bin/lupdate "$(command -v lupdate-qt6 || true)" "$(command -v lupdate || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      lupdate=$candidate
      break
    fi
  done
fi
if [ -z "$lupdate" ]; then
  echo "update-translations: lupdate not found (Debian: qt6-l10n-tools)" >&2
  exit 2
fi

# No line numbers and no obsolete entries: the file changes only when texts do.
"$lupdate" -silent -no-obsolete -locations none -no-ui-lines -I . -source-language es -target-language en \
  app -ts "$catalogue"

waiting=$(grep -c 'type="unfinished"' "$catalogue" || true)
if [ "$waiting" -gt 0 ]; then
  echo "update-translations: $waiting text(s) in $catalogue wait for a translation" >&2
fi
