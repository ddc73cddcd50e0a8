#!/usr/bin/env bash
# Runs the library's main job on the samples shipped in samples/: converts a scene into the
# QOV formats and shows what the results hold.
set -euo pipefail
BUILD=${1:-build/release}
cd "$(dirname "$0")/.."
QOVTOOL="$BUILD/qovtool"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
"$QOVTOOL" --version
echo
# An OBJ scene into a version-6 binary file, that into ASCII and an encrypted copy.
"$QOVTOOL" convert samples/cube.obj "$OUT/cube.qov"
"$QOVTOOL" convert "$OUT/cube.qov" "$OUT/cube_ascii.qov" --ascii
"$QOVTOOL" convert "$OUT/cube.qov" "$OUT/cube_secret.qov" --encrypted --password demo
"$QOVTOOL" convert "$OUT/cube.qov" "$OUT/cube.obj"
for result in cube.qov cube_ascii.qov cube_secret.qov; do
  echo
  echo "== $result"
  "$QOVTOOL" info "$OUT/$result" --password demo
done
# The same small field tree as a binary file with a Summary part, as ASCII text and
# enciphered (samples/ was written by tests/programs/write_field_sample).
for sample in samples/scene.qov samples/scene_ascii.qov samples/scene_encrypted.qov; do
  echo
  "$QOVTOOL" dump "$sample"
done
