#!/usr/bin/env bash
# The Windows stage. It first finds out whether this machine runs 32-bit x86 programs (it runs a
# tiny 32-bit Linux program; kernels with IA-32 emulation switched off refuse it) and takes one
# of two modes:
#
# Always: cross-builds the 32-bit driver DLL and its tests with MinGW-w64, checks the DLL's export
# and import lists, and compares every interface slot with Microsoft's layout (clang in Microsoft
# mode; nothing is run for that).
#
# 32-bit mode (the machine runs 32-bit programs): runs the tests under Wine, drives the DLL from a
# plain-C host and a clang Microsoft-mode host against the simulated camera running on Linux
# (loopback), for H.264 and MJPEG, comparing the frames with a Linux capture byte for byte.
#
# 64-bit mode (it does not): the same sources built for 64-bit Windows (windows64 preset) run
# under 64-bit Wine instead, so the Winsock, event, clock, thread and WinHTTP backends still run:
# the portable tests, both hosts and the byte-for-byte comparison, with the 64-bit DLL. The steps
# that need 32-bit execution are reported as skipped in the summary.
#
# NORVANE_WINDOWS_MODE=64 takes the 64-bit path on a machine that could take the 32-bit one (to
# check that path); 32 on a machine without 32-bit execution is refused.
#
# Needs: the default preset's camera simulator and capture tool (built here when missing), and
# g++-mingw-w64-i686-posix with wine32:i386 and wine (32-bit mode) or g++-mingw-w64-x86-64-posix
# with wine64 (64-bit mode), and for the Microsoft-mode checks clang, lld and llvm (installed here
# when missing and running as root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)
step() { echo "-- windows: $1 ($(($(date +%s) - start))s)"; }
fail() { echo "windows: FAILED: $1"; exit 1; }
skipped=()

# A static 32-bit x86 Linux program (ELF header, one program header, and
# `mov eax,1; mov ebx,42; int 0x80`) that exits with status 42.
runs_32bit_programs() {
    local probe status=0
    probe=$(mktemp)
    base64 -d > "$probe" <<< 'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhgAAAAYAAAAAUAAAAAEAAAuAEAAAC7KgAAAM2A'
    chmod +x "$probe"
    "$probe" > /dev/null 2>&1 || status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}

if runs_32bit_programs; then
    mode=${NORVANE_WINDOWS_MODE:-32}
    [ "$mode" = 32 ] || [ "$mode" = 64 ] || fail "NORVANE_WINDOWS_MODE must be 32 or 64"
    [ "$mode" = 32 ] && reason="this machine runs 32-bit programs" ||
        reason="NORVANE_WINDOWS_MODE=64 on a machine that runs 32-bit programs"
else
    [ "${NORVANE_WINDOWS_MODE:-64}" = 64 ] ||
        fail "NORVANE_WINDOWS_MODE=32, but this machine runs no 32-bit programs"
    mode=64
    reason="this machine runs no 32-bit programs"
fi
step "mode: $mode-bit ($reason)"
if [ "$mode" = 64 ]; then
    # What needs 32-bit execution, said once in the summary.
    skipped+=("skipped: $reason: the 32-bit DLL's tests under Wine, its plain-C and Microsoft-mode hosts and their byte-for-byte captures (the 64-bit DLL ran them)")
fi

# install PACKAGE... when COMMAND is missing: install_for COMMAND PACKAGE...
install_for() {
    local command=$1
    shift
    command -v "$command" > /dev/null && return 0
    step "installing $*"
    [ "$(id -u)" -eq 0 ] || fail "$* missing (run as root to install)"
    if [[ "$*" == *:i386* ]]; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" > /dev/null
}
install_for i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
if [ "$mode" = 32 ]; then
    install_for /usr/lib/wine/wine wine32:i386 wine
    wine=wine
    preset=windows
    arch=i686
    export WINEPREFIX=$root/build/wineprefix
else
    install_for x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
    install_for /usr/lib/wine/wine64 wine64 wine
    # The 64-bit loader itself: Debian's `wine` script prefers the 32-bit one when present.
    wine=/usr/lib/wine/wine64
    preset=windows64
    arch=x86_64
    export WINEPREFIX=$root/build/wineprefix64
    export WINEARCH=win64
