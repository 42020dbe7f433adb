#!/usr/bin/python3
"""Writes xlwt-cells.xls (run with Debian's python3-xlwt: /usr/bin/python3 make_xlwt.py)."""
import datetime
import xlwt

book = xlwt.Workbook(encoding="utf-8")
book.dates_1904 = True
sheet = book.add_sheet("Cells")
date = xlwt.easyxf(num_format_str="dd/mm/yyyy hh:mm")
money = xlwt.easyxf(num_format_str="#,##0.00 [$EUR]")
yellow = xlwt.easyxf("pattern: pattern solid, fore_colour yellow")
sheet.write(0, 0, "text")
sheet.write(0, 1, 42)
sheet.write(0, 2, -0.125)
sheet.write(0, 3, True)
sheet.write(0, 4, False)
sheet.write(1, 0, datetime.datetime(2001, 2, 3, 4, 5), date)
sheet.write(1, 1, 1234.5, money)
sheet.write(1, 2, xlwt.Formula("B2*2"))
sheet.row(1).set_cell_error(3, 0x2A)  # #N/A
sheet.row(1).set_cell_error(4, 0x07)  # #DIV/0!
for column in range(2, 6):  # styled blanks, written as one MULBLANK
    sheet.write(2, column, None, yellow)
# Enough shared strings to need CONTINUE records, switching between one- and two-byte text.
for i in range(170):
    text = ("Zeile %d äöü " % i) * 3 if i % 2 else ("Στήλη %d αβγ " % i) * 3
    sheet.write(4 + i, 0, text)
book.add_sheet("Other").write(0, 0, "not the first sheet")
book.save("xlwt-cells.xls")
