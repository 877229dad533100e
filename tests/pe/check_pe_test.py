#!/usr/bin/python3
"""Proof that the static check refuses a faulty executable: the build passes it, and each of a table of
single faults, written into a copy of the build, is reported. Same arguments as check_pe.py."""
import os
import struct
import sys
import tempfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402


def set_field(structure, **fields):
    """A mutation that sets fields of a pefile structure, found by a function of the parsed file."""
    def mutate(pe, data):
        target = structure(pe)
        for name, value in fields.items():
            setattr(target, name, value)
        return bytes(pe.write())
    return mutate


def replace(old, new, count=1):
    """A mutation that replaces bytes of the file, keeping its length."""
    assert len(old) == len(new)

    def mutate(pe, data):
        assert data.count(old) >= count, "the build holds no %r to change" % old
        return data.replace(old, new, count)
    return mutate


def utf16(text):
    return text.encode("utf-16-le")


def resource_entry(type_id, index=0):
    """The language entry of a resource: its Name is the language."""
    def find(pe):
        kind = next(kind for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == type_id)
        return kind.directory.entries[index].directory.entries[0].struct
    return find


def icon_group_entry(pe, data, offset, value):
    """A mutation of one byte of the first image entry of the icon group."""
    kind = next(kind for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == check_pe.RT_GROUP_ICON)
    rva = kind.directory.entries[0].directory.entries[0].data.struct.OffsetToData
    at = pe.get_offset_from_rva(rva) + 6 + offset
    return data[:at] + bytes([value]) + data[at + 1:]


def with_certificate_table(pe, data, revision, kind):
    """The file with a certificate table of the given revision and type appended, its directory entry pointing to
    it and the checksum made right, as a signing tool leaves it."""
    data += bytes(-len(data) % 8)
    table = struct.pack("<IHH", 16, revision, kind) + bytes(8)
    signed = pefile.PE(data=data + table)
    entry = signed.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    entry.VirtualAddress, entry.Size = len(data), len(table)
    signed.OPTIONAL_HEADER.CheckSum = 0
    out = bytearray(signed.write())
    fixed = pefile.PE(data=bytes(out))
    fixed.OPTIONAL_HEADER.CheckSum = fixed.generate_checksum()
    return bytes(fixed.write())


def in_code(instruction):
    """A mutation that writes an instruction over the start of the code section."""
    def mutate(pe, data):
        code = next(section for section in pe.sections if section.Name.rstrip(b"\0") == b".text")
        at = code.PointerToRawData
        return data[:at] + instruction + data[at + len(instruction):]
    return mutate


def other_machine(pe):
    return 0x8664 if pe.FILE_HEADER.Machine == 0x14C else 0x14C