fi
# The Microsoft-mode checks use clang, lld-link and llvm-dlltool.
if command -v clang++ > /dev/null && { ! command -v lld-link > /dev/null || ! command -v llvm-dlltool > /dev/null; } &&
    [ "$(id -u)" -eq 0 ]; then
    step "installing lld and the LLVM tools"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lld llvm > /dev/null ||
        echo "-- windows: lld or llvm could not be installed"
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
camera_pid=""
cleanup() {
    [ -n "$camera_pid" ] && kill "$camera_pid" 2> /dev/null || true
    wineserver -k 2> /dev/null || true
}
trap cleanup EXIT

# check_exports DLL OBJDUMP: exactly the thirteen names, the aliases on one address per group, and
# only system DLLs imported.
check_exports() {
    local dll=$1 dump names expected imports
    dump=$("$2" -p "$dll")
    names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<< "$dump" |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z0-9_]*\)$/\1/p' | sort)
    expected=$(printf '%s\n' CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2 CreateIPCaptureEx3 \
        DeleteIPCapture DeleteIPCaptureEx DeleteIPCaptureEx2 DeleteIPCaptureEx3 InitCapabilityQuery \
        StartCapabilityQuery TerminateCapabilityQuery UninitCapabilityQuery GetChannelReception | sort)
    [ "$names" = "$expected" ] || fail "$dll exports: $(echo $names)"
    # Export address table in ordinal order (the names above, sorted): four creators on one
    # address, four deletions on another, five distinct functions (capability and reception).
    mapfile -t rvas < <(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<< "$dump" | sed -n 's/.* \([0-9a-f]*\) Export RVA$/\1/p')
    [ "${#rvas[@]}" -eq 13 ] || fail "${#rvas[@]} export addresses"
    for i in 1 2 3; do
        [ "${rvas[$i]}" = "${rvas[0]}" ] || fail "CreateIPCapture aliases do not share one address"
        [ "${rvas[$((4 + i))]}" = "${rvas[4]}" ] || fail "DeleteIPCapture aliases do not share one address"
    done
    [ "$(printf '%s\n' "${rvas[@]:8:5}" "${rvas[0]}" "${rvas[4]}" | sort -u | wc -l)" -eq 7 ] ||
        fail "the capability exports or the two alias groups share addresses"
    imports=$(grep 'DLL Name:' <<< "$dump" | awk '{print toupper($3)}' | sort | tr '\n' ' ')
    for import in $imports; do
        case "$import" in
        KERNEL32.DLL | MSVCRT.DLL | WS2_32.DLL | WINHTTP.DLL) ;;
        *) fail "$dll imports $import" ;;
        esac
    done
    echo "$dll: 13 exported names, aliases on 2 addresses; imports: $imports"
}

# build_preset ARCH PRESET: GoogleTest for the cross build, then the preset's DLL and tests.
build_preset() {
    step "GoogleTest and the $2 preset"
    scripts/build-windows-gtest.sh "$1"
    cmake --preset "$2" > /dev/null
    cmake --build --preset "$2"
}

