# A throwaway 64-bit Wine prefix for the Wine runs: created once as a template, cloned per run, with its own
# wineserver, registry imports and exports and the box-answering helper.
import errno
import os
import shutil
import struct
import subprocess
import tempfile

import regfiles

WINE = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"  # the loader of 32-bit programs, itself a 32-bit program (package wine32:i386)
WINESERVER = "/usr/lib/wine/wineserver"
TEMPLATE_STAMP = "vireska-template"
RETRIED = "(Wine did not start the program; starting it again)"  # written to the log when Prefix.run does
# The keys every account store and the pointer to the second store live under, in the tests and the demo.
STORE_PARENTS = (r"HKEY_CURRENT_USER\Software\Microsoft\Internet Account Manager",
                 r"HKEY_CURRENT_USER\Software\Microsoft\Office",
                 r"HKEY_CURRENT_USER\Identities",
                 r"HKEY_CURRENT_USER\Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging Subsystem",
                 r"HKEY_CURRENT_USER\Software\Microsoft\Windows Messaging Subsystem",
                 r"HKEY_LOCAL_MACHINE\Software\Microsoft\Internet Account Manager")


def windows_path(path):
    """The path of a host file as a Windows program in the prefix sees it (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_version():
    return subprocess.run([WINE, "--version"], capture_output=True, text=True, check=True).stdout.strip()


def kernel_runs_32_bit():
    """Whether this machine's kernel runs 32-bit x86 programs, whatever is installed: a 32-bit ELF program that only
    exits (mov eax, 1; xor ebx, ebx; int 0x80), run. Only "Exec format error" says no."""
    code = bytes.fromhex("b801000000" "31db" "cd80")
    base, size = 0x08048000, 52 + 32 + len(code)
    header = struct.pack("<16sHHIIIIIHHHHHH", b"\x7fELF\x01\x01\x01".ljust(16, b"\0"), 2, 3, 1, base + 84, 52, 0, 0,
                         52, 32, 1, 0, 0, 0)
    segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    with tempfile.TemporaryDirectory() as folder:
        program = os.path.join(folder, "exit32")
        with open(program, "wb") as out:
            out.write(header + segment + code)
        os.chmod(program, 0o755)
        try:
            return subprocess.run([program]).returncode == 0
        except OSError as error:
            return error.errno != errno.ENOEXEC


def why_no_32_bit():
    """Why this machine's Wine cannot run 32-bit Windows programs, or None where it can: its 32-bit loader must
    start, which needs both the package and a kernel that runs 32-bit programs."""
    if not os.path.exists(WINE32):
        return (f"there is no 32-bit Wine ({WINE32}; package wine32:i386, which tools/install_packages.sh installs"
                " where apt can)")
    try:
        result = subprocess.run([WINE32, "--version"], capture_output=True, text=True, timeout=60)
    except OSError as error:
        return f"this machine cannot run 32-bit programs ({WINE32}: {error.strerror})"
    if result.returncode != 0:
        return f"the 32-bit Wine does not start ({WINE32} --version: exit code {result.returncode})"
    return None


def said_nothing(output):
    """Whether Wine's output of a failed `reg` command is empty: reg always says why it fails, so it never ran."""
    return not output.strip()


def template_stamp():
    """What a template prefix is made for: Wine's version and whether it runs 32-bit programs (a prefix made
    without a 32-bit Wine has no 32-bit side, and must be made again once one is installed)."""
    return f"{wine_version()}\n32-bit programs: {why_no_32_bit() or 'run'}\n"


