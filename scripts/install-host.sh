#!/usr/bin/env bash
# Prepares a Linux desktop for TallyPoint, once, with root rights:
#   sudo ./scripts/install-host.sh [user]
# - creates "/Calls" (the call files' folder at the root of the startup disk),
#   owned by the user who will run the program (default: the one who ran sudo);
# - lets build/tallypoint listen on TCP port 23 without running as root
#   (file capability cap_net_bind_service). A rebuild replaces the binary and
#   drops the capability: run this script again after every build.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "install-host.sh: needs root rights; run it with sudo" >&2
  exit 1
fi

user=${1:-${SUDO_USER:-}}
if [ -z "$user" ] || [ "$user" = root ]; then
  echo "install-host.sh: name the user who runs TallyPoint: sudo $0 <user>" >&2
  exit 1
fi
if ! id "$user" >/dev/null 2>&1; then
  echo "install-host.sh: no user \"$user\"" >&2
  exit 1
fi
group=$(id -gn "$user")

binary=build/tallypoint
if [ ! -x "$binary" ]; then
  echo "install-host.sh: $binary not found; build it first (./scripts/run.sh)" >&2
  exit 1
fi

# setcap comes with libcap2-bin.
if ! command -v setcap >/dev/null 2>&1; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y libcap2-bin
fi

# Existing call files stay; only the folder's owner and rights are set.
install -d -o "$user" -g "$group" -m 0755 /Calls
chown "$user:$group" /Calls

setcap cap_net_bind_service=+ep "$binary"

echo "/Calls belongs to $user:$group"
getcap "$binary"
