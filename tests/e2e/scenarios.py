# The end-to-end scenarios: the accounts each one imports, the answer given, and what must follow: the
# boxes in order and every registry value that changes (all others must stay exactly as they were).
from regfiles import Dword, Sz, Unterminated, text

HKCU = "HKEY_CURRENT_USER\\"
HKLM = "HKEY_LOCAL_MACHINE\\"
MANAGER = r"Software\Microsoft\Internet Account Manager"
FIRST_STORE = HKCU + MANAGER + r"\Accounts"
OUTLOOK_PATH = r"Software\Microsoft\Office\Outlook\OMI Account Manager"
SECOND_STORE = HKCU + OUTLOOK_PATH + r"\Accounts"
IDENTITIES = HKCU + "Identities"
IDENTITY = IDENTITIES + r"\{8F2C4A10-77D1-4B9A-A2E3-6C5D4E3F2A10}"
IDENTITY_STORE = IDENTITY + r"\Software\Microsoft\Internet Account Manager\Accounts"
# The roots of the mail profiles of Outlook 2002 and later, in the order they are walked; "9x" is where Outlook kept
# them on Windows 98 and Me, which the program does not run on: a leftover, never walked.
PROFILE_ROOTS = {
    "2010": HKCU + r"Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging Subsystem\Profiles",
    "9x": HKCU + r"Software\Microsoft\Windows Messaging Subsystem\Profiles",
    "2013": HKCU + r"Software\Microsoft\Office\15.0\Outlook\Profiles",
    "2016": HKCU + r"Software\Microsoft\Office\16.0\Outlook\Profiles",
}


def profile_store(root, profile="Outlook"):
    return f"{PROFILE_ROOTS[root]}\\{profile}\\9375CFF0413111d3B88A00104B2A6676"

CAPTION = "Atención"
QUESTION = (CAPTION, "¿Desea modificar las cuentas de correo de Vireska de Outlook y Outlook Express?\n"
            "Los cambios tendrán efecto la próxima vez que ejecute el programa de correo.", "yes,no", "icon")
CLOSING = (CAPTION, "Proceso finalizado.", "ok", "icon")

# Error codes whose system description an error box shows; the helper asks Wine for each description.
FILE_NOT_FOUND, INSUFFICIENT_BUFFER, MORE_DATA = 2, 122, 234
# Those of the boxes of MIXED_SECOND as Wine words them in Spanish, accents and line end included.
SPANISH = {FILE_NOT_FOUND: "Archivo no encontrado.\r\n", INSUFFICIENT_BUFFER: "B\u00fafer insuficiente.\r\n",
           MORE_DATA: "M\u00e1s informaci\u00f3n disponible.\r\n"}


def notice(label):
    return (CAPTION, f"Se ha actualizado correctamente la cuenta {label}.", "ok", "icon")


def error(caption, code):
    return (caption, code, "ok", "noicon")  # the code stands for the system's description of it


def account(name, address, pop3="pop.old.net", user="usuario", smtp="smtp.old.net", **more):
    """The values of one account; None leaves a value out."""
    values = {"Account Name": name, "SMTP Email Address": address, "POP3 Server": pop3, "POP3 User Name": user,
              "SMTP Server": smtp, **more}
    return {k: (Sz(v) if type(v) is str else v) for k, v in values.items() if v is not None}


def rewritten(domain, user="usuario", smtp=True):
    """The values a hosted account ends with: None for a value that must not change."""
    changes = {"POP3 Server": ("sz", "pop3." + domain), "POP3 User Name": user and ("sz", user)}
    if smtp:
        changes.update({"SMTP Server": ("sz", "smtp." + domain), "SMTP Use Sicily": ("dword", 2)})
    return {k: v for k, v in changes.items() if v}


def profile_account(name, address, pop3="pop.old.net", user="usuario", smtp="smtp.old.net", **more):
    """The values of one POP3 account of an Outlook profile, texts as UTF-16 REG_BINARY; None leaves one out."""
    values = {"Account Name": name, "Email": address, "POP3 Server": pop3, "POP3 User": user, "SMTP Server": smtp,
              **more}
    return {k: (text(v) if type(v) is str else v) for k, v in values.items() if v is not None}


def profile_rewritten(domain, user=None, smtp=True, kind="hex(3)"):
    """The values a hosted profile account ends with, each text in the type it had (REG_BINARY by default)."""
    def stored(value):
        return (kind, value.encode("utf-16-le") + b"\0\0") if kind == "hex(3)" else (kind, value)
    changes = {"POP3 Server": stored("pop3." + domain)}
    if user:
        changes["POP3 User"] = stored(user)
    if smtp:
        changes.update({"SMTP Server": stored("smtp." + domain), "SMTP Use Auth": ("dword", 1),
                        "SMTP Auth Method": ("dword", 0)})
    return changes


