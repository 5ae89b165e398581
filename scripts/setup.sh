#!/usr/bin/env bash
# Installs, non-interactively, every Debian package the build and the tests
# need; with "bench", the benchmarks' yardsticks as well. Returns at once when
# everything is already there.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  cmake ninja-build make g++ clang libclang-rt-14-dev googletest python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  libgcrypt20-dev libgcrypt-mingw-w64-dev
  wine wine64 xvfb xauth x11-utils fonts-ipafont-gothic locales imagemagick
  pandoc weasyprint poppler-utils zip fonts-ipaexfont-gothic fonts-ipaexfont-mincho fonts-dejavu-core
)
if [ "${1:-}" = bench ]; then PACKAGES+=(openssh-server openssh-client rsync); fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # sshd is a yardstick the benchmark starts privately on its own port, never
  # a service of this machine: Debian's init script and unit leave it stopped
  # while this file exists, from the package's first start on.
  if [[ " ${missing[*]} " == *" openssh-server "* ]]; then
    $SUDO mkdir -p /etc/ssh
    $SUDO touch /etc/ssh/sshd_not_to_be_run
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine runs the program as on a Japanese PC: code page 932 needs this locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  echo "setup: generating ja_JP.UTF-8"
  $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# The shipped 32-bit program runs under Wine only where this kernel runs
# 32-bit code; Wine's 32-bit half then comes from Debian's i386 packages.
if "$(dirname "$0")/runs-32bit.sh" &&
   ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "setup: installing wine32 (i386)"
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null
fi
