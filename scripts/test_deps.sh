#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks scripts/deps.sh against stand-ins for sudo, apt-get, dpkg-query and
# id, put first on PATH in a scratch directory: which packages each set
# asks for, that apt-get always gets DEBIAN_FRONTEND=noninteractive, also
# through a sudo that passes on no environment (as Debian's sudo resets it),
# and that nothing is run when everything is installed. Nothing is
# installed; the scratch directory goes however the script ends.
set -uo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
deps="$here/scripts/deps.sh"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP
bin="$scratch/bin"
log="$scratch/calls"
mkdir -p "$bin"

# sudo: logs itself, then runs the command with an empty environment but
# PATH, as sudo's env_reset does (PATH stands for its secure_path).
cat >"$bin/sudo" <<'EOF'
#!/bin/sh
echo "sudo" >>"$CALLS"
exec env -i PATH="$PATH" CALLS="$CALLS" "$@"
EOF
# apt-get: one line per call, the frontend it was given and its arguments.
cat >"$bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get frontend=${DEBIAN_FRONTEND:-unset} $*" >>"$CALLS"
EOF
# dpkg-query: the packages named in $INSTALLED are installed, no others.
cat >"$bin/dpkg-query" <<'EOF'
#!/bin/sh
for p; do :; done
case " $INSTALLED " in *" $p "*) printf 'install ok installed' ;; *) exit 1 ;; esac
EOF
cat >"$bin/id" <<'EOF'
#!/bin/sh
echo "$FAKE_UID"
EOF
chmod +x "$bin"/*

passed=0
failed=0
check() {
  local what="$1" ok="$2" detail="${3:-}"
  if [ "$ok" = yes ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL  $what${detail:+: $detail}" >&2
  fi
}

# Runs deps.sh with the stand-ins; prints what was called.
run_deps() {
  local uid="$1" installed="$2"
  shift 2
  : >"$log"
  PATH="$bin:$PATH" CALLS="$log" FAKE_UID="$uid" INSTALLED="$installed" DEBIAN_FRONTEND= \
    "$deps" "$@" >/dev/null 2>&1
  echo "status=$?"
  cat "$log"
}

# The stand-in sudo must drop the variable as the real one does, or the
# cases below would prove nothing.
: >"$log"
said="$(DEBIAN_FRONTEND=noninteractive PATH="$bin:$PATH" CALLS="$log" "$bin/sudo" \
  sh -c 'echo "${DEBIAN_FRONTEND:-unset}"')"
check "the stand-in sudo drops the environment" "$([ "$said" = unset ] && echo yes)" "$said"

run_set="$("$deps" run --list | sort | paste -sd' ')"
test_set="$("$deps" test --list | sort | paste -sd' ')"

# set, uid, installed already, the packages it must ask for, whether sudo.
cases=(
  "run|1000||$run_set|sudo"
  "test|1000||$test_set|sudo"
  "test|0||$test_set|"
  "run|1000|cmake g++|$(tr ' ' '\n' <<<"$run_set" | grep -vx -e cmake -e 'g++' | paste -sd' ')|sudo"
)
for c in "${cases[@]}"; do
  IFS='|' read -r set uid installed want sudo <<<"$c"
  name="deps.sh $set as uid $uid${installed:+ with $installed installed}"
  out="$(run_deps "$uid" "$installed" "$set")"
  check "$name: ends well" "$(grep -qx 'status=0' <<<"$out" && echo yes)" "$out"
  apt_calls="$(grep '^apt-get ' <<<"$out")"
  check "$name: apt-get updates, then installs" \
    "$(awk '{ for (i = 3; i <= NF; i++) if ($i == "update" || $i == "install") { print $i; break } }' \
      <<<"$apt_calls" | paste -sd' ' | grep -qx 'update install' && echo yes)" "$apt_calls"
  check "$name: every apt-get call is non-interactive" \
    "$(grep -vq 'frontend=noninteractive' <<<"$apt_calls" || echo yes)" "$apt_calls"
  asked="$(grep ' install ' <<<"$apt_calls" | tr ' ' '\n' | grep -v -e '^-' -e '=' -e '^install$' \
    -e '^apt-get$' | sort | paste -sd' ')"
  check "$name: asks for the missing packages of its set" "$([ "$asked" = "$want" ] && echo yes)" \
    "asked for: $asked"
  check "$name: sudo only when not root" \
    "$([ "$(grep -c '^sudo$' <<<"$out")" -eq "$([ -n "$sudo" ] && echo 2 || echo 0)" ] && echo yes)" "$out"
done

out="$(run_deps 1000 "$test_set" test)"
check "deps.sh with everything installed runs nothing" \
  "$([ "$out" = status=0 ] && echo yes)" "$out"

# What only the tests and the package need stays out of the run set.
for p in clang lintian devscripts libgtest-dev umockdev xvfb; do
  check "the run set leaves $p to the test set" \
    "$(grep -qw -- "$p" <<<"$run_set" || echo yes)"
done

echo "deps.sh: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
