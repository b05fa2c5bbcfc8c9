#!/bin/sh
# SPDX-License-Identifier: MIT
# The module tests of the collection (pytest over recorded torvikctl calls),
# with pytest's temporary directories in one of their own, removed on every
# way out, and no cache or byte code written beside the sources.
#
#   run_unit_tests.sh [PYTEST OPTIONS]
set -u
here=$(cd "$(dirname "$0")" && pwd)
if ! /usr/bin/python3 -c "import ansible, pytest" 2>/dev/null; then
    echo "ansible-core and pytest are needed (Debian packages ansible-core and python3-pytest)" >&2
    exit 1
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/torvik-ansible-unit.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -q -p no:cacheprovider --basetemp="$dir/pytest" \
    "$here/unit" "$@"
