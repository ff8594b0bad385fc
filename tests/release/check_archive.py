#!/usr/bin/env python3
"""Checks a release archive: exactly the two programs of the named architecture, the README and
the licence, in one folder named after the archive; anything more (a test helper, a stand-in
library) fails.

    check_archive.py ARCHIVE.zip x64|x86
"""
import os
import struct
import sys
import zipfile

PE_MACHINES = {"x64": 0x8664, "x86": 0x14C}


def pe_machine(data):
    if data[:2] != b"MZ":
        return None
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, header + 4)[0]


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in PE_MACHINES:
        sys.exit("usage: check_archive.py ARCHIVE.zip x64|x86")
    path, arch = sys.argv[1], sys.argv[2]
    folder = os.path.basename(path)[: -len(".zip")]
    expected = {f"{folder}/{name}" for name in ("orvcard.exe", "orvcard-op.exe", "README.md", "LICENSE")}
    problems = []
    with zipfile.ZipFile(path) as archive:
        names = {name for name in archive.namelist() if not name.endswith("/")}
        problems += [f"unexpected entry {name}" for name in sorted(names - expected)]
        problems += [f"missing entry {name}" for name in sorted(expected - names)]
        for name in sorted(names & expected):
            if name.endswith(".exe") and pe_machine(archive.read(name)) != PE_MACHINES[arch]:
                problems.append(f"{name} is not an {arch} program")
    for problem in problems:
        print(f"FAIL: {path}: {problem}")
    if problems:
        sys.exit(1)
    print(f"ok: {path} holds {', '.join(sorted(n.split('/', 1)[1] for n in names))}")


if __name__ == "__main__":
    main()
