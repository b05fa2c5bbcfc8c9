#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package as a distribution would:
#   ./scripts/package.sh BUILD_DIR
# BUILD_DIR is configured here as a Release build with the distribution's
# flags (dpkg-buildflags with every hardening feature: stack protector,
# fortify, relro, bind-now) and the /usr prefix; tests and benchmarks are
# not built. The result is BUILD_DIR/torvik-config_<version>_<arch>.deb.
#
# The package is reproducible: every time stamp is SOURCE_DATE_EPOCH (taken
# from the last commit when not set), file order, owners and modes are
# fixed, and build paths are mapped out of the binaries. Exits non-zero
# when a step fails or the package lacks one of its files.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: package.sh BUILD_DIR}"
case "$build" in /*) ;; *) build="$here/$build" ;; esac
jobs="${JOBS:-$(nproc)}"
package=torvik-config

fail() {
  echo "package.sh: $*" >&2
  exit 1
}

changelog_version="$(dpkg-parsechangelog -l "$here/packaging/changelog" -S Version)"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$here" log -1 --format=%ct 2>/dev/null ||
    dpkg-parsechangelog -l "$here/packaging/changelog" -S Timestamp)"
fi
export SOURCE_DATE_EPOCH

# The distribution's flags. The prefix maps keep the source and build
# directories out of the binaries, so two builds in two places are equal.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# A compiler cache that rewrites paths below its base directory into
# relative ones would make the debug data (and so the build id) depend on
# which object came from the cache; the package builds without that.
unset CCACHE_BASEDIR
cppflags="$(cd "$here" && dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(cd "$here" && dpkg-buildflags --get CXXFLAGS)"
ldflags="$(cd "$here" && dpkg-buildflags --get LDFLAGS)"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
cxxflags="$cppflags $cxxflags -ffile-prefix-map=$here=. -ffile-prefix-map=$build=."

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DTORVIK_BUILD_TESTS=OFF -DTORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ "$version" = "$changelog_version" ] ||
  fail "CMake project version $version differs from packaging/changelog ($changelog_version)"
# The Ansible collection ships in the package: it has the package's version.
collection="ansible/ansible_collections/torvik/reader"
collection_version="$(sed -n 's/^version: *//p' "$here/$collection/galaxy.yml")"
[ "$collection_version" = "$version" ] ||
  fail "$collection/galaxy.yml has version $collection_version, the package $version"
arch="$(dpkg --print-architecture)"
deb="$build/${package}_${version}_${arch}.deb"

# The tree as installed, cleaned up as policy asks: stripped programs
# without the .comment and .note sections, compressed manual pages and
# changelog, fixed modes.
root="$build/deb-root"
rm -rf "$root" "$deb"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
for program in "$root"/usr/bin/*; do
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$program"
done
gzip -9n "$root"/usr/share/man/man1/*.1 "$root/usr/share/doc/$package/changelog"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root"/usr/bin/*

# Control data: the library dependencies from the programs themselves, the
# rest from packaging/control; version and date from packaging/changelog.
meta="$build/deb-meta"
rm -rf "$meta"
mkdir -p "$meta/debian" "$root/DEBIAN"
cp "$here/packaging/control" "$here/packaging/changelog" "$meta/debian/"
(
  cd "$meta"
  dpkg-shlibdeps -Tdebian/substvars "$root"/usr/bin/*
  dpkg-gencontrol -p"$package" -P"$root" -Tdebian/substvars -fdebian/files
)
install -m 0755 "$here/packaging/postinst" "$here/packaging/postrm" "$root/DEBIAN/"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null

contents="$(dpkg-deb --contents "$deb")"
status=0
for path in /usr/bin/torvik-config /usr/bin/torvik-sim /usr/bin/torvikctl \
  /usr/share/man/man1/torvikctl.1.gz /usr/share/applications/torvik-config.desktop \
  /usr/share/icons/hicolor/scalable/apps/torvik-config.svg \
  /usr/share/metainfo/example.c_seed_8d25b8a2.torvik_config.metainfo.xml \
  /usr/share/man/man1/torvik-config.1.gz /usr/share/man/man1/torvik-sim.1.gz \
  /usr/share/doc/$package/copyright /usr/share/doc/$package/changelog.gz \
  /usr/share/doc/$package/99-torvik-config.rules \
  /usr/share/ansible/collections/ansible_collections/torvik/reader/galaxy.yml \
  /usr/share/ansible/collections/ansible_collections/torvik/reader/meta/runtime.yml \
  /usr/share/ansible/collections/ansible_collections/torvik/reader/plugins/modules/reader.py \
  /usr/share/doc/$package/examples/ansible/commission.yml; do
  if ! grep -q " \.$path\$" <<<"$contents"; then
    echo "MISSING $path" >&2
    status=1
  fi
done
depends="$(dpkg-deb -f "$deb" Depends)"
for dep in libqt6widgets6 libasound2 fonts-liberation2 fonts-noto-cjk; do
  if ! grep -q "\b$dep\b" <<<"$depends"; then
    echo "MISSING dependency $dep" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "package: $deb"
exit "$status"
