# Sourced by the Windows dependency builds: fetches a Debian source package through a private apt
# state (a deb-src twin of the machine's own Debian source list), so the system's apt configuration
# and package lists are left as they are and no root rights are needed.
#
#   corvan_debian_source PACKAGE DEST_DIR [--download-only]
# leaves the .dsc, the upstream tarball and the Debian changes in DEST_DIR and, unless
# --download-only, the source tree unpacked with Debian's patches applied.

corvan_cache_root() {
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/corvan-html-starter"
}

# Writes a deb-src source list beside the machine's: every Debian deb entry of the deb822 files in
# sources.list.d and of the one-line sources.list, turned into deb-src.
corvan_write_deb_src_list() {
    local out="$1" f
    : >"$out"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # A stanza is kept when it holds a Debian URI; its Types line becomes deb-src.
        awk 'BEGIN { RS=""; ORS="\n\n" }
             /URIs:[^\n]*debian/ {
                 gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print
             }' "$f" >>"$out"
    done
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^[[:space:]]*deb[[:space:]]\+\(.*debian.*\)$/Types: deb-src\nURIs: \1\n/p' /etc/apt/sources.list |
            awk '/^URIs: / { n = split(substr($0, 7), a, /[[:space:]]+/); i = 1;
                             if (a[1] ~ /^\[/) { while (a[i] !~ /\]$/) i++; i++ }
                             print "URIs: " a[i]; print "Suites: " a[i+1]; c = "";
                             for (j = i + 2; j <= n; j++) c = c " " a[j];
                             print "Components:" c; next } { print }' >>"$out"
    fi
    if ! grep -q '^URIs:' "$out"; then
        echo "error: no Debian entry in the apt source lists to derive a deb-src entry from" >&2
        return 1
    fi
}

corvan_debian_source() {
    local package="$1" dest="$2" mode="${3:-}"
    local apt_dir
    apt_dir="$(corvan_cache_root)/apt"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" "$dest"
    corvan_write_deb_src_list "$apt_dir/sources.list.d/debian-src.sources"
    local opts=(
        -o Dir::Etc::SourceList=/dev/null
        -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
        -o Dir::State::Lists="$apt_dir/lists"
        -o Dir::Cache="$apt_dir/cache"
        -o Debug::NoLocking=1
        -o APT::Sandbox::User="$(id -un)"
    )
    # The index is refreshed once a day at most.
    if [ -z "$(find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mmin -1440 2>/dev/null | head -1)" ]; then
        echo "Fetching Debian's source index"
        apt-get -qq "${opts[@]}" update
    fi
    local args=(source)
    [ "$mode" = "--download-only" ] && args+=(--download-only)
    (cd "$dest" && apt-get -q "${opts[@]}" "${args[@]}" "$package")
}
