#!/usr/bin/env bash
# Installs the Debian packages Modrin builds and tests with. Idempotent: packages already
# present are left alone and apt is not touched when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  clang libclang-rt-14-dev          # libFuzzer and the sanitizer runtimes for clang
  libjpeg62-turbo-dev libpng-dev libtiff-dev libopenjp2-7-dev libgif-dev libexif-dev
  libgraphicsmagick1-dev
  libeigen3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libceres-dev                      # Ceres Solver: the joint refinement of poses and points
  libjpeg-turbo-progs               # djpeg, the yardstick of the JPEG decoding benchmark
  locales                           # the tests check that files come out the same in German
  assimp-utils                      # an independent reader the exported models must load in
  libtinygltf-dev                   # the glTF 2.0 writer
  libjs-three                       # three.js, the viewer the web export copies beside its page
  chromium                          # the browser the exported web page is opened in by the tests
  qt6-base-dev libqt6opengl6-dev qt6-qpa-plugins   # the desktop program (Qt 6 Widgets, xcb)
  libgl-dev libglu1-mesa-dev fonts-dejavu-core
  libgl1-mesa-dri                   # Mesa's software renderer: the 3D view on a virtual display
  libx11-dev                        # the Caps Lock state from the X server
  xvfb xauth xdotool x11-utils      # the desktop program's test on a virtual display
  dpkg-dev lintian desktop-file-utils appstream man-db   # building and checking the package
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi

if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Node.js and npm run the checkers of the exported files (Khronos' glTF validator, the browser
# driver). A machine that has them from elsewhere keeps its own.
if ! command -v npm >/dev/null 2>&1; then
  echo "Installing: nodejs npm"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends nodejs npm
fi
js_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/js"
if [[ ! -f "$js_dir/node_modules/.package-lock.json" ||
      "$js_dir/package-lock.json" -nt "$js_dir/node_modules/.package-lock.json" ]]; then
  echo "Installing the export checkers (npm ci in tests/js)"
  (cd "$js_dir" && npm ci --no-audit --no-fund --loglevel=error)
fi

# A German locale, whose decimal comma the file-format tests write under.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "Generating the de_DE.UTF-8 locale"
  $sudo sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
