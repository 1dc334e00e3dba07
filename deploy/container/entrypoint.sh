#!/bin/sh
# Starts driftharbour-record on the list in $SETTINGS_FILE with its metrics
# on $METRICS_ADDRESS (default 0.0.0.0:9464, so that Prometheus can scrape
# the pod). With $SHARD_COUNT set, the recorder is shard K of SHARD_COUNT,
# K being the number at the end of $POD_NAME (or of the host name): the
# ordinal a StatefulSet gives its pods, "driftharbour-2" -> 2. Further
# arguments go to the recorder. exec: the recorder is the container's main
# process and receives SIGTERM (stop) and SIGHUP (read the list again).
set -eu

settings="${SETTINGS_FILE:-/etc/driftharbour/Driftharbour.ini}"
metrics="${METRICS_ADDRESS:-0.0.0.0:9464}"

if [ -n "${SHARD_COUNT:-}" ]; then
  name="${POD_NAME:-$(hostname)}"
  ordinal="${name##*-}"
  case "$ordinal" in
    '' | *[!0-9]*)
      echo "driftharbour-entrypoint: cannot tell the shard from the pod name '$name'" >&2
      exit 2
      ;;
  esac
  exec driftharbour-record --settings "$settings" --metrics "$metrics" \
    --shard "$ordinal/$SHARD_COUNT" "$@"
fi
exec driftharbour-record --settings "$settings" --metrics "$metrics" "$@"
