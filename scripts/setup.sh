#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build needs, only those that are missing; further
# packages named as arguments join them (the fuzzing build adds its compiler).
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # Command lines and JSON.
  libcli11-dev nlohmann-json3-dev
  # Production checks: the history and the plan files.
  libsqlite3-dev libtomlplusplus-dev
  # The tests read the JUnit reports back and check the JSON report against its schema.
  libxml2-dev python3 python3-jsonschema
  # The window; offscreen rendering draws text only with a font installed, and the
  # device window's grid needs a narrow one. Qt's charts need the OpenGL module's CMake
  # files, which Debian's charts package does not pull in.
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core fonts-dejavu-extra
  # The install and package tests check the desktop entry, the package (lintian) and the
  # AppStream metadata; cpack reads the package's dependencies; the window is shown on a
  # virtual X server to read its icon back.
  desktop-file-utils dpkg-dev lintian appstream xvfb x11-utils
  # CI compiles the programs with clang too.
  clang
  # Publishing to an MQTT broker; the tests start their own broker and make a certificate.
  libmosquitto-dev nlohmann-json3-dev mosquitto mosquitto-clients openssl
  # A line's central history in PostgreSQL (libpq); the tests start their own server.
  libpq-dev postgresql
  # The captures' tests read them with tshark and capinfos and the bench's dissectors.
  tshark "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
