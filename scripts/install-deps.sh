#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent and quiet when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libboost-log-dev libboost-filesystem-dev libboost-dev
  libcxxopts-dev libsqlite3-dev sqlite3
  libusb-1.0-0-dev libftdi1-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  iproute2 nftables tftpd-hpa srecord procps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or install them with sudo apt-get install)" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The TFTP server is only ever started by the tests, inside their own network
# namespaces: keep its system service from starting on the machine's interfaces.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# Belt and braces: if a service manager started it anyway, stop it.
if command -v systemctl >/dev/null 2>&1; then systemctl disable --now tftpd-hpa >/dev/null 2>&1 || true; fi
if [ -x /etc/init.d/tftpd-hpa ]; then /etc/init.d/tftpd-hpa stop >/dev/null 2>&1 || true; fi
