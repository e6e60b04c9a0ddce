#!/bin/bash
# Nineteen compose projects whose folders are on a mount that stalls (stallfs.c), one container each on
# the current engine, for trying by hand what Voskel does with them. Needs root, a built stallfs (see
# stallfs.c), the engine's test image, and for `window` an X display (Xvfb) and xdotool. The folders
# stall only for what the shell that runs `up` starts (or the process $STALLED_PROJECTS_FOR names):
# other runs on the same engine, whose plans look at every container's folder, find them answering,
# but for a look at the very folder one of ours is held at, which the kernel makes wait for that one.
#   scripts/hand/stalled-projects.sh up <stallfs>     mounts the folders and makes the containers
#   scripts/hand/stalled-projects.sh modes <voskel>   times --plan, --dump and --dump all with the folders stalled
#   scripts/hand/stalled-projects.sh window <voskel> [seconds] [kill]
#                                                    runs the window with them stalled, samples its look servers,
#                                                    threads, descriptors and memory every 10 s, then quits
#                                                    with Ctrl+Q (or kill -9) and times the window's end
#   scripts/hand/stalled-projects.sh down             removes the containers and the mount
set -uo pipefail
work=${STALLED_PROJECTS_DIR:-/tmp/voskel-stalled}
mkdir -p "$work/backing" "$work/mnt" "$work/config" "$work/run"
chmod 700 "$work/run"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
stallfs_pid() { cat "$work/stallfs.pid"; }
since() { echo "$(date +%s.%N) - $1" | bc; }

case "${1:-}" in
up)
    for i in $(seq 0 18); do
        mkdir -p "$work/backing/p$i"
        printf 'services:\n  web:\n    image: voskel-test/busybox:latest\n' > "$work/backing/p$i/compose.yaml"
    done
    if ! mountpoint -q "$work/mnt"; then
        STALLFS_ONLY_BELOW=${STALLED_PROJECTS_FOR:-$PPID} "$2" "$work/backing" "$work/mnt" -f > "$work/stallfs.log" 2>&1 &
        echo $! > "$work/stallfs.pid"
        sleep 1
    fi
    for i in $(seq 0 18); do
        docker rm -f "stalled$i-web-1" > /dev/null 2>&1
        docker create --name "stalled$i-web-1" --network none --label "com.docker.compose.project=stalled$i" \
            --label com.docker.compose.service=web \
            --label "com.docker.compose.project.working_dir=$work/mnt/p$i" voskel-test/busybox:latest true > /dev/null
    done ;;
modes)
    for args in "--plan stalled0" "--dump" "--dump all"; do
        kill -USR1 "$(stallfs_pid)"
        start=$(date +%s.%N)
        # Through a pipe, as a reader of the output waits for every process that holds it.
        ( "$2" $args 2> "$work/err.txt" | while IFS= read -r line; do
            printf '%.1f %s\n' "$(since "$start")" "$line"; done > "$work/out.txt" ) &
        reader=$!
        for _ in $(seq 1 600); do kill -0 $reader 2> /dev/null || break; sleep 0.1; done
        if kill -0 $reader 2> /dev/null; then
            echo "voskel $args: not back after 60 s, so the mount is let answer"
            kill -USR2 "$(stallfs_pid)"
            wait $reader
        fi
        printf 'voskel %s: last line after %s s, back after %.1f s\n' "$args" \
            "$(tail -1 "$work/out.txt" | cut -d' ' -f1)" "$(since "$start")"
        grep -m 2 -E 'does not answer' "$work/out.txt"
        kill -USR2 "$(stallfs_pid)"
    done ;;
window)
    seconds=${3:-240}
    kill -USR1 "$(stallfs_pid)"
    "$2" > "$work/app.out" 2> "$work/app.err" &
    app=$!
    for _ in $(seq 1 300); do xdotool search --onlyvisible --name 'Voskel$' > /dev/null 2>&1 && break; sleep 0.2; done
    start=$(date +%s)
    ticks=$(getconf CLK_TCK)
    used() { awk '{ print $14 + $15 }' /proc/$app/stat; }
    before=$(used)
    while [ $(($(date +%s) - start)) -lt "$seconds" ]; do
        sleep 10
        now=$(used)
        echo "t=$(($(date +%s) - start))s look servers: $(pgrep -c -P $app -x voskel-look)" \
            "threads: $(ls /proc/$app/task | wc -l) descriptors: $(ls /proc/$app/fd | wc -l)" \
            "memory: $(awk '/VmRSS/ { print $2 }' /proc/$app/status) kB" \
            "processor: $(echo "scale=2; 100 * ($now - $before) / ($ticks * 10)" | bc)%"
        before=$now
    done
    window=$(xdotool search --onlyvisible --name 'Voskel$' | head -1)
    start=$(date +%s.%N)
    if [ "${4:-}" = kill ]; then
        kill -9 $app
    else
        xdotool mousemove --window "$window" 200 20 click 1 sleep 0.2 key ctrl+q
        start=$(date +%s.%N)
    fi
    while xdotool search --onlyvisible --name 'Voskel$' > /dev/null 2>&1; do sleep 0.05; done
    gone=$(since "$start")
    while [ -e /proc/$app ] && [ "$(awk '{ print $3 }' /proc/$app/stat 2> /dev/null)" != Z ]; do sleep 0.05; done
    echo "window gone after $gone s, process ended after $(since "$start") s"
    echo "look servers left behind: $(pgrep -c -x voskel-look)"
    kill -USR2 "$(stallfs_pid)"
    sleep 2
    echo "once the mount answers: $(pgrep -c -x voskel-look)" ;;
down)
    kill -USR2 "$(stallfs_pid)" 2> /dev/null
    for i in $(seq 0 18); do docker rm -f "stalled$i-web-1" > /dev/null 2>&1; done
    fusermount3 -u "$work/mnt" 2> /dev/null || umount -l "$work/mnt" ;;
*)
    sed -n '2,15p' "$0"
    exit 2 ;;
esac
