#!/usr/bin/env python3
"""Checks the delay imports of a Windows program after its link.

Every slot of every delay-import table must hold the address of its thunk
inside the program's code: an empty slot makes the first call into that DLL
jump to address 0. A DLL that is delay-loaded must not also stand in the
ordinary import table, or the program loads it at start-up after all.

The delay-import descriptors are found by their symbols
(__DELAY_IMPORT_DESCRIPTOR_*, which the toolchain's delay-load libraries
define), so the program must keep its symbol table.

  check-delay-imports.py --nm TRIPLET-nm PROGRAM.exe
"""
import argparse
import struct
import subprocess
import sys


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        self.pe32plus = magic == 0x20B
        self.pointer = 8 if self.pe32plus else 4
        self.base = struct.unpack_from("<Q" if self.pe32plus else "<I", data, opt + (24 if self.pe32plus else 28))[0]
        dirs = opt + (112 if self.pe32plus else 96)
        self.import_dir = struct.unpack_from("<II", data, dirs + 8)
        self.sections = []
        table = opt + optsize
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr, _, _, _, _, flags = struct.unpack_from(
                "<8sIIIIIIHHI", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, rawsize), rawptr, flags))

    def offset(self, rva):
        for _, va, size, rawptr, _ in self.sections:
            if va <= rva < va + size:
                return rawptr + rva - va
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def is_code(self, rva):
        return any(va <= rva < va + size and flags & 0x20 for _, va, size, _, flags in self.sections)

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def ptr(self, rva):
        return struct.unpack_from("<Q" if self.pointer == 8 else "<I", self.data, self.offset(rva))[0]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def import_name(self, entry):
        if entry >> (self.pointer * 8 - 1):
            return f"#{entry & 0xFFFF}"
        return self.text(entry + 2)

    def ordinary_imports(self):
        rva, size = self.import_dir
        names = []
        if not rva:
            return names
        while True:
            _, _, _, name, _ = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not name:
                return names
            names.append(self.text(name))
            rva += 20


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nm", required=True)
    parser.add_argument("program")
    args = parser.parse_args()
    with open(args.program, "rb") as f:
        image = Image(f.read())
    symbols = subprocess.run([args.nm, args.program], check=True, capture_output=True, text=True).stdout
    descriptors = [int(line.split()[0], 16) for line in symbols.splitlines()
                   if "__DELAY_IMPORT_DESCRIPTOR_" in line]
    program = args.program.rsplit("/", 1)[-1]
    if not descriptors:
        print(f"{program}: no delay-import descriptor found (symbols stripped?)", file=sys.stderr)
        return 1
    faults = []
    delayed = []
    for va in sorted(descriptors):
        rva = va - image.base
        attributes, name, _, iat, int_, _, _, _ = struct.unpack_from("<8I", image.data, image.offset(rva))
        if not attributes & 1:
            faults.append(f"descriptor at {va:#x} is not RVA-based")
            continue
        dll = image.text(name)
        count = 0
        while True:
            entry = image.ptr(int_ + count * image.pointer)
            if not entry:
                break
            slot = image.ptr(iat + count * image.pointer)
            function = image.import_name(entry)
            if not slot or not image.is_code(slot - image.base):
                faults.append(f"{dll} {function}: delay-import slot holds {slot:#x}, not its thunk")
            count += 1
        delayed.append((dll, count))
    loaded = {name.lower() for name in image.ordinary_imports()}
    for dll, _ in delayed:
        if dll.lower() in loaded:
            faults.append(f"{dll} is delay-loaded but also imported at start-up: a function of it is called "
                          "that its delay-load list (tw_delay_import in CMakeLists.txt) does not name")
    if faults:
        for fault in faults:
            print(f"{program}: {fault}", file=sys.stderr)
        return 1
    print(f"{program}: delay imports sound: " + ", ".join(f"{dll} {n}" for dll, n in delayed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
