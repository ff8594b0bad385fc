# The cases of run_wine_e2e.sh, which sources this file: each case_NAME makes a fresh prefix
# (start_case), runs the tool and checks what it printed, returned and left in the registry, and
# replays its steps on the simulated machine (differential). The steps they use are defined there.
# shellcheck shell=bash

INVALID='\r\n Invalid command line option.'

# --- the backend and the platform ------------------------------------------------------------

case_backend() {
  start_case backend -
  cp "$HELPERS/win32_backend_check.exe" "$DRIVE_C/orvek/"
  # A library in the current directory only, which the backend must never load.
  cp "$HELPERS/msports.dll" orv-planted.dll
  if wine 'C:\orvek\win32_backend_check.exe' >"$CASE_DIR/check.out" 2>&1; then
    pass "win32_backend_check: $(grep -c '^ok' "$CASE_DIR/check.out") checks"
  else
    fail "win32_backend_check:"
    sed 's/^/  /' "$CASE_DIR/check.out"
  fi

  # The platform code under each version the prefix offers (Wine, like Windows, tells a
  # program without a compatibility manifest that Windows 8 and later are 6.2), the same code
  # from the simulated machine for Wine's own version, product type and processor values, and
  # the installer launch, which picks the installer of the build's processor under each.
  local -A codes
  local installer
  if [[ $ARCH == x64 ]]; then
    codes=([winxp64]=0x51000060 [win2003]=0x52000060 [vista]=0x60000060 [win2008]=0x60200860
      [win7]=0x61000060 [win2008r2]=0x60200860 [win8]=0x00000060 [win81]=0x00000060
      [win10]=0x00000060)
    VERSIONS=(winxp64 win2003 vista win2008 win7 win2008r2 win8 win81 win10)
    installer=DPInst64.exe
  else
    codes=([nt40]=0x00000000 [win2k]=0x50000003 [winxp]=0x51000003 [win2003]=0x52000003
      [vista]=0x60000003 [win2008]=0x60200803 [win7]=0x61000003 [win2008r2]=0x60200803
      [win8]=0x00000003 [win81]=0x00000003 [win10]=0x00000003)
    VERSIONS=(nt40 win2k winxp win2003 vista win2008 win7 win2008r2 win8 win81 win10)
    installer=DPInst32.exe
  fi
  cp "$HELPERS/fake_dpinst.exe" DPInst64.exe
  cp "$HELPERS/fake_dpinst.exe" DPInst32.exe
  local version code launches=''
  for version in "${VERSIONS[@]}"; do
    wine winecfg -v "$version" >/dev/null 2>&1 || fail "winecfg -v $version"
    code=$(wine 'C:\orvek\win32_backend_check.exe' --platform-code 2>/dev/null | tr -d '\r')
    if [[ $code == "${codes[$version]}" ]]; then
      pass "platform code on $version is $code"
    else
      fail "platform code on $version is $code, expected ${codes[$version]}"
    fi
    simulated_platform_code "$version" "$code"
    tool orvcard-op 0x4
    if [[ ${codes[$version]} == 0x00000000 ]]; then
      expect_run "installer launch (0x4) on $version: no installer for this platform" 11 ''
    else
      expect_run "installer launch (0x4) on $version" 0 ''
      launches+="$installer\n"
    fi
  done
  expect_file "the launch ran $installer without arguments under each version" dpinst-calls.log \
    "$launches"
  rm -f dpinst-calls.log
  for exit_and_result in 0:0 1:10 2:3 3010:11; do
    export ORV_FAKE_DPINST_EXIT=${exit_and_result%%:*}
    tool orvcard-op 0x4
    expect_run "installer launch (0x4), installer exit status $ORV_FAKE_DPINST_EXIT" \
      "${exit_and_result##*:}" ''
  done
  unset ORV_FAKE_DPINST_EXIT
  expect_file "the launch ran $installer without arguments, four times" dpinst-calls.log \
    "$installer\n$installer\n$installer\n$installer\n"
}

