#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets into build-fuzz/ and runs each for SECONDS
# (default 10) on a fresh copy of its seed corpus. Exits non-zero when a
# target fails to build or finds a crash; crash inputs go to
# build-fuzz/artifacts/.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail

SECONDS_PER_TARGET=${1:-10}
shift $(( $# > 0 ? 1 : 0 ))
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=$ROOT/build-fuzz
CXX=${CXX:-clang++}
VERSION=$(sed -n 's/^project(torvik-config VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
CXXFLAGS=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fno-sanitize-recover=all -I"$ROOT"
          -DTORVIK_VERSION=\"$VERSION\")
SAN=address,undefined

# Sources each target links besides its own file.
LINK_SRC="link/exchange.cpp link/frame_codec.cpp link/protocol.cpp link/port.cpp link/checksum.cpp"
SIM_SRC="sim/reader.cpp sim/adapter.cpp tests/doubles/fake_line.cpp"
APP_SRC="app/window_model.cpp app/control.cpp app/catalogue.cpp app/message.cpp app/reader_core.cpp
         app/settings.cpp app/text.cpp"
# The serial side of the link layer (ports, names, locks), with libudev.
PORT_SRC="link/com_map.cpp link/com_numbers.cpp link/com_number_file.cpp link/system_ports.cpp
          link/udev_ports.cpp link/file_io.cpp link/proc_fields.cpp link/terminal_text.cpp"
declare -A NEEDS=(
  [fuzz_short_frame]="$LINK_SRC $SIM_SRC"
  [fuzz_long_frame]="$LINK_SRC $SIM_SRC"
  [fuzz_protocol_decoders]="link/protocol.cpp link/checksum.cpp"
  [fuzz_settings_store]="app/file_settings_store.cpp app/settings.cpp link/file_io.cpp"
  [fuzz_reply_fields]="$LINK_SRC $SIM_SRC $APP_SRC $(cd "$ROOT" && echo ops/*.cpp) tests/harness.cpp"
  [fuzz_com_numbers]="link/com_numbers.cpp link/udev_ports.cpp link/terminal_text.cpp"
  [fuzz_json]="cli/json.cpp"
  [fuzz_template_file]="cli/template_file.cpp cli/json.cpp cli/text.cpp cli/texts.cpp link/terminal_text.cpp link/exit_cleanup.cpp
                        link/driver_requests.cpp link/tty_state.cpp
                        link/file_io.cpp app/text.cpp"
  [fuzz_ctl_command_line]="cli/command_line.cpp cli/texts.cpp link/port.cpp"
  [fuzz_port_pin]="$PORT_SRC"
  [fuzz_line_settings]="$(cd "$ROOT" && echo link/*.cpp)"
  [fuzz_uucp_lock]="link/uucp_lock.cpp"
  [fuzz_proc_fields]="link/proc_fields.cpp"
  [fuzz_window_options]="$(cd "$ROOT" && echo link/*.cpp app/*.cpp ops/*.cpp)"
  [fuzz_udev_text]="link/udev_ports.cpp link/terminal_text.cpp"
)
# Libraries a target links besides the sanitizers.
declare -A LIBS=(
  [fuzz_com_numbers]="-ludev"
  [fuzz_port_pin]="-ludev"
  [fuzz_line_settings]="-ludev"
  [fuzz_window_options]="-ludev -lasound"
  [fuzz_udev_text]="-ludev"
)
ALL_TARGETS=(fuzz_short_frame fuzz_long_frame fuzz_protocol_decoders fuzz_settings_store
             fuzz_reply_fields fuzz_com_numbers fuzz_json fuzz_template_file
             fuzz_ctl_command_line fuzz_port_pin fuzz_line_settings fuzz_uucp_lock
             fuzz_proc_fields fuzz_window_options fuzz_udev_text)
if (( $# > 0 )); then TARGETS=("$@"); else TARGETS=("${ALL_TARGETS[@]}"); fi

mkdir -p "$OUT/obj" "$OUT/artifacts" "$OUT/logs"

# Compiles one source to an object unless the object is newer than the
# source and every header it used (from the compiler's dependency file).
compile() {
  local src=$1 obj=$OUT/obj/${1//\//_}.o flags=$2
  if [[ -f $obj && -f $obj.d ]]; then
    local stale=0 dep
    for dep in $(sed -e 's/^[^:]*://' -e 's/\\$//' "$obj.d"); do
      [[ $dep -nt $obj ]] && { stale=1; break; }
    done
    (( stale )) || { echo "$obj"; return; }
  fi
  echo "  compile $src" >&2
  "$CXX" "${CXXFLAGS[@]}" "$flags" -MMD -MF "$obj.d" -c "$ROOT/$src" -o "$obj" >&2
  echo "$obj"
}

for t in "${TARGETS[@]}"; do
  [[ -n ${NEEDS[$t]+x} ]] || { echo "unknown target: $t" >&2; exit 2; }
  echo "== build $t"
  objs=()
  for src in ${NEEDS[$t]}; do
    obj=$(compile "$src" -fsanitize=fuzzer-no-link,$SAN) || exit 1
    objs+=("$obj")
  done
  obj=$(compile "fuzz/$t.cpp" -fsanitize=fuzzer,$SAN) || exit 1
  objs+=("$obj")
  # shellcheck disable=SC2086 # the libraries are words
  "$CXX" -fsanitize=fuzzer,$SAN "${objs[@]}" ${LIBS[$t]:-} -o "$OUT/$t"
done

status=0
declare -A EXECS RESULT
for t in "${TARGETS[@]}"; do
  corpus=$OUT/corpus-run/$t
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp -r "$ROOT/fuzz/corpus/$t/." "$corpus/" 2>/dev/null || true
  dict=()
  [[ -f $ROOT/fuzz/dict/$t.dict ]] && dict=(-dict="$ROOT/fuzz/dict/$t.dict")
  log=$OUT/logs/$t.log
  echo "== run $t for ${SECONDS_PER_TARGET}s (log: $log)"
  if "$OUT/$t" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 -timeout=20 \
      -artifact_prefix="$OUT/artifacts/$t-" "${dict[@]}" "$corpus" >"$log" 2>&1; then
    RESULT[$t]=ok
  else
    RESULT[$t]="CRASH (see $log and $OUT/artifacts/)"
    status=1
    grep -E "^==[0-9]+==ERROR|SUMMARY|Test unit written" "$log" | head -5 || true
  fi
  EXECS[$t]=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log" | tail -1)
done

echo
echo "== summary (${SECONDS_PER_TARGET}s per target)"
for t in "${TARGETS[@]}"; do
  printf '%-22s executions: %-10s %s\n' "$t" "${EXECS[$t]:-?}" "${RESULT[$t]}"
done
exit $status
