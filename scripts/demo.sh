#!/usr/bin/env bash
# Runs the library's main job on the sample shipped in samples/.
set -euo pipefail
BUILD=${1:-build/release}
"$BUILD/qovtool" info
