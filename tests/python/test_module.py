"""The cellverter module against cellverter-cli: the same texts, names, bytes and messages."""

import csv
import io
import pickle
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
import warnings
from pathlib import Path

import cellverter
from fixtures import (ENCRYPTED, SAMPLES, cli_messages, damaged_xlsx, folder_files,
                      formulas_without_value_xlsx, repaired_xlsx, run_cli)

WORKBOOKS = [SAMPLES / "sales.xlsx", SAMPLES / "sales.xls", SAMPLES / "international.xlsx",
             ENCRYPTED / "xor-default.xls", ENCRYPTED / "agile-default.xlsx"]


class TempFolder(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory()
        self.folder = Path(self._temp.name)
        self.addCleanup(self._temp.cleanup)


class ReadTest(TempFolder):
    def test_rows_are_the_cli_fields(self):
        # The CSV of cellverter-cli, split back into fields, holds the texts read() gives
        # (line feeds in a cell become blanks in CSV).
        for workbook in WORKBOOKS:
            with self.subTest(workbook.name):
                out = self.folder / workbook.name
                result = run_cli("-d", out, "-e", "UTF8", workbook)
                self.assertEqual(result.returncode, 0, result.stderr)
                text = next(out.iterdir()).read_text(encoding="utf-8")
                expected = list(csv.reader(io.StringIO(text, newline="")))
                rows = cellverter.read(workbook)
                self.assertEqual([[cell.replace("\n", " ") for cell in row] for row in rows],
                                 expected)
                self.assertEqual(len({len(row) for row in rows}), 1, "a rectangle from A1")

    def test_sheet_by_number_and_name(self):
        listing = run_cli("--list-sheets", SAMPLES / "sales.xlsx").stdout.splitlines()
        second = listing[1].split("\t")[2]
        for sheet in (2, second, second.upper()):
            with self.subTest(sheet=sheet):
                self.assertEqual(cellverter.read(SAMPLES / "sales.xlsx", sheet=sheet),
                                 cellverter.read(SAMPLES / "sales.xlsx", sheet=2))
        self.assertNotEqual(cellverter.read(SAMPLES / "sales.xlsx", sheet=2),
                            cellverter.read(SAMPLES / "sales.xlsx"))
        for sheet in (3, "No such sheet"):
            with self.subTest(sheet=sheet), self.assertRaises(cellverter.NoSuchSheet):
                cellverter.read(SAMPLES / "sales.xlsx", sheet=sheet)
        with self.assertRaises(ValueError):
            cellverter.read(SAMPLES / "sales.xlsx", sheet=0)

    def test_sheets_as_list_sheets(self):
        for workbook in WORKBOOKS:
            with self.subTest(workbook.name):
                lines = run_cli("--list-sheets", workbook).stdout.splitlines()
                expected = [line.split("\t")[1:] for line in lines]
                got = [[str(s.number or ""), s.name, s.kind, s.visibility, s.used_range]
                       for s in cellverter.sheets(workbook)]
                self.assertEqual(got, expected)

    def test_password(self):
        rows = cellverter.read(ENCRYPTED / "agile-secret.xlsx", password="secret")
        self.assertEqual(rows, cellverter.read(ENCRYPTED / "agile-default.xlsx"))
        self.assertEqual(cellverter.sheets(ENCRYPTED / "xor-secret.xls", password="secret"),
                         cellverter.sheets(ENCRYPTED / "xor-default.xls"))

    def test_threads_read_side_by_side(self):
        expected = {workbook: cellverter.read(workbook) for workbook in WORKBOOKS}
        results, failures = {}, []

        def work(workbook):
            try:
                for _ in range(3):
                    results[(workbook, _)] = cellverter.read(workbook)
            except Exception as error:  # reported below
                failures.append(error)

        threads = [threading.Thread(target=work, args=(w,)) for w in WORKBOOKS]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=120)
        self.assertEqual(failures, [])
        for (workbook, _), rows in results.items():
            self.assertEqual(rows, expected[workbook])


