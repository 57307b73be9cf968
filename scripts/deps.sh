# Sourced by scripts/run and scripts/test: installs what the build needs on Debian.
corvane_packages="cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev xvfb xauth fonts-dejavu-core"

corvane_install_missing() {
  local missing=()
  for p in $corvane_packages "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
