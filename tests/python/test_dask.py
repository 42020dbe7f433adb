"""cellverter.dask on a real two-process LocalCluster against cellverter-cli."""

import shutil
import tempfile
import unittest
from pathlib import Path

from distributed import Client, LocalCluster

import cellverter
import cellverter.dask
from fixtures import ENCRYPTED, SAMPLES, cli_messages, damaged_xlsx, folder_files, run_cli


class DaskConvertTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                   dashboard_address=None, timeout=60)
        cls.client = Client(cls.cluster, timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()

    def setUp(self):
        temp = tempfile.TemporaryDirectory()
        self.addCleanup(temp.cleanup)
        self.folder = Path(temp.name)

    def inputs(self):
        # Workbooks whose names meet ("sales" twice, "Sales (2)" a numbered form of it,
        # "international" twice) amid a damaged and a password-protected one.
        other = self.folder / "in"
        other.mkdir()
        shutil.copy(SAMPLES / "international.xlsx", other / "Sales (2).xlsx")
        shutil.copy(SAMPLES / "international.xlsx", other / "international.xls")
        return [SAMPLES / "sales.xlsx", damaged_xlsx(self.folder), other / "Sales (2).xlsx",
                ENCRYPTED / "agile-secret.xlsx", SAMPLES / "sales.xls",
                SAMPLES / "international.xlsx", other / "international.xls",
                ENCRYPTED / "cryptoapi-default.xls"]

    def test_names_bytes_and_errors_as_the_cli(self):
        inputs = self.inputs()
        # One workbook's group a task, and the groups together in one task.
        for options, cli_args in [({"batch_size": 1}, []),
                                  ({"separator": "\t", "encoding": "UTF16BEBOM", "all_sheets": True},
                                   ["-s", "\t", "-e", "UTF16BEBOM", "--all-sheets"])]:
            with self.subTest(cli_args):
                cli_out, dask_out = self.folder / "cli", self.folder / "dask"
                shutil.rmtree(cli_out, ignore_errors=True)
                shutil.rmtree(dask_out, ignore_errors=True)
                result = run_cli("-d", cli_out, "-j", "1", *cli_args, *inputs)
                self.assertEqual(result.returncode, 1, result.stderr)
                outcomes = cellverter.dask.convert(inputs, dask_out, client=self.client, **options)
                self.assertEqual([o.workbook for o in outcomes], [str(p) for p in inputs])
                self.assertEqual(
                    [Path(csv).relative_to(dask_out) for o in outcomes for csv in o.csv_files],
                    [Path(line).relative_to(cli_out) for line in result.stdout.splitlines()])
                self.assertEqual(folder_files(dask_out), folder_files(cli_out))
                self.assertEqual([type(o.error) for o in outcomes],
                                 [type(None), cellverter.Damaged, type(None),
                                  cellverter.PasswordProtected] + [type(None)] * 4)
                self.assertEqual([str(o.error) for o in outcomes if o.error],
                                 cli_messages(result.stderr))

    def test_default_client_and_password(self):
        with self.client.as_current():
            outcomes = cellverter.dask.convert([ENCRYPTED / "agile-secret.xlsx"], self.folder,
                                               password="secret")
        self.assertIsNone(outcomes[0].error)
        expected = cellverter.convert(ENCRYPTED / "agile-default.xlsx", self.folder / "local")
        self.assertEqual(Path(outcomes[0].csv_files[0]).read_bytes(),
                         Path(expected[0]).read_bytes())


if __name__ == "__main__":
    unittest.main()
