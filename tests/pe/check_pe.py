#!/usr/bin/python3
"""Static check of a VireskaCorreo.exe build: machine, GUI subsystem and its version, hardening marks, imported
DLLs and functions, icon group, version record, manifest, stripping, checksum, the Authenticode certificate table if it
is signed, the size without the signature and, with --pentium, that the code runs on a Pentium. Prints every
fault and exits 1 if there is any, 0 otherwise.

  check_pe.py --machine i386 --max-subsystem-version 5.01 --max-size 24576 --version 1.0.0.1 \
              [--pentium i686-w64-mingw32-objdump] FILE
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import pefile

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SPANISH_SPAIN, WINDOWS_1252 = 0x0C0A, 1252

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
# What the logic calls, and so must import: a build that lost any of it is not the program.
REQUIRED_IMPORTS = {
    "advapi32.dll": {"RegOpenKeyExW", "RegEnumKeyExW", "RegQueryValueExW", "RegSetValueExA", "RegSetValueExW",
                     "RegCloseKey"},
    "user32.dll": {"MessageBoxW"},
    # The start-up's, which loads only the system's DLLs: SetDefaultDllDirectories and SetDllDirectoryW are
    # looked up, never imported, for Windows XP as first released has neither.
    "kernel32.dll": {"FormatMessageW", "MultiByteToWideChar", "GetProcAddress", "GetSystemDirectoryW",
                     "LoadLibraryExW"},
}
# Everything the executable may import from KERNEL32 and ADVAPI32: functions that Windows XP has. A new one must
# be checked against XP before it is added here.
XP_IMPORTS = {
    "kernel32.dll": {"ExitProcess", "FormatMessageW", "GetCommandLineA", "GetModuleHandleA", "GetProcAddress",
                     "GetStartupInfoA", "GetSystemDirectoryW", "LoadLibraryExW", "MultiByteToWideChar"},
    "advapi32.dll": REQUIRED_IMPORTS["advapi32.dll"],
}

# The marks of a hardened image, with the machine each is for (None: both): loaded at a random address, data
# never run as code, written for Terminal Services (no compatibility mappings on a Remote Desktop host); on i386 no
# SEH handler of its own, on x86-64 addresses from the whole 64-bit space.
HARDENING = [(0x0040, "DYNAMIC_BASE", None), (0x0100, "NX_COMPAT", None), (0x8000, "TERMINAL_SERVER_AWARE", None),
             (0x0400, "NO_SEH", "i386"), (0x0020, "HIGH_ENTROPY_VA", "amd64")]

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}


def resources(pe, type_id):
    """Every (name or id, language, bytes) of a resource type."""
    found = []
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        if kind.id != type_id:
            continue
        for entry in kind.directory.entries:
            for language in entry.directory.entries:
                data = language.data.struct
                found.append((entry.id if entry.id is not None else str(entry.name), language.id,
                              pe.get_data(data.OffsetToData, data.Size)))
    return found


def check_headers(pe, args, faults):
    if pe.FILE_HEADER.Machine != MACHINES[args.machine]:
        faults.append("machine is 0x%x, not %s" % (pe.FILE_HEADER.Machine, args.machine))
    header = pe.OPTIONAL_HEADER
    if header.Subsystem != SUBSYSTEM_WINDOWS_GUI:
        faults.append("subsystem is %d, not the Windows GUI (2)" % header.Subsystem)
    limit = tuple(int(part) for part in args.max_subsystem_version.split("."))
    version = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    if version > limit:
        faults.append("subsystem version %d.%02d is above %s" % (version + (args.max_subsystem_version,)))
    if pe.FILE_HEADER.PointerToSymbolTable or pe.FILE_HEADER.NumberOfSymbols:
        faults.append("not stripped: the file carries a symbol table")
    for mark, name, machine in HARDENING:
        if machine in (None, args.machine) and not header.DllCharacteristics & mark:
            faults.append("not marked %s" % name)
    relocations = header.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if header.DllCharacteristics & 0x0040 and not relocations.Size:
        faults.append("marked DYNAMIC_BASE without the relocations that moving it needs")


def check_imports(pe, faults):
    imported = {}
    for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        functions = {(symbol.name or b"").decode("ascii") for symbol in dll.imports}
        imported.setdefault(dll.dll.decode("ascii").lower(), set()).update(functions)
    for dll in sorted(set(imported) - ALLOWED_DLLS):
        faults.append("imports %s, which is not a system DLL the program may use" % dll)
    for dll, functions in REQUIRED_IMPORTS.items():
        for function in sorted(functions - imported.get(dll, set())):
            faults.append("does not import %s from %s" % (function, dll))
    for dll, functions in XP_IMPORTS.items():
        for function in sorted(imported.get(dll, set()) - functions):
            faults.append("imports %s from %s, not known to be on Windows XP" % (function, dll))
    return imported


def check_icon(pe, faults):
    groups = resources(pe, RT_GROUP_ICON)
    if len(groups) != 1:
        faults.append("%d icon groups, not 1" % len(groups))
        return
    data = groups[0][2]
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1) or len(data) != 6 + 14 * count:
        faults.append("the icon group is malformed")
        return
    images = {entry_id: bits for entry_id, _, bits in resources(pe, RT_ICON)}
    sizes = []
    for n in range(count):
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * n)
        sizes.append((width, height))
        if colours != 16 or bits != 4:
            faults.append("icon image %dx%d has %d colours at %d bits, not 16 at 4" % (width, height, colours, bits))
        image = images.get(image_id)
        if image is None or len(image) != size:
            faults.append("icon image %dx%d is missing or of the wrong length" % (width, height))
            continue
        header_size, image_width, image_height, _, image_bits = struct.unpack_from("<IiiHH", image)
        if (header_size, image_width, image_height, image_bits) != (40, width, 2 * height, 4):
            faults.append("icon image %dx%d is not a 4-bit bitmap of that size" % (width, height))
    if sorted(sizes) != [(16, 16), (32, 32)]:
        faults.append("icon images are %s, not 32x32 and 16x16" % sorted(sizes))


def check_version(pe, args, faults):
    records = resources(pe, RT_VERSION)
    if [language for _, language, _ in records] != [SPANISH_SPAIN]:
        faults.append("version record languages are %s, not one in 0x0C0A"
                      % [hex(language) for _, language, _ in records])
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        faults.append("no version record")
        return
    fixed = fixed[0]
    wanted = [int(part) for part in args.version.split(".")]
    for name, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        got = [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]
        if got != wanted:
            faults.append("%s version is %s, not %s" % (name, ".".join(map(str, got)), args.version))
    translations, tables = [], {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for var in getattr(info, "Var", []):
            value = var.entry.get(b"Translation")  # pefile gives it as text: "0x0c0a 0x04e4"
            if value:
                translations.append(tuple(int(part, 16) for part in str(value).split()))
        for table in getattr(info, "StringTable", []):
            tables[table.LangID.decode("ascii").upper()] = {
                key.decode("ascii"): value.decode("utf-8") for key, value in table.entries.items()}
    if translations != [(SPANISH_SPAIN, WINDOWS_1252)]:
        faults.append("translation is %s, not Spanish (Spain) in code page 1252" % translations)
    strings = tables.get("0C0A04E4")
    if strings is None:
        faults.append("no string table for Spanish (Spain) in code page 1252 (0C0A04E4)")
        return
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != args.version:
            faults.append("%s text is %r, not %s" % (key, strings.get(key), args.version))
    for key in ("CompanyName", "FileDescription", "ProductName"):
        if "Vireska" not in strings.get(key, ""):
            faults.append("%s does not name Vireska" % key)


def check_manifest(pe, version, faults):
    manifests = resources(pe, RT_MANIFEST)
    if [name for name, _, _ in manifests] != [1]:
        faults.append("manifests are %s, not the one with id 1" % [name for name, _, _ in manifests])
        return
    try:
        root = ElementTree.fromstring(manifests[0][2])
    except ElementTree.ParseError as error:
        faults.append("the manifest is not well-formed XML: %s" % error)
        return
    levels = [(node.get("level"), node.get("uiAccess")) for node in
              root.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != [("asInvoker", "false")]:
        faults.append("requested execution levels are %s, not asInvoker without uiAccess" % levels)
    if root.tag != ASM_V1 + "assembly":
        faults.append("the manifest's root is %s, not an asm.v1 assembly" % root.tag)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    if identity is None or identity.get("version") != version:
        faults.append("the manifest's own version is not %s" % version)
    ids = [node.get("Id", "").lower() for node in root.iter(COMPATIBILITY + "supportedOS")]
    if not ids or any(os_id not in SUPPORTED_OS for os_id in ids):
        faults.append("supported systems %s are not all known Windows versions" % ids)
    if "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" not in ids:
        faults.append("the manifest does not name Windows 10 and 11 as supported")


# Instructions a Pentium (Windows XP's least processor) lacks: CMOV and the other P6 additions, and MMX and SSE
# of any generation, seen by their mnemonics or by an MMX or XMM register among the operands.
P6_MNEMONIC = re.compile(r"^(cmov|fcmov|fcomip?|fucomip?|ldmxcsr|stmxcsr|[lms]fence|prefetch|movnt|emms|maskmov"
                         r"|pause|clflush)")
MMX_SSE_OPERAND = re.compile(r"%(x|y|z)?mm[0-9]")


def check_pentium(data, objdump, faults):
    """The code, disassembled with objdump, holds no instruction that a Pentium lacks."""
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "code.exe")
        with open(path, "wb") as f:
            f.write(data)
        run = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], capture_output=True, text=True)
    if run.returncode != 0:
        faults.append("the code could not be disassembled: %s" % run.stderr.strip())
        return
    found = []
    for line in run.stdout.splitlines():
        parts = line.split("\t")
        if len(parts) < 2 or not parts[0].strip().endswith(":"):
            continue
        instruction = parts[1].strip()
        if P6_MNEMONIC.match(instruction) or MMX_SSE_OPERAND.search(instruction):
            found.append("%s %s" % (parts[0].strip(), instruction))
    if found:
        faults.append("%d instructions a Pentium lacks (CMOV, MMX or SSE), first %s" % (len(found), found[0]))


def check_signature(pe, data, faults):
    """The size of the file without its signature. A signed file's certificate table must end the file, start
    on an 8-byte boundary and hold one PKCS#7 signature (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA)."""
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    start, size = table.VirtualAddress, table.Size  # a file offset, not an address
    if not start and not size:
        return len(data)
    if start + size != len(data) or start % 8 or size < 8:
        faults.append("the certificate table (%d bytes at %d) does not end the file" % (size, start))
        return len(data)
    length, revision, kind = struct.unpack_from("<IHH", data, start)
    if length > size or revision != 0x0200 or kind != 2:
        faults.append("the certificate table does not hold a PKCS#7 signature")
    return start