class Store:
    """Accounts of one store as rows (sub-key, values, changes, boxes), kept in sub-key order."""

    def __init__(self, path, rows):
        self.path, self.rows = path, rows

    def registry(self):
        return {f"{self.path}\\{key}": values for key, values, _, _ in self.rows}

    def changes(self):
        return {(f"{self.path}\\{key}", name): value for key, _, changes, _ in self.rows for name, value in changes.items()}

    def boxes(self):
        return [box for _, _, _, boxes in self.rows for box in boxes]


LONG = "x" * 300
LONG_NAME = "Cuenta de nombre larguísimo " + "n" * 202  # 230 characters
MIXED_FIRST = Store(FIRST_STORE, [
    ("00000001", account("Ana García", "ana@naricantec.es", user="ana"),
     rewritten("naricantec.es", user="ana.naricantec.es"), [notice("Ana García")]),
    ("00000002", account("Luis", "Luis@NariCantec.ES", user="luis"),
     rewritten("NariCantec.ES", user="luis.NariCantec.ES"), [notice("Luis")]),
    ("00000003", account("Valelan", "info@valelangrupo.com"),  # the list writes it "VALELANGRUPO.COM"
     rewritten("valelangrupo.com", user="usuario.valelangrupo.com"), [notice("Valelan")]),
    ("00000004", account("Ajena", "pepe@example.com"), {}, []),
    ("00000005", account("Subdominio", "sub@mail.naricantec.es"), {}, []),
    ("00000006", account("Punto final", "punto@naricantec.es."), {}, []),
    ("00000007", account("Dos arrobas", "a@b@naricantec.es"), {}, []),
    ("00000008", account("Sin arroba", "naricantec.es"), {}, []),
    ("00000009", account("Sin POP3", "sinpop@naricantec.es", pop3=None), {}, []),
    # A user name the ANSI code page lacks a letter of comes back exactly, not as "Lucja".
    ("00000010", account("\u0141ucja Nowak", "lucja@naricantec.es", user="\u0141ucja"),
     rewritten("naricantec.es", user="\u0141ucja.naricantec.es"), [notice("\u0141ucja Nowak")]),
])
MIXED_SECOND = Store(SECOND_STORE, [
    ("00000001", account("Sin SMTP", "sinsmtp@naricantec.es", smtp=None),
     rewritten("naricantec.es", user="usuario.naricantec.es", smtp=False), [notice("Sin SMTP")]),
    ("00000002", account("Sin usuario", "sinusuario@naricantec.es", user=None),
     rewritten("naricantec.es", user=None),
     [error("Error leyendo el nombre de cuenta", FILE_NOT_FOUND), notice("Sin usuario")]),
    ("00000003", account("Con Sicily", "sicily@naricantec.es", **{"SMTP Use Sicily": Dword(0)}),
     rewritten("naricantec.es", user="usuario.naricantec.es"), [notice("Con Sicily")]),
    # Over-long values count as missing: the notice names the address, the POP3 server stops everything.
    ("00000004", account(LONG, "nombrelargo@naricantec.es"),
     rewritten("naricantec.es", user="usuario.naricantec.es"), [notice("nombrelargo@naricantec.es")]),
    ("00000005", account("POP3 largo", "poplargo@naricantec.es", pop3=LONG), {}, []),
    ("00000006", account("Usuario largo", "usuariolargo@naricantec.es", user=LONG), rewritten("naricantec.es", user=None),
     [error("Error leyendo el nombre de cuenta", MORE_DATA), notice("Usuario largo")]),
    # 250 + ".naricantec.es" is 264 characters: reported, never written cut short; 245 + 14 fits exactly.
    ("00000007", account("Usuario 250", "u250@naricantec.es", user="u" * 250), rewritten("naricantec.es", user=None),
     [error("Error escribiendo el nombre de cuenta", INSUFFICIENT_BUFFER), notice("Usuario 250")]),
    ("00000008", account("Usuario 245", "u245@naricantec.es", user="u" * 245),
     rewritten("naricantec.es", user="u" * 245 + ".naricantec.es"), [notice("Usuario 245")]),
    ("00000009", account(LONG_NAME, "nombre230@naricantec.es"), rewritten("naricantec.es", user="usuario.naricantec.es"),
     [notice(LONG_NAME[:213] + "...")]),
    # Strings stored without their terminator are read whole; a 260-byte one has no room for it, and cutting
    # it to 259 characters would make a hosted address of it.
    ("00000010", {"Account Name": Unterminated("Bea"), "SMTP Email Address": Unterminated("bea@naricantec.es"),
                  "POP3 Server": Unterminated("pop.old.net"), "POP3 User Name": Unterminated("bea"),
                  "SMTP Server": Unterminated("smtp.old.net")},
     rewritten("naricantec.es", user="bea.naricantec.es"), [notice("Bea")]),
    ("00000011", account("Sin terminador", Unterminated("t" * 245 + "@naricantec.es" + "x")), {}, []),
])
POINTER = {HKLM + MANAGER: {"Outlook": Sz(OUTLOOK_PATH)}}