# simulated_platform_code VERSION CODE: the platform code the simulated machine gives for the
# version, product type and processor values that Wine now holds, compared with CODE, the one
# the Windows build read under Wine.
simulated_platform_code() {
  [[ -n $LINUX_DIR ]] || return 0
  local image=$CASE_DIR/version-$1.reg machine=$CASE_DIR/version-$1 key simulated
  printf 'Windows Registry Editor Version 5.00\n' >"$image"
  for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' \
    'HKLM\System\CurrentControlSet\Control\ProductOptions' \
    'HKLM\System\CurrentControlSet\Control\Session Manager\Environment'; do
    # Once more after the wineserver has settled: under load a first export right after the
    # version switch has been seen to fail; an export that fails twice is a failure.
    wine reg export "$key" "$CASE_DIR/key.reg" /y >/dev/null 2>&1 </dev/null ||
      { sleep 1 && wine reg export "$key" "$CASE_DIR/key.reg" /y >/dev/null 2>&1 </dev/null; } ||
      { fail "reg export $key"; return; }
    iconv -f utf-16 -t utf-8 "$CASE_DIR/key.reg" | tr -d '\r' | tail -n +2 >>"$image"
  done
  "$LINUX_DIR/winsim" init "$machine" --from "$image" >/dev/null 2>&1 ||
    { fail "differential: winsim init from Wine's $1 values failed"; return; }
  simulated=$("$LINUX_DIR/winsim" show "$machine" | sed -n 's/.*platform code \(0x[0-9A-F]*\).*/\1/p')
  if [[ ${simulated,,} == "${2,,}" ]]; then
    pass "differential: the simulated machine gives $simulated on Wine's $1 values too"
  else
    fail "differential: the simulated machine gives $simulated on Wine's $1 values, Wine $2"
  fi
}


case_command_line() {
  start_case command-line -
  tool orvcard -x
  expect_run "an unknown option" 10 "$INVALID"
  tool orvcard -removedevicenode
  expect_run "an option in other letter case" 10 "$INVALID"
  tool orvcard '-RemoveCOMdb '
  expect_run "an option with a trailing space" 10 "$INVALID"
  tool orvcard -RemoveDeviceNode -RemoveCOMdb
  expect_run "two options" 10 "$INVALID"
  tool orvcard ''
  expect_run "an empty argument" 10 "$INVALID"
  tool orvcard
  expect_run "no argument (nothing to renumber)" 0 ''
  tool orvcard-op 0x10 -f2r.ini
  expect_run "orvcard-op 0x10 -f2r.ini" 10 "$INVALID"
  expect_file "response file" r.ini '[ResponseResult]\r\nResultCode = 10\r\n'
  tool orvcard-op 16 -f2r.ini
  expect_file "response file appended" r.ini \
    '[ResponseResult]\r\nResultCode = 10\r\n[ResponseResult]\r\nResultCode = 10\r\n'
  tool orvcard-op 0x12 -F2a.ini -f2b.ini
  expect_run "uninstall without INF files (0x12)" 3 \
    '\r\n  Uninstalling driver package...\r\n\r\n  Uninstall driver fail.\r\n'
  expect_file "only the first response-file argument is written" a.ini \
    '[ResponseResult]\r\nResultCode = 3\r\n'
  expect_file "the second is not" b.ini -
  tool orvcard-op 0x1000
  expect_run "0x1000 does nothing" 0 ''
  tool orvcard-op 0x2000
  expect_run "clean-up without record or oem*.inf, raw (0x2000)" 13 ''
  tool orvcard-op 0x8
  expect_run "clean-up without record or oem*.inf, mapped (0x8)" 11 ''
  tool orvcard-op 0x4x
  expect_run "orvcard-op with a code that is not a number" 64 ''
  differential

  # A trace file that is not a regular file (a folder, a device) stops the run at once.
  local target status
  for target in 'C:\run' 'NUL'; do
    set +e
    ORVCARD_TRACE=$target wine 'C:\orvek\orvcard.exe' >"$CASE_DIR/refused.out" 2>"$CASE_DIR/refused.err"
    status=$?
    set -e
    if [[ $status == 125 && ! -s $CASE_DIR/refused.out ]] &&
      grep -q '^orvcard: ORVCARD_TRACE ' "$CASE_DIR/refused.err"; then
      pass "ORVCARD_TRACE=$target refused: $(tr -d '\r' <"$CASE_DIR/refused.err")"
    else
      fail "ORVCARD_TRACE=$target: exit status $status, stderr $(head -c 200 "$CASE_DIR/refused.err")"
    fi
  done

  # --- port devices ----------------------------------------------------------------------------
}


