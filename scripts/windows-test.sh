#!/usr/bin/env bash
# Runs the suites that drive the quarlix binary against the Windows build,
# quarlix.exe, under Wine: the Linux test binary starts every quarlix run
# through Wine (QUARLIX_TEST_WRAPPER) with the Windows binary in its place
# (QUARLIX_TEST_BINARY). The cases that cannot exist on Windows skip
# themselves; the suites that test the code in-process are not repeated.
# Usage: windows-test.sh <Linux build with quarlix_tests> <Windows build>
set -euo pipefail
tests_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)

# One executable, no DLL to ship: it imports Windows' own libraries only.
for dll in $(x86_64-w64-mingw32-objdump -p "$windows_build/quarlix.exe" | sed -n 's/^\tDLL Name: //p'); do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll) ;;
    *) echo "quarlix.exe imports $dll, which Windows does not ship"; exit 1 ;;
  esac
done

suites=(CliTest FileJobTest FaultTest OutputReplacementTest SampleWriterFailure TrailingBytesTest BinWriter
        CSourceWriter CompiledArray ResourceWriter ConversionOutputs OrbelCliTest LawCli GsmTest AdpcmPeers
        QuarlixWrites PeerWrites WindowsParity WindowsHost MonoConversion
        Resample)
pattern="(^|/)($(IFS='|'; echo "${suites[*]}"))\\."

# Wine's own prefix, under the build; it prints nothing of its own into what
# the tests capture once the prefix exists and its debug channels are off.
# No display: quarlix is a console program.
# Wine turns names and arguments into Windows' UTF-16 through the locale's
# character set: UTF-8, as quarlix keeps them.
export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# One Wine server for every run, ended when the tests are. Its background
# services start now, with nothing of a test's open: started by a test's
# first run they would hold its output pipes open after quarlix ended.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1

QUARLIX_TEST_BINARY=$windows_build/quarlix.exe QUARLIX_TEST_WRAPPER=wine \
  ctest --test-dir "$tests_build" -j 2 --output-on-failure -R "$pattern"
