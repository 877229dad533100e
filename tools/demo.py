#!/usr/bin/env python3
# The demonstration run by tools/demo.sh: a Spanish Wine system with a throwaway registry of sample Outlook Express
# and Outlook accounts (an identity's and two of an Outlook 2016 profile among them), the program answered Yes,
# each box printed as the customer reads it and saved as a PNG (the pictures of docs/ among them), and the values
# before and after.
import argparse
import os
import shutil
import struct
import sys
import textwrap
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import regfiles  # noqa: E402
from regfiles import Sz  # noqa: E402
from run_e2e import as_shown, read_log  # noqa: E402
from scenarios import (CLOSING, FILE_NOT_FOUND, FIRST_STORE, HKLM, IDENTITIES, IDENTITY_STORE,  # noqa: E402
                       MANAGER, OUTLOOK_PATH, PROFILE_ROOTS, QUESTION, SECOND_STORE, account, error, notice,
                       profile_account, profile_store)
from wine import Prefix, why_no_32_bit  # noqa: E402

# The sample accounts, in the order the program walks them: the account's key and values, what it is, and the
# boxes the customer sees for it, in order. The demo checks these boxes against the run, so that what it says of
# each account stays true.
OLD_POP3, OLD_SMTP = "pop.proveedor-antiguo.net", "smtp.proveedor-antiguo.net"
ACCOUNTS = [
    (FIRST_STORE + r"\00000001",
     account("Ana Garc\u00eda (Naricantec)", "ana.garcia@naricantec.es", pop3="mail.naricantec.es",
             user="ana.garcia", smtp="mail.naricantec.es"),
     "Outlook Express, a hosted domain (naricantec.es): both servers, the user name and the outgoing "
     "authentication change, and the customer sees the account's notice.",
     [notice("Ana Garc\u00eda (Naricantec)")]),
    (FIRST_STORE + r"\00000002",
     account("Correo personal", "ana@example.com", pop3="pop.example.com", user="ana", smtp="smtp.example.com"),
     "Outlook Express, a domain Vireska does not host (example.com): only read, nothing changes and the customer "
     "sees no box for it.",
     []),
    (SECOND_STORE + r"\00000001",
     account("Oficina", "oficina@Valelangrupo.com", pop3=OLD_POP3, user="oficina", smtp=OLD_SMTP,
             **{"SMTP Use Sicily": regfiles.Dword(0)}),
     "Outlook 98/2000, in the store the machine-wide pointer names. Its address is written \"Valelangrupo.com\", "
     "the list has \"VALELANGRUPO.COM\": letter case is ignored, and the new names keep the address's spelling. "
     "The customer sees the account's notice.",
     [notice("Oficina")]),
    (SECOND_STORE + r"\00000002",
     account("Ventas", "ventas@brenandetofene.com", pop3=OLD_POP3, user=None, smtp=None),
     "Outlook 98/2000. Ventas has no POP3 user name on purpose: the customer sees \"Error leyendo el nombre de "
     "cuenta\" with the system's text (the value is missing), then the account's notice, because its incoming "
     "server was still changed. It has no outgoing server, so none is written.",
     [error("Error leyendo el nombre de cuenta", FILE_NOT_FOUND), notice("Ventas")]),
    (IDENTITY_STORE + r"\00000001",
     account("Tienda (identidad de Marta)", "marta@casezongrupo.es", pop3=OLD_POP3, user="marta", smtp=OLD_SMTP),
     "Outlook Express 5 or 6, the account of an identity (Marta's): updated like any other, and the customer sees "
     "its notice.",
     [notice("Tienda (identidad de Marta)")]),
    # Outlook 2016 and later keep POP3 accounts in the mail profile, as UTF-16 text in REG_BINARY values.
    (profile_store("2016") + r"\00000001",
     profile_account("Consultor\u00eda (Outlook 2016)", "lucja@naricantec.es", pop3=OLD_POP3, user="\u0141ucja",
                     smtp=OLD_SMTP, **{"SMTP Use Auth": regfiles.Dword(0)}),
     "Outlook 2016, an account of the mail profile \"Outlook\", its texts UTF-16: the user name \"\u0141ucja\" keeps "
     "its \"\u0141\", the outgoing authentication is set as Outlook 2002 and later keep it (\"SMTP Use Auth\" 1, "
     "\"SMTP Auth Method\" 0). The customer sees the account's notice.",
     [notice("Consultor\u00eda (Outlook 2016)")]),
    # The commonest real POP3 account: its user name is its own address, here in other capitals.
    (profile_store("2016") + r"\00000002",
     profile_account("Recepci\u00f3n (Outlook 2016)", "recepcion@casezongrupo.es", pop3=OLD_POP3,
                     user="Recepcion@CasezonGrupo.ES", smtp=OLD_SMTP),
     "Outlook 2016, the commonest real account: its user name is its own address, \"Recepcion@CasezonGrupo.ES\", "
     "whose capitals differ from the address's. It becomes the mailbox as the user name writes it, \".\" and the "
     "domain as the address writes it: \"Recepcion.casezongrupo.es\". The customer sees the account's notice.",
     [notice("Recepci\u00f3n (Outlook 2016)")]),
]
SAMPLE = {
    HKLM + MANAGER: {"Outlook": Sz(OUTLOOK_PATH)},
    # Outlook Express 5 and 6 keep each identity's accounts under that identity.
    IDENTITIES: {"Default User ID": Sz("{8F2C4A10-77D1-4B9A-A2E3-6C5D4E3F2A10}")},
    **{key: values for key, values, _, _ in ACCOUNTS},
}
STORES = (FIRST_STORE, SECOND_STORE, IDENTITY_STORE, *PROFILE_ROOTS.values())
# A Spanish Windows: its buttons and its error descriptions in Spanish, its ANSI code page 1252.
LOCALE = "es_ES.UTF-8"
LABELS = {"yes,no": "S\u00ed / No", "ok": "Aceptar"}  # the buttons' labels the customer reads
# The pictures of docs/, each the first box of its kind: the question, a notice, an error box, the closing notice.
PICTURES = {"question": lambda box, whom: box == QUESTION,
            "notice": lambda box, whom: box == notice(whom),
            "error": lambda box, whom: isinstance(box[1], int),  # its body the system's description of a code
            "closing": lambda box, whom: box == CLOSING}