def examine(data, args):
    """The faults found in the file's bytes, as sentences (empty when it passes), the DLLs it imports and the
    size of the file without its signature."""
    faults = []
    try:
        pe = pefile.PE(data=data)
    except pefile.PEFormatError as error:
        return ["not a PE file: %s" % error], {}, len(data)
    unsigned = check_signature(pe, data, faults)
    if unsigned > args.max_size:
        faults.append("%d bytes without the signature, over the budget of %d" % (unsigned, args.max_size))
    checksum = pe.generate_checksum()
    if pe.OPTIONAL_HEADER.CheckSum != checksum:
        faults.append("the PE checksum is 0x%x, not the file's 0x%x" % (pe.OPTIONAL_HEADER.CheckSum, checksum))
    check_headers(pe, args, faults)
    imported = check_imports(pe, faults)
    check_icon(pe, faults)
    check_version(pe, args, faults)
    check_manifest(pe, args.version, faults)
    if args.pentium:
        check_pentium(data, args.pentium, faults)
    return faults, imported, unsigned


def check(path, args):
    """The faults found in the file, as sentences; empty when it passes."""
    with open(path, "rb") as f:
        return examine(f.read(), args)[0]


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--max-subsystem-version", required=True)
    parser.add_argument("--max-size", type=int, required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--pentium", metavar="OBJDUMP", help="refuse code a Pentium cannot run, read with OBJDUMP")
    parser.add_argument("file")
    return parser.parse_args(argv)


def main():
    args = parse(sys.argv[1:])
    with open(args.file, "rb") as f:
        data = f.read()
    faults, imported, unsigned = examine(data, args)
    for fault in faults:
        print("%s: %s" % (args.file, fault))
    if faults:
        sys.exit(1)
    signed = "; signed: %d bytes with its signature" % len(data) if unsigned < len(data) else "; not signed"
    print("%s: passes (%d bytes of %d%s; imports %s)"
          % (args.file, unsigned, args.max_size, signed, ", ".join(sorted(imported))))


if __name__ == "__main__":
    main()
