#!/usr/bin/env bash
# The real Docker engine the integration tests talk to.
#
#   scripts/engine.sh up     install what is missing (daemon, a docker client of version 23 or later,
#                            the compose v2 plugin, the local test image) and start the daemon when
#                            none answers
#   scripts/engine.sh down   stop the daemon, but only when `up` started it
#
# Fast and quiet when everything is already in place.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/lib.sh"

state=${VOSKEL_ENGINE_STATE:-/var/tmp/voskel-engine}
image=${VOSKEL_TEST_IMAGE:-voskel-test/busybox:latest}
plugin_dir=/usr/local/lib/docker/cli-plugins

client_major() {
    docker version --format '{{.Client.Version}}' 2>/dev/null | head -n1 | cut -d. -f1 | tr -cd '0-9'
}

ensure_client() {
    local major
    major=$(client_major || true)
    if [ -n "$major" ] && [ "$major" -ge 23 ]; then return 0; fi
    echo "==> installing a docker client of version 23 or later (Debian 13's docker-cli)"
    local tmp; tmp=$(mktemp -d)
    as_root bash -c ". '$here/lib.sh'; fetch_next_debian docker-cli '$tmp/root'"
    as_root install -m 0755 "$tmp/root/usr/bin/docker" /usr/local/bin/docker
    as_root rm -rf "$tmp"
    hash -r
}

ensure_compose() {
    if docker compose version >/dev/null 2>&1; then return 0; fi
    echo "==> installing the compose v2 plugin (Debian 13's docker-compose)"
    local tmp; tmp=$(mktemp -d)
    as_root bash -c ". '$here/lib.sh'; fetch_next_debian docker-compose '$tmp/root'"
    as_root mkdir -p "$plugin_dir"
    as_root install -m 0755 "$tmp/root/usr/libexec/docker/cli-plugins/docker-compose" "$plugin_dir/docker-compose"
    as_root rm -rf "$tmp"
}

# Whether this user can talk to the engine.
engine_answers() {
    timeout 10 docker info >/dev/null 2>&1
}

# Whether any engine runs, whoever may use its socket.
engine_runs() {
    as_root timeout 10 docker info >/dev/null 2>&1
}

# Installing docker.io starts the system's own docker service (through systemd or its init script).
# That one would outlive the run and serve only the docker group, so it is stopped again: the daemon
# the tests use is the one this script starts and stops.
stop_package_service() {
    if [ -d /run/systemd/system ]; then
        as_root systemctl stop docker.socket docker.service >/dev/null 2>&1 || true
    else
        as_root service docker stop >/dev/null 2>&1 || true
    fi
}

start_daemon() {
    if engine_answers; then return 0; fi
    if engine_runs; then
        echo "a Docker engine runs, but $(id -un) may not use its socket: add the user to the socket's group" \
             "(usermod -aG docker $(id -un)), log in again and rerun" >&2
        return 1
    fi
    echo "==> starting dockerd (log: $state/dockerd.log)"
    # A user who came through sudo must reach the socket afterwards without it.
    local group=
    [ "$(id -u)" -eq 0 ] || group="--group $(id -gn)"
    as_root mkdir -p "$state"
    as_root bash -c "nohup dockerd --pidfile '$state/dockerd.pid' $group >'$state/dockerd.log' 2>&1 </dev/null &"
    local i
    for i in $(seq 1 60); do
        if engine_answers; then
            as_root touch "$state/started-by-us"
            return 0
        fi
        sleep 1
    done
    echo "dockerd did not answer within 60 seconds; its log ends:" >&2
    as_root tail -n 20 "$state/dockerd.log" >&2 || true
    return 1
}

stop_daemon() {
    [ -f "$state/started-by-us" ] || return 0
    local pid
    pid=$(cat "$state/dockerd.pid" 2>/dev/null || true)
    as_root rm -f "$state/started-by-us"
    [ -n "$pid" ] || return 0
    echo "==> stopping the dockerd this script started"
    as_root kill "$pid" 2>/dev/null || return 0
    local i
    for i in $(seq 1 30); do
        as_root kill -0 "$pid" 2>/dev/null || return 0
        sleep 1
    done
    as_root kill -9 "$pid" 2>/dev/null || true
}

ensure_image() {
    if docker image inspect "$image" >/dev/null 2>&1; then return 0; fi
    echo "==> building the test image $image from busybox-static"
    local root; root=$(mktemp -d)
    mkdir -p "$root/bin" "$root/tmp" "$root/www" "$root/etc"
    cp /bin/busybox "$root/bin/busybox"
    local applet
    for applet in $("$root/bin/busybox" --list); do
        [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
    done
    echo 'root:x:0:0:root:/:/bin/sh' > "$root/etc/passwd"
    echo 'root:x:0:' > "$root/etc/group"
    echo 'voskel test page' > "$root/www/index.html"
    tar -C "$root" -c . | docker import -c 'CMD ["sh"]' -c 'ENV PATH=/bin' - "$image" >/dev/null
    rm -rf "$root"
}

up() {
    local fresh=no
    have_packages docker.io || fresh=yes
    apt_install docker.io busybox-static iptables ca-certificates
    [ "$fresh" = no ] || stop_package_service
    ensure_client
    start_daemon
    ensure_compose
    ensure_image
    echo "==> engine ready: $(docker version --format 'client {{.Client.Version}}, server {{.Server.Version}}'), $(docker compose version --short 2>/dev/null | sed 's/^/compose /')"
}

case "${1:-up}" in
up) up ;;
down) stop_daemon ;;
*) echo "usage: $0 [up|down]" >&2; exit 2 ;;
esac