class ErrorTest(TempFolder):
    def cases(self):
        return [
            (self.folder / "missing.xlsx", {}, cellverter.NotFound),
            (Path(__file__), {}, cellverter.NotAWorkbook),
            (damaged_xlsx(self.folder), {}, cellverter.Damaged),
            (ENCRYPTED / "agile-secret.xlsx", {}, cellverter.PasswordProtected),
            (ENCRYPTED / "lo-rc4-secret.xls", {"password": "wrong"}, cellverter.PasswordProtected),
        ]

    def test_class_and_message_per_kind(self):
        for workbook, options, error_class in self.cases():
            with self.subTest(workbook.name, error=error_class.__name__):
                cli_args = ["--password", options["password"]] if options else []
                result = run_cli("-d", self.folder / "cli", *cli_args, workbook)
                self.assertEqual(result.returncode, 1)
                for call in (cellverter.read, cellverter.sheets):
                    with self.assertRaises(error_class) as caught:
                        call(workbook, **options)
                    self.assertIsInstance(caught.exception, cellverter.Error)
                    self.assertEqual(cli_messages(result.stderr), [str(caught.exception)])
                with self.assertRaises(error_class) as caught:
                    cellverter.convert([workbook], self.folder / "py", **options)
                self.assertEqual(cli_messages(result.stderr), [str(caught.exception)])
                copy = pickle.loads(pickle.dumps(caught.exception))
                self.assertIs(type(copy), error_class)
                self.assertEqual(str(copy), str(caught.exception))
        self.assertEqual(folder_files(self.folder / "py"), {})

    def test_bad_arguments(self):
        for options in ({"encoding": "UTF-8"}, {"values": "stored"}, {"quoting": "some"},
                        {"line_ending": "cr"}, {"max_cells": -1}, {"errors": "ignore"},
                        {"sheets": ["A"], "all_sheets": True}):
            with self.subTest(**options), self.assertRaises(ValueError):
                cellverter.convert([SAMPLES / "sales.xlsx"], self.folder, **options)
        self.assertEqual(folder_files(self.folder), {})

    def test_destination_that_cannot_be_made(self):
        blocker = self.folder / "file"
        blocker.write_text("")
        with self.assertRaises(cellverter.OutputFolderError) as caught:
            cellverter.convert([SAMPLES / "sales.xlsx"], blocker / "sub")
        self.assertIn(str(blocker / "sub"), str(caught.exception))


