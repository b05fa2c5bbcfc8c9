#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the Debian package as a distribution's packager would:
#   ./scripts/check_package.sh BUILD_DIR
# BUILD_DIR holds the package made by scripts/package.sh (made there first
# when it is missing). Every check runs; each failure is reported and the
# script exits non-zero when any failed:
#   version       one version in CMake, changelog, package, AppStream and
#                 every program's --version
#   lintian       lintian --pedantic: no error, no warning
#   desktop       desktop-file-validate on the installed desktop entry
#   appstream     appstreamcli validate on the installed metainfo
#   hardening     hardening-check on every installed program
#   manual        a page for every program, free of groff warnings, naming
#                 every option its --help lists
#   maintainer    postinst and postrm in a scratch root: remove keeps the
#                 settings directory, purge deletes it
#   reproducible  a second build in BUILD_DIR-again gives the same .deb
#   spdx          every source, script and CMake file carries the licence
set -uo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: check_package.sh BUILD_DIR}"
case "$build" in /*) ;; *) build="$here/$build" ;; esac
package=torvik-config

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP

failed=()
pass() { echo "ok    $1"; }
fail() {
  echo "FAIL  $1: $2" >&2
  failed+=("$1")
}

version="$(dpkg-parsechangelog -l "$here/packaging/changelog" -S Version)"
arch="$(dpkg --print-architecture)"
deb="$build/${package}_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
  "$here/scripts/package.sh" "$build" >/dev/null || {
    echo "check_package.sh: the package could not be built" >&2
    exit 1
  }
fi
[ -f "$deb" ] || {
  echo "check_package.sh: no $deb (CMake and packaging/changelog disagree on the version?)" >&2
  exit 1
}
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
programs=("$root"/usr/bin/*)

# --- version ---------------------------------------------------------------
check_version() {
  local problems=() cmake_version deb_version release program said
  cmake_version="$(sed -n 's/^project(torvik-config VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")"
  [ "$cmake_version" = "$version" ] || problems+=("CMakeLists.txt has $cmake_version")
  deb_version="$(dpkg-deb -f "$deb" Version)"
  [ "$deb_version" = "$version" ] || problems+=("the package has $deb_version")
  release="$(grep -o '<release version="[^"]*"' "$root"/usr/share/metainfo/*.metainfo.xml |
    head -n1 | sed 's/.*"\(.*\)"/\1/')"
  [ "$release" = "$version" ] || problems+=("the newest AppStream release is $release")
  local changelog_date release_date
  changelog_date="$(date -u -d "$(dpkg-parsechangelog -l "$here/packaging/changelog" -S Date)" +%F)"
  release_date="$(grep -o '<release version="[^"]*" date="[^"]*"' "$root"/usr/share/metainfo/*.metainfo.xml |
    head -n1 | sed 's/.*date="\(.*\)"/\1/')"
  [ "$release_date" = "$changelog_date" ] ||
    problems+=("the AppStream release is dated $release_date, the changelog $changelog_date")
  for program in "${programs[@]}"; do
    said="$("$program" --version 2>&1)"
    [ "$said" = "$(basename "$program") $version" ] ||
      problems+=("$(basename "$program") --version says '$said'")
  done
  if [ "${#problems[@]}" -eq 0 ]; then
    pass "version $version"
  else
    fail version "changelog has $version; $(IFS=';' && echo "${problems[*]}")"
  fi
}

# --- lintian ---------------------------------------------------------------
# lintian leaves its ELF cache (mldbm-elf-*) in TMPDIR: there it goes with
# the scratch directory.
check_lintian() {
  local out
  out="$(TMPDIR="$scratch" lintian --pedantic --display-info "$deb" 2>&1 |
    grep -v '^running with root privileges')"
  if grep -q '^[EW]: ' <<<"$out"; then
    fail lintian "$(printf '\n%s' "$(grep '^[EW]: ' <<<"$out")")"
  else
    pass "lintian --pedantic${out:+ (only: $(grep -c '^[A-Z]: ' <<<"$out") notes)}"
  fi
}

# --- desktop entry and AppStream ---------------------------------------------
check_desktop() {
  local out
  if out="$(desktop-file-validate "$root/usr/share/applications/$package.desktop" 2>&1)" &&
    [ -z "$out" ]; then
    pass desktop-file-validate
  else
    fail desktop "$out"
  fi
}

check_appstream() {
  local files=("$root"/usr/share/metainfo/*.metainfo.xml) out id
  if [ ! -f "${files[0]}" ]; then
    fail appstream "no metainfo in /usr/share/metainfo"
    return
  fi
  id="$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "${files[0]}")"
  if [ "$(basename "${files[0]}")" != "$id.metainfo.xml" ]; then
    fail appstream "$(basename "${files[0]}") is not named after its id $id"
  elif out="$(appstreamcli validate --no-net --no-color "${files[0]}" 2>&1)"; then
    pass "appstreamcli validate"
  else
    fail appstream "$out"
  fi
}

# --- hardening -------------------------------------------------------------
# Control-flow protection is not asked for: Debian 12's own C start files
# (Scrt1.o, crti.o) are built without the IBT/SHSTK property, so no program
# linked there carries it (/usr/bin/ls neither), and dpkg-buildflags does
# not ask for it. Everything else (PIE, stack protector, fortify, relro,
# bind-now) must be there.
check_hardening() {
  local out
  if out="$(hardening-check --quiet --nocfprotection "${programs[@]}" 2>&1)"; then
    pass "hardening-check ($(for p in "${programs[@]}"; do basename "$p"; done | paste -sd' '))"
  else
    fail hardening "$out"
  fi
}

# --- manual pages ----------------------------------------------------------
# The options a program's --help lists, one a line.
help_options() {
  "$1" --help 2>&1 | grep -oE -- '(^|[^[:alnum:]-])--[[:alnum:]][[:alnum:]-]*' |
    sed 's/^[^-]*//' | sort -u
}

