# Debian source packages for the cross-builds: fetched once into the cache
# (with Debian's patches applied) and shared by the set-up scripts. Sourced
# after common.sh, not run.
srcdir="$QV_CACHE/sources"
mkdir -p "$srcdir"

ensure_deb_src() {
  if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  qv_log "setup: adding a deb-src entry for bookworm"
  local sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd tee /etc/apt/sources.list.d/quorvex-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $sudo_cmd apt-get update -qq
}

# Prints the versions of source package $1 that apt knows, newest first.
source_versions() {
  # apt-cache fails when it knows no source package at all (no deb-src yet).
  { apt-cache showsrc "$1" 2>/dev/null || true; } | awk '/^Version:/ {print $2}' | sort -rV | uniq
}

# Fetches and unpacks source package $1 (with Debian's patches) and prints its
# unpacked directory. A mirror may lack the newest security upload of a
# package, so older versions are tried in turn. With $2 = upstream-ok, a
# package whose Debian part no mirror has is unpacked from its upstream
# tarball alone (apt has checked it against the index), in a directory named
# so: nothing claims patches it lacks.
fetch_source() {
  local pkg=$1 upstream_ok=${2:-} versions ver dir dl
  versions=$(source_versions "$pkg")
  if [ -z "$versions" ]; then
    ensure_deb_src
    versions=$(source_versions "$pkg")
  fi
  [ -n "$versions" ] || { echo "setup: no source package $pkg" >&2; return 1; }
  for ver in $versions; do
    for dir in "$srcdir/$pkg-$ver" "$srcdir/$pkg-$ver-upstream"; do
      if [ -f "$dir/.unpacked" ]; then echo "$dir"; return 0; fi
    done
  done
  for ver in $versions; do
    dir="$srcdir/$pkg-$ver"
    dl="$srcdir/dl-$pkg"
    rm -rf "$dir" "$dl"; mkdir -p "$dl"
    qv_log "setup: fetching source package $pkg $ver"
    if (cd "$dl" && apt-get source -qq --download-only "$pkg=$ver" >/dev/null 2>&1) \
       && (cd "$dl" && dpkg-source -q -x ./*.dsc "$dir" >/dev/null 2>&1); then
      rm -rf "$dl"; touch "$dir/.unpacked"; echo "$dir"; return 0
    fi
    rm -rf "$dir"
    if [ "$upstream_ok" = upstream-ok ] && compgen -G "$dl/*.orig.tar.*" >/dev/null; then
      dir="$srcdir/$pkg-$ver-upstream"
      rm -rf "$dir"; mkdir -p "$dir"
      qv_log "setup: no mirror has Debian's part of $pkg $ver; using its upstream tarball"
      if tar -xf "$(compgen -G "$dl/*.orig.tar.*" | head -1)" -C "$dir" --strip-components=1; then
        rm -rf "$dl"; touch "$dir/.unpacked"; echo "$dir"; return 0
      fi
      rm -rf "$dir"
    fi
    rm -rf "$dl"
  done
  echo "setup: could not fetch any version of source package $pkg" >&2
  return 1
}
