#!/usr/bin/env bash
# Installs the Debian packages Voskel builds with. Quiet and quick when all are present.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/lib.sh"

apt_install \
    g++ cmake ninja-build pkg-config git \
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libpng-dev libxcb1-dev \
    qcoro-qt6-dev libyaml-cpp-dev \
    libgtest-dev libgmock-dev libbenchmark-dev \
    dbus-daemon dbus-x11 xvfb

# The fonts and symbol drawings the build bundles.
bash "$here/fonts.sh"
