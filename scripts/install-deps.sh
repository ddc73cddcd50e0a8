#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only those that are absent.
set -euo pipefail

PACKAGES=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nettle-dev zlib1g-dev libtiff-dev libtiff-tools
  lib3ds-dev clang xxd locales
  libtinyobjloader-dev  # tests and benchmarks only: an independent OBJ reader
  python3  # .ci/run: the checks of file-local names and of thread_local types
  python3-ezdxf  # tests only: audits the drawings the writer writes
  libdxflib-dev  # benchmarks only: the reference drawing parser
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

ensure_comma_locale() {
  # The tests check that no number text follows a comma-decimal locale.
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_comma_locale
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
ensure_comma_locale
