#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing (run as root).
set -euo pipefail
packages="cmake g++ make pkg-config libopenexr-dev libimath-dev libdeflate-dev zlib1g-dev qtbase5-dev libgtest-dev \
  slurm-wlm munge lintian jq acl attr man-db dpkg-dev file $*"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
