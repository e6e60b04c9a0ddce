#!/usr/bin/env bash
# Records the disk-usage, statistics, mount and image-inspect fixtures under tests/fixtures/engine
# from the real engine. It creates a small scene of its own (a stopped compose project with and
# without a volume, loose containers with and without a volume, a created and a running container,
# an unused volume, an untagged and a committed image), records what the client prints about it,
# keeps only the scene's own rows (other users of the engine may have things of their own there),
# and removes everything it made. Run it again when the client's output format changes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/lib.sh"
out=$root/tests/fixtures/engine
image=${VOSKEL_TEST_IMAGE:-voskel-test/busybox:latest}
p=rec4
project=${p}shop
work=$(mktemp -d)
untagged=

cleanup() {
    set +e
    docker rm -f "$p-live" "$p-paused" "$p-loose" "$p-withvol" "$p-created" >/dev/null 2>&1
    (cd "$work/shop" && docker compose -p "$project" down -v >/dev/null 2>&1)
    docker volume rm "$p-keep" "$p-orphan" >/dev/null 2>&1
    docker rmi "$p/snapshot:1" >/dev/null 2>&1
    [ -n "$untagged" ] && docker rmi "$untagged" >/dev/null 2>&1
    rm -rf "$work"
    bash "$root/scripts/engine.sh" down
}
trap cleanup EXIT

# Python trims the verbose disk-usage report; the engine is the one the tests use.
apt_install python3
bash "$root/scripts/engine.sh" up

mkdir -p "$work/shop"
cat >"$work/shop/compose.yaml" <<EOF
services:
  web:
    image: $image
    command: ["sh", "-c", "head -c 300000 /dev/zero > /data/blob; echo ok > /note; exit 0"]
    volumes: [data:/data]
  worker:
    image: $image
    command: ["sh", "-c", "head -c 120000 /dev/zero > /scratch; exit 0"]
volumes:
  data: {}
EOF
(cd "$work/shop" && docker compose -p "$project" up -d >/dev/null 2>&1)
(cd "$work/shop" && docker compose -p "$project" wait web worker >/dev/null 2>&1) || true

docker run --name "$p-loose" "$image" sh -c 'head -c 50000 /dev/zero > /junk' >/dev/null
docker run --name "$p-withvol" -v "$p-keep:/keep" "$image" sh -c 'head -c 70000 /dev/zero > /keep/k' >/dev/null
docker create --name "$p-created" "$image" true >/dev/null
docker run -d --name "$p-live" "$image" sh -c 'head -c 4000000 /dev/zero > /tmp/held; sleep 600' >/dev/null
docker run -d --name "$p-paused" "$image" sleep 600 >/dev/null
docker pause "$p-paused" >/dev/null
docker volume create "$p-orphan" >/dev/null
docker run --rm -v "$p-orphan:/d" "$image" sh -c 'head -c 90000 /dev/zero > /d/blob' >/dev/null
untagged=$(docker commit "$p-loose")
docker commit "$p-withvol" "$p/snapshot:1" >/dev/null
sleep 2 # let the live container write its file before it is measured

keep="$p"
docker system df --format json >"$out/system-df.ndjson"
docker system df -v --format json | python3 -c '
import json, sys
keep, untagged, image = sys.argv[1], sys.argv[2], sys.argv[3]
repo = image.rsplit(":", 1)[0]
report = json.load(sys.stdin)
report["Images"] = [i for i in report["Images"]
                    if i["Repository"].startswith(keep) or i["Repository"] == repo or i["ID"] == untagged]
report["Containers"] = [c for c in report["Containers"] if c["Names"].startswith(keep)]
report["Volumes"] = [v for v in report["Volumes"] if v["Name"].startswith(keep)]
print(json.dumps(report, separators=(",", ":")))
' "$keep" "$untagged" "$image" >"$out/system-df-v.json"

docker stats --no-stream --format json | grep "\"Name\":\"$keep" >"$out/stats.ndjson"

docker inspect "$p-live" "$p-paused" "$p-loose" "$p-withvol" "$p-created" "$project-web-1" "$project-worker-1" \
    --format '{{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}}' >"$out/mounts.txt"

docker image inspect "$p/snapshot:1" "$image" \
    --format '{{index .Config.Labels "com.docker.compose.project"}}|{{len .RepoDigests}}' >"$out/image-inspect-builds.txt"

# The client prints the volumes it found and fails for one that is gone.
docker volume inspect -- "$p-orphan" "$p-gone" >"$out/volume-inspect.json" 2>/dev/null || true

echo "recorded into $out (untagged image was $untagged)"
