#!/bin/bash
# Runs a command with a docker client that hangs on one subcommand and passes every other through, as a
# client whose engine stops answering that request does. For trying by hand; needs root (unshare, mount).
#   scripts/hand/docker-that-hangs.sh "system df" build/test/src/voskel
# Only the command and what it starts see the hanging client: it is bound over the real one in a mount
# namespace of their own. Every call is logged, with its time, to $DOCKER_CALLS (default
# /tmp/docker-calls.log).
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 \"<subcommand words>\" <command> [arguments...]" >&2; exit 2; }
words=$1
shift
real=$(command -v docker)
work=$(mktemp -d)
cp "$real" "$work/docker-real"
cat > "$work/docker" <<WRAPPER
#!/bin/bash
echo "\$(date +%s.%N) \$\$ \$*" >> "${DOCKER_CALLS:-/tmp/docker-calls.log}"
case " \$* " in
  *" $words "*) exec sleep infinity ;;
esac
exec "$work/docker-real" "\$@"
WRAPPER
chmod +x "$work/docker"
status=0
unshare -m bash -c 'mount --make-rprivate / && mount --bind "$1" "$2" && shift 2 && exec "$@"' \
    bash "$work/docker" "$real" "$@" || status=$?
rm -rf "$work"
exit "$status"
