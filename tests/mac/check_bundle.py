#!/usr/bin/env python3
"""Checks a macOS effect bundle's Info.plist, PkgInfo and PiPL resource as a Mac would read them.

    check_bundle.py BUNDLE.plugin EXECUTABLE_NAME

Info.plist must parse as a property list and name EXECUTABLE_NAME as the bundle's executable;
PkgInfo must be the eight bytes of package type and signature; the resource file named after the
executable must hold a 'PiPL' resource 16000 whose kind is the package type and whose effect
version is the bundle's version. Prints what is wrong and exits 1, or exits 0.
"""
import plistlib
import re
import struct
import sys
from pathlib import Path


def pipl_properties(rsrc):
    """The properties of the big-endian 'PiPL' resource 16000, as {key: data}."""
    data_offset, map_offset, _, _ = struct.unpack_from(">4I", rsrc, 0)
    type_list, _ = struct.unpack_from(">2H", rsrc, map_offset + 24)
    types = map_offset + type_list
    (type_count,) = struct.unpack_from(">H", rsrc, types)
    for t in range(type_count + 1):
        code, count, refs = struct.unpack_from(">4sHH", rsrc, types + 2 + 8 * t)
        if code != b"PiPL":
            continue
        for r in range(count + 1):
            ref = types + refs + 12 * r
            (res_id,) = struct.unpack_from(">h", rsrc, ref)
            if res_id != 16000:
                continue
            at = data_offset + int.from_bytes(rsrc[ref + 5 : ref + 8], "big")
            (length,) = struct.unpack_from(">I", rsrc, at)
            pipl = rsrc[at + 4 : at + 4 + length]
            one, _, prop_count = struct.unpack_from(">HII", pipl, 0)
            if one != 1:
                raise ValueError("the PiPL does not start with a big-endian 1")
            props, pos = {}, 10
            for _ in range(prop_count):
                _, key, _, size = struct.unpack_from(">4s4sII", pipl, pos)
                props[key.decode("latin-1")] = pipl[pos + 16 : pos + 16 + size]
                pos += 16 + (size + 3) // 4 * 4
            return props
    raise ValueError("no 'PiPL' resource 16000")


def check(bundle, executable):
    problems = []
    contents = bundle / "Contents"
    with open(contents / "Info.plist", "rb") as f:
        info = plistlib.load(f)  # raises on anything that is not a well-formed plist
    if not isinstance(info, dict):
        return ["Info.plist: the top level is not a dictionary"]

    def expect(key, test, description):
        if key not in info:
            problems.append(f"Info.plist: no {key}")
        elif not test(info[key]):
            problems.append(f"Info.plist: {key} is {info[key]!r}, expected {description}")

    def is_text(v):
        return isinstance(v, str) and v != ""

    expect("CFBundleExecutable", lambda v: v == executable, repr(executable))
    expect("CFBundleIdentifier",
           lambda v: isinstance(v, str) and re.fullmatch(r"[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+", v),
           "a reverse-DNS name")
    expect("CFBundleName", is_text, "a name")
    expect("CFBundleDevelopmentRegion", is_text, "a region")
    expect("CFBundlePackageType", lambda v: v == "eFKT", "'eFKT'")
    expect("CFBundleSignature", lambda v: v == "FXTC", "'FXTC'")
    version_pattern = r"\d+\.\d+\.\d+"
    expect("CFBundleShortVersionString",
           lambda v: isinstance(v, str) and re.fullmatch(version_pattern, v), "major.minor.fix")
    expect("CFBundleVersion", lambda v: v == info.get("CFBundleShortVersionString"),
           "the short version string")
    expect("LSMinimumSystemVersion",
           lambda v: isinstance(v, str) and re.fullmatch(r"\d+\.\d+(\.\d+)?", v), "a version")
    expect("CSResourcesFileMapped", lambda v: v is True, "true")

    pkginfo = (contents / "PkgInfo").read_bytes()
    wanted = (str(info.get("CFBundlePackageType", "")) + str(info.get("CFBundleSignature", "")))
    if pkginfo != wanted.encode("ascii") or len(pkginfo) != 8:
        problems.append(f"PkgInfo is {pkginfo!r}, expected the 8 bytes {wanted!r}")

    rsrc = contents / "Resources" / f"{info.get('CFBundleExecutable', '')}.rsrc"
    try:
        props = pipl_properties(rsrc.read_bytes())
    except (OSError, ValueError, struct.error) as e:
        return problems + [f"{rsrc.name}: {e}"]
    kind = props.get("kind", b"")
    if kind.decode("latin-1") != info.get("CFBundlePackageType"):
        problems.append(f"{rsrc.name}: PiPL kind {kind!r} is not the package type")
    if len(props.get("eVER", b"")) != 4:
        problems.append(f"{rsrc.name}: no 4-byte eVER")
    else:
        (v,) = struct.unpack(">I", props["eVER"])
        pipl_version = f"{(v >> 19) & 7}.{(v >> 15) & 15}.{(v >> 11) & 15}"
        if pipl_version != info.get("CFBundleShortVersionString"):
            problems.append(f"{rsrc.name}: the effect version {pipl_version} is not the bundle's "
                            f"{info.get('CFBundleShortVersionString')!r}")
    for key, arch in (("mi64", "64-bit Intel"), ("ma64", "64-bit ARM")):
        if props.get(key, b"").rstrip(b"\0") != b"EntryPointFunc":
            problems.append(f"{rsrc.name}: no entry point EntryPointFunc for {arch} ({key})")
    return problems


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    try:
        problems = check(Path(argv[1]), argv[2])
    except Exception as e:  # a plist parse error, a missing file: report, don't trace
        problems = [f"{type(e).__name__}: {e}"]
    for p in problems:
        print(f"{argv[1]}: {p}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
