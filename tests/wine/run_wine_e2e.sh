#!/usr/bin/env bash
# End-to-end test of a Windows build under Wine.
#
#   run_wine_e2e.sh WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]
#
# WINDOWS_BUILD_DIR holds orvcard.exe and orvcard-op.exe, and below them, in tests/wine, the test
# helpers built with them (fake_dpinst.exe, msports.dll, DIFxAPI.dll, reg_dump.exe,
# win32_backend_check.exe). The build's architecture is read from orvcard.exe: the x64 build
# runs in a 64-bit prefix on the host's Wine, the x86 build in a 32-bit prefix of a separate
# i386 Debian tree (wine32_tree.sh makes it once; this script enters it with chroot in a mount
# namespace of its own, so the host gets no i386 package and sees no mount).
# LINUX_BUILD_DIR holds winsim, orvcard and orvcard-op; when it is given, every case whose
# fixture both platforms can hold is also run on the simulated machine and the two end states
# are compared (the differential check), and so is the platform code under every version.
#
# Needs: wine (Debian's wine and wine64: the `wine` launcher, `wineserver`, `wineboot`),
# python3 and iconv; for the x86 build also root, unshare, mmdebstrap and arch-test. Exits 0
# with "SKIPPED: ..." only when wine is not installed at all, or, for the x86 build, when the
# kernel cannot run i386 programs (some virtual machines' kernels cannot); then only the 32-bit
# tree's packages are resolved (wine32_tree.sh --resolve).
#
# How it runs: one pristine prefix per run (wineboot, about 10 s), copied for each case (about
# 1 s). HKLM\HARDWARE is volatile, so each case keeps its wineserver alive (wineserver -p) and
# imports its fixture right before its run. Fixtures are kept as UTF-8 text and imported as
# UTF-16: Wine reads hex(1)/hex(7) data of an 8-bit .reg file as text to convert.
# Registry results are read with reg_dump.exe (reg export cuts a REG_SZ at its first null, so it
# cannot show the 260- and 522-byte values) and compared through reg_values.py. Wine runs with
# its home and XDG folders inside the test's temporary folder, so it leaves nothing behind.
#
# Covered here, with both builds:
# - the command-line forms, the exact bytes they print (CR LF) and their exit codes; the
#   response file (appended, CR LF, first -f2/-F2 argument only); the usage error of orvcard-op;
# - the backend itself (win32_backend_check.exe): no library loaded from the current directory
#   once the backend exists (SetDefaultDllDirectories); a missing msports.dll/DIFxAPI.dll or function
#   gives 127 without a crash; registry sizes handed back; version and system information; the
#   response-file stream; file search and full paths; process start, wait and exit code;
# - the platform code under every version winecfg can set in the prefix (64-bit: winxp64,
#   win2003, vista, win2008, win7, win2008r2, win8, win81, win10; 32-bit: nt40, win2k, winxp,
#   win2003, vista, win2008, win7, win2008r2, win8, win81, win10), each compared with the code
#   the simulated machine gives for Wine's own version, product type and processor values; the
#   installer launch (0x4) under each, running DPInst64.exe (x64) or DPInst32.exe (x86, Windows
#   XP among them) from the current directory through Wine's cmd.exe, its exit status mapped;
# - Windows 2000 (32-bit prefix): the no-argument run changes nothing;
# - the parallel renumbering: card ports renamed, attached LPTENUM devices removed (substring
#   and case rules), the parallel-port map rewritten with 260-byte values;
# - -RemoveCOMdb and -RemoveDeviceNode: COM numbers released in the database bitmap, device nodes
#   and their software keys deleted, other devices kept;
# - the serial renumbering (0x4000): PortName and friendly names written;
# - the driver packages: install with the legacy-mode retry, the driver-store record (522-byte
#   values), the clean-up of recorded packages through Wine's cmd.exe and a stand-in DPInst.exe at
#   "%SystemDrive%\Program Files\ORVEK\DPInst.exe" (arguments "/s /u PATH", newest first, values
#   and key deleted), the maker's INF files found in C:\windows\inf and uninstalled, mapped and
#   raw results.
#
# - the contract suite (tests/contract/): every seam call's documented results, last errors and
#   sizes written back, against the Win32 backend from the suite's fixture (ComDB and DIFx
#   excepted: here they are our own stand-ins); the differences Wine has are listed in the suite;
# - the platform trace: every step of a case with a differential check runs with ORVCARD_TRACE
#   under Wine and on the simulated machine, and trace_compare.py compares the two traces call by
#   call (function, arguments, results, order), apart from the differences it lists;
#
# Not covered here, and why:
# - WOW64 (the x86 build on 64-bit Windows): a 64-bit Wine prefix runs 32-bit programs only
#   with the host's wine32, which this machine cannot have beside wine64 (see above); the
#   simulated machine covers it (ORVCARD_PROCESS=x86);
# - present-device filtering: Wine ignores DIGCF_PRESENT and lists every device, so the fixtures
#   of the operations that ask for present devices hold only present ones;
# - the property-change restart: Wine's SetupDiSetClassInstallParamsW is a stub returning FALSE,
#   so no restart can be seen, and the display restart (0x10000) stops at its first device;
# - the real COM port database: every ComDB* function of Wine's msports.dll aborts the process;
#   a stand-in msports.dll (loaded from system32 with WINEDLLOVERRIDES) keeps the same registry
#   bitmap, so the tool's calls are checked, not Windows' database;
# - real DIFx: Wine's DIFxAPI.dll reports success and does nothing; a stand-in DIFxAPI.dll beside
#   the programs records each call and answers from the INF text, so the driver store itself
#   (signature checks, store copies, oemN.inf) is not exercised;
# - value order: Wine enumerates values in name order, Windows in insertion order, so the map's
#   value names sort in their intended order and only that order is exercised;
# - console output: stdout goes to files here, so the console's code page is not exercised.
set -euo pipefail

