#!/usr/bin/env bash
# Installs the Debian packages needed to build and test the project, and any named in
# QAREL_EXTRA_PACKAGES (space-separated).
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev libbenchmark-dev nlohmann-json3-dev clang ${QAREL_EXTRA_PACKAGES:-})
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
