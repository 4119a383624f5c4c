#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: packages already present are skipped, nothing else is touched.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format
  libclang-rt-14-dev
  qt6-base-dev libx11-dev
  libgtest-dev libgmock-dev
  libmodbus-dev libssl-dev nlohmann-json3-dev
  libmosquitto-dev mosquitto mosquitto-clients
  python3 python3-pymodbus python3-serial-asyncio
  mbpoll socat util-linux
  xvfb openbox trayer xdotool x11-utils
  dpkg-dev lintian desktop-file-utils appstream systemd shared-mime-info
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
