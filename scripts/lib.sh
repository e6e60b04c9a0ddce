# Shared helpers for the project's scripts; sourced, never run.

# Runs a command as root: directly when we are root, else through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# True when every named Debian package is installed.
have_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || return 1
    done
}

# Installs the named Debian packages that are missing; does nothing when all are there.
apt_install() {
    local missing=() pkg
    for pkg in "$@"; do
        have_packages "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "==> installing ${missing[*]}"
    if [ -z "${VOSKEL_APT_UPDATED:-}" ]; then
        as_root apt-get update -qq
        export VOSKEL_APT_UPDATED=1
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The mirror this machine's own apt sources use for its Debian release (never a name of ours).
debian_mirror() {
    local codename files
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    files=$(ls /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    if [ -n "$files" ]; then
        # deb822 paragraphs: the first whose Suites name the release itself (not -security or -updates)
        awk -v want="$codename" '
            BEGIN { RS=""; FS="\n" }
            {
                uris=""; suites=""
                for (i = 1; i <= NF; i++) {
                    if ($i ~ /^URIs:/) { uris=$i; sub(/^URIs:[ \t]*/, "", uris) }
                    if ($i ~ /^Suites:/) { suites=$i; sub(/^Suites:[ \t]*/, "", suites) }
                }
                n = split(suites, s, /[ \t]+/)
                for (j = 1; j <= n; j++) if (s[j] == want && uris != "") { split(uris, u, /[ \t]+/); print u[1]; exit }
            }' $files && return 0
    fi
    awk -v want="$codename" '
        $1 == "deb" {
            i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i+1) == want) { print $i; exit }
        }' /etc/apt/sources.list 2>/dev/null
}

# Downloads Debian packages from the next Debian release (trixie) into $2 without installing them,
# through a private apt configuration that points at this machine's own mirror.
fetch_next_debian() {
    local packages=$1 dest=$2 mirror work
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        echo "cannot find this machine's Debian mirror in its apt sources" >&2
        return 1
    fi
    work=$(mktemp -d)
    mkdir -p "$work/etc" "$work/lists/partial" "$work/cache/archives/partial" "$dest"
    cat > "$work/etc/next.sources" <<SOURCES
Types: deb
URIs: $mirror
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    local opts=(-o "Dir::Etc::SourceList=$work/etc/none.list" -o "Dir::Etc::SourceParts=$work/etc"
                -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o "APT::Sandbox::User=root")
    apt-get "${opts[@]}" -qq update
    (cd "$work" && apt-get "${opts[@]}" -qq download $packages)
    local deb
    for deb in "$work"/*.deb; do
        dpkg-deb -x "$deb" "$dest"
    done
    rm -rf "$work"
}

# The --format templates of Docker::containerListingArgs and Docker::volumeListingArgs
# (src/engine/Listings.cpp), for recording what the application reads.
compose_label_field() { printf '"%s":{{json (.Label "%s")}}' "$1" "$1"; }
ps_format() {
    printf '%s' '{"ID":{{json .ID}},"Names":{{json .Names}},"Image":{{json .Image}},"State":{{json .State}},'
    printf '%s' '"Status":{{json .Status}},"Ports":{{json .Ports}},"Labels":{{json .Labels}},'
    local key first=1
    for key in com.docker.compose.project com.docker.compose.service com.docker.compose.project.working_dir \
               com.docker.compose.project.working-dir com.docker.compose.project.config_files; do
        [ $first -eq 1 ] || printf ','
        first=0
        compose_label_field "$key"
    done
    printf '}'
}
volume_format() {
    printf '%s' '{"Name":{{json .Name}},"Driver":{{json .Driver}},"Mountpoint":{{json .Mountpoint}},'
    printf '%s' '"Labels":{{json .Labels}},'
    compose_label_field com.docker.compose.project
    printf '}'
}
