#!/usr/bin/env bash
# The real Docker engine the integration tests talk to.
#
#   scripts/engine.sh up     install what is missing (daemon, a docker client of version 23 or later,
#                            the compose v2 and buildx plugins, the local test image, the test
#                            registry) and start
#                            the daemon when none answers and the registry when it is not running
#   scripts/engine.sh down   stop the daemon and the registry, each only when `up` started it (with
#                            VOSKEL_ENGINE_SINCE naming a file: only when `up` started it after
#                            that file was made, so an engine started earlier by hand stays up)
#
# The test registry is Debian's docker-registry on a loopback port (VOSKEL_REGISTRY_PORT, default
# 5311) with one user whose password is made up when the registry is first set up. The tests read
# its address and credentials from $state/registry/credentials; nothing is written to any client
# configuration.
#
# Fast and quiet when everything is already in place.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/lib.sh"

state=${VOSKEL_ENGINE_STATE:-/var/tmp/voskel-engine}
image=${VOSKEL_TEST_IMAGE:-voskel-test/busybox:latest}
plugin_dir=/usr/local/lib/docker/cli-plugins
registry_port=${VOSKEL_REGISTRY_PORT:-5311}
registry_dir=$state/registry
registry_user=voskel

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

# compose hands `up --build` to buildx; without the plugin a project with a build section cannot be
# brought up at all.
ensure_buildx() {
    if docker buildx version >/dev/null 2>&1; then return 0; fi
    echo "==> installing the buildx plugin (Debian 13's docker-buildx)"
    local tmp; tmp=$(mktemp -d)
    as_root bash -c ". '$here/lib.sh'; fetch_next_debian docker-buildx '$tmp/root'"
    as_root mkdir -p "$plugin_dir"
    as_root install -m 0755 "$tmp/root/usr/libexec/docker/cli-plugins/docker-buildx" "$plugin_dir/docker-buildx"
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

# Whether `up` started what the marker stands for within the caller's run (see VOSKEL_ENGINE_SINCE).
started_by_us() {
    [ -f "$1" ] || return 1
    [ -z "${VOSKEL_ENGINE_SINCE:-}" ] || [ "$1" -nt "$VOSKEL_ENGINE_SINCE" ]
}

stop_daemon() {
    started_by_us "$state/started-by-us" || return 0
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

# The first line of the registry's answer to an anonymous look at its API: "HTTP/1.1 401 ..." once it
# serves with authentication. Plain bash, so nothing else needs installing for it.
registry_answer() {
    local line=
    { exec 3<>"/dev/tcp/127.0.0.1/$registry_port"; } 2>/dev/null || return 0
    printf 'GET /v2/ HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
    IFS= read -r -t 3 line <&3 || true
    exec 3<&- 3>&-
    printf '%s\n' "${line%$'\r'}"
}

# The registry process the pid file names, only while that process still is a registry: a pid
# left from a reboot may belong to anything by now.
registry_pid() {
    local pid
    pid=$(cat "$registry_dir/registry.pid" 2>/dev/null || true)
    [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null || true)" = docker-registry ] && echo "$pid"
    return 0
}

registry_runs() {
    [ -n "$(registry_pid)" ] && [[ "$(registry_answer)" == "HTTP/"*" 401"* ]]
}

# Installing docker-registry starts the package's own registry on port 5000 for everyone; only the
# one below, on loopback and with a password, is wanted.
stop_registry_service() {
    if [ -d /run/systemd/system ]; then
        as_root systemctl stop docker-registry.service >/dev/null 2>&1 || true
    else
        as_root service docker-registry stop >/dev/null 2>&1 || true
    fi
}

# The configuration and the password file, made once; the password never passes through an
# argument list (htpasswd reads it from standard input).
write_registry_setup() {
    [ -f "$registry_dir/credentials" ] && [ -f "$registry_dir/htpasswd" ] && [ -f "$registry_dir/config.yml" ] &&
        grep -q "addr: 127.0.0.1:$registry_port\$" "$registry_dir/config.yml" && return 0
    local password secret
    password=$(head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
    secret=$(head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
    (umask 077
     printf '%s' "$password" | htpasswd -iBc "$registry_dir/htpasswd" "$registry_user" 2>/dev/null
     printf 'address=127.0.0.1:%s\nusername=%s\npassword=%s\n' "$registry_port" "$registry_user" "$password" \
         > "$registry_dir/credentials"
     cat > "$registry_dir/config.yml" <<CONFIG
version: 0.1
log:
  level: error
  accesslog:
    disabled: true
storage:
  filesystem:
    rootdirectory: $registry_dir/data
  delete:
    enabled: true
http:
  addr: 127.0.0.1:$registry_port
  secret: $secret
auth:
  htpasswd:
    realm: voskel-test
    path: $registry_dir/htpasswd
CONFIG
    )
}

start_registry() {
    if registry_runs; then return 0; fi
    # Whoever runs the tests owns the registry's folder and runs it; it needs no rights of root.
    as_root mkdir -p "$registry_dir"
    as_root chown "$(id -u):$(id -g)" "$registry_dir"
    # Two `up` at once would both start one; the second waits and then finds the first running.
    (
        flock -w 30 9 || { echo "another set-up holds $registry_dir/lock" >&2; exit 1; }
        if registry_runs; then exit 0; fi
        local stale
        stale=$(registry_pid)
        [ -z "$stale" ] || kill "$stale" 2>/dev/null || true
        if [ -n "$(registry_answer)" ]; then
            echo "port $registry_port on 127.0.0.1 is taken by something else: set VOSKEL_REGISTRY_PORT to a free port" >&2
            exit 1
        fi
        write_registry_setup
        mkdir -p "$registry_dir/data"
        echo "==> starting the test registry on 127.0.0.1:$registry_port (log: $registry_dir/registry.log)"
        # A session of its own, and no descriptor of the caller's held open (a CI log pipe would
        # otherwise never see its end).
        nohup setsid docker-registry serve "$registry_dir/config.yml" >"$registry_dir/registry.log" 2>&1 </dev/null 9>&- &
        echo $! > "$registry_dir/registry.pid"
        local i
        for i in $(seq 1 50); do
            if registry_runs; then
                touch "$registry_dir/started-by-us"
                exit 0
            fi
            sleep 0.2
        done
        echo "the test registry did not answer within 10 seconds; its log ends:" >&2
        tail -n 20 "$registry_dir/registry.log" >&2 || true
        exit 1
    ) 9>"$registry_dir/lock"
}

stop_registry() {
    started_by_us "$registry_dir/started-by-us" || return 0
    rm -f "$registry_dir/started-by-us"
    local pid
    pid=$(registry_pid)
    rm -f "$registry_dir/registry.pid"
    [ -n "$pid" ] || return 0
    echo "==> stopping the test registry"
    kill "$pid" 2>/dev/null || return 0
    local i
    for i in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -9 "$pid" 2>/dev/null || true
    # What the tests pushed goes with it.
    rm -rf "$registry_dir/data"
}

up() {
    local fresh=no fresh_registry=no
    have_packages docker.io || fresh=yes
    have_packages docker-registry || fresh_registry=yes
    apt_install docker.io busybox-static iptables ca-certificates docker-registry apache2-utils
    [ "$fresh" = no ] || stop_package_service
    [ "$fresh_registry" = no ] || stop_registry_service
    ensure_client
    start_daemon
    ensure_compose
    ensure_buildx
    ensure_image
    start_registry
    echo "==> engine ready: $(docker version --format 'client {{.Client.Version}}, server {{.Server.Version}}'), $(docker compose version --short 2>/dev/null | sed 's/^/compose /'), $(docker buildx version 2>/dev/null | awk '{print "buildx " $2}'), registry 127.0.0.1:$registry_port"
}

down() {
    local failed=0
    stop_registry || failed=1
    stop_daemon || failed=1
    return $failed
}

case "${1:-up}" in
up) up ;;
down) down ;;
*) echo "usage: $0 [up|down]" >&2; exit 2 ;;
esac
