#!/usr/bin/env bash
# Records what the client prints about a small scene into tests/fixtures/diagnostics/recorded, for
# the diagnostics' golden tests: a running compose project whose own volume only it uses, whose second
# volume a container outside it mounts too, and which borrows an external volume; a loose container
# beside it; a loose container that exited with an error. Only the scene's own rows are kept (other
# users of the engine may have things of their own there); the project's folder is written as
# @WORKDIR@, so tests can point it at a folder of their own. Everything made is removed again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/lib.sh"
out=$root/tests/fixtures/diagnostics/recorded
image=${VOSKEL_TEST_IMAGE:-voskel-test/busybox:latest}
p=dg7
project=${p}shop
work=$(mktemp -d)

cleanup() {
    set +e
    docker rm -f "$p-sidecar" "$p-failed" >/dev/null 2>&1
    (cd "$work/shop" && docker compose -p "$project" down -v >/dev/null 2>&1)
    docker volume rm "$p-shared" "$p-ext" >/dev/null 2>&1
    rm -rf "$work"
    bash "$root/scripts/engine.sh" down
}
trap cleanup EXIT

# Python trims the verbose disk-usage report; the engine is the one the tests use.
apt_install python3
bash "$root/scripts/engine.sh" up

mkdir -p "$work/shop" "$out"
cat >"$work/shop/compose.yaml" <<EOF
services:
  web:
    image: $image
    command: ["sh", "-c", "head -c 300000 /dev/zero > /data/blob; sleep 600"]
    volumes: [data:/data, shared:/shared, ext:/ext]
  worker:
    image: $image
    command: ["sh", "-c", "exit 0"]
volumes:
  data: {}
  shared:
    name: $p-shared
  ext:
    name: $p-ext
    external: true
EOF
docker volume create "$p-ext" >/dev/null
(cd "$work/shop" && docker compose -p "$project" up -d >/dev/null 2>&1)
(cd "$work/shop" && docker compose -p "$project" wait worker >/dev/null 2>&1) || true
docker run -d --name "$p-sidecar" -v "$p-shared:/shared" "$image" sh -c 'head -c 80000 /dev/zero > /shared/s; sleep 600' >/dev/null
docker run --name "$p-failed" "$image" sh -c 'exit 3' >/dev/null 2>&1 || true
sleep 2 # let the containers write their files before they are measured

placeholder() { sed "s#$work/shop#@WORKDIR@#g"; }
mine() { grep "$p" || true; }

docker context ls --format json >"$out/context-ls.ndjson"
docker ps -a --format "$(ps_format)" | mine | placeholder >"$out/ps.ndjson"
docker images --format json | grep "\"Repository\":\"${image%:*}\"" >"$out/images.ndjson"
docker volume ls --format "$(volume_format)" | mine >"$out/volumes.ndjson"
docker system df --format json >"$out/system-df.ndjson"
docker system df -v --format json | python3 -c '
import json, sys
keep, image = sys.argv[1], sys.argv[2]
repo = image.rsplit(":", 1)[0]
report = json.load(sys.stdin)
report["Images"] = [i for i in report["Images"] if i["Repository"] == repo]
report["Containers"] = [c for c in report["Containers"] if c["Names"].startswith(keep)]
report["Volumes"] = [v for v in report["Volumes"] if v["Name"].startswith(keep)]
print(json.dumps(report, separators=(",", ":")))
' "$p" "$image" | placeholder >"$out/system-df-v.json"
docker stats --no-stream --format json | mine >"$out/stats.ndjson"
docker inspect $(docker ps -a --format '{{.Names}}' | mine | sort) \
    --format '{{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}}' >"$out/mounts.txt"
docker inspect --type container $(docker ps -a --no-trunc --format '{{.ID}} {{.Names}}' | mine | sort -k2 | cut -d' ' -f1) \
    --format '{"id":{{json .Id}},"labels":{{json .Config.Labels}}}' | placeholder >"$out/container-labels.ndjson"
(cd "$work/shop" && docker compose -p "$project" config --format json) | placeholder >"$out/compose-config.json"

echo "recorded into $out"