usage() {
  echo "usage: $0 WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]" >&2
  exit 2
}
[[ $# -ge 1 && $# -le 2 ]] || usage
WIN_DIR=$(cd "$1" && pwd)
HELPERS=$WIN_DIR/tests/wine
LINUX_DIR=${2:+$(cd "$2" && pwd)}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FIXTURES=$HERE/fixtures
REG_VALUES=(python3 "$HERE/reg_values.py")

for tool in python3 iconv; do
  command -v "$tool" >/dev/null || { echo "error: $tool is needed" >&2; exit 2; }
done
for file in orvcard.exe orvcard-op.exe tests/wine/fake_dpinst.exe tests/wine/msports.dll \
  tests/wine/DIFxAPI.dll tests/wine/reg_dump.exe tests/wine/win32_backend_check.exe \
  tests/wine/contract_check.exe; do
  [[ -f $WIN_DIR/$file ]] || { echo "error: $WIN_DIR/$file is missing" >&2; exit 2; }
done
if [[ -n $LINUX_DIR ]]; then
  for file in winsim orvcard orvcard-op; do
    [[ -x $LINUX_DIR/$file ]] || { echo "error: $LINUX_DIR/$file is missing" >&2; exit 2; }
  done
fi

# The build's architecture, from the machine field of orvcard.exe's PE header.
ARCH=$(python3 - "$WIN_DIR/orvcard.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
print({0x8664: "x64", 0x14C: "x86"}.get(struct.unpack_from("<H", data, pe + 4)[0], "unknown"))
PY
)
case $ARCH in
  x64)
    if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null ||
      ! command -v wineboot >/dev/null; then
      echo "SKIPPED: wine is not installed (apt-get install wine wine64)"
      exit 0
    fi
    ;;
  x86)
    # Enter a mount namespace of our own, where the 32-bit tree can see the folders the run
    # uses; every Wine call then runs chrooted in it. The wineserver lives in this namespace,
    # so each call that shares its prefix sees the same folders.
    if [[ -z ${ORV_WINE32_TREE:-} ]]; then
      if command -v arch-test >/dev/null && ! arch-test i386 >/dev/null; then
        echo "SKIPPED: this machine's kernel cannot run i386 programs (arch-test i386), so no 32-bit Wine runs here"
        "$HERE/wine32_tree.sh" --resolve
        echo "the 32-bit Wine tree's packages resolve"
        exit 0
      fi
      tree=$("$HERE/wine32_tree.sh")
      exec unshare --mount --fork env ORV_WINE32_TREE="$tree" bash "$0" "$@"
    fi
    TREE=$ORV_WINE32_TREE
    mount -t proc proc "$TREE/proc"
    mount --rbind /dev "$TREE/dev"
    # bind_into_tree DIR: DIR appears at the same path inside the tree.
    bind_into_tree() {
      mkdir -p "$TREE$1"
      mount --bind "$1" "$TREE$1"
    }
    bind_into_tree "$WIN_DIR"
    # in_tree PROGRAM ARGS...: runs PROGRAM in the tree, in the current folder when the tree
    # sees it (chroot alone would start in its root).
    in_tree() {
      local folder=/
      if [[ -d $TREE$PWD ]]; then folder=$PWD; fi
      chroot "$TREE" env -C "$folder" "$@"
    }
    wine() { in_tree wine "$@"; }
    wineserver() { in_tree wineserver "$@"; }
    wineboot() { in_tree wineboot "$@"; }
    export WINEARCH=win32
    ;;
  *)
    echo "error: $WIN_DIR/orvcard.exe is neither an x64 nor an x86 program" >&2
    exit 2
    ;;
