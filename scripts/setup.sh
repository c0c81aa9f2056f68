#!/usr/bin/env bash
# Installs the Debian packages Zapfer's build and tests need, only those missing.
# Safe to run again: with everything present it only checks and returns.
set -euo pipefail

packages=(
    g++ cmake ninja-build ccache pkg-config
    qt6-base-dev zlib1g-dev libdeflate-dev libsqlite3-dev libcanberra-dev libicu-dev
    libgtest-dev libssl-dev openssl python3
    socat xvfb xauth iproute2 procps dbus adwaita-icon-theme util-linux mount
    lintian desktop-file-utils appstream help2man librsvg2-bin man-db dpkg-dev file bash-completion systemd
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

as_root=()
if [[ $(id -u) -ne 0 ]]; then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
