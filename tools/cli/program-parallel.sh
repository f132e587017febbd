#!/bin/sh
# Programs one firmware file into several devices at once: one norvak-flash-cli process per
# device, each with its own log and its run's line in runs.jsonl, then each device's exit
# status. Exits 0 only when every device was programmed.
#   program-parallel.sh FIRMWARE DEVICE...
#   program-parallel.sh firmware.srec /dev/ttyUSB0 /dev/ttyUSB1 /dev/ttyUSB2 /dev/ttyUSB3
set -u
firmware=$1
shift
i=0
pids=""
for device in "$@"; do
    i=$((i + 1))
    norvak-flash-cli program --device "$device" --file "$firmware" --report runs.jsonl \
        >"device-$i.log" 2>&1 &
    eval "pid_$i=\$!"
    pids="$pids $!"
done
# Ctrl-C or SIGTERM cancels every run (each ends with exit status 6). The shell starts
# background commands with SIGINT ignored, so it is passed on as SIGTERM.
trap 'kill $pids 2>/dev/null' INT TERM
failed=0
i=0
for device in "$@"; do
    i=$((i + 1))
    eval "pid=\$pid_$i"
    while :; do
        status=0
        wait "$pid" || status=$?
        # A trapped signal interrupts the wait: wait again for the run's own status.
        if [ "$status" -gt 128 ] && kill -0 "$pid" 2>/dev/null; then
            continue
        fi
        break
    done
    echo "$device: exit status $status (log: device-$i.log)"
    [ "$status" -eq 0 ] || failed=1
done
exit "$failed"
