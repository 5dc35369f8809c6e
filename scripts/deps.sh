#!/usr/bin/env bash
# Installs the Debian packages listed in deps/debian-packages.txt that are not
# installed yet. When everything is present it touches neither the network nor
# the package database, so it is cheap to run before every build.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
list="$root/deps/debian-packages.txt"

mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$list")

# One dpkg-query for the whole list; names it does not know are simply absent
# from its answer and so count as missing.
declare -A installed=()
while read -r pkg status; do
  if [[ "$status" == "installed" ]]; then installed["$pkg"]=1; fi
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null || true)

missing=()
for pkg in "${wanted[@]}"; do
  [[ -n "${installed[$pkg]:-}" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "deps: all ${#wanted[@]} packages installed"
  exit 0
fi

echo "deps: installing ${missing[*]}"
as_root=()
if ((EUID != 0)); then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "deps: not root and sudo is not available; install as root: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