build_preset i686 windows
step "export and import lists (32-bit DLL)"
check_exports build/windows/src/plugin/vantrel_capture.dll i686-w64-mingw32-objdump
step "SDK archive (CPack): DLL, export list, import library, headers, plain-C host example"
rm -rf build/windows/package
(cd build/windows && cpack -C Release > /dev/null)
python3 - build/windows/package/*.zip << 'PY' || fail "SDK archive incomplete"
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
wanted = ["bin/vantrel_capture.dll", "lib/vantrel_capture.def", "lib/vantrel_capture.lib",
          "include/norvane/norvane.h", "include/norvane/abi.h", "examples/c_host.c",
          "lib/cmake/norvane/norvaneConfig.cmake", "lib/pkgconfig/norvane.pc"]
missing = [w for w in wanted if not any(n.endswith("/" + w) for n in names)]
print("%s: %d files%s" % (sys.argv[1], len(names), "; missing " + ", ".join(missing) if missing else ""))
sys.exit(1 if missing else 0)
PY

if [ "$mode" = 64 ]; then
    build_preset x86_64 windows64
    step "export and import lists (64-bit DLL)"
    check_exports build/windows64/src/plugin/vantrel_capture.dll x86_64-w64-mingw32-objdump
fi

if command -v clang++ > /dev/null; then
    step "interface slots: MinGW against Microsoft's layout (clang in Microsoft mode)"
    python3 scripts/check-slot-layout.py build/windows/slot-layout i686
    if [ "$mode" = 64 ]; then
        python3 scripts/check-slot-layout.py build/windows64/slot-layout x86_64
    fi
else
    skipped+=("skipped: clang++ missing: interface slot layout")
fi

step "Wine prefix ($mode-bit, crash debugger disabled)"
# One wineserver for the whole stage: one that exits between two test programs makes the next
# one fail at start ("wine client error: recvmsg"). Ended by the exit trap.
mkdir -p "$WINEPREFIX"
wineserver -k 2> /dev/null || true
wineserver -w
wineserver -p
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i > /dev/null 2>&1
fi
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
"$wine" reg add "$aedebug" /v Debugger /d 'no-such-debugger.exe' /f > /dev/null 2>&1
"$wine" reg add "$aedebug" /v Auto /d 1 /f > /dev/null 2>&1

step "unit tests under Wine ($preset preset)"
ctest --preset "$preset"

step "simulated camera and Linux capture tool (default preset)"
if [ ! -x build/default/tools/camera-sim/vantrel-camera-sim ] || [ ! -x build/default/tools/capture/vantrel-capture ]; then
    cmake --preset default > /dev/null
    cmake --build --preset default --target vantrel-camera-sim vantrel-capture vantrel_capture
fi
work=$(mktemp -d)
# start_camera HTTP_AUTH: starts the simulated camera on loopback and reads its ports.
start_camera() {
    [ -n "$camera_pid" ] && kill "$camera_pid" 2> /dev/null || true
    build/default/tools/camera-sim/vantrel-camera-sim --http-port 0 --http-auth "$1" \
        --run-for 240 > "$work/camera.txt" 2>&1 &
    camera_pid=$!
    for _ in $(seq 50); do
        grep -q '^RTSP' "$work/camera.txt" 2> /dev/null && break
        sleep 0.1
    done
    http_port=$(grep -m1 -o 'http://127.0.0.1:[0-9]*' "$work/camera.txt" | grep -o '[0-9]*$') ||
        fail "camera did not start"
    rtsp_port=$(grep -m1 -o 'rtsp://127.0.0.1:[0-9]*' "$work/camera.txt" | grep -o '[0-9]*$')
}
# HTTP Basic: the driver's CGI requests go through WinHTTP with credentials.
start_camera basic

dll=build/$preset/src/plugin/vantrel_capture.dll
frames=40
step "plain-C host: a Microsoft C++ exception from the frame sink is a refused frame"
run_host() { # stream-type frames throw-at [out-file]
    timeout 90 "$wine" "build/$preset/tests/windows/c_host.exe" "$dll" 127.0.0.1 "$http_port" \
        "$rtsp_port" "$@" | tr -d '\r' > "$work/c_host.txt" || true
    grep -v 'driver \[' "$work/c_host.txt"
    # Every CGI request went through (WinHTTP with Basic credentials).
    ! grep -E 'cannot send request|does not process request' "$work/c_host.txt" &&
        grep -q '^c_host: PASSED' "$work/c_host.txt"
}
run_host 3 "$frames" 3 || fail "c_host with a throwing sink"
for stream in h264 mjpeg; do
    type=3
    [ "$stream" = mjpeg ] && type=1
    step "plain-C host with Microsoft's layout: $stream"
    run_host "$type" "$frames" 0 "$work/wine.$stream" || fail "c_host $stream"

    step "the same frames from the Linux driver: $stream"
    timeout 90 build/default/tools/capture/vantrel-capture --camera "127.0.0.1:$http_port" \
        --rtsp-port "$rtsp_port" --user admin --password admin --stream "$stream" \
        --frames "$frames" --quiet --out "$work/linux.$stream" > /dev/null ||
        fail "Linux capture $stream"
    wine_size=$(stat -c %s "$work/wine.$stream")
    linux_size=$(stat -c %s "$work/linux.$stream")
    common=$((wine_size < linux_size ? wine_size : linux_size))
    [ "$common" -gt 0 ] || fail "empty capture"
    cmp -n "$common" "$work/wine.$stream" "$work/linux.$stream" || fail "$stream frames differ"
    echo "$stream: the first $common bytes are identical (Wine $wine_size, Linux $linux_size)"
done

if command -v clang++ > /dev/null && command -v lld-link > /dev/null && command -v llvm-dlltool > /dev/null; then
    step "C++ host built by clang in Microsoft mode and lld-link (no SDK, no C runtime)"
    host=build/$preset/msvc_host
    mkdir -p "$host"
    # 32-bit imports carry the stdcall size of their arguments; 64-bit ones are plain names.
    imports=(LoadLibraryA@4 GetProcAddress@8 FreeLibrary@4 GetStdHandle@4 WriteFile@20
        GetCommandLineA@0 ExitProcess@4 Sleep@4 GetTickCount@0 GetProcessHeap@0 HeapAlloc@12
        HeapFree@12)
    if [ "$mode" = 32 ]; then
        target=(i686-pc-windows-msvc i386 x86 /safeseh:no)
    else
        target=(x86_64-pc-windows-msvc i386:x86-64 x64)
        imports=("${imports[@]%@*}")
    fi
    { echo "LIBRARY KERNEL32.dll"; echo "EXPORTS"; printf '  %s\n' "${imports[@]}"; } > "$host/kernel32.def"
    llvm-dlltool -k -m "${target[1]}" -d "$host/kernel32.def" -l "$host/kernel32.lib"
    clang++ --target="${target[0]}" -std=c++20 -O2 -ffreestanding -fno-exceptions -fno-rtti \
        -fno-threadsafe-statics -fno-builtin -Wall -Wextra -Werror -I include \
        -c tests/windows/msvc_host.cpp -o "$host/msvc_host.obj"
    lld-link /nologo /entry:HostEntry /subsystem:console /nodefaultlib /machine:"${target[2]}" \
        "${target[@]:3}" "$host/msvc_host.obj" "$host/kernel32.lib" /out:"$host/msvc_host.exe"
    for type in 3 1; do
        timeout 90 "$wine" "$host/msvc_host.exe" "$dll" 127.0.0.1 "$http_port" "$rtsp_port" "$type" \
            "$frames" | tr -d '\r' | tee "$work/msvc_host.txt"
        grep -q '^msvc_host: PASSED' "$work/msvc_host.txt" || fail "msvc_host (stream type $type)"
    done
else
    skipped+=("skipped: clang++, lld-link or llvm-dlltool missing: the Microsoft-mode host")
fi
step "HTTP Digest through WinHTTP: an expected failure under Wine only"
# Wine's WinHTTP sends no Authorization header for Digest, so the camera's CGI answers stay 401
# (the RTSP Digest is the driver's own code, tested everywhere). Should Wine learn Digest, this
# stage fails so that the check becomes a required one.
start_camera digest
timeout 90 "$wine" "build/$preset/tests/windows/c_host.exe" "$dll" 127.0.0.1 "$http_port" "$rtsp_port" \
    3 1 0 - 5 | tr -d '\r' > "$work/c_host.txt" || true
if grep -q 'status code = 401' "$work/c_host.txt"; then
    echo "Digest: expected failure under Wine (the camera answered 401 to the CGI requests)"
else
    fail "HTTP Digest no longer fails under Wine: make it a required check"
fi

rm -rf "$work"
step "summary: $mode-bit mode ($reason)"
for line in "${skipped[@]}"; do
    echo "-- windows: $line"
done
step "done: windows: PASSED ($mode-bit mode)"
