"""Workbooks and runs of cellverter-cli shared by the Python tests."""

import os
import re
import subprocess
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "samples"
ENCRYPTED = ROOT / "tests" / "data" / "encrypted"
CLI = os.environ.get("CELLVERTER_CLI", str(ROOT / "build" / "test" / "bin" / "cellverter-cli"))


def edited_xlsx(source: Path, target: Path, part: str, edit) -> Path:
    """A copy of an .xlsx workbook with one part's bytes passed through `edit`."""
    with zipfile.ZipFile(source) as original, zipfile.ZipFile(target, "w") as copy:
        for info in original.infolist():
            data = original.read(info.filename)
            copy.writestr(info, edit(data) if info.filename == part else data)
    return target


def damaged_xlsx(folder: Path) -> Path:
    # The first worksheet's XML ends in the middle of a cell.
    return edited_xlsx(SAMPLES / "sales.xlsx", folder / "damaged.xlsx", "xl/worksheets/sheet1.xml",
                       lambda data: b'<worksheet><sheetData><row r="1"><c r="A1" t="s"><v>')


def repaired_xlsx(folder: Path) -> Path:
    # A cell refers to a shared string that does not exist, which Excel reads as empty.
    return edited_xlsx(SAMPLES / "sales.xlsx", folder / "repaired.xlsx", "xl/worksheets/sheet1.xml",
                       lambda data: data.replace(b"<v>0</v>", b"<v>999</v>", 1))


def formulas_without_value_xlsx(folder: Path) -> Path:
    # Every formula's cached value is left out, as some libraries write them.
    return edited_xlsx(SAMPLES / "sales.xlsx", folder / "formulas.xlsx", "xl/worksheets/sheet1.xml",
                       lambda data: re.sub(rb"(</f>)<v>[^<]*</v>", rb"\1", data))


def run_cli(*args, cwd=None) -> subprocess.CompletedProcess:
    return subprocess.run([CLI, *map(str, args)], capture_output=True, text=True, cwd=cwd,
                          timeout=120)


def folder_files(folder: Path) -> dict:
    """Every file under `folder` by its relative path, with its bytes."""
    return {str(path.relative_to(folder)): path.read_bytes()
            for path in sorted(folder.rglob("*")) if path.is_file()}


def cli_messages(stderr: str) -> list:
    """The messages of cellverter-cli's standard error, without the program's name."""
    prefix = "cellverter-cli: "
    return [line[len(prefix):] for line in stderr.splitlines() if line.startswith(prefix)]
