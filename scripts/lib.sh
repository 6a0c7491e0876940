# Shared by scripts/run and scripts/test: install what is missing, configure and build.
# Sourced, not run.

LC_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LC_BUILD=${LC_BUILD:-$LC_ROOT/build}

# Every Debian package the project needs to build, test and run.
LC_PACKAGES=(
  g++ cmake ninja-build pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev libswscale-dev libswresample-dev
  libavdevice-dev
  qt6-base-dev libsdl2-dev libopencore-amrnb-dev libgif-dev
  libgtest-dev
  ffmpeg ffmpeg-doc
  xvfb xauth xdotool fonts-noto-cjk imagemagick
  clang clang-format libclang-rt-14-dev
  desktop-file-utils dpkg-dev file
)

lc_install_packages() {
  local missing=()
  local p
  for p in "${LC_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The everyday build: optimised, with line tables only (full debug information nearly doubles
# the build time on a small machine; a debugger still shows files and lines).
LC_MAIN_FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

# lc_build DIR [cmake options...]: configures once, then builds incrementally.
lc_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$LC_ROOT" -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" -j "$(nproc)"
}
