#!/usr/bin/env bash
# Set-up, build, run and test in one place. Works on a fresh Debian 12 machine
# as root: whatever Debian packages are missing are installed first.
#   ./dev.sh run     build the program and start it
#   ./dev.sh test    build the sanitizer configuration and run every test
#   ./dev.sh build   build the program only
#   ./dev.sh bench   build the benchmarks (release configuration)
#   ./dev.sh package build the Debian package build/package/pixhold_VERSION-1_ARCH.deb
#   ./dev.sh screenshots  remake docs/images/*.png under Xvfb (dist/screenshots.sh)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libqt6opengl6-dev libgl-dev fonts-dejavu-core
  libjpeg62-turbo-dev libpng-dev libgif-dev zlib1g-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  xvfb xauth ccache
  imagemagick libmagickcore-6.q16-6-extra python3-pil libjpeg-turbo-progs
  # Installing and packaging, and their checks: the desktop entry, the
  # AppStream metadata, the manual pages, dpkg-shlibdeps and CPack's use of file.
  desktop-file-utils appstream man-db dpkg-dev file
)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

jobs() { nproc 2>/dev/null || echo 2; }

configure() {  # configure <dir> <cmake args...>
  local dir=$1; shift
  if [[ ! -f $dir/build.ninja ]]; then
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@"
  fi
}

build_release() {
  configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXHOLD_TESTS=OFF
  cmake --build build/release -j "$(jobs)"
}

build_test() {
  configure build/test -DCMAKE_BUILD_TYPE=Debug -DPIXHOLD_SANITIZE=ON -DPIXHOLD_WERROR=ON \
    -DPIXHOLD_BENCH=OFF
  cmake --build build/test -j "$(jobs)"
}

cmd=${1:-}
case "$cmd" in
  run)
    install_missing
    build_release
    if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
      echo "No display found: starting Pixhold under Xvfb (a virtual display)."
      exec xvfb-run -a -s "-screen 0 1280x1024x24" build/release/pixhold
    fi
    exec build/release/pixhold
    ;;
  test)
    install_missing
    build_test
    export QT_QPA_PLATFORM=offscreen
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    ctest --test-dir build/test --output-on-failure -j "$(jobs)" --timeout 1500
    ;;
  build)
    install_missing
    build_release
    ;;
  bench)
    install_missing
    build_release
    ls build/release/bench/bench_* 2>/dev/null || true
    ;;
  package)
    install_missing
    build_release
    rm -rf build/package
    cpack --config build/release/CPackConfig.cmake -B build/package
    rm -rf build/package/_CPack_Packages
    ls build/package/pixhold_*.deb
    ;;
  screenshots)
    install_missing
    build_release
    exec dist/screenshots.sh build/release docs/images
    ;;
  *)
    echo "usage: ./dev.sh run|test|build|bench|package|screenshots" >&2
    exit 2
    ;;
esac
