#!/usr/bin/env python3
"""Checks a release archive: exactly the two programs of the named architecture, the README and
the licence, in one folder named after the archive; anything more (a test helper, a stand-in
library) fails. Each program carries one application manifest (resource type 24, id 1) that
asks to run as invoked: asInvoker, no UI access.

    check_archive.py ARCHIVE.zip x64|x86
"""
import os
import re
import struct
import sys
import zipfile

PE_MACHINES = {"x64": 0x8664, "x86": 0x14C}
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
EXECUTION_LEVEL = re.compile(rb"<requestedExecutionLevel\s+level=\"([^\"]*)\"\s+uiAccess=\"([^\"]*)\"")


def pe_machine(data):
    if data[:2] != b"MZ":
        return None
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, header + 4)[0]


def manifests(data):
    """The application manifests of a PE image: the data of each RT_MANIFEST resource with the
    id CREATEPROCESS_MANIFEST_RESOURCE_ID (any language)."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<HxxxxxxxxxxxxH", data, header + 6)
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if resource_rva == 0:
        return []
    table = optional + optional_size
    resource_offset = None
    offsets = []  # (rva, size, file offset) of each section
    for index in range(sections):
        size, rva, _, raw = struct.unpack_from("<IIII", data, table + index * 40 + 8)
        offsets.append((rva, size, raw))
        if rva <= resource_rva < rva + size:
            resource_offset = raw + resource_rva - rva
    if resource_offset is None:
        return []

    def file_offset(rva):
        for start, size, raw in offsets:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"resource data at RVA {rva:#x} lies in no section")

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, resource_offset + directory + 12)
        for index in range(named + numbered):
            name, target = struct.unpack_from("<II", data, resource_offset + directory + 16 + 8 * index)
            yield name, target

    found = []
    for type_id, type_dir in entries(0):
        if type_id != RT_MANIFEST or not type_dir & 0x80000000:
            continue
        for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
            if name_id != CREATEPROCESS_MANIFEST_RESOURCE_ID or not name_dir & 0x80000000:
                continue
            for _, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, resource_offset + leaf)
                start = file_offset(rva)
                found.append(data[start:start + size])
    return found


def manifest_problem(data):
    found = manifests(data)
    if len(found) != 1:
        return f"holds {len(found)} application manifests, expected 1"
    levels = EXECUTION_LEVEL.findall(found[0])
    if levels != [(b"asInvoker", b"false")]:
        return f"asks for the execution levels {levels}, expected asInvoker without UI access"
    return None


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
            if not name.endswith(".exe"):
                continue
            data = archive.read(name)
            if pe_machine(data) != PE_MACHINES[arch]:
                problems.append(f"{name} is not an {arch} program")
            elif problem := manifest_problem(data):
                problems.append(f"{name} {problem}")
    for problem in problems:
        print(f"FAIL: {path}: {problem}")
    if problems:
        sys.exit(1)
    print(f"ok: {path} holds {', '.join(sorted(n.split('/', 1)[1] for n in names))}")


if __name__ == "__main__":
    main()