case_parallel_ports() {
  start_case parallel-ports parallel_ports.reg
  tool orvcard
  expect_run "parallel renumbering" 0 ''
  expect_registry "card ports LPT1 and LPT3, attached devices at LPT4, LPT7, LPT70 removed, map 1, 2, 3, 6" \
    'SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM=PortName,FriendlyName' \
    'SYSTEM\CurrentControlSet\Enum\LPTENUM=LocationInformation' \
    'SYSTEM\CurrentControlSet\Enum\ACPI\PNP0401=PortName' \
    'SYSTEM\CurrentControlSet\Control\Class\{4d36e979-e325-11ce-bfc1-08002be10318}=' \
    'HARDWARE\DEVICEMAP\PARALLEL PORTS' <<'EXPECTED'
key hardware\devicemap\parallel ports
key system\currentcontrolset\control\class\{4d36e979-e325-11ce-bfc1-08002be10318}
key system\currentcontrolset\control\class\{4d36e979-e325-11ce-bfc1-08002be10318}\0000
key system\currentcontrolset\control\class\{4d36e979-e325-11ce-bfc1-08002be10318}\0004
key system\currentcontrolset\enum\acpi\pnp0401
key system\currentcontrolset\enum\acpi\pnp0401\1
key system\currentcontrolset\enum\acpi\pnp0401\1\control
key system\currentcontrolset\enum\acpi\pnp0401\1\device parameters
key system\currentcontrolset\enum\lptenum
key system\currentcontrolset\enum\lptenum\orvektestprinter
key system\currentcontrolset\enum\lptenum\orvektestprinter\5&1a2b3c4d&0&lpt2
key system\currentcontrolset\enum\lptenum\orvektestprinter\5&1a2b3c4d&0&lpt2\control
key system\currentcontrolset\enum\lptenum\otherprinter
key system\currentcontrolset\enum\lptenum\otherprinter\6&2b3c4d5e&0&1
key system\currentcontrolset\enum\lptenum\otherprinter\6&2b3c4d5e&0&1\control
key system\currentcontrolset\enum\orvpcard_enum
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0001
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0001\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0001\device parameters
value hardware\devicemap\parallel ports | \device\parallel0 | sz "\DosDevices\LPT1" 260
value hardware\devicemap\parallel ports | \device\parallel1 | sz "\DosDevices\LPT2" 260
value hardware\devicemap\parallel ports | \device\parallel2 | sz "\DosDevices\LPT3" 260
value hardware\devicemap\parallel ports | \device\parallel3 | sz "\DosDevices\LPT6" 260
value system\currentcontrolset\enum\acpi\pnp0401\1\device parameters | portname | sz "LPT2" 10
value system\currentcontrolset\enum\lptenum\orvektestprinter\5&1a2b3c4d&0&lpt2 | locationinformation | sz "LPT2" 10
value system\currentcontrolset\enum\lptenum\otherprinter\6&2b3c4d5e&0&1 | locationinformation | sz "lpt4" 10
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000 | friendlyname | sz "ORVEK LPT Port (LPT1)" 44
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000\device parameters | portname | sz "LPT1" 10
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0001 | friendlyname | sz "ORVEK LPT Port (LPT3)" 44
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0001\device parameters | portname | sz "LPT3" 10
EXPECTED
  differential
}


# Windows 2000 (32-bit prefix only): the parallel renumbering stops after the classification.
case_windows_2000() {
  start_case windows-2000 parallel_ports.reg
  wine winecfg -v win2k >/dev/null 2>&1 || fail "winecfg -v win2k"
  local selectors=('SYSTEM\CurrentControlSet\Enum' 'HARDWARE\DEVICEMAP\PARALLEL PORTS'
    'SYSTEM\CurrentControlSet\Control\Class')
  local before
  before=$(registry_state "${selectors[@]}")
  # The fixture is in place again: winecfg restarted nothing, but make sure.
  [[ -n $before ]] || fail "the fixture is not in the prefix"
  tool orvcard
  expect_run "no argument on Windows 2000" 0 ''
  expect_registry "nothing renamed, removed or rewritten" "${selectors[@]}" <<<"$before"
}

