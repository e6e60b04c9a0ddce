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

# Takes projects out of what the user's settings remember (the "knownProjects" and "knownProjectSources"
# entries of voskel.ini, JSON text in a quoted INI value): the strangers; given a copy of the file as it
# was, every project it did not remember but the strangers instead (what the window came to remember of
# others on the engine meanwhile, tests' projects among them). A value written with escapes other than
# \" and \\ is left as it is, and so is everything else in the file.
remembered_file=${XDG_CONFIG_HOME:-$HOME/.config}/voskel/voskel.ini
forget_remembered() {
    local file=$remembered_file
    [ -f "$file" ] || return 0
    if ! command -v python3 >/dev/null; then
        echo "strangers.sh: no python3 here: forget the projects it brought in the window" >&2
        return 0
    fi
    python3 - "$file" "$prefix-" "${1:-}" <<'EOF'
import json, sys

path, prefix, before = sys.argv[1], sys.argv[2], sys.argv[3]

def unquoted(value):
    if len(value) < 2 or value[0] != '"' or value[-1] != '"':
        return None
    out, body, i = [], value[1:-1], 0
    while i < len(body):
        if body[i] == '\\':
            if i + 1 >= len(body) or body[i + 1] not in '"\\':
                return None
            i += 1
        out.append(body[i])
        i += 1
    return ''.join(out)

def known(lines):
    names = set()
    for line in lines:
        key, _, value = line.partition('=')
        text = unquoted(value) if key == 'knownProjects' else None
        if text is not None:
            for entries in json.loads(text).values():
                names.update(str(e.get('name', '')) for e in entries)
    return names

kept = None
if before:
    try:
        with open(before, encoding='utf-8') as f:
            kept = known(f.read().split('\n'))
    except FileNotFoundError:
        kept = set()

def forgotten(name):
    if kept is None:
        return name.startswith(prefix)
    return name not in kept and not name.startswith(prefix)

with open(path, encoding='utf-8') as f:
    lines = f.read().split('\n')
changed = False
for n, line in enumerate(lines):
    key, _, value = line.partition('=')
    if key not in ('knownProjects', 'knownProjectSources'):
        continue
    text = unquoted(value)
    if text is None:
        continue
    remembered = json.loads(text)
    for runtime, entries in remembered.items():
        if isinstance(entries, list):
            remembered[runtime] = [e for e in entries if not forgotten(str(e.get('name', '')))]
        elif isinstance(entries, dict):
            remembered[runtime] = {k: v for k, v in entries.items() if not forgotten(k)}
    text = json.dumps(remembered, separators=(',', ':'), ensure_ascii=False)
    lines[n] = key + '="' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'
    changed = True
if changed:
    with open(path, 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines))
EOF
}

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
        before=$(mktemp)
        cp "$remembered_file" "$before" 2>/dev/null || rm -f "$before"
        QT_QPA_PLATFORM=offscreen timeout 15 "$2" >/dev/null 2>&1 || true
        forget_remembered "$before"
        rm -f "$before"
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
    forget_remembered
    echo "strangers down"
    ;;
*)
    echo "usage: $0 up [<voskel>] | down" >&2
    exit 2
    ;;
esac
