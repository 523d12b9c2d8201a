#!/bin/bash
# The package's purge, in a mount namespace of its own over a copy of /etc and an empty
# /var/lib: the bridge's user, its group and its state folder go, and it says nothing.
#   purge_test.sh POSTRM   (as root)
set -euo pipefail
if [[ ${1-} != --inside ]]; then
  exec unshare --mount --propagation private "$0" --inside "$(realpath "$1")"
fi
etc=$(mktemp -d)
trap 'rm -rf "$etc"' EXIT
cp -a /etc/. "$etc"
mount --bind "$etc" /etc
mount -t tmpfs none /var/lib
adduser --quiet --system --group --home /var/lib/relayboard-mqtt --no-create-home \
  relayboard-mqtt
adduser --quiet relayboard-mqtt dialout
mkdir /var/lib/relayboard-mqtt
said=$(sh "$2" purge 2>&1)
status=0
[[ -z $said ]] || { echo "FAIL: the purge says: $said" >&2 && status=1; }
if getent passwd relayboard-mqtt || grep relayboard-mqtt /etc/group; then
  echo "FAIL: the user or its group is left" >&2 && status=1
fi
[[ ! -e /var/lib/relayboard-mqtt ]] || { echo "FAIL: the state folder is left" >&2 && status=1; }
exit $status