case_card_removal() {
  start_case card-removal card_removal.reg
  tool orvcard -RemoveCOMdb
  expect_run "-RemoveCOMdb" 0 ''
  expect_registry "COM3, COM4 and COM12 released; COM1 and COM5 stay; no device removed" \
    'SYSTEM\CurrentControlSet\Control\COM Name Arbiter=ComDB' \
    'SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM=' <<'EXPECTED'
key system\currentcontrolset\control\com name arbiter
key system\currentcontrolset\enum\orvpcard_enum
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_parpecp\0000\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003\device parameters
value system\currentcontrolset\control\com name arbiter | comdb | hex(3):11,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
EXPECTED
  tool orvcard -RemoveDeviceNode
  expect_run "-RemoveDeviceNode" 0 ''
  expect_registry "every card device and its software key removed; other devices kept" \
    'SYSTEM\CurrentControlSet\Control\COM Name Arbiter=ComDB' \
    'SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM=' \
    'SYSTEM\CurrentControlSet\Enum\ACPI\PNP0501=' \
    'SYSTEM\CurrentControlSet\Enum\LPTENUM=' \
    'SYSTEM\CurrentControlSet\Control\Class\{4d36e978-e325-11ce-bfc1-08002be10318}=' <<'EXPECTED'
key system\currentcontrolset\control\class\{4d36e978-e325-11ce-bfc1-08002be10318}
key system\currentcontrolset\control\class\{4d36e978-e325-11ce-bfc1-08002be10318}\0001
key system\currentcontrolset\control\com name arbiter
key system\currentcontrolset\enum\acpi\pnp0501
key system\currentcontrolset\enum\acpi\pnp0501\1
key system\currentcontrolset\enum\acpi\pnp0501\1\control
key system\currentcontrolset\enum\acpi\pnp0501\1\device parameters
key system\currentcontrolset\enum\lptenum
key system\currentcontrolset\enum\lptenum\orvektestprinter
key system\currentcontrolset\enum\lptenum\orvektestprinter\5&1a2b3c4d&0&lpt3
key system\currentcontrolset\enum\lptenum\orvektestprinter\5&1a2b3c4d&0&lpt3\control
value system\currentcontrolset\control\com name arbiter | comdb | hex(3):11,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
EXPECTED
  differential
}


case_serial_ports() {
  start_case serial-ports serial_ports.reg
  tool orvcard-op 0x4000
  expect_run "serial renumbering (0x4000)" 0 ''
  expect_registry "two cards: COM3, COM4 | COM7, COM10" \
    'SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM=PortName,FriendlyName' <<'EXPECTED'
key system\currentcontrolset\enum\orvpcard_enum
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002\device parameters
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003\control
key system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003\device parameters
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000 | friendlyname | sz "ORVEK COM Port (COM3)" 44
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0000\device parameters | portname | sz "COM3" 10
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001 | friendlyname | sz "ORVEK COM Port (COM4)" 44
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0001\device parameters | portname | sz "COM4" 10
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002 | friendlyname | sz "ORVEK COM Port (COM7)" 44
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0002\device parameters | portname | sz "COM7" 10
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003 | friendlyname | sz "ORVEK COM Port (COM10)" 46
value system\currentcontrolset\enum\orvpcard_enum\orvpcard_serp\0003\device parameters | portname | sz "COM10" 12
EXPECTED
  differential

  # --- driver packages -------------------------------------------------------------------------

  RECORD='SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ORVEK Multi-I/O Card Driver'
}


case_package_record() {
  start_case package-record package_record.reg
  tool orvcard-op 0x2000
  expect_run "clean-up of two recorded packages, raw (0x2000)" 13 ''
  expect_file "DPInst.exe ran through cmd.exe with /s /u and each path, newest first" \
    "$DRIVE_C/Program Files/ORVEK/dpinst-calls.log" \
    'DPInst.exe [/s] [/u] [C:\\Windows\\System32\\DriverStore\\FileRepository\\orvekpar.inf_amd64_0c1d2e3f4a5b6c7d\\orvekpar.inf]\nDPInst.exe [/s] [/u] [C:\\Windows\\System32\\DriverStore\\FileRepository\\orvekser.inf_amd64_3f2a1b0c9d8e7f60\\orvekser.inf]\n'
  expect_registry "record values and key deleted" "$RECORD" </dev/null
  differential
}


case_package_record_other_value() {
  start_case package-record-other-value package_record_other_value.reg
  tool orvcard-op 0x8
  expect_run "clean-up with a value of another name, mapped (0x8)" 11 ''
  expect_file "three values counted: index 2 has no record, 1 and 0 went to DPInst.exe" \
    "$DRIVE_C/Program Files/ORVEK/dpinst-calls.log" \
    'DPInst.exe [/s] [/u] [C:\\Windows\\System32\\DriverStore\\FileRepository\\orvekpar.inf_amd64_0c1d2e3f4a5b6c7d\\orvekpar.inf]\nDPInst.exe [/s] [/u] [C:\\Windows\\System32\\DriverStore\\FileRepository\\orvekser.inf_amd64_3f2a1b0c9d8e7f60\\orvekser.inf]\n'
  expect_registry "recorded values deleted, the other value keeps the key" "$RECORD" <<'EXPECTED'
key software\microsoft\windows\currentversion\uninstall\orvek multi-i/o card driver
value software\microsoft\windows\currentversion\uninstall\orvek multi-i/o card driver | publisher | sz "ORVEK Co., Ltd." 32
EXPECTED
  differential

  # Install, record, clean-up and vendor packages through the stand-in DIFxAPI.dll (no
  # differential: the simulated machine keeps a real driver store, the stand-in none).
}

