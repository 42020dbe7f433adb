"""The exception classes of cellverter, one per kind of failure."""


class Error(Exception):
    """A workbook could not be read or converted; the message names the file and the cause."""


class NotFound(Error):
    """The workbook does not exist."""


class NotAWorkbook(Error):
    """A folder, a device, or content that is no .xls or .xlsx workbook."""


class PasswordProtected(Error):
    """No password given opens the workbook, or the one given is wrong."""


class UnsupportedVersion(Error):
    """A workbook format that is not read (Excel 2.x to 4.x)."""


class Damaged(Error):
    """The file breaks its format beyond what a repair mends."""


class NoSuchSheet(Error):
    """A worksheet asked for is not in the workbook."""


class InputOutputError(Error):
    """The system refused to read or write (permissions, disk errors)."""


class OutputFolderError(Error):
    """The destination folder, or a CSV file in it, could not be made or written."""


class RepairWarning(UserWarning):
    """A workbook its writer left slightly wrong was read as Excel reads it; the message
    names the file and the repair."""


class FormulasWithoutValueWarning(UserWarning):
    """Formula cells stored without a calculated value were written empty."""


# Shown as cellverter.<Name>, and pickled so (Dask sends errors between processes).
for _class in list(globals().values()):
    if isinstance(_class, type) and issubclass(_class, Warning | Error):
        _class.__module__ = "cellverter"
del _class
