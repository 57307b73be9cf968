# Sourced by scripts/run and scripts/test: installs what the build needs on Debian.
corvane_packages="cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev xvfb xauth fonts-dejavu-core"
# The real-kernel test (QEMU, busybox) and the bus-trace test (sigrok's decoders).
corvane_test_packages="qemu-system-x86 busybox-static sigrok-cli"

corvane_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

corvane_install_missing() {
  local missing=()
  for p in $corvane_packages "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  corvane_sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive corvane_sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Debian's kernel for the real-kernel test: fetched with apt-get download and unpacked into
# a cache, never installed. Only the kernel and the parallel-port modules are kept. Prints
# the folder that holds boot/vmlinuz-* and lib/modules/.
corvane_vm_kernel() {
  local cache="${CORVANE_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvane-vm}"
  local package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  if [ -z "$package" ]; then
    corvane_sudo apt-get update -qq >&2
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  fi
  [ -n "$package" ] || { echo "no linux-image-amd64 in the package lists" >&2; return 1; }
  local dir="$cache/$package"
  if [ ! -e "$dir/.complete" ]; then
    rm -rf "$dir" "$cache/download"
    mkdir -p "$dir" "$cache/download"
    (cd "$cache/download" && apt-get download -q "$package" >&2 2>/dev/null) || {
      echo "apt-get download $package failed" >&2
      return 1
    }
    dpkg-deb --fsys-tarfile "$cache"/download/*.deb | tar -x -C "$dir" --wildcards \
      './boot/vmlinuz-*' '*/drivers/parport/parport.ko*' '*/drivers/parport/parport_pc.ko*' \
      '*/drivers/char/ppdev.ko*' '*/drivers/char/lp.ko*' || return 1
    # Newer kernels compress their modules; busybox's insmod wants them plain.
    find "$dir" -name '*.ko.xz' -exec xz -d {} + 2>/dev/null
    find "$dir" -name '*.ko.zst' -exec zstd -q -d --rm {} + 2>/dev/null
    rm -rf "$cache/download"
    touch "$dir/.complete"
  fi
  echo "$dir"
}