case_packages() {
  start_case packages -
  mkdir -p "$DRIVE_C/packages"
  cd "$DRIVE_C/packages"
  # shellcheck disable=SC2016 # $WINDOWS NT$ is INF text
  printf '[Version]\r\nSignature="$WINDOWS NT$"\r\nProvider="Orvek Co., Ltd."\r\nCatalogFile=orvekser.cat\r\n' >orvekser.inf
  # shellcheck disable=SC2016
  printf '[Version]\r\nSignature="$WINDOWS NT$"\r\nProvider="Orvek Co., Ltd."\r\n' >orvekpar.inf
  tool orvcard-op 0x11 -f2result.ini
  expect_run "install (0x11)" 0 \
    '\r\n  Installing driver package...\r\n\r\n  Install driver success.\r\n'
  expect_file "install result" result.ini '[ResponseResult]\r\nResultCode = 0\r\n'
  expect_registry "driver-store paths recorded in listing order, 522 bytes each" "$RECORD" <<'EXPECTED'
key software\microsoft\windows\currentversion\uninstall\orvek multi-i/o card driver
value software\microsoft\windows\currentversion\uninstall\orvek multi-i/o card driver | driverstorepath0 | sz "C:\Windows\System32\DriverStore\FileRepository\orvekpar.inf_fake\orvekpar.inf" 522
value software\microsoft\windows\currentversion\uninstall\orvek multi-i/o card driver | driverstorepath1 | sz "C:\Windows\System32\DriverStore\FileRepository\orvekser.inf_fake\orvekser.inf" 522
EXPECTED
  cp orvekser.inf "$DRIVE_C/windows/inf/oem1.inf"
  printf '[Version]\r\nProvider="Someone Else"\r\n' >"$DRIVE_C/windows/inf/oem2.inf"
  printf '[Version]\r\nProvider="ORVEK GROUP"\r\n; NotInStore\r\n' >"$DRIVE_C/windows/inf/oem3.inf"
  tool orvcard-op 0x8
  expect_run "clean-up (0x8): 0 | 0xE0000302 maps to 3" 3 ''
  tool orvcard-op 0x2000
  expect_run "clean-up (0x2000): raw 0xE0000302, low byte 2" 2 ''
  tool orvcard-op 0x2
  expect_run "uninstall (0x2)" 0 \
    '\r\n  Uninstalling driver package...\r\n\r\n  Uninstall driver success.\r\n'
  expect_file "DIFx calls: install with the legacy-mode retry, path look-ups, vendor and package uninstalls" \
    "$DRIVE_C/orvek/difx-calls.log" 'Install 0x00000002 C:\\packages\\orvekpar.inf
Install 0x00000014 C:\\packages\\orvekpar.inf
Install 0x00000002 C:\\packages\\orvekser.inf
GetPath 0x00000105 C:\\packages\\orvekpar.inf
GetPath 0x00000105 C:\\packages\\orvekser.inf
Uninstall 0x00000022 C:\\windows\\inf\\oem1.inf
Uninstall 0x00000022 C:\\windows\\inf\\oem3.inf
Uninstall 0x00000022 C:\\windows\\inf\\oem1.inf
Uninstall 0x00000022 C:\\windows\\inf\\oem3.inf
Uninstall 0x00000022 C:\\packages\\orvekpar.inf
Uninstall 0x00000022 C:\\packages\\orvekser.inf
'
  expect_file "the recorded packages went to DPInst.exe" "$DRIVE_C/Program Files/ORVEK/dpinst-calls.log" \
    'DPInst.exe [/s] [/u] [C:\\Windows\\System32\\DriverStore\\FileRepository\\orvekser.inf_fake\\orvekser.inf]\nDPInst.exe [/s] [/u] [C:\\Windows\\System32\\DriverStore\\FileRepository\\orvekpar.inf_fake\\orvekpar.inf]\n'
}