check_manual() {
  local problems=() program name page text warnings option
  for program in "${programs[@]}"; do
    name="$(basename "$program")"
    page="$root/usr/share/man/man1/$name.1.gz"
    if [ ! -f "$page" ]; then
      problems+=("$name has no manual page")
      continue
    fi
    warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || problems+=("$name.1: $warnings")
    # The page's text with roff's escaped hyphens made plain.
    text="$(zcat "$page" | sed 's/\\-/-/g; s/\\f[BIRP]//g')"
    while read -r option; do
      [ -n "$option" ] || continue
      grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|\$)" <<<"$text" ||
        problems+=("$name.1 lacks $option")
    done < <(help_options "$program")
  done
  if [ "${#problems[@]}" -eq 0 ]; then
    pass "manual pages name every option of --help"
  else
    fail manual "$(IFS=';' && echo "${problems[*]}")"
  fi
}

# --- maintainer scripts ----------------------------------------------------
check_maintainer_scripts() {
  local control="$scratch/control" target="$scratch/target"
  local dir="$target/var/lib/$package"
  dpkg-deb -e "$deb" "$control"
  mkdir -p "$target"
  if ! DPKG_ROOT="$target" sh "$control/postinst" configure; then
    fail maintainer "postinst configure failed"
    return
  fi
  if [ "$(stat -c %a "$dir" 2>/dev/null)" != 2775 ]; then
    fail maintainer "postinst made $dir with mode $(stat -c %a "$dir" 2>&1), not 2775"
    return
  fi
  echo "ScanCommNo=1" >"$dir/settings.reg"
  DPKG_ROOT="$target" sh "$control/postrm" remove
  if [ ! -f "$dir/settings.reg" ]; then
    fail maintainer "postrm remove deleted the settings"
    return
  fi
  DPKG_ROOT="$target" sh "$control/postrm" purge
  if [ -e "$dir" ]; then
    fail maintainer "postrm purge left $dir"
    return
  fi
  pass "postinst and postrm (remove keeps the settings, purge deletes them)"
}

# --- reproducibility -------------------------------------------------------
check_reproducible() {
  local again="$build-again" second
  second="$again/$(basename "$deb")"
  # The same SOURCE_DATE_EPOCH as the first build: the one set, or else
  # both take the last commit's time.
  if ! "$here/scripts/package.sh" "$again" >/dev/null; then
    fail reproducible "the second build failed"
  elif cmp -s "$deb" "$second"; then
    pass "reproducible (two builds, two directories, same .deb)"
  else
    local a="$scratch/a" b="$scratch/b"
    dpkg-deb -x "$second" "$b"
    mkdir -p "$a" && cp -a "$root/." "$a/"
    fail reproducible "$(basename "$deb") differs between $build and $again: $(
      diff -rq "$a" "$b" 2>&1 | head -n5 | paste -sd';')"
  fi
}

# --- licence ---------------------------------------------------------------
check_spdx() {
  local missing
  if missing="$("$here/scripts/add_spdx.sh" --check)"; then
    pass "SPDX-License-Identifier in every source, script and CMake file"
  else
    fail spdx "$(wc -l <<<"$missing") files lack 'SPDX-License-Identifier: MIT' (run scripts/add_spdx.sh): $(
      head -n10 <<<"$missing" | paste -sd' ')"
  fi
}

# The collection where ansible-core finds it: every module's documentation
# renders from the package's files alone (ansible's own files go to the
# scratch directory, not the user's home).
check_ansible_collection() {
  local collections="$root/usr/share/ansible/collections" module problems=()
  if ! command -v ansible-doc >/dev/null; then
    fail ansible-doc "ansible-doc is missing (Debian package ansible-core)"
    return
  fi
  for module in reader_info reader fingerprints; do
    if ! HOME="$scratch/home" ANSIBLE_COLLECTIONS_PATH="$collections" \
      ANSIBLE_LOCAL_TEMP="$scratch/ansible-tmp" ansible-doc "torvik.reader.$module" 2>&1 |
      grep -q "torvik.reader.$module"; then
      problems+=("$module")
    fi
  done
  if [ "${#problems[@]}" -eq 0 ]; then
    pass "ansible-doc renders torvik.reader.reader_info, reader and fingerprints from the package"
  else
    fail ansible-doc "no documentation from the package for: ${problems[*]}"
  fi
}

check_version
check_lintian
check_desktop
check_appstream
check_hardening
check_manual
check_maintainer_scripts
check_reproducible
check_spdx
check_ansible_collection

if [ "${#failed[@]}" -ne 0 ]; then
  echo "check_package.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "check_package.sh: all package checks passed"
