# Sourced. The Debian archive as this host's own apt sources name it
# (sources.list or deb822 files): the roots, the guest and the emulator come
# from wherever apt on this host takes its packages, so a machine set up with
# another mirror works unchanged and no mirror is named here.

# archive_uri SUITE: the URI the host's sources give for SUITE, or nothing.
archive_uri() {
  apt-get indextargets --no-release-info --format '$(RELEASE) $(REPO_URI)' 2>/dev/null |
    awk -v suite="$1" '$1 == suite { print $2; exit }'
}

# archive_lines SUITE...: "deb URI SUITE main" for each SUITE the host's
# sources carry; a suite they lack is left out. Fails when bookworm itself is
# not among them.
archive_lines() {
  local suite uri
  if [ -z "$(archive_uri bookworm)" ]; then
    echo "no bookworm in this host's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d)" >&2
    return 1
  fi
  for suite in "$@"; do
    uri=$(archive_uri "$suite")
    [ -n "$uri" ] && echo "deb $uri $suite main"
  done
  return 0
}
