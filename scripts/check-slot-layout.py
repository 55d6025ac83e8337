#!/usr/bin/env python3
"""Checks that the MinGW build gives every host-facing interface Microsoft's table layout.

Microsoft's layout comes from clang in Microsoft mode (--target=<arch>-pc-windows-msvc
-fdump-vtable-layouts), which needs no Microsoft SDK. The MinGW layout comes from the cross
compiler: the pointer to member of every virtual function, compiled into an object file and read
back with objdump, so that nothing is run and a machine without 32-bit execution checks the 32-bit
layout too. Slot 0, Microsoft's scalar deleting destructor, must be ScalarDeletingDestructor.

Usage: check-slot-layout.py WORK_DIR [i686|x86_64]   (prints "slot layout: PASSED" when all slots
agree; i686 by default)
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = os.path.join(ROOT, "include")
HEADERS = ["norvane/host.h", "norvane/ipcapture.h", "norvane/capability.h",
           "norvane/debug_info.h"]


def interfaces():
    """Qualified names of the classes declared in the SDK headers."""
    names = []
    for header in HEADERS:
        stack = []
        for line in open(os.path.join(INCLUDE, header)):
            opened = re.match(r"\s*namespace ([\w:]+) \{", line)
            if opened:
                stack.append(opened.group(1))
            elif re.match(r"\}\s*// namespace", line):
                stack.pop()
            declared = re.match(r"class (\w+)\b[^;]*\{", line)
            if declared:
                names.append("::".join(stack + [declared.group(1)]))
    return names


ARCHES = {
    "i686": {"msvc": "i686-pc-windows-msvc", "mingw": "i686-w64-mingw32-g++-posix",
             "objdump": "i686-w64-mingw32-objdump", "word": 4},
    "x86_64": {"msvc": "x86_64-pc-windows-msvc", "mingw": "x86_64-w64-mingw32-g++-posix",
               "objdump": "x86_64-w64-mingw32-objdump", "word": 8},
}


def microsoft_slots(work, names, arch):
    source = os.path.join(work, "ms_layout_%s.cpp" % arch)
    with open(source, "w") as out:
        out.write("".join('#include "%s"\n' % h for h in HEADERS))
        for i, name in enumerate(names):
            out.write("void use%d(%s* p) { delete p; }\n" % (i, name))
    dump = subprocess.run(
        ["clang++", "--target=" + ARCHES[arch]["msvc"], "-std=c++20", "-ffreestanding",
         "-fno-rtti", "-I", INCLUDE, "-Xclang", "-fdump-vtable-layouts", "-c", source, "-o",
         os.path.join(work, "ms_layout_%s.obj" % arch)],
        check=True, capture_output=True, text=True).stdout
    slots = []
    current = None
    for line in dump.splitlines():
        header = re.match(r"VFTable indices for '([\w:]+)'", line)
        if header:
            current = header.group(1)
            continue
        entry = re.match(r"\s+(\d+) \| (.*)$", line)
        if current and entry:
            index, signature = int(entry.group(1)), entry.group(2)
            if "[scalar deleting]" in signature:
                method = "ScalarDeletingDestructor"
            else:
                method = re.search(r"::(\w+)\(", signature).group(1)
            slots.append((current, method, index))
        elif not line.strip():
            current = None
    return slots


def mingw_mismatches(work, slots, arch):
    """Compares the MinGW slot of every method with Microsoft's without running anything: the
    pointers to member are constants placed in a section of their own, read back from the object
    file (Itanium C++ ABI: a virtual member's first word is 1 + its byte offset in the table)."""
    source = os.path.join(work, "mingw_layout_%s.cpp" % arch)
    with open(source, "w") as out:
        out.write("".join('#include "%s"\n' % h for h in HEADERS))
        for i, (iface, method, _) in enumerate(slots):
            out.write('__attribute__((section(".slots"), used)) static const auto slot%d = '
                      '&%s::%s;\n' % (i, iface, method))
    obj = os.path.join(work, "mingw_layout_%s.o" % arch)
    subprocess.run([ARCHES[arch]["mingw"], "-std=c++20", "-O0", "-fno-toplevel-reorder", "-I",
                    INCLUDE, "-c", source, "-o", obj], check=True)
    dump = subprocess.run([ARCHES[arch]["objdump"], "-s", "-j", ".slots", obj], check=True,
                          capture_output=True, text=True).stdout
    data = bytearray()
    for line in dump.splitlines():
        row = re.match(r"^ [0-9a-f]{4,} ((?:[0-9a-f]{2,8} ){1,4})", line + " ")
        if row:
            data += bytes.fromhex(row.group(1).replace(" ", ""))
    word = ARCHES[arch]["word"]
    if len(data) != 2 * word * len(slots):
        print("%d bytes of slots for %d methods" % (len(data), len(slots)))
        return 1
    bad = 0
    for i, (iface, method, index) in enumerate(slots):
        first = int.from_bytes(data[2 * word * i:2 * word * i + word], "little")
        slot = (first - 1) // word if first & 1 else -1
        if slot != index:
            bad += 1
            print("%s::%s: MinGW slot %d, Microsoft slot %d" % (iface, method, slot, index))
    print("%s: checked %d slots, %d differ" % (arch, len(slots), bad))
    return 0 if bad == 0 else 1


def main():
    work = sys.argv[1]
    arch = sys.argv[2] if len(sys.argv) > 2 else "i686"
    os.makedirs(work, exist_ok=True)
    names = interfaces()
    slots = microsoft_slots(work, names, arch)
    covered = {iface for iface, _, _ in slots}
    missing = [n for n in names if n not in covered]
    if missing or not slots:
        print("slot layout: FAILED: no Microsoft layout for", ", ".join(missing))
        return 1
    if mingw_mismatches(work, slots, arch) != 0:
        print("slot layout: FAILED")
        return 1
    print("slot layout: PASSED (%s, %d interfaces)" % (arch, len(names)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
