#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command with a private session bus of its own, and stops the bus after. The command
# finds it in DBUS_SESSION_BUS_ADDRESS and starts there the services it plays (python3-dbusmock);
# nothing of the user's own session bus is touched.
set -euo pipefail
source "$(dirname "$0")/bus-lib.sh"
start_bus "$work" --session --address="unix:dir=$work"
export DBUS_SESSION_BUS_ADDRESS="$bus_address"
"$@"
