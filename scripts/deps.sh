# Debian packages the project needs to build, test and run. Sourced by the
# scripts in this folder; installs what is missing when run as root.
LUMORA_DEBS=(
  g++ make cmake pkg-config python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev zlib1g-dev
  qtbase5-dev qtbase5-dev-tools qttools5-dev-tools qt5-qmake
  libarchive-dev libarchive-tools libssl-dev
  xvfb xauth desktop-file-utils fonts-dejavu-core
  qtwayland5 qt5-gtk-platformtheme weston
  librsvg2-bin dpkg-dev file appstream lintian man-db
  libminizip-dev
)

lumora_install_deps() {
  local missing=()
  local p
  for p in "${LUMORA_DEBS[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing missing packages: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "not root: run as root, or install them with: apt-get install ${missing[*]}" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || return 1
  apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
}

lumora_configure_build() {
  # lumora_configure_build <build dir> [cmake args...]
  local dir=$1; shift
  cmake -S "$LUMORA_ROOT" -B "$LUMORA_ROOT/$dir" "$@" >/dev/null || return 1
  cmake --build "$LUMORA_ROOT/$dir" -j "$(nproc)" || return 1
}
