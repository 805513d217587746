#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo pass their validators without errors or
# warnings.
#   desktop_test.sh SOURCE_DIR
set -uo pipefail
data=$1/data
failures=0
output=$(desktop-file-validate "$data/zorvane.desktop" 2>&1) || failures=$((failures + 1))
if grep -qE 'error|warning' <<< "$output"; then failures=$((failures + 1)); fi
[ -z "$output" ] || echo "$output"
appstreamcli validate --no-net "$data/invalid.zorvane.zorvane.metainfo.xml" || failures=$((failures + 1))
# The metainfo launches the desktop entry that is installed.
grep -q '<launchable type="desktop-id">zorvane.desktop</launchable>' \
  "$data/invalid.zorvane.zorvane.metainfo.xml" || { echo "FAIL: launchable"; failures=$((failures + 1)); }
exit $((failures != 0))
