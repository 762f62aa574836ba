#!/usr/bin/env python3
"""Checks the executables that `tarvik-cli info --json` reports against the files themselves.

For every package under the folders given, the package is extracted with `tarvik-cli
extract`, and each extracted file's header is read here, with no help from the program: an
E32 image ("EPOC" at 16: UIDs at 0, 4, 8, header format in bits 24-27 of the word at 44,
SID, VID and capabilities at 128, 132, 136 for format 2) or a PE emulator build (its
".SYMBIAN" section: UIDs, priority, SID, VID, capabilities). The header's UID3, SID, VID and
capabilities must equal the file's "executable" member of the JSON document, and every file
found to be an executable must have one (and no other file).

    tests/e32/check_executables.py build/src/cli/tarvik-cli ../shared/corpus [more folders]

Prints the counts and every difference; the exit status is 1 when there is a difference.
"""

import json
import os
import struct
import subprocess
import sys
import tempfile


def word(b, at):
    return struct.unpack_from("<I", b, at)[0] if at + 4 <= len(b) else None


def e32_facts(b):
    fmt = (word(b, 44) or 0) >> 24 & 0xF
    facts = {"emulator": False, "uid3": word(b, 8), "sid": None, "vid": None, "caps": None}
    if fmt == 2 and len(b) >= 144:
        facts["sid"], facts["vid"] = word(b, 128), word(b, 132)
        facts["caps"] = word(b, 136) | word(b, 140) << 32
    return facts


def pe_facts(b):
    pe = word(b, 0x3C)
    if pe is None or b[pe:pe + 4] != b"PE\0\0":
        return None
    count, optional = struct.unpack_from("<H", b, pe + 6)[0], struct.unpack_from("<H", b, pe + 20)[0]
    table = pe + 24 + optional
    facts = {"emulator": True, "uid3": None, "sid": None, "vid": None, "caps": None}
    for i in range(count):
        at = table + 40 * i
        name = b[at:at + 8]
        raw = word(b, at + 20)
        if name == b".SYMBIAN":
            facts["uid3"], facts["sid"], facts["vid"] = word(b, raw + 8), word(b, raw + 16), word(b, raw + 20)
            facts["caps"] = word(b, raw + 24) | word(b, raw + 28) << 32
        elif name == b".E32_UID":
            facts["uid3"] = word(b, raw + 8)
    return facts


def header_facts(path):
    with open(path, "rb") as f:
        b = f.read()
    if b[:2] == b"MZ":
        return pe_facts(b)
    if b[16:20] == b"EPOC":
        return e32_facts(b)
    return None


def json_facts(x):
    caps = x["capabilities"]["bits"] if x["capabilities"] is not None else None
    return {"emulator": x["emulator"], "uid3": x["uid3"], "sid": x["secureId"], "vid": x["vendorId"], "caps": caps}


def files_of(package):
    for f in package["files"]:
        yield f
    for child in package["embeddedPackages"]:
        yield from files_of(child)


def main():
    cli, folders = sys.argv[1], sys.argv[2:]
    counts = {"packages": 0, "files": 0, "executables": 0, "agree": 0, "emulator": 0, "eka1": 0, "eka2": 0,
              "not extracted": 0}
    differences = []
    for folder in folders:
        for root, _, names in os.walk(folder):
            for name in sorted(names):
                path = os.path.join(root, name)
                if name.endswith((".pkg", ".tsv", ".md")):
                    continue
                line = subprocess.run([cli, "info", "--json", path], capture_output=True).stdout
                if not line.strip():
                    continue
                doc = json.loads(line)
                if doc["package"] is None:
                    continue
                counts["packages"] += 1
                with tempfile.TemporaryDirectory() as out:
                    subprocess.run([cli, "extract", path, out, "--quiet", "--force"], capture_output=True)
                    for f in files_of(doc["package"]):
                        if not f["extractPath"] or f["dataOffset"] is None:
                            continue
                        extracted = os.path.join(out, f["extractPath"].replace("\\", "/"))
                        if not os.path.isfile(extracted):
                            counts["not extracted"] += 1
                            continue
                        counts["files"] += 1
                        header = header_facts(extracted)
                        reported = json_facts(f["executable"]) if f["executable"] else None
                        if header is None and reported is None:
                            continue
                        counts["executables"] += 1
                        if header is not None:
                            kind = "emulator" if header["emulator"] else ("eka2" if header["sid"] is not None else "eka1")
                            counts[kind] += 1
                        if header == reported:
                            counts["agree"] += 1
                        else:
                            differences.append(f"{path}: {f['target']}: header {header}, JSON {reported}")
    for key, value in counts.items():
        print(f"{key}: {value}")
    for d in differences:
        print("DIFFERS", d)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
