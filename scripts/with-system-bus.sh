#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command with a private system bus of its own, on which python3-dbusmock plays
# NetworkManager (connected) and logind, and stops all three after. The command finds the bus in
# DBUS_SYSTEM_BUS_ADDRESS; nothing of the machine's own system bus is touched.
set -euo pipefail
source "$(dirname "$0")/bus-lib.sh"

cat >"$work/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir=$work</listen>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
start_bus "$work" --config-file="$work/system.conf"
export DBUS_SYSTEM_BUS_ADDRESS="$bus_address"
# The system's interpreter, where Debian's python3-dbusmock lives.
for template in networkmanager logind; do
    /usr/bin/python3 -m dbusmock --system --template "$template" >/dev/null &
    pids+=($!)
done
for name in org.freedesktop.NetworkManager org.freedesktop.login1; do
    for _ in $(seq 200); do
        dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
            "string:$name" 2>/dev/null | grep -q 'boolean true' && break
        sleep 0.1
    done
done
"$@"