class Scenario:
    def __init__(self, name, stores, runs, extra=None, locale="C.UTF-8", downloads=None, descriptions=None):
        """runs: the answer of each run; extra: keys besides the stores'; locale: the Wine prefix's, which sets
        its ANSI code page (1252 by default) and its language; downloads: run from a Downloads folder that holds a
        planted uxtheme.dll, "as shipped" or "older windows" (a copy of the program that finds no
        SetDefaultDllDirectories); descriptions: {error code: the exact body of its error box}, where the
        scenario knows the system's text instead of asking the system through the helper."""
        self.name, self.stores, self.runs, self.extra, self.locale = name, stores, runs, extra or {}, locale
        self.downloads, self.descriptions = downloads, descriptions or {}

    def registry(self):
        keys = dict(self.extra)
        for store in self.stores:
            keys.update(store.registry())
        return keys

    def expected_runs(self):
        """For each run: (answer, boxes, {(key, value name): value after the run}) compared with before it."""
        expected, done = [], False
        for answer in self.runs:
            boxes = [QUESTION, CLOSING]
            changes = {}
            if answer == "yes":
                boxes[1:1] = [box for store in self.stores for box in store.boxes()]
                if not done:
                    changes = {k: v for store in self.stores for k, v in store.changes().items()}
                done = True  # a second run finds everything done: the same boxes, no change
            expected.append((answer, boxes, changes))
        return expected


SOLO = Store(SECOND_STORE, [
    ("cuenta1", account("Outlook 1", "uno@naricantec.es"), rewritten("naricantec.es", user="usuario.naricantec.es"),
     [notice("Outlook 1")]),
    ("cuenta2", account("Outlook 2", "dos@example.com"), {}, []),
])
SAME = Store(FIRST_STORE, [
    ("00000001", account("Una vez", "once@naricantec.es"), rewritten("naricantec.es", user="usuario.naricantec.es"),
     [notice("Una vez")]),
])

# Outlook Express 5 and 6: the accounts of one identity; another identity has no store of its own.
IDENTITY_ROWS = Store(IDENTITY_STORE, [
    ("00000001", account("Identidad Ana", "ana@naricantec.es", user="ana"),
     rewritten("naricantec.es", user="ana.naricantec.es"), [notice("Identidad Ana")]),
    ("00000002", account("Identidad ajena", "pepe@example.com"), {}, []),
])
IDENTITY_KEYS = {IDENTITIES: {"Default User ID": Sz("{8F2C4A10-77D1-4B9A-A2E3-6C5D4E3F2A10}")},
                 IDENTITIES + r"\{1A7C0D3E-5B2F-4E11-9C44-0A1B2C3D4E5F}": {"Username": Sz("Otra identidad")}}