def bmp_to_png(bmp_path, png_path):
    """Converts the helper's 24-bit bottom-up BMP to PNG (8-bit RGB), with nothing but the standard library."""
    data = open(bmp_path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24 and height > 0, bmp_path
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride:offset + y * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    open(png_path, "wb").write(png)


def show(value):
    if value is None:
        return "(none)"
    kind, data = value
    if kind == "hex(3)" and len(data) % 2 == 0 and data.endswith(b"\0\0"):
        return f'"{data[:-2].decode("utf-16-le", "replace")}" (UTF-16 in REG_BINARY)'
    return f'"{data}"' if kind == "sz" else f"{data} (DWORD)" if kind == "dword" else f"{kind}: {data.hex()}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--release", required=True, help="the 32-bit release, run where Wine runs 32-bit programs")
    parser.add_argument("--build", required=True, help="the win64 build directory: the helper, the Wine prefix and "
                        "the x86-64 executable run where Wine cannot run 32-bit programs")
    parser.add_argument("--out", required=True, help="where the screenshots go")
    args = parser.parse_args()
    # The file customers get, whose registry view is that of 32-bit programs: there HKEY_LOCAL_MACHINE\Software is
    # Wow6432Node, where a 32-bit Outlook 98/2000 wrote its pointer on 64-bit Windows.
    exe, view = args.release, "32"
    reason = why_no_32_bit()
    if reason:
        exe, view = os.path.join(args.build, "VireskaCorreo.exe"), "64"
        print(f"== {reason}: the x86-64 build runs instead of the 32-bit release customers get")
    print(f"== running {os.path.relpath(exe)} under Wine, the pointer of Outlook 98/2000 in the {view}-bit view of "
          "HKEY_LOCAL_MACHINE\\Software" + (" (Wow6432Node)" if view == "32" else ""))
    work = os.path.join(args.build, "e2e")
    if not Prefix.template_ready(os.path.join(work, "template")):
        print("== creating the Wine prefix the runs start from (once, and again when Wine or its 32-bit side "
              "changes: about 15 s)", flush=True)
    Prefix.create_template(os.path.join(work, "template"))
    prefix = Prefix.clone(os.path.join(work, "template"), os.path.join(work, "demo"), LOCALE)
    prefix.helper = os.path.join(args.build, "tests", "e2e", "box_answerer.exe")
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    shots = os.path.join(prefix.path, "shots")
    os.makedirs(shots)

    with prefix:
        prefix.import_registry(regfiles.regfile(SAMPLE), views=(view,))
        before = prefix.export_registry()
        log = os.path.join(prefix.path, "boxes.log")
        status = prefix.run_answering(exe, "yes", log, shots=shots, describe=(FILE_NOT_FOUND,))
        after = prefix.export_registry()
    descriptions, boxes, exit_code, _ = read_log(log)

    # The boxes this demo says the customer sees, each with whom it is for; the system's texts as Wine gives them.
    expected = [(QUESTION, "the question")]
    for key, values, _, account_boxes in ACCOUNTS:
        name = values["Account Name"]
        name = name.decode("utf-16-le").rstrip("\0") if isinstance(name, bytes) else name
        expected += [(box, name) for box in account_boxes]
    expected.append((CLOSING, "the end"))
    pictures = {name: next(n for n, (box, whom) in enumerate(expected, 1) if chosen(box, whom))
                for name, chosen in PICTURES.items()}
    expected = [((*as_shown(box, descriptions), LABELS[box[2]]), whom) for box, whom in expected]

    print(f"== {len(boxes)} message boxes, in the order shown (the helper answers the question with Yes):")
    mismatches = []
    for number, (caption, text, buttons, icon, _, labels) in enumerate(boxes, 1):
        png = os.path.join(args.out, f"box-{number:02d}.png")
        bmp_to_png(os.path.join(shots, f"box-{number:02d}.bmp"), png)
        want, whom = expected[number - 1] if number <= len(expected) else (None, "nothing this demo expects")
        if (caption, text, buttons, icon, labels) != want:
            mismatches.append(f"box {number}: expected {want}")
        print(f"\n[{number}] {caption}    ({labels}, {'icon' if icon == 'icon' else 'no icon'}): {whom}")
        for line in text.strip().splitlines():
            print(f"    {line}")
        print(f"    -> {os.path.relpath(png)}")
    if len(boxes) < len(expected):
        mismatches.append(f"{len(boxes)} boxes, expected {len(expected)}")
    print(f"\n== exit code {exit_code}\n\n== each sample account: what it is, what the customer sees, and its values "
          "before and after (* changed)")
    width = max(len(show(v)) for (k, _), v in before.items() if k.startswith(STORES)) + 2
    number = 2  # the boxes of the accounts follow the question
    for key, _, story, account_boxes in ACCOUNTS:
        shown = [number + i for i in range(len(account_boxes))]
        number += len(account_boxes)
        print(f"\n{key.replace('HKEY_CURRENT_USER', 'HKCU')}")
        for line in textwrap.wrap(story, 110):
            print(f"    {line}")
        print(f"    Boxes: {', '.join(f'[{n}]' for n in shown) if shown else 'none'}.")
        print(f"    {'value':<20} {'before':<{width}} after")
        for name in sorted({n for k, n in set(before) | set(after) if k == key}):
            old, new = before.get((key, name)), after.get((key, name))
            print(f"  {'*' if old != new else ' '} {name:<20} {show(old):<{width}} {show(new)}")
    if status != 0 or exit_code != 0 or len(boxes) != len(os.listdir(shots)) or mismatches:
        print("\n== the run differs from what this demo describes:", *mismatches, sep="\n    ")
        return 1
    for name, number in pictures.items():
        shutil.copy(os.path.join(args.out, f"box-{number:02d}.png"), os.path.join(args.out, f"{name}.png"))
    print("\n== every box is the one described above, for the account it names\n== the pictures of docs/, "
          f"made again: {', '.join(f'{name}.png (box [{n}])' for name, n in pictures.items())} in "
          f"{os.path.relpath(args.out)}/")
    return 0


if __name__ == "__main__":
    sys.exit(main())
