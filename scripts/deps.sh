#!/usr/bin/env bash
# Installs the Debian packages that building, starting and testing Quorvane need. Installs
# only what is missing, so it is safe to run again.
set -euo pipefail

# python3-pil and the DejaVu fonts draw the pictures (src/app/images) and save screenshots.
# libssl-dev is the TLS library; nginx-light is the real web server the HTTPS tests talk to;
# microsocks and dante-server are the real SOCKS servers of the socket tests. dpkg-dev gives
# cpack's DEB generator dpkg-shlibdeps, which names the packages of the libraries used.
# groff-base reads the man pages in their test.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format
          qt6-base-dev qt6-qpa-plugins libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          libssl-dev nginx-light dpkg-dev microsocks dante-server
          xvfb xauth curl netbase python3-pil fonts-dejavu-core
          libsqlite3-dev libxml2-dev nlohmann-json3-dev groff-base)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# The tests start their own SOCKS servers on free loopback ports; a system service that an
# install may have started would only hold the fixed port 1080.
if command -v systemctl >/dev/null && systemctl is-active --quiet danted 2>/dev/null; then
    "${sudo_cmd[@]}" systemctl disable --now danted >/dev/null 2>&1 || true
fi
