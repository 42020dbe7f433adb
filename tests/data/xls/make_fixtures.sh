#!/bin/sh
# Regenerates the .xls fixtures of this folder (see README.md). Needs Debian's
# libreoffice-calc-nogui, gnumeric and python3-xlwt. Run from this folder.
set -e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# LibreOffice keeps its profile under $HOME.
HOME=$work soffice --headless --convert-to 'xls:MS Excel 97' --outdir "$work/lo" mixed.fods
cp "$work/lo/mixed.xls" libreoffice-mixed.xls
HOME=$work soffice --headless --convert-to 'xls:MS Excel 97' --outdir "$work/lo" ../xlsx/lo-layout.fods
cp "$work/lo/lo-layout.xls" libreoffice-layout.xls
# Gnumeric reads the workbook as LibreOffice computed it (.xlsx), recalculates, and writes
# BIFF8 and BIFF7 (Excel 95) files with the text results of formulas in STRING records.
HOME=$work soffice --headless --convert-to xlsx --outdir "$work/lo" mixed.fods
HOME=$work ssconvert --recalc -T Gnumeric_Excel:excel_biff8 "$work/lo/mixed.xlsx" gnumeric-mixed.xls
HOME=$work ssconvert --recalc -T Gnumeric_Excel:excel_biff7 "$work/lo/mixed.xlsx" gnumeric-mixed-biff7.xls
/usr/bin/python3 make_xlwt.py