class Prefix:
    def __init__(self, path, locale="C.UTF-8"):
        """The locale gives the prefix's code pages: C.UTF-8 makes the ANSI code page 1252, ru_RU.UTF-8 1251."""
        self.path = os.path.abspath(path)
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all", LC_ALL=locale,
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko installer
        self.log_path = os.path.join(self.path, "wine-output.log")
        self.helper = None  # box_answerer.exe, for run_answering
        self.last_output = ""  # Wine's output of the last command run

    def run(self, args, timeout=120, check=True, never_started=None):
        """Runs a Windows program of the prefix; returns its exit code, and keeps Wine's output of it in
        last_output. never_started(output), where given, tells from Wine's output of a failed attempt, or from
        what the program leaves behind, that the program did nothing at all: it is then run once more."""
        def log_end():
            return os.path.getsize(self.log_path) if os.path.exists(self.log_path) else 0

        # Wine's own output goes to a file: a wineserver or desktop started by this command would hold an
        # inherited pipe open long after it.
        first = log_end()
        for attempt in (1, 2):
            start = log_end()
            with open(self.log_path, "ab") as log:
                result = subprocess.run([WINE] + args, env=self.env, stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=log, timeout=timeout)
            # Rarely, in a prefix just cloned, Wine fails to find the program and falls back to ShellExecute,
            # which fails too: the program never ran, so running it once more is safe. Other silent failures are
            # told by the caller (never_started): a `reg import` has been seen to end with 1 having said nothing,
            # which reg never does when it fails, and a `reg export` to give nothing and say nothing.
            with open(self.log_path, "rb") as log:
                log.seek(start)
                output = log.read()
            never_ran = b"ShellExecuteEx failed" in output or (never_started is not None and never_started(output))
            if result.returncode == 0 or attempt == 2 or not never_ran:
                break
            with open(self.log_path, "ab") as log:
                log.write(RETRIED.encode() + b"\n")
        with open(self.log_path, "rb") as log:
            log.seek(first)
            self.last_output = log.read().decode("utf-8", "replace")
        if check and result.returncode != 0:
            raise RuntimeError(f"wine {' '.join(args)} failed with {result.returncode}; see {self.log_path}")
        return result.returncode

    def start(self):
        """Starts the prefix's wineserver, kept running until stop()."""
        subprocess.run([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)

    def stop(self):
        """Ends every process of the prefix and its wineserver, which saves the registry to disk."""
        subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def import_registry(self, text, views=("64",)):
        """Imports a registry file made of the given version 5 text (UTF-16 with its byte order mark, CRLF line
        ends) into each of the given views: "64", that of 64-bit programs, and "32", that of 32-bit programs, for
        which HKEY_LOCAL_MACHINE\\Software is redirected to Wow6432Node."""
        with tempfile.NamedTemporaryFile("wb", suffix=".reg", dir=self.path, delete=False) as reg:
            reg.write(text.replace("\n", "\r\n").encode("utf-16"))
        try:
            for view in views:
                self.run(["reg", "import", windows_path(reg.name), "/reg:" + view], never_started=said_nothing)
        finally:
            os.unlink(reg.name)

    def store_unterminated(self, values):
        """Stores strings without their terminator: {(key path under HKEY_CURRENT_USER, value name): text}.
        Neither `reg import` nor RegSetValueEx can (Wine adds the NUL), so with the server stopped this rewrites
        the values, already imported, in the prefix's own registry file as UTF-16 bytes with no NUL."""
        if not values:
            return
        self.stop()
        path = os.path.join(self.path, "user.reg")
        with open(path, encoding="utf-8", newline="") as registry:
            lines = registry.read().split("\n")
        section, done = None, set()
        for index, line in enumerate(lines):
            if line.startswith("["):
                section = line[1:line.index("]")].replace("\\\\", "\\")
                continue
            for (key, name), text in values.items():
                if section and section.lower() == key.lower() and line.startswith(f'"{name}"='):
                    data = ",".join(f"{b:02x}" for b in text.encode("utf-16-le"))
                    lines[index] = f'"{name}"=hex(1):{data}'
                    done.add((key, name))
        missing = set(values) - done
        if missing:
            raise RuntimeError(f"values to unterminate not found in user.reg: {sorted(missing)}")
        with open(path, "w", encoding="utf-8", newline="") as registry:
            registry.write("\n".join(lines))
        self.start()

    def export_registry(self, keys=STORE_PARENTS):
        """Every value under the given keys: {(key path, value name): (type, data)}; a missing key is empty."""
        values = {}
        for key in keys:
            with tempfile.NamedTemporaryFile(suffix=".reg", dir=self.path, delete=False) as out:
                name = out.name
            try:
                if self.run(["reg", "export", key, windows_path(name), "/y"], check=False,
                            never_started=said_nothing) == 0:
                    with open(name, "rb") as exported:
                        values.update(regfiles.parse_export(exported.read()))
            finally:
                os.unlink(name)
        return values

    def run_answering(self, program, answer, log, shots=None, describe=(), timeout=120, program_args=()):
        """Runs the program under the box-answering helper; returns the helper's exit code. The helper writes
        its log before it starts the program: with no log, neither ran, and the helper is started once more."""
        args = [self.helper, "--answer", answer, "--log", windows_path(log)]
        if shots:
            args += ["--shots", windows_path(shots)]
        for code in describe:
            args += ["--describe", str(code)]
        if os.path.exists(log):
            os.unlink(log)
        return self.run(args + ["--", windows_path(program), *program_args], timeout=timeout, check=False,
                        never_started=lambda output: not os.path.exists(log))

    @staticmethod
    def template_ready(path):
        """Whether create_template has made the template at path for this Wine and what it can run."""
        stamp = os.path.join(path, TEMPLATE_STAMP)
        return os.path.exists(stamp) and open(stamp).read() == template_stamp()

    @staticmethod
    def create_template(path):
        """A fresh prefix in a virtual desktop (so boxes get title bars and close at once), made once."""
        if Prefix.template_ready(path):
            return
        stamp = os.path.join(path, TEMPLATE_STAMP)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        prefix = Prefix(path)
        prefix.run(["wineboot", "--init"], timeout=300)
        prefix.run(["reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default", "/f"])
        prefix.run(["reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default", "/d", "1024x768", "/f"])
        prefix.stop()
        # Debian's Wine does not find its own Marlett font, which draws the title bar's buttons.
        marlett = "/usr/share/wine/fonts/marlett.ttf"
        if os.path.exists(marlett):
            shutil.copy(marlett, os.path.join(path, "drive_c", "windows", "Fonts"))
        with open(stamp, "w") as out:
            out.write(template_stamp())

    @staticmethod
    def clone(template, path, locale="C.UTF-8"):
        """A throwaway copy of the template: files hard-linked, the registry files copied. The template's Wine
        output is left behind, so that each clone's log holds its own runs only (a hard link would append every
        clone's output to the same file)."""
        shutil.rmtree(path, ignore_errors=True)

        def link_or_copy(source, target):
            if source.endswith(".reg"):
                shutil.copy2(source, target)
            else:
                os.link(source, target)

        shutil.copytree(template, path, symlinks=True, copy_function=link_or_copy,
                        ignore=lambda folder, names: ["wine-output.log"] if folder == template else [])
        return Prefix(path, locale)