esac
echo "testing the $ARCH build in $WIN_DIR"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/orvcard-wine.XXXXXX")
if [[ $ARCH == x86 ]]; then
  bind_into_tree "$WORK"
fi
# Wine's own home and XDG folders (menus, desktop entries, caches) stay in the temporary folder.
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_DATA_HOME=$WORK/home/.local/share
export XDG_CACHE_HOME=$WORK/home/.cache
mkdir -p "$HOME"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, no menu entries.
BASE_OVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
FAILURES=0
SECONDS=0

stop_server() {
  if [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
}
cleanup() {
  stop_server
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $CASE_NAME: $*"
  FAILURES=$((FAILURES + 1))
}
pass() { echo "ok: $CASE_NAME: $*"; }

# --- prefix and cases ------------------------------------------------------------------------

echo "creating the Wine prefix"
export WINEPREFIX=$WORK/pristine WINEDLLOVERRIDES=$BASE_OVERRIDES
if ! wineboot -i >"$WORK/wineboot.log" 2>&1; then
  cat "$WORK/wineboot.log"
  echo "FAIL: wineboot could not create a prefix"
  exit 1
fi
wineserver -w
echo "prefix ready after ${SECONDS}s"

# start_case NAME FIXTURE|-: a fresh copy of the pristine prefix with the stand-in libraries and
# programs in place and a live wineserver; the fixture (if any) is imported; the current
# directory is C:\run. The Windows programs run from C:\orvek, where DIFxAPI.dll lies beside them.
start_case() {
  stop_server
  cd "$WORK"
  if [[ -n ${CASE_DIR:-} ]]; then
    rm -rf "$CASE_DIR"
  fi
  CASE_NAME=$1
  CASE_FIXTURE=$2
  echo "-- $CASE_NAME (at ${SECONDS}s)"
  CASE_STEPS=()
  CASE_DIR=$WORK/$CASE_NAME
  export WINEPREFIX=$CASE_DIR/prefix
  export WINEDLLOVERRIDES="$BASE_OVERRIDES;msports=n;difxapi=n"
  mkdir -p "$WINEPREFIX"
  # system32 (most of the prefix) is hard-linked: nothing rewrites its files in place, and the
  # one file replaced here is unlinked first. The rest is copied.
  tar -C "$WORK/pristine" --exclude=./drive_c/windows/system32 -cf - . | tar -C "$WINEPREFIX" -xf -
  cp -al "$WORK/pristine/drive_c/windows/system32" "$WINEPREFIX/drive_c/windows/system32"
  DRIVE_C=$WINEPREFIX/drive_c
  cp --remove-destination "$HELPERS/msports.dll" "$DRIVE_C/windows/system32/msports.dll"
  mkdir -p "$DRIVE_C/orvek" "$DRIVE_C/run" "$DRIVE_C/Program Files/ORVEK"
  cp "$WIN_DIR"/{orvcard.exe,orvcard-op.exe} "$HELPERS/DIFxAPI.dll" "$DRIVE_C/orvek/"
  cp "$HELPERS/fake_dpinst.exe" "$DRIVE_C/Program Files/ORVEK/DPInst.exe"
  wineserver -p
  if [[ $CASE_FIXTURE != - ]]; then
    import_fixture "$FIXTURES/$CASE_FIXTURE"
  fi
  cd "$DRIVE_C/run"
}

import_fixture() {
  { printf '\xff\xfe'; iconv -f utf-8 -t utf-16le "$1"; } >"$CASE_DIR/import.reg"
  wine reg import "$CASE_DIR/import.reg" >/dev/null 2>&1 || fail "reg import $(basename "$1")"
}

# tool PROGRAM [ARGS...]: runs orvcard or orvcard-op in the current directory; its stdout goes
# to $OUT, its exit status to $RC, its platform trace (ORVCARD_TRACE) is appended to
# $CASE_DIR/wine.trace. The step is remembered for the differential check.
tool() {
  local program=$1
  shift
  CASE_STEPS+=("$(printf '%q ' "$program" "$@")")
  OUT=$CASE_DIR/stdout.${#CASE_STEPS[@]}
  local trace="Z:$CASE_DIR/wine.trace"
  set +e
  ORVCARD_TRACE=${trace//\//\\} wine "C:\\orvek\\$program.exe" "$@" >"$OUT" 2>"$OUT.err"
  RC=$?
  set -e
  echo "$RC" >"$CASE_DIR/status.${#CASE_STEPS[@]}"
}

# expect_run WHAT RC STDOUT_PRINTF: the last run's exit status and stdout bytes.
expect_run() {
  local expected_out=$CASE_DIR/expected.out
  printf '%b' "$3" >"$expected_out"
  if [[ $RC != "$2" ]]; then
    fail "$1: exit status $RC, expected $2"
  elif ! cmp -s "$expected_out" "$OUT"; then
    fail "$1: stdout $(od -An -c "$OUT" | tr -s ' ' | head -c 300), expected $(od -An -c "$expected_out" | tr -s ' ')"
  else
    pass "$1"
  fi
}

# expect_file WHAT FILE PRINTF: a file's exact bytes ("-" for "no such file").
expect_file() {
  if [[ $3 == - ]]; then
    if [[ -e $2 ]]; then fail "$1: $2 exists"; else pass "$1"; fi
    return
  fi
  if [[ -f $2 ]] && cmp -s <(printf '%b' "$3") "$2"; then
    pass "$1"
  else
    fail "$1: $2 holds $(od -An -c "$2" 2>/dev/null | tr -s ' ' | head -c 300)"
  fi
}

# registry_state SELECTOR...: the keys and values under the selectors (see reg_values.py), read
# from the prefix byte for byte.
registry_state() {
  local roots=()
  local selector
  for selector in "$@"; do
    roots+=("${selector%%=*}")
  done
  wine "$HELPERS/reg_dump.exe" "${roots[@]}" >"$CASE_DIR/dump.reg" 2>/dev/null
  "${REG_VALUES[@]}" "$CASE_DIR/dump.reg" "$@"
}

# expect_registry WHAT SELECTOR... <<EXPECTED: the registry lines, exactly.
expect_registry() {
  local what=$1
  shift
  local expected actual
  expected=$(cat)
  actual=$(registry_state "$@")
  same_text "$what" "$what: registry differs (- expected, + found)" "$expected" "$actual"
}

# same_text WHAT FAILURE EXPECTED FOUND: WHAT passes when the texts are equal; else FAILURE, and
# the lines that differ.
same_text() {
  if [[ $4 == "$3" ]]; then
    pass "$1"
  else
    fail "$2:"
    show_difference "$3" "$4"
  fi
}

# show_difference OLD NEW: the lines that differ, OLD's marked "-" and NEW's "+".
show_difference() {
  diff <(echo "$1") <(echo "$2") | sed -n 's/^</  -/p; s/^>/  +/p' || true
}

# --- differential check against the simulated machine ----------------------------------------

# The keys both platforms keep the same way: ports' names, friendly names and the existence of
# device nodes and software keys, the parallel-port map, the COM database, the package record.
DIFF_SELECTORS=(
  'SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM=PortName,FriendlyName'
  'SYSTEM\CurrentControlSet\Enum\LPTENUM=FriendlyName,LocationInformation'
  'SYSTEM\CurrentControlSet\Enum\ACPI=PortName,FriendlyName'
  'SYSTEM\CurrentControlSet\Control\Class\{4d36e978-e325-11ce-bfc1-08002be10318}=DriverDesc'
  'SYSTEM\CurrentControlSet\Control\Class\{4d36e979-e325-11ce-bfc1-08002be10318}=DriverDesc'
  'HARDWARE\DEVICEMAP\PARALLEL PORTS'
  'SYSTEM\CurrentControlSet\Control\COM Name Arbiter=ComDB'
  'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ORVEK Multi-I/O Card Driver'
)

# Enumerator and device keys (Enum\<enumerator> and Enum\<enumerator>\<device>): when the
# last instance below one is removed, Wine deletes them and the simulated machine keeps them
# empty. Instance keys and everything below them are compared.
without_empty_device_keys() {
  grep -Ev '^key system\\currentcontrolset\\enum\\[^\\]+(\\[^\\]+)?$' || true
}

# differential: replays this case's steps on a simulated machine made from the same fixture
# (after winsim_machine.reg, what the Wine prefix has of its own), and compares the end states,
# the exit statuses (low byte on both) and stdout (line ends aside).
differential() {
  [[ -n $LINUX_DIR ]] || return 0
  local machine=$CASE_DIR/machine scratch=$CASE_DIR/linux-run image=$CASE_DIR/linux-image.reg
  local step status output differences=0
  local wine_state linux_state
  wine_state=$(registry_state "${DIFF_SELECTORS[@]}" | without_empty_device_keys)
  if [[ $ARCH == x86 ]]; then
    sed 's/"PROCESSOR_ARCHITECTURE"="AMD64"/"PROCESSOR_ARCHITECTURE"="x86"/' \
      "$FIXTURES/winsim_machine.reg" >"$image"
  else
    cp "$FIXTURES/winsim_machine.reg" "$image"
  fi
  if [[ $CASE_FIXTURE != - ]]; then
    tail -n +2 "$FIXTURES/$CASE_FIXTURE" >>"$image"
  fi
  "$LINUX_DIR/winsim" init "$machine" --from "$image" >/dev/null 2>&1 ||
    { fail "differential: winsim init failed"; return; }
  mkdir -p "$scratch"
  local index=0
  for step in "${CASE_STEPS[@]}"; do
    index=$((index + 1))
    eval "set -- $step"
    local program=$1
    shift
    set +e
    output=$(cd "$scratch" && ORVCARD_MACHINE=$machine ORVCARD_TRACE=$CASE_DIR/sim.trace \
      "$LINUX_DIR/$program" "$@" 2>/dev/null)
    status=$?
    set -e
    local wine_status wine_output
    wine_status=$(cat "$CASE_DIR/status.$index")
    wine_output=$(tr -d '\r' <"$CASE_DIR/stdout.$index")
    if [[ $status != "$wine_status" || $output != "$wine_output" ]]; then
      fail "differential: $program $*: simulated machine exit $status, Wine $wine_status"
      differences=$((differences + 1))
    fi
  done
  "$LINUX_DIR/winsim" export "$machine" >"$CASE_DIR/linux-after.reg"
  linux_state=$("${REG_VALUES[@]}" "$CASE_DIR/linux-after.reg" "${DIFF_SELECTORS[@]}" |
    without_empty_device_keys)
  if [[ $wine_state != "$linux_state" ]]; then
    fail "differential: end states differ (- Wine, + simulated machine):"
    show_difference "$wine_state" "$linux_state"
    differences=$((differences + 1))
  fi
  if [[ $differences -eq 0 ]]; then
    pass "differential: same end state and results on the simulated machine"
  fi
  # The calls themselves: the Wine run's trace against the simulated machine's, apart from the
  # differences trace_compare.py lists with their reasons.
  local compared
  local windows_scratch="Z:$scratch"
  if compared=$(python3 "$HERE/trace_compare.py" "$CASE_DIR/sim.trace" "$CASE_DIR/wine.trace" \
    "${windows_scratch//\//\\}" 'C:\run' 2>&1); then
    pass "differential: the same platform calls on both ($compared, apart from the listed differences)"
  else
    fail "differential: the platform calls differ (- simulated machine, + Wine):"
    sed 's/^/  /' <<<"$compared" | head -60
  fi
}

# The cases (case_NAME), one function each.
source "$HERE/wine_cases.sh"

# The cases, in order; ORV_WINE_CASES="name ..." runs only those.
CASES=(backend contract command-line parallel-ports card-removal serial-ports package-record package-record-other-value packages replay)
if [[ $ARCH == x86 ]]; then
  CASES+=(windows-2000)
fi
for name in "${CASES[@]}"; do
  if [[ -z ${ORV_WINE_CASES:-} || " $ORV_WINE_CASES " == *" $name "* ]]; then
    "case_${name//-/_}"
  fi
done

stop_server
echo "finished in ${SECONDS}s with $FAILURES failure(s)"
[[ $FAILURES -eq 0 ]]
