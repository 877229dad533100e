# The end-to-end scenarios: the accounts each one imports, the answer given, and what must follow: the
# boxes in order and every registry value that changes (all others must stay exactly as they were).
from regfiles import Dword, Sz, Unterminated

HKCU = "HKEY_CURRENT_USER\\"
HKLM = "HKEY_LOCAL_MACHINE\\"
MANAGER = r"Software\Microsoft\Internet Account Manager"
FIRST_STORE = HKCU + MANAGER + r"\Accounts"
OUTLOOK_PATH = r"Software\Microsoft\Office\Outlook\OMI Account Manager"
SECOND_STORE = HKCU + OUTLOOK_PATH + r"\Accounts"

CAPTION = "Atención"
QUESTION = (CAPTION, "¿Desea modificar las cuentas de correo de Vireska de Outlook y Outlook Express?\n"
            "Los cambios tendrán efecto la próxima vez que ejecute el programa de correo.", "yes,no", "icon")
CLOSING = (CAPTION, "Proceso finalizado.", "ok", "icon")

# Error codes whose system description an error box shows; the helper asks Wine for each description.
FILE_NOT_FOUND, INSUFFICIENT_BUFFER, MORE_DATA = 2, 122, 234


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
    def __init__(self, name, stores, runs, extra=None):
        """runs: (answer, whether the accounts' changes and boxes follow, or nothing but the two boxes)."""
        self.name, self.stores, self.runs, self.extra = name, stores, runs, extra or {}

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

SCENARIOS = [
    Scenario("mixed_accounts", [MIXED_FIRST, MIXED_SECOND], ["yes"], POINTER),
    Scenario("answer_no", [MIXED_FIRST, MIXED_SECOND], ["no"], POINTER),
    Scenario("no_stores", [], ["yes"]),
    Scenario("only_second_store", [SOLO], ["yes"], POINTER),
    Scenario("pointer_names_first_store", [SAME], ["yes"],
             {HKLM + MANAGER: {"Outlook": Sz(r"SOFTWARE\microsoft\Internet Account Manager")}}),
    Scenario("second_run_changes_nothing", [MIXED_FIRST, MIXED_SECOND], ["yes", "yes"], POINTER),
]
