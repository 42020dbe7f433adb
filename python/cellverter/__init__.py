"""Cellverter for Python: workbooks (.xlsx, .xlsb, .xls, .ods...) as the text a spreadsheet displays.

    import cellverter
    rows = cellverter.read("sales.xlsx")              # list of rows of displayed texts
    cellverter.sheets("sales.xlsx")                   # [Sheet(number=1, name='Sales', ...)]
    cellverter.convert(["a.xlsx", "b.xls"], "out")    # the CSV files, as cellverter-cli writes them
    frame = cellverter.to_pandas("sales.xlsx")        # a DataFrame of strings (needs pandas)

cellverter.dask.convert spreads a batch over a Dask cluster. A failing workbook raises a
subclass of cellverter.Error (NotFound, NotAWorkbook, PasswordProtected, UnsupportedVersion,
Damaged, NoSuchSheet, InputOutputError, OutputFolderError) with the programs' message.
Workbooks are read without the interpreter lock held, so threads convert in parallel.
"""

from __future__ import annotations

import os
import warnings
from typing import Iterable, NamedTuple, Sequence, Union

from . import _core, _errors
from ._errors import (
    Damaged,
    Error,
    FormulasWithoutValueWarning,
    InputOutputError,
    NoSuchSheet,
    NotAWorkbook,
    NotFound,
    OutputFolderError,
    PasswordProtected,
    RepairWarning,
    UnsupportedVersion,
)

__all__ = [
    "read", "sheets", "convert", "to_pandas", "output_path", "Sheet", "Outcome",
    "Error", "NotFound", "NotAWorkbook", "PasswordProtected", "UnsupportedVersion", "Damaged",
    "NoSuchSheet", "InputOutputError", "OutputFolderError", "RepairWarning",
    "FormulasWithoutValueWarning",
]

PathLike = Union[str, "os.PathLike[str]"]
SheetRef = Union[int, str]

ENCODINGS = ("ANSI", "UTF8", "UTF8BOM", "UTF16BEBOM", "UTF16LEBOM")


class Sheet(NamedTuple):
    """One sheet of a workbook, as ``cellverter-cli --list-sheets`` shows it."""

    number: int  #: what ``sheet=`` accepts; 0 for a chart or dialog sheet
    name: str
    kind: str  #: "worksheet", "chart", "dialog" or "macro"
    visibility: str  #: "visible", "hidden" or "veryhidden"
    used_range: str  #: "A1:F120" for a worksheet, else ""


class Outcome(NamedTuple):
    """What became of one workbook of a batch: its CSV files, or the error."""

    workbook: str
    csv_files: list[str]
    error: Error | None


def read(path: PathLike, sheet: SheetRef = 1, password: str = "") -> list[list[str]]:
    """The cells of one worksheet as the spreadsheet displays them: a list of rows from A1 to
    the last used cell, each row a list of texts ("" for an empty cell).

    ``sheet`` is a 1-based number among the worksheets or a name (exact, else equal but for
    case). Encrypted workbooks open with Excel's built-in password, else with ``password``.
    """
    return _core.read(os.fspath(path), sheet, password)


def sheets(path: PathLike, password: str = "") -> list[Sheet]:
    """Every sheet of the workbook in its order, with name, kind, visibility and used range."""
    return [Sheet(*entry) for entry in _core.sheets(os.fspath(path), password)]


def to_pandas(path: PathLike, sheet: SheetRef = 1, header: bool = True, password: str = ""):
    """A pandas DataFrame of the displayed texts of one worksheet (every column of dtype
    object, holding str). With ``header`` the first row gives the column names."""
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "cellverter.to_pandas needs pandas: apt-get install python3-pandas "
            "(or pip install pandas)"
        ) from error
    rows = read(path, sheet, password)
    if header and rows:
        return pandas.DataFrame(rows[1:], columns=rows[0], dtype=object)
    return pandas.DataFrame(rows, dtype=object)


def output_path(destination: PathLike, workbook: PathLike) -> str:
    """The CSV path a workbook gets in ``destination`` before a free name is sought:
    the workbook's name without its last extension, then ".csv"."""
    return _core.output_path(os.fspath(destination), os.fspath(workbook))