# (what is wrong, the change, words the report must contain)
FAULTS = [
    ("other machine", lambda pe, d: set_field(lambda p: p.FILE_HEADER, Machine=other_machine(pe))(pe, d),
     "machine is"),
    ("console subsystem", set_field(lambda p: p.OPTIONAL_HEADER, Subsystem=3), "subsystem is 3"),
    ("subsystem 6.0", set_field(lambda p: p.OPTIONAL_HEADER, MajorSubsystemVersion=6, MinorSubsystemVersion=0),
     "subsystem version 6.00"),
    ("symbols left in", set_field(lambda p: p.FILE_HEADER, NumberOfSymbols=12), "not stripped"),
    ("another DLL", replace(b"msvcrt.dll", b"msvcrx.dll"), "imports msvcrx.dll"),
    ("USER32 lost", replace(b"USER32.dll", b"USER33.dll"), "MessageBoxW from user32.dll"),
    ("registry call lost", replace(b"RegSetValueExA", b"RegSetValueExW"), "RegSetValueExA from advapi32"),
    ("post-XP import", replace(b"GetStartupInfoA", b"GetTickCount64\0"), "GetTickCount64 from kernel32.dll"),
    ("post-XP registry import", replace(b"RegEnumKeyExW", b"RegGetValueW\0"), "RegGetValueW from advapi32.dll"),
    ("DLL search left as it is", replace(b"LoadLibraryExW", b"LoadLibraryExA"), "LoadLibraryExW from kernel32"),
    ("SetDllDirectoryW imported", replace(b"GetSystemDirectoryW", b"SetDllDirectoryW\0\0\0"),
     "SetDllDirectoryW from kernel32.dll, not known to be on Windows XP"),
    ("DYNAMIC_BASE without relocations", set_field(lambda p: p.OPTIONAL_HEADER.DATA_DIRECTORY[5], Size=0),
     "without the relocations"),
    ("icon of 256 colours", lambda pe, d: icon_group_entry(pe, d, 2, 0), "has 0 colours"),
    ("icon of 48 pixels", lambda pe, d: icon_group_entry(pe, d, 0, 48), "not 32x32 and 16x16"),
    ("icon group of one", lambda pe, d: icon_group_entry(pe, d, -2, 1), "malformed"),
    ("file version 1.0.0.2", lambda pe, d: set_field(lambda p: p.VS_FIXEDFILEINFO[0], FileVersionLS=2)(pe, d),
     "file version is 1.0.0.2"),
    ("product version 2.0", set_field(lambda p: p.VS_FIXEDFILEINFO[0], ProductVersionMS=0x20000),
     "product version is 2.0.0.1"),
    ("version text", replace(utf16("1.0.0.1"), utf16("1.0.0.9")), "FileVersion text"),
    ("version in English", set_field(resource_entry(check_pe.RT_VERSION), Name=0x0409), "not one in 0x0C0A"),
    ("strings in English", replace(utf16("0C0A04E4"), utf16("040904E4")), "no string table"),
    ("translation to English", replace(b"\x0a\x0c\xe4\x04", b"\x09\x04\xe4\x04"), "translation is"),
    ("no provider named", replace(utf16("Vireska\0"), utf16("Vireskb\0")), "CompanyName does not name"),
    ("elevation asked", replace(b'"asInvoker"', b'"requireAd"'), "not asInvoker"),
    ("manifest of another version", replace(b'version="1.0.0.1"', b'version="1.0.0.3"'), "manifest's own version"),
    ("broken manifest", replace(b"<assembly", b"<assembl!"), "not well-formed"),
    ("no Windows 10", replace(b"8e0f7a12-bfb3", b"8e0f7a12-bfb4"), "Windows 10 and 11"),
    ("checksum off by one", lambda pe, d: set_field(lambda p: p.OPTIONAL_HEADER,
                                                    CheckSum=pe.OPTIONAL_HEADER.CheckSum + 1)(pe, d), "PE checksum"),
    ("certificate table inside the file", set_field(lambda p: p.OPTIONAL_HEADER.DATA_DIRECTORY[4], VirtualAddress=512,
                                                    Size=64), "does not end the file"),
    ("manifest id 2", set_field(lambda p: next(k for k in p.DIRECTORY_ENTRY_RESOURCE.entries
                                              if k.id == check_pe.RT_MANIFEST).directory.entries[0].struct, Name=2),
     "not the one with id 1"),
]

# The hardening marks each executable must carry, with their bits as the PE format defines them, stated here
# rather than taken from the check's own table, so that a wrong bit or a mark missing there is caught.
HARDENING_MARKS = [(0x0040, "DYNAMIC_BASE", None), (0x0100, "NX_COMPAT", None), (0x8000, "TERMINAL_SERVER_AWARE", None),
                   (0x0400, "NO_SEH", "i386"), (0x0020, "HIGH_ENTROPY_VA", "amd64")]


def main():
    args = check_pe.parse(sys.argv[1:])
    with open(args.file, "rb") as f:
        original = f.read()
    failures = []
    if check_pe.check(args.file, args):
        failures.append("the build itself does not pass the check")
    marks = pefile.PE(data=original).OPTIONAL_HEADER.DllCharacteristics
    cases = FAULTS + [("not marked " + name, set_field(lambda p: p.OPTIONAL_HEADER, DllCharacteristics=marks & ~mark),
                       "not marked " + name) for mark, name, machine in HARDENING_MARKS
                      if machine in (None, args.machine)]
    cases += [("over the budget", lambda pe, d: d + bytes(args.max_size), "over the budget"),
              ("signature that is not PKCS#7", lambda pe, d: with_certificate_table(pe, d, 0x0200, 1),
               "does not hold a PKCS#7"),
              ("signed, over the budget without it",
               lambda pe, d: with_certificate_table(pe, d + bytes(args.max_size), 0x0200, 2), "over the budget")]
    if args.pentium:
        cases += [("CMOV in the code", in_code(b"\x0f\x44\xc2"), "a Pentium lacks"),      # cmove %edx,%eax
                  ("SSE in the code", in_code(b"\x0f\x28\xc1"), "a Pentium lacks"),       # movaps %xmm1,%xmm0
                  ("SSE2 in the code", in_code(b"\x66\x0f\xef\xc0"), "a Pentium lacks")]  # pxor %xmm0,%xmm0
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "faulty.exe")
        for name, mutate, words in cases:
            faulty = mutate(pefile.PE(data=original), original)
            if faulty == original:
                failures.append("%s: the change did nothing" % name)
                continue
            with open(path, "wb") as f:
                f.write(faulty)
            faults = check_pe.check(path, args)
            if not any(words in fault for fault in faults):
                failures.append("%s: expected a fault with %r, got %s" % (name, words, faults))
            else:
                print("refused, %s: %s" % (name, "; ".join(faults)))
    for failure in failures:
        print("FAILED " + failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
