#!/usr/bin/env bash
# Records the container and volume listings under tests/fixtures/engine from the engine that answers
# (start one with scripts/engine.sh up), in the format Docker::containers and Docker::volumes ask for.
# Two scenes of its own under /tmp/vskrec, removed again at the end:
#   ps-recorded.ndjson, volumes.ndjson: a compose project with health checks, exit codes, a paused
#     service, a label holding commas, IPv4 and IPv6 bindings and two volumes, and loose containers
#     beside it (one labelled as compose labels, with the hyphenated working-dir key);
#   ps-names.ndjson, volumes-names.ndjson: projects started from folders whose names the client's
#     comma-joined label text cannot carry ("shop,env=prod" beside "shop", "shop," with an override
#     file, "a,,b", a name with a byte that is not UTF-8), a container with an empty project label and
#     another label that quotes a compose label, and a volume whose label quotes a project's.
# Run it again when the listing's template changes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/lib.sh"
out=$root/tests/fixtures/engine
image=${VOSKEL_TEST_IMAGE:-voskel-test/busybox:latest}
p=vskrec
base=/tmp/$p
bad=$'bad\xff'

docker info >/dev/null 2>&1 || { echo "no engine answers: start one with scripts/engine.sh up" >&2; exit 1; }
[ -e "$base" ] && { echo "$base is in the way" >&2; exit 1; }

projects=(shop "cm/shop,env=prod" "cm/shop," "cm/a,,b" "cm/$bad")
names=(${p}shop ${p}env ${p}trail ${p}double ${p}bad)

cleanup() {
    set +e
    docker rm -f "$p-loose" "$p-killed" "$p-created" "$p-legacy" "$p-unnamed" >/dev/null 2>&1
    for i in "${!projects[@]}"; do
        (cd "$base/${projects[$i]}" && docker compose -p "${names[$i]}" down -v >/dev/null 2>&1)
    done
    docker volume rm "$p-shared" "$p-quoted" >/dev/null 2>&1
    rm -rf "$base"
}
trap cleanup EXIT

mkdir -p "$base/shop" "$base/cm/shop"
echo "not a project" >"$base/cm/shop/notes.txt"
cat >"$base/shop/compose.yaml" <<EOF
services:
  web:
    image: $image
    command: ["httpd", "-f", "-p", "80", "-h", "/"]
    ports: ["18281:80", "127.0.0.1:18282:81"]
    labels: {com.example.note: "a, b=c,,d"}
    volumes: [data:/data, shared:/shared]
    healthcheck: {test: ["CMD", "true"], interval: 1s}
  worker:
    image: $image
    command: ["sleep", "3600"]
    healthcheck: {test: ["CMD", "false"], interval: 1s, retries: 1}
  slow:
    image: $image
    command: ["sleep", "3600"]
    healthcheck: {test: ["CMD", "true"], interval: 1h, start_period: 1h}
  job:
    image: $image
    command: ["sh", "-c", "exit 2"]
  once:
    image: $image
    command: ["sh", "-c", "exit 0"]
  nap:
    image: $image
    command: ["sleep", "3600"]
volumes:
  data: {name: ${p}_web_data}
  shared: {name: $p-shared, external: true}
EOF
docker volume create "$p-shared" >/dev/null
(cd "$base/shop" && docker compose -p "${p}shop" up -d >/dev/null 2>&1)
(cd "$base/shop" && docker compose -p "${p}shop" pause nap >/dev/null 2>&1)

for i in 1 2 3 4; do
    dir="$base/${projects[$i]}"
    mkdir -p "$dir"
    printf 'services:\n  app:\n    image: %s\n    command: ["sleep", "3600"]\n    volumes: [data:/data]\nvolumes:\n  data: {}\n' \
        "$image" >"$dir/compose.yaml"
done
printf 'services:\n  app:\n    environment: {MODE: trail}\n' >"$base/cm/shop,/override.yaml"
for i in 1 3 4; do
    (cd "$base/${projects[$i]}" && docker compose -p "${names[$i]}" up -d >/dev/null 2>&1)
done
(cd "$base/cm/shop," && docker compose -p "${p}trail" -f compose.yaml -f override.yaml up -d >/dev/null 2>&1)

docker create --name "$p-created" "$image" sleep 1 >/dev/null
docker run -d --name "$p-killed" "$image" sleep 3600 >/dev/null
docker kill "$p-killed" >/dev/null
docker run -d --name "$p-loose" --label plain=x --expose 9000 -p 18283:80 -p 18284:8080/udp "$image" sleep 3600 >/dev/null
docker run -d --name "$p-legacy" --label com.docker.compose.project=${p}legacy \
    --label com.docker.compose.project.working-dir=/srv/legacy --label com.docker.compose.service=app \
    "$image" sleep 3600 >/dev/null
docker run -d --name "$p-unnamed" --label com.docker.compose.project= \
    --label "com.example.note=x,com.docker.compose.service=quoted" "$image" sleep 3600 >/dev/null
docker volume create --label "com.example.note=x,com.docker.compose.project=${p}env" "$p-quoted" >/dev/null
sleep 11 # let the health checks settle

mine() { grep "\"Names\":\"$p" || true; }
scene() { grep -v "\"Names\":\"$p\(env\|trail\|double\|bad\)-\|\"Names\":\"$p-unnamed\"" || true; }
names_scene() { grep "\"Names\":\"$p\(env\|trail\|double\|bad\)-\|\"Names\":\"$p-unnamed\"" || true; }
docker ps -a --format "$(ps_format)" | mine | scene >"$out/ps-recorded.ndjson"
docker ps -a --format "$(ps_format)" | mine | names_scene >"$out/ps-names.ndjson"
docker volume ls --format "$(volume_format)" | grep "\"Name\":\"${p}[-_]\(web_data\|shared\)\"" >"$out/volumes.ndjson"
docker volume ls --format "$(volume_format)" | grep "\"Name\":\"\(${p}-quoted\|${p}\(env\|trail\|double\|bad\)_data\)\"" \
    >"$out/volumes-names.ndjson"

echo "recorded into $out"
