"""check-translation-keys: keys found in the code, language files read as the program reads them,
missing and unused keys reported per language."""

import importlib.machinery
import importlib.util
import io
import os
import shutil
import tempfile
import unittest

SCRIPTS = os.environ.get("TM_SCRIPTS_DIR", os.path.join(os.path.dirname(__file__), "../../scripts"))


def load_module():
    path = os.path.join(SCRIPTS, "check-translation-keys")
    loader = importlib.machinery.SourceFileLoader("check_translation_keys", path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("check_translation_keys", loader))
    loader.exec_module(module)
    return module


keys = load_module()
BOM8 = b"\xef\xbb\xbf"
# Entries of the keys every language file in CheckTest holds.
COMMON = "MENU_STOP=x\nQUOTE=x\nTIP_STOP=x\n"


class ParseTest(unittest.TestCase):
    CASES = [
        # (file text, expected {language: {key: value}})
        ("[Deutsch]\nSTART=Starten\n; STOP=Anhalten\nstop=nein\nSTOP = Anhalten \n",
         {"Deutsch": {"START": "Starten", "STOP": "Anhalten "}}),
        ('[ Français ]\nQUOTED = "  deux\nlignes"  ignoré\nNEXT=\n  Suivant\n',
         {"Français": {"QUOTED": "  deux\nlignes", "NEXT": "Suivant"}}),
        ("ORPHAN=before any section\n[Español]\nEMPTY=\n[]\nA=b\n", {"Español": {"EMPTY": "[]", "A": "b"}}),
        ("[Русский]\nA=первый\na=x\n[русский]\nA=второй\nB=б\n", {"Русский": {"A": "первый", "B": "б"}}),
        ("[Nothing]\n; only a comment\n", {}),
    ]

    def test_entries_of_each_section(self):
        for text, expected in self.CASES:
            with self.subTest(text=text):
                self.assertEqual(keys.parse(text), expected)

    def test_encodings_read_as_the_program_reads_them(self):
        text = "[Deutsch]\nSTART=Starten\n"
        cases = [
            (BOM8 + text.encode("utf-8"), {"Deutsch": {"START": "Starten"}}),
            (b"\xff\xfe" + text.encode("utf-16-le"), {"Deutsch": {"START": "Starten"}}),
            (text.encode("utf-16-le"), {"Deutsch": {"START": "Starten"}}),
            (text.encode("utf-8"), {}),  # UTF-8 without its mark is read as UTF-16: nothing usable
            (BOM8 + b"[D]\nA=b", None),  # fewer than 10 characters
            (BOM8 + b"x" * 1048573, None),  # one byte too many
        ]
        for data, expected in cases:
            with self.subTest(data=data[:24]):
                decoded = keys.decode(data)
                self.assertEqual(None if decoded is None else keys.parse(decoded), expected)


class CheckTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tm-translation-keys-")
        self.write("app/frame/MainFrame.cpp",
                   'setText(context.text(u"SCAN_START", u"Start"));\n'
                   'menu->addAction(addPopup(menu, u"MENU_FILE",\n                 u"&File"));\n'
                   'label(context.text(u"QUOTE", u"Say \\"hi\\""));\n'
                   '{cmd::kStop, u"MENU_STOP", u"Sto&p", u"Stop scanning", u"TIP_STOP", 234},\n'
                   'settings.readNumber(u"CheckUpdate"); std::puts("NOT_UTF16");\n')
        self.write("shell/Update.cpp", 'return {u"SCAN_START", u"Start"};\n')
        self.write("tests/app/Test.cpp", 'translate(u"TEST_ONLY", u"x");\n')
        self.write("cli/Main.cpp", 'translate(u"CLI_ONLY", u"x");\n')

    def tearDown(self):
        shutil.rmtree(self.root)

    def write(self, rel, text, data=None):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if data is not None else text.encode("utf-8"))

    def run_check(self):
        out = io.StringIO()
        problems = keys.check(self.root, os.path.join(self.root, "Locale"), out)
        return problems, out.getvalue()

    def test_keys_are_the_capital_utf16_literals_of_the_user_interface_code(self):
        used = keys.used_keys(self.root)
        self.assertEqual(sorted(used), ["MENU_FILE", "MENU_STOP", "QUOTE", "SCAN_START", "TIP_STOP"])
        self.assertEqual(list(used["QUOTE"]), ['Say \\"hi\\"'])
        self.assertEqual(list(used["MENU_FILE"]), ["&File"])
        self.assertEqual(list(used["TIP_STOP"]), [None])  # the default stands before this key
        self.assertEqual(len(used["SCAN_START"]["Start"]), 2)

    def test_no_language_file_passes(self):
        self.assertEqual(self.run_check()[0], 0)

    def test_missing_and_unused_keys_are_reported_per_language(self):
        self.write("Locale/de.lng", "", BOM8 + ("[Deutsch]\n" + COMMON + "SCAN_START=Starten\nOLD_KEY=Alt\n").encode())
        self.write("Locale/fr.lng", "", BOM8 + ("[Français]\n" + COMMON + "SCAN_START=Démarrer\nMENU_FILE=&Fichier\n"
                                                ).encode())
        problems, out = self.run_check()
        self.assertEqual(problems, 2, out)
        self.assertIn("Locale/de.lng [Deutsch]: missing MENU_FILE (\"&File\")", out)
        self.assertIn("Locale/de.lng [Deutsch]: OLD_KEY is not used by the code", out)
        self.assertNotIn("Français]", out)

    def test_one_language_split_over_two_files_is_checked_as_one(self):
        self.write("Locale/de.lng", "", BOM8 + ("[Deutsch]\nSCAN_START=Starten\n" + COMMON).encode("utf-8"))
        self.write("Locale/de-menu.lng", "", b"\xff\xfe" + "[deutsch]\nMENU_FILE=&Datei\n".encode("utf-16-le"))
        problems, out = self.run_check()
        self.assertEqual(problems, 0, out)

    def test_unreadable_file_and_conflicting_defaults_are_reported(self):
        self.write("Locale/es.lng", "[Español]\nSCAN_START=Iniciar\nMENU_FILE=&Archivo\n" + COMMON)  # no mark
        self.write("app/Other.cpp", 'translate(u"MENU_FILE", u"File");\n')
        problems, out = self.run_check()
        self.assertEqual(problems, 2, out)
        self.assertIn("Locale/es.lng: no language section with entries", out)
        self.assertIn("key MENU_FILE has different default texts", out)


if __name__ == "__main__":
    unittest.main()
