#!/usr/bin/env python3
"""Prints the keys and values of a .reg file in one comparable form, for the Windows end-to-end test.

    reg_values.py FILE.reg SELECTOR [SELECTOR ...]

FILE.reg is read as regedit, reg export, reg_dump.exe and winsim export write it: UTF-16LE with a
byte-order mark or UTF-8, "Windows Registry Editor Version 5.00" or REGEDIT4, values as "text",
dword:, hex: or hex(N):, continued over lines ending in a backslash.

A SELECTOR is a key path under HKEY_LOCAL_MACHINE, optionally followed by "=" and a comma-separated
list of value names: every key at or below that path is printed as a "key" line, and its values
(all of them, only the listed names, or none after a bare "=") as "value" lines. Paths (printed without the root key)
and value names are compared and printed in lower case, as Windows compares them; data is
printed exactly:

    key system\\currentcontrolset\\enum\\orvpcard_enum\\orvpcard_parpecp\\0000
    value hardware\\devicemap\\parallel ports | \\device\\parallel0 | sz "\\DosDevices\\LPT1" 260

A string value (type 1 or 2) whose data is UTF-16 text, its terminator and only zero bytes after
it is shown as the text and its data length in bytes; a REG_DWORD as dword:XXXXXXXX; anything
else as hex(TYPE):bytes. Lines are sorted, so two files can be compared with diff.
"""

import sys

ROOTS = {"hkey_local_machine": "hklm", "hklm": "hklm"}


def decode(raw):
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le")
    if raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    return raw.decode("utf-8")


def logical_lines(text):
    """Lines with their continuations joined, in order, with their 1-based numbers."""
    pending, start = "", 0
    for number, line in enumerate(text.replace("\r\n", "\n").split("\n"), 1):
        stripped = line.rstrip()
        if pending:
            stripped = stripped.lstrip()
        else:
            start = number
        if stripped.endswith("\\") and ("=hex" in pending + stripped):
            pending += stripped[:-1]
            continue
        yield start, pending + stripped
        pending = ""


def parse_string(text, pos):
    """The quoted text starting at text[pos] == '"'; returns (text, index after the quote)."""
    out, pos = [], pos + 1
    while pos < len(text):
        c = text[pos]
        if c == "\\" and pos + 1 < len(text):
            out.append(text[pos + 1])
            pos += 2
        elif c == '"':
            return "".join(out), pos + 1
        else:
            out.append(c)
            pos += 1
    raise ValueError("unterminated string")


def parse_data(data):
    """(type, bytes) of the text after '='."""
    if data.startswith('"'):
        text, end = parse_string(data, 0)
        if data[end:].strip():
            raise ValueError("text after a string value")
        return 1, (text + "\0").encode("utf-16-le")
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    if data.startswith("hex:"):
        kind, body = 3, data[4:]
    elif data.startswith("hex("):
        close = data.index("):")
        kind, body = int(data[4:close], 16), data[close + 2 :]
    else:
        raise ValueError("unknown value form")
    body = body.replace(" ", "")
    return kind, bytes(int(b, 16) for b in body.split(",") if b)


def read_reg(path):
    """{key path: {value name: (type, bytes)}}, keys and names in lower case."""
    with open(path, "rb") as f:
        text = decode(f.read())
    keys, current = {}, None
    for number, line in logical_lines(text):
        try:
            if not line or line.startswith(";") or line in (
                "Windows Registry Editor Version 5.00",
                "REGEDIT4",
            ):
                continue
            if line.startswith("[") and line.endswith("]"):
                root, _, rest = line[1:-1].partition("\\")
                if root.lower() not in ROOTS:
                    current = None
                    continue
                current = (ROOTS[root.lower()] + "\\" + rest).rstrip("\\").lower()
                keys.setdefault(current, {})
                continue
            if current is None:
                continue
            if line.startswith("@="):
                name, data = "", line[2:]
            elif line.startswith('"'):
                name, end = parse_string(line, 0)
                if line[end : end + 1] != "=":
                    raise ValueError("no '=' after the value name")
                data = line[end + 1 :]
            else:
                raise ValueError("not a key or a value")
            keys[current][name.lower()] = parse_data(data)
        except ValueError as error:
            sys.exit(f"{path}:{number}: {error}: {line[:80]}")
    return keys


def render(kind, data):
    if kind in (1, 2) and len(data) % 2 == 0:
        units = data.decode("utf-16-le", errors="replace")
        text, nul, rest = units.partition("\0")
        if nul and not rest.strip("\0"):
            return f'{"sz" if kind == 1 else "expand_sz"} "{text}" {len(data)}'
    if kind == 4 and len(data) == 4:
        return f"dword:{int.from_bytes(data, 'little'):08x}"
    return f"hex({kind:x}):" + ",".join(f"{b:02x}" for b in data)


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    keys = read_reg(argv[1])
    lines = set()
    for selector in argv[2:]:
        path, separator, names = selector.partition("=")
        prefix = "hklm\\" + path.lower()
        wanted = {n.lower() for n in names.split(",") if n} if separator else None
        for key, values in keys.items():
            if key != prefix and not key.startswith(prefix + "\\"):
                continue
            lines.add(f"key {key[5:]}")
            for name, (kind, data) in values.items():
                if wanted is None or name in wanted:
                    lines.add(f"value {key[5:]} | {name} | {render(kind, data)}")
    for line in sorted(lines):
        print(line)


if __name__ == "__main__":
    main(sys.argv)
