#!/bin/sh
# Applies the unit's udev rule at once, to a unit already plugged in as well: after the package is
# installed (configure) and after it is removed (remove). Where udev does not run (a container, a
# chroot) there is nothing to reload: udev reads the rules when it next starts.
set -e

case "$1" in
configure|remove)
    if command -v udevadm >/dev/null 2>&1 && udevadm control --ping >/dev/null 2>&1; then
        udevadm control --reload-rules || true
        udevadm trigger --subsystem-match=hidraw --action=change || true
    fi
    ;;
esac

exit 0
