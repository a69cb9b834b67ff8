#!/usr/bin/env bash
# Fails when a source file reaches another layer by a relative include path, or
# when a lower layer names a header that only a higher layer has.
set -u
root=${1:-.}
cd "$root" || exit 2
status=0
if grep -rnE '#include[[:space:]]+"\.\./' app store imaging viewer engine tools bench 2>/dev/null; then
  echo "relative includes across folders are not allowed"
  status=1
fi
# Qt widgets belong to the shell and the viewer only; the engine knows no Qt at all.
if grep -rnE '#include[[:space:]]*<Q' engine 2>/dev/null; then
  echo "the engine must not use Qt"
  status=1
fi
if grep -rnE '#include[[:space:]]*<(QWidget|QMainWindow|QDialog|QMessageBox|QListView|QtWidgets)' store imaging 2>/dev/null; then
  echo "the image store and imaging must not use Qt widgets"
  status=1
fi
exit $status
