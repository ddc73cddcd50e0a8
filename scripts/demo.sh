#!/usr/bin/env bash
# Runs the library's main job on the samples shipped in samples/.
set -euo pipefail
BUILD=${1:-build/release}
cd "$(dirname "$0")/.."
"$BUILD/qovtool" info
# The same small field tree as a binary file with a Summary part, as ASCII text and
# enciphered (samples/ was written by tests/programs/write_field_sample).
for sample in samples/scene.qov samples/scene_ascii.qov samples/scene_encrypted.qov; do
  echo
  "$BUILD/qovtool" dump "$sample"
done