# --- the contract suite ---------------------------------------------------------------------

# The contract suite (tests/contract/) against the Win32 backend, from the suite's fixture, the
# same starting state the simulated machine's run in ctest has; the suite's own table lists the
# cases where Wine differs from Windows' documented behaviour, each with its reason.
case_contract() {
  start_case contract -
  import_fixture "$HERE/../contract/contract_fixture.reg"
  cp "$HELPERS/contract_check.exe" "$DRIVE_C/orvek/"
  local out=$CASE_DIR/contract.out
  if wine 'C:\orvek\contract_check.exe' >"$out" 2>&1; then
    pass "contract suite: $(grep -c '^ok' "$out") cases as documented, $(grep -c '^differs as listed' "$out") differ as listed"
  else
    fail "contract suite ($(grep -c '^ok' "$out") cases as documented):"
    grep -v '^ok' "$out" | tr -d '\r' | sed 's/^/  /'
  fi
}

# --- replaying a customer's machine ----------------------------------------------------------

# Every kind of value goes through winsim init --from and winsim export and imports back into
# Wine byte for byte; a Wine-made export of HKLM loads, replays and diffs.
case_replay() {
  start_case replay replay_values.reg
  [[ -n $LINUX_DIR ]] || { fail "needs LINUX_BUILD_DIR"; return; }
  local selector='SOFTWARE\ORVEK Replay' winsim=$LINUX_DIR/winsim
  local imported exported
  imported=$(registry_state "$selector")
  if [[ $(grep -c '^value ' <<<"$imported") != 25 ]]; then
    fail "the fixture imported $(grep -c '^value ' <<<"$imported") values, expected 25:"
    sed 's/^/  /' <<<"$imported"
  fi
  "$winsim" init "$CASE_DIR/values" --from "$CASE_DIR/import.reg" >/dev/null 2>&1 &&
    "$winsim" export "$CASE_DIR/values" -o "$CASE_DIR/values-export.reg" ||
    fail "winsim init --from or export failed"
  wine reg delete "HKLM\\$selector" /f >/dev/null 2>&1 || fail "reg delete"
  wine reg import "$CASE_DIR/values-export.reg" >/dev/null 2>&1 || fail "reg import of the export"
  exported=$(registry_state "$selector")
  same_text "winsim export imports back as the fixture did, value by value and byte by byte" \
    "the export imports differently (- fixture, + export)" "$imported" "$exported"

  # A customer's export as Wine writes it, with the card's parallel ports in it.
  import_fixture "$FIXTURES/parallel_ports.reg"
  wine reg export HKLM "$CASE_DIR/hklm.reg" /y >/dev/null 2>&1 || fail "reg export HKLM"
  local customer=$CASE_DIR/customer summary changes status
  summary=$("$winsim" init "$customer" --from "$CASE_DIR/hklm.reg" 2>&1 >/dev/null) ||
    { fail "winsim init --from a Wine export: $summary"; return; }
  # Wine's export holds CurrentControlSet as a key and Select, but not ControlSet001.
  if [[ $summary == *"control set:  CurrentControlSet, a key of its own (SYSTEM\Select names ControlSet001, which this image does not hold)"* &&
    $summary == *"card devices: 2 device nodes under ORVPCARD_ENUM, 2 present"* ]]; then
    pass "the Wine export loads: $(tr '\n' ' ' <<<"$summary" | tr -s ' ')"
  else
    fail "summary of the Wine export: $summary"
  fi
  if "$winsim" diff "$CASE_DIR/hklm.reg" "$customer" >"$CASE_DIR/same.diff"; then
    pass "the machine holds what the Wine export holds (winsim diff: no difference)"
  else
    fail "winsim diff of the export and its machine: $(head -c 600 "$CASE_DIR/same.diff")"
  fi
  cp -r "$customer" "$CASE_DIR/replayed"
  (cd "$CASE_DIR" && ORVCARD_MACHINE=$CASE_DIR/replayed "$LINUX_DIR/orvcard") ||
    fail "orvcard on the replayed machine"
  set +e
  changes=$("$winsim" diff "$customer" "$CASE_DIR/replayed")
  status=$?
  set -e
  if [[ $status == 1 && $changes == *$'- PortName  REG_SZ  LPT4\n+ PortName  REG_SZ  LPT1'* ]]; then
    pass "the replay renumbers the card's ports and winsim diff shows it"
  else
    fail "winsim diff after the replay (status $status): $(head -c 600 <<<"$changes")"
  fi
}
