#!/usr/bin/env python3
"""Compares the platform trace of a Windows build run under Wine (ORVCARD_TRACE) with the trace
the simulated machine wrote for the same steps on the same starting state: the same calls, in
the same order, with the same arguments and results, apart from the differences listed in
DIFFERENCES below, each with its reason. Handles need no normalising: both traces name them
kind#n in the order the seam handed them out (platform/trace_text.h), never by value.

    trace_compare.py SIMULATED_TRACE WINE_TRACE [SIMULATED_FOLDER WINE_FOLDER]

SIMULATED_FOLDER and WINE_FOLDER are the current folders of the two runs, as Windows paths: the
end-to-end test runs the simulated machine in a scratch folder of the host (Z:\...) and Wine in
C:\run, and both become <current folder> (letter case aside); a length returned with such a
path is counted without the folder.

Prints the differences left after the normalising (- simulated machine, + Wine) and exits 1
when there are any.
"""
import difflib
import re
import sys

# (what, applies to "sim", "wine" or "both", pattern, replacement or None to drop the line,
# reason). Applied in order to each line.
DIFFERENCES = [
    ("stand-in programs", "sim", r"^(cmd|DPInst)\(.*", None,
     "the simulated machine's command interpreter and package installer write a line when they "
     "end; Windows programs are not traced"),
    ("exit status at start", "sim", r"^(CreateProcessW\(.*\) = TRUE -> \S+, \S+), exit \S+$", r"\1",
     "the simulated machine runs a program to its end inside CreateProcessW and knows its exit "
     "status there; on Windows GetExitCodeProcess gives it, and both trace that call"),
    ("device instance case", "both", r" \[([^\]]+)\]$", lambda m: " [" + m.group(1).upper() + "]",
     "SetupDiGetDeviceInstanceIdW gives instance IDs in upper case; the simulated machine names a "
     "device by its keys' names as the fixture spells them"),
    ("C runtime write count", "both", r"^(CrtWriteText\(.*\) = )(\d+)$", r"\1(written)",
     "the C runtime's fputws returns 0 on success, the simulated machine the count of characters; "
     "the tool reads neither, so only success (not -1) is compared"),
    ("installer exit status", "both", r"^(GetExitCodeProcess\(.*\) = TRUE -> )\S+$", r"\1(not compared)",
     "the programs behind the processes are stand-ins on both sides: under Wine a stand-in "
     "DPInst.exe that records its arguments and exits 0, on the simulated machine the simulated "
     "installer, which answers 0x80010000 for a package not in its store; the tool keeps no "
     "record of the outcome, and the end-to-end test checks the stand-in's arguments"),
    ("property-change restart", "both",
     r"^((?:SetupDiSetClassInstallParamsW|SetupDiCallClassInstaller)\(.*\) = )(TRUE|FALSE \(\S+\))",
     r"\1(not compared)",
     "Wine's SetupDiSetClassInstallParamsW is a stub that returns FALSE, and its "
     "SetupDiCallClassInstaller has no restart to make; the calls and their arguments are "
     "compared, their results not (the unit tests cover the restart)"),
]


def normalise(lines, side):
    result = []
    for line in lines:
        for _, applies, pattern, replacement, _ in DIFFERENCES:
            if applies not in (side, "both") or line is None:
                continue
            if re.search(pattern, line):
                line = None if replacement is None else re.sub(pattern, replacement, line)
        if line is not None:
            result.append(line)
    return result


def in_folder(lines, folder):
    """The lines with `folder` (any letter case) written as <current folder>, and a length
    returned with such a path counted without the folder's own length."""
    if not folder:
        return lines
    pattern = re.compile(re.escape(folder), re.IGNORECASE)
    length = re.compile(r"^(.*\) = )(\d+)( -> \"<current folder>.*)$")
    result = []
    for line in lines:
        line = pattern.sub("<current folder>", line)
        match = length.match(line)
        if match:
            line = f"{match.group(1)}{int(match.group(2)) - len(folder)} + folder{match.group(3)}"
        result.append(line)
    return result


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit("usage: trace_compare.py SIMULATED_TRACE WINE_TRACE [SIMULATED_FOLDER WINE_FOLDER]")
    sim_folder, wine_folder = sys.argv[3:5] if len(sys.argv) == 5 else ("", "")
    with open(sys.argv[1], encoding="utf-8") as sim_file, \
            open(sys.argv[2], encoding="utf-8") as wine_file:
        sim = normalise(in_folder(sim_file.read().splitlines(), sim_folder), "sim")
        wine = normalise(in_folder(wine_file.read().splitlines(), wine_folder), "wine")
    if sim == wine:
        print(f"{len(sim)} calls alike")
        return
    for line in difflib.unified_diff(sim, wine, "simulated", "wine", lineterm="", n=1):
        print(line)
    sys.exit(1)


if __name__ == "__main__":
    main()
