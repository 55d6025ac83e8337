#!/usr/bin/env python3
"""Checks that the MinGW build gives every host-facing interface Microsoft's table layout.

Microsoft's layout comes from clang in Microsoft mode (--target=i686-pc-windows-msvc
-fdump-vtable-layouts), which needs no Microsoft SDK. The MinGW layout comes from a program built
by the cross compiler that prints the table slot of every virtual function, read from its
pointer to member (Itanium C++ ABI: 1 + the byte offset in the table). The program runs under
Wine. Slot 0, Microsoft's scalar deleting destructor, must be ScalarDeletingDestructor.

Usage: check-slot-layout.py WORK_DIR   (prints "slot layout: PASSED" when all slots agree)
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


def microsoft_slots(work, names):
    source = os.path.join(work, "ms_layout.cpp")
    with open(source, "w") as out:
        out.write("".join('#include "%s"\n' % h for h in HEADERS))
        for i, name in enumerate(names):
            out.write("void use%d(%s* p) { delete p; }\n" % (i, name))
    dump = subprocess.run(
        ["clang++", "--target=i686-pc-windows-msvc", "-std=c++20", "-ffreestanding",
         "-fno-rtti", "-I", INCLUDE, "-Xclang", "-fdump-vtable-layouts", "-c", source, "-o",
         os.path.join(work, "ms_layout.obj")],
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


def mingw_mismatches(work, slots):
    source = os.path.join(work, "mingw_layout.cpp")
    with open(source, "w") as out:
        out.write("".join('#include "%s"\n' % h for h in HEADERS))
        out.write("#include <cstdio>\n#include <cstring>\n#include <cstdint>\n")
        out.write("template <class P> long Slot(P member) {\n"
                  "    std::uintptr_t words[2];\n"
                  "    static_assert(sizeof member == sizeof words);\n"
                  "    std::memcpy(words, &member, sizeof words);\n"
                  "    return (words[0] & 1) ? long((words[0] - 1) / sizeof(void*)) : -1;\n}\n")
        out.write("int main() {\n    int bad = 0;\n")
        for iface, method, index in slots:
            out.write('    if (long s = Slot(&%s::%s); s != %d) { ++bad; '
                      'std::printf("%s::%s: MinGW slot %%ld, Microsoft slot %d\\n", s); }\n'
                      % (iface, method, index, iface, method, index))
        out.write('    std::printf("checked %d slots, %%d differ\\n", bad);\n'
                  "    return bad == 0 ? 0 : 1;\n}\n" % len(slots))
    program = os.path.join(work, "mingw_layout.exe")
    subprocess.run(["i686-w64-mingw32-g++-posix", "-std=c++20", "-static", "-I", INCLUDE,
                    source, "-o", program], check=True)
    result = subprocess.run(["wine", program], capture_output=True, text=True)
    print(result.stdout.replace("\r", ""), end="")
    return result.returncode


def main():
    work = sys.argv[1]
    os.makedirs(work, exist_ok=True)
    names = interfaces()
    slots = microsoft_slots(work, names)
    covered = {iface for iface, _, _ in slots}
    missing = [n for n in names if n not in covered]
    if missing or not slots:
        print("slot layout: FAILED: no Microsoft layout for", ", ".join(missing))
        return 1
    if mingw_mismatches(work, slots) != 0:
        print("slot layout: FAILED")
        return 1
    print("slot layout: PASSED (%d interfaces)" % len(names))
    return 0


if __name__ == "__main__":
    sys.exit(main())