class ConvertTest(TempFolder):
    # The keyword arguments of convert() and the same options of cellverter-cli.
    OPTION_SETS = [
        ({}, []),
        ({"separator": ";", "encoding": "UTF16LEBOM"}, ["-s", ";", "-e", "UTF16LEBOM"]),
        ({"separator": "", "encoding": "ANSI"}, ["-s", "", "-e", "ANSI"]),
        ({"encoding": "UTF8BOM", "all_sheets": True}, ["-e", "UTF8BOM", "--all-sheets"]),
        ({"sheets": [2, "orders"]}, ["--sheet", "2", "--sheet", "orders"]),
        ({"sheets": 2, "jobs": 1}, ["--sheet", "2", "-j", "1"]),
    ]

    def inputs(self):
        # Two workbooks named "sales", one that fails between them, one whose name is a
        # numbered form of another's, and an existing file that must not be replaced.
        numbered = self.folder / "in" / "sales (2).xlsx"
        numbered.parent.mkdir()
        shutil.copy(SAMPLES / "international.xlsx", numbered)
        return [SAMPLES / "sales.xlsx", damaged_xlsx(self.folder), numbered,
                SAMPLES / "sales.xls", SAMPLES / "international.xlsx", ENCRYPTED / "xor-default.xls"]

    def test_names_and_bytes_as_the_cli(self):
        inputs = self.inputs()
        for options, cli_args in self.OPTION_SETS:
            with self.subTest(cli_args):
                cli_out, py_out = self.folder / "cli", self.folder / "py"
                for out in (cli_out, py_out):
                    shutil.rmtree(out, ignore_errors=True)
                    out.mkdir()
                    (out / "sales.csv").write_text("kept")
                result = run_cli("-d", cli_out, *cli_args, *inputs)
                self.assertEqual(result.returncode, 1, result.stderr)
                with self.assertRaises(cellverter.Error) as caught:
                    cellverter.convert(inputs, py_out, **options)
                written = caught.exception.written
                self.assertEqual([Path(p).relative_to(py_out) for p in written],
                                 [Path(line).relative_to(cli_out)
                                  for line in result.stdout.splitlines()])
                self.assertEqual(folder_files(py_out), folder_files(cli_out))
                self.assertEqual((py_out / "sales.csv").read_text(), "kept")
                outcomes = caught.exception.outcomes
                self.assertEqual([o.workbook for o in outcomes], [str(p) for p in inputs])
                self.assertIs(caught.exception, next(o.error for o in outcomes if o.error))
                self.assertEqual([str(o.error) for o in outcomes if o.error is not None],
                                 cli_messages(result.stderr))

    def test_errors_warn_returns_what_was_written(self):
        with self.assertWarns(RuntimeWarning) as caught:
            written = cellverter.convert([damaged_xlsx(self.folder), SAMPLES / "sales.xls"],
                                         self.folder / "out", errors="warn")
        self.assertEqual(written, [str(self.folder / "out" / "sales.csv")])
        self.assertIn("damaged.xlsx", str(caught.warning))

    def test_warnings_have_the_cli_text(self):
        for name, make, category in (
                ("repaired", repaired_xlsx, cellverter.RepairWarning),
                ("formulas", formulas_without_value_xlsx, cellverter.FormulasWithoutValueWarning)):
            with self.subTest(name):
                self._check_warning(make(self.folder), category)

    def _check_warning(self, workbook, category):
        result = run_cli("-d", self.folder / "cli" / workbook.stem, workbook)
        self.assertEqual(result.returncode, 0, result.stderr)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            cellverter.convert(workbook, self.folder / "py" / workbook.stem)
        self.assertEqual([w.category for w in caught], [category])
        self.assertEqual(["warning: " + str(caught[0].message)], cli_messages(result.stderr))
        self.assertEqual(folder_files(self.folder / "py" / workbook.stem),
                         folder_files(self.folder / "cli" / workbook.stem))


class PandasTest(unittest.TestCase):
    def test_frame_of_texts(self):
        rows = cellverter.read(SAMPLES / "sales.xlsx")
        frame = cellverter.to_pandas(SAMPLES / "sales.xlsx")
        self.assertEqual(list(frame.columns), rows[0])
        self.assertEqual(frame.values.tolist(), rows[1:])
        bare = cellverter.to_pandas(SAMPLES / "sales.xlsx", header=False)
        self.assertEqual(bare.values.tolist(), rows)
        self.assertTrue(all(isinstance(v, str) for v in bare.values.ravel()))

    def test_without_pandas_a_clear_import_error(self):
        code = ("import sys; sys.modules['pandas'] = None; import cellverter\n"
                "try: cellverter.to_pandas(sys.argv[1])\n"
                "except ImportError as e: print(e)\n")
        result = subprocess.run([sys.executable, "-c", code, str(SAMPLES / "sales.xlsx")],
                                capture_output=True, text=True, timeout=60)
        self.assertIn("needs pandas", result.stdout, result.stderr)


class HelpTest(unittest.TestCase):
    def test_help_names_the_api(self):
        text = subprocess.run([sys.executable, "-c", "import cellverter; help(cellverter)"],
                              capture_output=True, text=True, timeout=60,
                              env={**__import__("os").environ, "PAGER": "cat"}).stdout
        for name in ("read(", "sheets(", "convert(", "to_pandas(", "PasswordProtected",
                     "cellverter.dask"):
            self.assertIn(name, text)


if __name__ == "__main__":
    unittest.main()