# Outlook 2002-2010: a profile under the Windows Messaging Subsystem root, one account with Outlook's REG_BINARY
# texts and one with REG_SZ texts, each kept in its type.
PROFILE_2010 = Store(profile_store("2010"), [
    ("00000001", profile_account("Oficina 2010", "oficina@naricantec.es"),
     profile_rewritten("naricantec.es", user="usuario.naricantec.es"), [notice("Oficina 2010")]),
    ("00000002", {"Account Name": Sz("Texto REG_SZ"), "Email": Sz("sz@Naricantec.es"), "POP3 Server": Sz("pop.old.net"),
                  "POP3 User": Sz("sz"), "SMTP Server": Sz("smtp.old.net")},
     profile_rewritten("Naricantec.es", user="sz.Naricantec.es", kind="sz"), [notice("Texto REG_SZ")]),
])
# Outlook 2016 and later: a user name outside Latin-1, which must come back exactly; no SMTP Server; an IMAP
# account and one of another domain, both untouched; a name the ANSI code page lacks letters of, shown exactly; a
# user name that is the address, as Outlook suggests it, which becomes the mailbox, "." and the domain.
PROFILE_2016 = Store(profile_store("2016"), [
    ("00000001", profile_account("Luc\u00eda Nowak", "lucja@Valelangrupo.com", user="\u0141ucja"),
     profile_rewritten("Valelangrupo.com", user="\u0141ucja.Valelangrupo.com"), [notice("Luc\u00eda Nowak")]),
    ("00000002", profile_account("Sin SMTP 2016", "sinsmtp@naricantec.es", smtp=None),
     profile_rewritten("naricantec.es", user="usuario.naricantec.es", smtp=False), [notice("Sin SMTP 2016")]),
    ("00000003", {"Account Name": text("IMAP"), "Email": text("imap@naricantec.es"), "IMAP Server": text("imap.old.net"),
                  "IMAP User": text("imap"), "SMTP Server": text("smtp.old.net")}, {}, []),
    ("00000004", profile_account("Ajena 2016", "pepe@example.com"), {}, []),
    ("00000005", profile_account("Zo\u00eb \u0141\u0119cka", "zoe@naricantec.es"),
     profile_rewritten("naricantec.es", user="usuario.naricantec.es"), [notice("Zo\u00eb \u0141\u0119cka")]),
    ("00000006", profile_account("Direcci\u00f3n como usuario", "marta@Naricantec.es", user="Marta@NARICANTEC.ES"),
     profile_rewritten("Naricantec.es", user="Marta.Naricantec.es"), [notice("Direcci\u00f3n como usuario")]),
])
# Profiles named by their users: "Correo de \u0141ucja", which the code page would read as its neighbour
# "Correo de Lucja", is walked by its own name, and each of the two once. Its account has an empty user name,
# which stays empty.
PROFILE_LUCIA = Store(profile_store("2016", "Correo de Lucja"), [
    ("00000001", profile_account("Perfil vecino", "vecino@naricantec.es"),
     profile_rewritten("naricantec.es", user="usuario.naricantec.es"), [notice("Perfil vecino")]),
])
PROFILE_LUCJA = Store(profile_store("2016", "Correo de \u0141ucja"), [
    ("00000001", profile_account("Usuario vac\u00edo", "lucja@naricantec.es", user=""),
     profile_rewritten("naricantec.es"), [notice("Usuario vac\u00edo")]),
])
# For the walk of every store at once: a hosted account left under the root of Windows 98 and Me, untouched, and
# one in the Outlook 2013 root.
PROFILE_9X = Store(profile_store("9x"), [
    ("00000001", profile_account("Perfil 98", "p98@naricantec.es"), {}, []),
])
PROFILE_2013 = Store(profile_store("2013", "Trabajo"), [
    ("00000001", profile_account("Perfil 2013", "p2013@naricantec.es"),
     profile_rewritten("naricantec.es", user="usuario.naricantec.es"), [notice("Perfil 2013")]),
])

SCENARIOS = [
    Scenario("mixed_accounts", [MIXED_FIRST, MIXED_SECOND], ["yes"], POINTER),
    Scenario("answer_no", [MIXED_FIRST, MIXED_SECOND], ["no"], POINTER),
    Scenario("no_stores", [], ["yes"]),
    Scenario("only_second_store", [SOLO], ["yes"], POINTER),
    Scenario("pointer_names_first_store", [SAME], ["yes"],
             {HKLM + MANAGER: {"Outlook": Sz(r"SOFTWARE\microsoft\Internet Account Manager")}}),
    # Written with a trailing backslash, which the registry ignores, it still names the first store.
    Scenario("pointer_names_first_store_with_backslash", [SAME], ["yes"],
             {HKLM + MANAGER: {"Outlook": Sz(MANAGER + "\\")}}),
    Scenario("second_run_changes_nothing", [MIXED_FIRST, MIXED_SECOND], ["yes", "yes"], POINTER),
    # On a Cyrillic system (ANSI code page 1251) the Spanish texts, the accented names and the user names come out
    # exactly as on a Western one; the error boxes show the system's own (Russian) descriptions.
    Scenario("cyrillic_system", [MIXED_FIRST, MIXED_SECOND, PROFILE_2016], ["yes"], POINTER, locale="ru_RU.UTF-8"),
    Scenario("identity", [IDENTITY_ROWS], ["yes"], IDENTITY_KEYS),
    Scenario("outlook_2010_profile", [PROFILE_2010], ["yes"]),
    Scenario("outlook_2016_profile", [PROFILE_LUCIA, PROFILE_LUCJA, PROFILE_2016], ["yes"]),
    # Started from a Downloads folder where a uxtheme.dll lies, which Wine is told to prefer to its own: the
    # system's copy is loaded, where Windows can restrict the search and where the program preloads it. As a
    # Spanish customer double-clicks it: on a Spanish system, whose error descriptions reach the boxes intact.
    Scenario("planted_dll", [MIXED_FIRST, MIXED_SECOND], ["yes"], POINTER, locale="es_ES.UTF-8",
             downloads="as shipped", descriptions=SPANISH),
    Scenario("planted_dll_on_older_windows", [MIXED_FIRST, MIXED_SECOND], ["yes"], POINTER,
             downloads="older windows"),
    # Every kind of store at once: the notices follow the walk, and a second run changes nothing.
    Scenario("all_stores", [SAME, SOLO, IDENTITY_ROWS, PROFILE_2010, PROFILE_9X, PROFILE_2013, PROFILE_2016],
             ["yes", "yes"], {**POINTER, **IDENTITY_KEYS}),
]
