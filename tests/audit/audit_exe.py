#!/usr/bin/env python3
"""Audit of the shipping executable, read straight from its PE image:

  - PE32 for i686, GUI subsystem;
  - statically linked: it imports from Windows' own DLLs only;
  - its manifest asks for requireAdministrator (no UI access), depends on
    Common Controls 6 and declares DPI awareness;
  - every resource is there by type, name and language, nothing else, and
    the raw-data resources, the bitmaps and the manifest hold exactly the
    bytes of their source files;
  - the version resource is filled and agrees with the project version;
  - its size is within the budget (printed).

    audit_exe.py --exe ZolvaKeystrip.exe --resources <repo>/resources
                 --version 1.0.0 [--budget 1048576]

Exits 1 naming every problem; 77 when the exe has not been built (unless
KEYSTRIP_AUDIT_REQUIRED is set, as the test command does).
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_BITMAP, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 2, 10, 14, 16, 24
TYPE_NAMES = {RT_ICON: "ICON", RT_BITMAP: "BITMAP", RT_RCDATA: "RCDATA",
              RT_GROUP_ICON: "GROUP_ICON", RT_VERSION: "VERSION", RT_MANIFEST: "MANIFEST"}

NEUTRAL, GERMAN, ENGLISH_US = 0x0000, 0x0407, 0x0409

# Windows' own libraries a statically linked program may import from.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "comdlg32.dll",
    "shell32.dll", "shlwapi.dll", "ole32.dll", "oleaut32.dll", "uxtheme.dll", "version.dll",
    "msvcrt.dll", "ntdll.dll", "msimg32.dll", "imm32.dll", "winmm.dll", "bcrypt.dll",
}


def expected_resources(resource_dir):
    """(type, name, language) -> source file whose bytes the resource must
    hold (None where the resource is not a plain copy of a file)."""
    rc = lambda *parts: os.path.join(resource_dir, *parts)
    bmp = lambda name: rc("artwork", name + ".bmp")
    expected = {(RT_RCDATA, "ZOLVAPRODUCT%d" % n, NEUTRAL): rc("products", "ZolvaProduct%d.json" % n)
                for n in range(1, 8)}
    expected.update({
        (RT_RCDATA, "ZOLVASTRINGS", GERMAN): rc("ZolvaStrings.ini"),
        (RT_RCDATA, "EULA", GERMAN): rc("Eula.txt"),
        (RT_MANIFEST, 1, NEUTRAL): rc("ZolvaKeystrip.manifest"),
        (RT_GROUP_ICON, "MAINICON", NEUTRAL): None,
        (RT_VERSION, 1, ENGLISH_US): None,
    })
    for dpi in (96, 144, 192):
        expected[(RT_BITMAP, "LOGOIMAGE%d" % dpi, ENGLISH_US)] = bmp("Banner%d" % dpi)
        expected[(RT_BITMAP, "SYMBOLS%d" % dpi, ENGLISH_US)] = bmp("Symbols%d" % dpi)
    return expected


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, opt_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, self.pe + 4)
        self.opt = self.pe + 24
        self.magic = struct.unpack_from("<H", data, self.opt)[0]
        if self.magic != 0x10B:
            raise ValueError("not PE32 (optional header magic 0x%x)" % self.magic)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, self.opt + 68)
        count = struct.unpack_from("<I", data, self.opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", data, self.opt + 96 + 8 * i) for i in range(count)]
        self.sections = []
        table = self.opt + opt_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")

    def imports(self):
        rva, size = self.dirs[1]
        dlls = []
        if not rva:
            return dlls
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunk):
                return dlls
            dlls.append(self.cstring(name))
            at += 20

    def resources(self):
        """{(type, name, language): bytes}, names as str or int."""
        rva, _ = self.dirs[2]
        base = self.offset(rva)
        found = {}

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if ident & 0x80000000:
                    at = base + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    ident = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield ident, target

        for kind, t in entries(0):
            for name, n in entries(t & 0x7FFFFFFF):
                for language, leaf in entries(n & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(data_rva)
                    found[(kind, name, language)] = self.data[at:at + size]
        return found


def version_strings(blob):
    """The fixed file version and the StringFileInfo strings of a VS_VERSIONINFO."""
    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end = blob.index(b"\0\0", at + 6)
        while (end - (at + 6)) % 2:
            end = blob.index(b"\0\0", end + 1)
        key = blob[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        value = blob[value_at:value_at + size]
        children = []
        child = (value_at + size + 3) & ~3
        while child < at + length:
            c = node(child)
            children.append(c)
            child = (child + c[3] + 3) & ~3
        return key, value, children, length

    key, fixed, children, _ = node(0)
    if key != "VS_VERSION_INFO":
        raise ValueError("version resource key %r" % key)
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed, 0)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")
    file_version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for k, _, tables, _ in children:
        if k == "StringFileInfo":
            for _, _, pairs, _ in tables:
                for name, value, _, _ in pairs:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return file_version, strings


def audit(args, problems):
    data = open(args.exe, "rb").read()
    image = Image(data)
    size = len(data)
    print("%s: %d bytes (%.0f KiB), budget %d bytes" % (args.exe, size, size / 1024, args.budget))
    if size > args.budget:
        problems.append("size %d bytes is over the budget of %d bytes" % (size, args.budget))

    if image.machine != 0x14C:
        problems.append("machine 0x%x is not i386" % image.machine)
    if not image.characteristics & 0x0100:
        problems.append("not marked 32-bit (IMAGE_FILE_32BIT_MACHINE)")
    if image.subsystem != 2:
        problems.append("subsystem %d is not the GUI subsystem (2)" % image.subsystem)
    flags = [name for bit, name in ((0x40, "ASLR"), (0x100, "NX")) if image.dll_characteristics & bit]
    print("PE32 i386, subsystem %d, %s" % (image.subsystem, " ".join(flags) or "no ASLR/NX"))

    dlls = image.imports()
    print("imports: " + ", ".join(dlls))
    for dll in dlls:
        lower = dll.lower()
        if lower not in SYSTEM_DLLS and not lower.startswith("api-ms-win-"):
            problems.append("imports from %s, which is not one of Windows' own DLLs" % dll)

    found = image.resources()
    expected = expected_resources(args.resources)
    icons = [key for key in found if key[0] == RT_ICON]
    for key in sorted(found, key=str):
        kind, name, language = key
        print("resource %-10s %-14s language 0x%04x, %d bytes" % (
            TYPE_NAMES.get(kind, kind), name, language, len(found[key])))
    for key, source in expected.items():
        label = "%s %s (language 0x%04x)" % (TYPE_NAMES[key[0]], key[1], key[2])
        if key not in found:
            others = [k for k in found if k[:2] == key[:2]]
            problems.append("missing resource %s%s" % (
                label, " (found with language 0x%04x)" % others[0][2] if others else ""))
            continue
        if source is not None:
            want = open(source, "rb").read()
            if key[0] == RT_BITMAP:
                want = want[14:]  # a BITMAP resource is the file without its file header
            if found[key] != want:
                problems.append("resource %s differs from %s" % (label, os.path.relpath(source)))
    for key in found:
        if key not in expected and key[0] != RT_ICON:
            problems.append("unexpected resource %s %s (language 0x%04x)" % (
                TYPE_NAMES.get(key[0], key[0]), key[1], key[2]))

    group = found.get((RT_GROUP_ICON, "MAINICON", NEUTRAL))
    if group:
        count = struct.unpack_from("<H", group, 4)[0]
        ids = [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]
        missing = [i for i in ids if not any(k[1] == i for k in icons)]
        if count == 0 or missing:
            problems.append("icon group MAINICON lists %d images, missing %s" % (count, missing))
        if len(icons) != count:
            problems.append("%d icon images for %d entries of MAINICON" % (len(icons), count))

    manifest = found.get((RT_MANIFEST, 1, NEUTRAL))
    if manifest:
        check_manifest(manifest, problems)

    blob = found.get((RT_VERSION, 1, ENGLISH_US))
    if blob:
        check_version(blob, args.version, problems)


def check_manifest(text, problems):
    root = ET.fromstring(text)
    asm1, asm3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    levels = root.findall(".//%srequestedExecutionLevel" % asm3)
    if len(levels) != 1 or levels[0].get("level") != "requireAdministrator" or \
            levels[0].get("uiAccess") not in ("false", None):
        problems.append("manifest: execution level is not requireAdministrator without UI access")
    controls = [a for a in root.iter("%sassemblyIdentity" % asm1)
                if a.get("name") == "Microsoft.Windows.Common-Controls"]
    if len(controls) != 1 or controls[0].get("version") != "6.0.0.0" or \
            controls[0].get("publicKeyToken") != "6595b64144ccf1df":
        problems.append("manifest: no dependency on Common Controls 6.0.0.0")
    dpi = [e.text.strip().lower() for e in root.iter()
           if e.tag.endswith("}dpiAware") or e.tag.endswith("}dpiAwareness")]
    if not dpi or all(v in ("false", "unaware") for v in dpi):
        problems.append("manifest: no DPI awareness")
    print("manifest: requireAdministrator, Common Controls 6, DPI %s" % " / ".join(dpi))


def check_version(blob, project_version, problems):
    file_version, strings = version_strings(blob)
    print("version: %s, %s" % (".".join(map(str, file_version)),
                                ", ".join("%s=%r" % kv for kv in sorted(strings.items()))))
    for key in ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                "OriginalFilename", "ProductName", "ProductVersion"):
        if not strings.get(key):
            problems.append("version: %s is empty or missing" % key)
    wanted = tuple(int(p) for p in project_version.split(".")) + (0,) * 4
    if file_version != wanted[:4]:
        problems.append("version: file version %s is not the project version %s" % (
            ".".join(map(str, file_version)), project_version))
    dotted = ".".join(map(str, file_version))
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) and strings[key] != dotted:
            problems.append("version: %s %r disagrees with %s" % (key, strings[key], dotted))
    if strings.get("OriginalFilename") != "ZolvaKeystrip.exe":
        problems.append("version: OriginalFilename is not ZolvaKeystrip.exe")
    if strings.get("ProductName") != "Zolva Keystrip":
        problems.append("version: ProductName is not Zolva Keystrip")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--resources", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--budget", type=int, default=1 << 20)
    args = parser.parse_args()
    if not os.path.exists(args.exe):
        print("%s does not exist: build the win32-release preset first" % args.exe)
        return 1 if os.environ.get("KEYSTRIP_AUDIT_REQUIRED") else 77
    problems = []
    try:
        audit(args, problems)
    except (ValueError, struct.error, ET.ParseError) as e:
        problems.append("unreadable image: %s" % e)
    for p in problems:
        print("PROBLEM: " + p)
    print("audit: %d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
