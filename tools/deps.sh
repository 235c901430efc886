# Installs, with apt-get, whatever the build and the tests need and this machine lacks.
# Sourced by run.sh and test.sh; needs root on a fresh Debian 12 machine.
orvane_packages=(
  g++ cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libjpeg-turbo-progs libvorbis-dev libogg-dev
  libsdl2-dev libfreetype-dev libfontconfig-dev fonts-ipafont
  xvfb xauth xdotool x11-apps
  clang libclang-rt-14-dev
  libpixman-1-dev
  liblua5.4-dev lua5.4
  sox
  libmpg123-dev lame twolame vorbis-tools
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
  libfluidsynth-dev timgm6mb-soundfont
)

orvane_install_deps() {
  local missing=()
  local p
  for p in "${orvane_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

orvane_jobs() {
  nproc 2>/dev/null || echo 2
}
