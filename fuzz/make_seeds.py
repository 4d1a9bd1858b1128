#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into fuzz/seeds/ (committed; rerun only to change them).

    fuzz/make_seeds.py build/OmbrelColorSpaceConversion.so build/mac-bundle/.../X.rsrc

The module gives the PiPL bytes (its .pipl section, through objcopy), wrapped here in a minimal
ELF file and a minimal PE file; the bundle's resource file is taken as it is. Frame seeds are
byte strings that the frame target reads as a frame description and pixels.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def put(buf, at, value, n):
    if len(buf) < at + n:
        buf.extend(b"\0" * (at + n - len(buf)))
    buf[at:at + n] = value.to_bytes(n, "little")


def make_elf(pipl, name=b".pipl"):
    table = b"\0.text\0" + name + b"\0.shstrtab\0"
    text, data = 64, 80
    names = data + len(pipl)
    shoff = (names + len(table) + 7) // 8 * 8
    f = bytearray(shoff + 4 * 64)
    f[0:7] = b"\x7fELF\x02\x01\x01"
    f[text:text + 16] = b"\x90" * 16
    f[data:data + len(pipl)] = pipl
    f[names:names + len(table)] = table

    def header(i, name_at, kind, off, size):
        h = shoff + i * 64
        put(f, h, name_at, 4)
        put(f, h + 4, kind, 4)
        put(f, h + 24, off, 8)
        put(f, h + 32, size, 8)

    header(1, 1, 1, text, 16)
    header(2, 7, 1, data, len(pipl))
    header(3, 8 + len(name), 3, names, len(table))
    put(f, 0x28, shoff, 8)
    put(f, 0x3A, 64, 2)
    put(f, 0x3C, 4, 2)
    put(f, 0x3E, 3, 2)
    return bytes(f)


def make_pe(pipl, languages=(1033,)):
    rva, raw = 0x1000, 0x200
    rsrc = bytearray()
    kind = "PIPL"
    root, type_dir, lang_dir = 0, 24, 48
    name_at = lang_dir + 16 + 8 * len(languages)
    entries = name_at + 2 + 2 * len(kind) + 2
    data = entries + 16 * len(languages)
    put(rsrc, root + 12, 1, 2)
    put(rsrc, root + 16, 0x80000000 | name_at, 4)
    put(rsrc, root + 20, 0x80000000 | type_dir, 4)
    put(rsrc, type_dir + 14, 1, 2)
    put(rsrc, type_dir + 16, 16000, 4)
    put(rsrc, type_dir + 20, 0x80000000 | lang_dir, 4)
    put(rsrc, lang_dir + 14, len(languages), 2)
    put(rsrc, name_at, len(kind), 2)
    for i, c in enumerate(kind):
        put(rsrc, name_at + 2 + 2 * i, ord(c), 2)
    at = data
    for i, language in enumerate(languages):
        put(rsrc, lang_dir + 16 + 8 * i, language, 4)
        put(rsrc, lang_dir + 20 + 8 * i, entries + 16 * i, 4)
        put(rsrc, entries + 16 * i, rva + at, 4)
        put(rsrc, entries + 16 * i + 4, len(pipl), 4)
        del rsrc[at:]
        rsrc.extend(b"\0" * (at - len(rsrc)))
        rsrc.extend(pipl)
        at = len(rsrc)
    return wrap_pe(rsrc, rva, raw)


def wrap_pe(rsrc, rva=0x1000, raw=0x200):
    """A PE file whose one section, at `rva`, is the resource section `rsrc`."""
    f = bytearray(raw)
    f[0:2] = b"MZ"
    put(f, 0x3C, 0x40, 4)
    f[0x40:0x44] = b"PE\0\0"
    coff, optional = 0x44, 0x58
    put(f, coff, 0x8664, 2)
    put(f, coff + 2, 1, 2)
    put(f, coff + 16, 240, 2)
    put(f, optional, 0x20B, 2)
    put(f, optional + 108, 16, 4)
    put(f, optional + 112 + 16, rva, 4)
    put(f, optional + 112 + 20, len(rsrc), 4)
    section = optional + 240
    f[section:section + 5] = b".rsrc"
    put(f, section + 8, len(rsrc), 4)
    put(f, section + 12, rva, 4)
    put(f, section + 16, len(rsrc), 4)
    put(f, section + 20, raw, 4)
    return bytes(f + rsrc)


def make_pe_names(count, length):
    """A resource root of `count` named types that all share one name of `length` characters,
    none of them "PIPL": 131070 x 65535 characters to a reader that decodes every name."""
    name_at = 16 + 8 * count
    rsrc = bytearray(name_at + 2 + 2 * length)
    put(rsrc, 12, count, 2)
    for i in range(count):
        put(rsrc, 16 + 8 * i, 0x80000000 | name_at, 4)
        put(rsrc, 20 + 8 * i, 0x80000000, 4)
    put(rsrc, name_at, length, 2)
    rsrc[name_at + 2:] = b"A\0" * length
    return wrap_pe(rsrc)


def make_rsrc_shared(count, length):
    """A resource file of `count` 'PiPL' resources (ids 0 up, 16000 among them once count is
    above it) whose references all point at the same `length` bytes of data."""
    data_at, data_length = 256, 4 + length
    refs = 28 + 2 + 8
    map_length = refs + 12 * count
    map_at = data_at + data_length
    header = struct.pack(">IIII", data_at, map_at, data_length, map_length)
    f = bytearray(header + b"\0" * (data_at - 16))
    f += struct.pack(">I", length) + b"\0" * length
    m = bytearray(header + b"\0" * 8 + struct.pack(">HH", 28, 28))
    m += struct.pack(">H4sHH", 0, b"PiPL", (count - 1) & 0xFFFF, 2 + 8)
    for i in range(count):
        m += struct.pack(">HHB3sI", i, 0xFFFF, 0, (0).to_bytes(3, "big"), 0)
    return bytes(f + m)


def write(folder, name, data):
    with open(os.path.join(HERE, "seeds", folder, name), "wb") as out:
        out.write(data)


def main():
    module, rsrc = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "pipl.bin")
        subprocess.run(["objcopy", "-O", "binary", "--only-section=.pipl", module, out],
                       check=True)
        pipl = open(out, "rb").read()
    write("elf", "module.elf", make_elf(pipl))
    write("elf", "no-pipl-section.elf", make_elf(pipl, b".data"))
    write("pe", "module.pe", make_pe(pipl))
    write("pe", "two-languages.pe", make_pe(pipl, (1031, 1033)))
    write("pe", "shared-long-names.pe", make_pe_names(255, 4095))
    write("resource_file", "bundle.rsrc", open(rsrc, "rb").read())
    write("resource_file", "shared-data.rsrc", make_rsrc_shared(1024, 16384))
    rng = random.Random(11)
    for i in range(6):
        write("frames", "frame%d" % i, bytes(rng.randrange(256) for _ in range(40 + 90 * i)))


if __name__ == "__main__":
    main()