def _options(separator: str, encoding: str, sheets: Sequence[SheetRef] | SheetRef | None,
             all_sheets: bool, max_cells: int, password: str, values: str, skip_hidden: bool,
             fill_merged: bool, trim: bool, quoting: str, line_ending: str) -> dict:
    if sheets is None:
        sheets = []
    elif isinstance(sheets, (int, str)):
        sheets = [sheets]
    return dict(separator=separator, encoding=encoding, sheets=list(sheets),
                all_sheets=all_sheets, max_cells=max_cells, password=password, values=values,
                skip_hidden=skip_hidden, fill_merged=fill_merged, trim=trim, quoting=quoting,
                line_ending=line_ending)


def _convert_batch(paths: list[str], destination: str, jobs: int, options: dict) -> list[Outcome]:
    """Converts `paths` with the batch run of cellverter-cli; warnings are issued here."""
    outcomes = []
    for path, result in zip(paths, _core.convert(paths, destination, jobs=jobs, **options)):
        for repair in result["repairs"]:
            warnings.warn(f'"{path}": repaired: {repair}.', RepairWarning, stacklevel=3)
        if result["formulas_without_value"]:
            warnings.warn(result["formulas_without_value"], FormulasWithoutValueWarning,
                          stacklevel=3)
        error = None
        if result["error_class"] is not None:
            error = getattr(_errors, result["error_class"])(result["message"])
        outcomes.append(Outcome(path, list(result["csv_files"]), error))
    return outcomes


def convert(paths: Iterable[PathLike] | PathLike, destination: PathLike = ".",
            separator: str = ",", encoding: str = "UTF8", *,
            sheets: Sequence[SheetRef] | SheetRef | None = None, all_sheets: bool = False,
            jobs: int | None = None, max_cells: int = 0, password: str = "",
            values: str = "displayed", skip_hidden: bool = False, fill_merged: bool = False,
            trim: bool = False, quoting: str = "minimal", line_ending: str = "crlf",
            errors: str = "raise") -> list[str]:
    """Converts workbooks into CSV files in ``destination`` (created when missing) with exactly
    the names and bytes of ``cellverter-cli``, and returns the paths written in list order.

    An existing file is never replaced: "book (2).csv" and so on are chosen instead. ``jobs``
    workbooks are converted at once (default: one per core), with the names a one-by-one run
    gives. ``encoding`` is one of ANSI, UTF8, UTF8BOM, UTF16BEBOM, UTF16LEBOM. ``sheets``
    names worksheets (numbers or names) instead of the first; ``all_sheets`` takes every one.
    ``values`` ("displayed" or "raw"), ``skip_hidden``, ``fill_merged``, ``trim``, ``quoting``
    ("minimal" or "all") and ``line_ending`` ("crlf" or "lf") shape the CSV text.

    A failing workbook never stops the others. With ``errors="raise"`` (the default) the first
    failure is raised once the batch is done, carrying ``written`` (the paths) and ``outcomes``
    (an Outcome per workbook); with ``errors="warn"`` each failure is a RuntimeWarning.
    """
    if errors not in ("raise", "warn"):
        raise ValueError('errors must be "raise" or "warn"')
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    paths = [os.fspath(path) for path in paths]
    options = _options(separator, encoding, sheets, all_sheets, max_cells, password, values,
                       skip_hidden, fill_merged, trim, quoting, line_ending)
    outcomes = _convert_batch(paths, os.fspath(destination), jobs or 0, options)
    written = [csv for outcome in outcomes for csv in outcome.csv_files]
    failures = [outcome.error for outcome in outcomes if outcome.error is not None]
    if failures and errors == "raise":
        first = failures[0]
        first.written = written
        first.outcomes = outcomes
        raise first
    for failure in failures:
        warnings.warn(str(failure), RuntimeWarning, stacklevel=2)
    return written


def __getattr__(name: str):
    # cellverter.dask needs Dask's distributed, so it is imported when first used.
    if name == "dask":
        import importlib

        return importlib.import_module(".dask", __name__)
    raise AttributeError(f"module 'cellverter' has no attribute {name!r}")
