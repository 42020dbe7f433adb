"""Batches spread over a Dask cluster (Dask's distributed scheduler).

    from distributed import Client
    import cellverter.dask
    client = Client("tcp://scheduler:8786")
    outcomes = cellverter.dask.convert(paths, "/shared/csv", client=client)

Workers read the workbooks and write the CSV files through their own file system, so every
worker must see the paths and the destination (a shared file system such as NFS).
"""

from __future__ import annotations

import os
from typing import Iterable, Sequence

from . import _convert_batch, _core, _options, Outcome, SheetRef


def _convert_group(paths: list[str], destination: str, options: dict) -> list[Outcome]:
    # Runs on a worker: its workbooks one after the other (those whose names could meet in
    # list order).
    return _convert_batch(paths, destination, 1, options)


def convert(paths: Iterable[os.PathLike | str], destination: os.PathLike | str,
            client=None, separator: str = ",", encoding: str = "UTF8", *,
            sheets: Sequence[SheetRef] | SheetRef | None = None, all_sheets: bool = False,
            max_cells: int = 0, password: str = "", values: str = "displayed",
            skip_hidden: bool = False, fill_merged: bool = False, trim: bool = False,
            quoting: str = "minimal", line_ending: str = "crlf",
            batch_size: int = 16) -> list[Outcome]:
    """Converts workbooks as Dask tasks on ``client`` (default: the current client) and returns
    an Outcome per workbook in list order: its CSV files, or the error (a cellverter.Error).
    A failing workbook never stops the others.

    The names are those of a one-by-one run of ``cellverter.convert`` (and of
    ``cellverter-cli``): workbooks whose output names could meet ("sales.xlsx", "Sales.xls",
    "sales (2).xlsx") go to one task that converts them in list order; all others are
    independent. A task takes about ``batch_size`` workbooks (whole groups), since every
    task costs the scheduler a few milliseconds. The other keyword arguments are those of
    ``cellverter.convert``.
    """
    from distributed import default_client

    if client is None:
        client = default_client()
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    paths = [os.fspath(path) for path in paths]
    destination = os.fspath(destination)
    options = _options(separator, encoding, sheets, all_sheets, max_cells, password, values,
                       skip_hidden, fill_merged, trim, quoting, line_ending)
    groups: dict[str, list[int]] = {}
    for index, path in enumerate(paths):
        groups.setdefault(_core.output_name_family(path), []).append(index)
    if batch_size < 1:
        raise ValueError("batch_size must be 1 or more")
    # Whole groups go into one task, so names that could meet are still chosen in list order.
    indexes: list[list[int]] = []
    for group in groups.values():
        if not indexes or len(indexes[-1]) >= batch_size:
            indexes.append([])
        indexes[-1].extend(group)
    futures = client.map(_convert_group, [[paths[i] for i in group] for group in indexes],
                         destination=destination, options=options, pure=False)
    outcomes: list[Outcome | None] = [None] * len(paths)
    for group, group_outcomes in zip(indexes, client.gather(futures)):
        for index, outcome in zip(group, group_outcomes):
            outcomes[index] = outcome
    return outcomes
