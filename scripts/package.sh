#!/usr/bin/env bash
# Builds the Debian package in a build directory and checks what it holds:
#   ./scripts/package.sh BUILD_DIR
# A build directory that is not configured yet gets a release build without
# tests; an existing one keeps its options and only gets the /usr prefix.
# Exits non-zero when a program, the desktop entry, the icon or the package
# dependencies are missing.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: package.sh BUILD_DIR}"
case "$build" in /*) ;; *) build="$here/$build" ;; esac

if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
else
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTORVIK_BUILD_TESTS=OFF -DTORVIK_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target torvik-config torvik-sim

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
arch="$(dpkg --print-architecture)"
deb="$build/torvik-config_${version}_${arch}.deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null 2>&1) || { echo "package.sh: cpack failed" >&2; exit 1; }
if [ ! -f "$deb" ]; then
  echo "package.sh: cpack made no $deb" >&2
  exit 1
fi

contents="$(dpkg-deb --contents "$deb")"
status=0
for path in /usr/bin/torvik-config /usr/bin/torvik-sim /usr/share/applications/torvik-config.desktop \
            /usr/share/icons/hicolor/scalable/apps/torvik-config.svg \
            /usr/share/doc/torvik-config/99-torvik-config.rules; do
  if grep -q " \.$path\$" <<<"$contents"; then
    echo "ok  $path"
  else
    echo "MISSING $path" >&2
    status=1
  fi
done

info="$(dpkg-deb -I "$deb")"
depends="$(sed -n 's/^ *Depends: //p' <<<"$info")"
echo "Depends: $depends"
for dep in libqt6widgets6 libasound2 fonts-noto-cjk; do
  if ! grep -q "\b$dep\b" <<<"$depends"; then
    echo "MISSING dependency $dep" >&2
    status=1
  fi
done
if ! grep -q " postinst" <<<"$info"; then
  echo "MISSING postinst" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "package: $deb"
exit "$status"
