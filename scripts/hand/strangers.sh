#!/bin/bash
# Strangers on the engine, as a shared machine has them, for running the whole test suite (or trying the
# window) beside them: the tests must judge around them, or skip saying why, and never touch them.
#   scripts/hand/strangers.sh up [<voskel>]   makes them; with a built voskel, its window also sees one
#                                            project run that is then taken down and broken, so that the
#                                            user's registry remembers a project that cannot be read
#   scripts/hand/strangers.sh down            removes them (and the remembered one from the registry)
# Needs the engine's test image (scripts/engine.sh up); the window needs no display (offscreen).
set -euo pipefail
work=${STRANGERS_DIR:-/var/tmp/voskel-strangers}
image=voskel-test/busybox:latest
prefix=vskstranger

# The compose file of one service that sleeps; the lines of `$1` (escapes such as \n expanded) added
# to the service.
service() { printf 'services:\n  web:\n    image: %s\n    command: ["sleep", "1d"]\n%b' "$image" "${1:-}"; }

case "${1:-}" in
up)
    mkdir -p "$work/broken" "$work/unset" "$work/unset-data" "$work/gone" "$work/nameless"
    # A running project whose compose file no longer parses.
    service > "$work/broken/compose.yaml"
    docker compose -p "$prefix-broken" --project-directory "$work/broken" up -d
    printf 'services: [this is: not: yaml\n' > "$work/broken/compose.yaml"
    # A running project with a path through a variable set only in the shell that started it.
    service '    volumes: ["${DATA_DIR}/db:/db"]\n' > "$work/unset/compose.yaml"
    DATA_DIR=$work/unset-data docker compose -p "$prefix-unset" --project-directory "$work/unset" up -d
    # A monitoring agent's read-only view of the whole host, and a toolbox's of the home.
    docker run -d --name "$prefix-root" -v /:/host:ro "$image" sleep 1d >/dev/null
    docker run -d --name "$prefix-home" -v "$HOME:/home/user:ro" "$image" sleep 1d >/dev/null
    # A container whose project label is empty.
    docker run -d --name "$prefix-nameless" --label com.docker.compose.project= "$image" sleep 1d >/dev/null
    # A project the user's registry remembers, down, whose compose file cannot be read any more.
    service '    volumes: ["./data:/data"]\n' > "$work/gone/compose.yaml"
    docker compose -p "$prefix-gone" --project-directory "$work/gone" up -d
    if [ -n "${2:-}" ]; then
        QT_QPA_PLATFORM=offscreen timeout 15 "$2" >/dev/null 2>&1 || true
    fi
    docker compose -p "$prefix-gone" --project-directory "$work/gone" down
    printf 'services:\n  web: [unclosed\n' > "$work/gone/compose.yaml"
    echo "strangers up: $(docker ps -a --filter "name=$prefix" --format '{{.Names}}' | tr '\n' ' ')"
    ;;
down)
    docker ps -aq --filter "name=$prefix" | xargs -r docker rm -f >/dev/null
    for project in broken unset gone; do
        docker network rm "$prefix-${project}_default" >/dev/null 2>&1 || true
    done
    rm -rf "$work"
    echo "strangers down"
    ;;
*)
    echo "usage: $0 up [<voskel>] | down" >&2
    exit 2
    ;;
esac
