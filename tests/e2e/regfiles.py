# Registry files for the Wine runs: version 5 (UTF-16) text to import, and the parser of what `reg export` writes.
import re


class Sz(str):
    """A REG_SZ value, stored with its terminator."""


class Unterminated(str):
    """A REG_SZ value to be stored without its terminator. Imported as a plain string (Wine's `reg import`
    always adds the terminator), then rewritten by Prefix.store_unterminated."""


class Dword(int):
    """A REG_DWORD value."""


class Binary(bytes):
    """A REG_BINARY value, written as a `hex:` line."""


def text(value):
    """A text of an Outlook profile: UTF-16LE with its NUL character, as REG_BINARY."""
    return Binary(value.encode("utf-16-le") + b"\0\0")


def _quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def regfile(keys):
    """Version 5 registry text for {full key path: {value name: Sz | Unterminated | Dword | Binary}}. Imported as
    UTF-16, its strings are stored exactly, whatever the system's code page."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines.append(f"[{key}]")
        for name, value in values.items():
            if isinstance(value, Dword):
                data = f"dword:{int(value):08x}"
            elif isinstance(value, Binary):
                data = "hex:" + ",".join(f"{b:02x}" for b in value)
            else:
                data = _quoted(value)
            lines.append(f"{_quoted(name)}={data}")
        lines.append("")
    return "\n".join(lines) + "\n"


def _read_quoted(line, start):
    """The text of the quoted string at line[start] and the index after its closing quote."""
    assert line[start] == '"', line
    text, i = [], start + 1
    while line[i] != '"':
        if line[i] == "\\":
            i += 1
        text.append(line[i])
        i += 1
    return "".join(text), i + 1


def parse_export(data):
    """{(key path, value name): (type, data)} from a `reg export` file (UTF-16, version 5 syntax). Types:
    "sz" with the text, "dword" with the number, "hex(N)" with the bytes for any other stored form."""
    text = data.decode("utf-16")
    text = re.sub(r"\\\r?\n\s*", "", text)  # hex data continued on the next line
    values, key = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
        elif line.startswith('"') or line.startswith("@="):
            if line.startswith("@="):
                name, i = "", 1
            else:
                name, i = _read_quoted(line, 0)
            assert line[i] == "=", line
            raw = line[i + 1:]
            if raw.startswith('"'):
                value = ("sz", _read_quoted(raw, 0)[0])
            elif raw.startswith("dword:"):
                value = ("dword", int(raw[6:], 16))
            else:
                match = re.fullmatch(r"hex(\(\w+\))?:(.*)", raw)
                assert match, line
                kind = "hex" + (match.group(1) or "(3)")
                value = (kind, bytes(int(b, 16) for b in match.group(2).split(",") if b))
            values[(key, name)] = value
    return values
