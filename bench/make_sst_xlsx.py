# A workbook of ROWS rows x 20 columns whose every cell is a distinct shared string:
# python3 make_sst_xlsx.py ROWS out.xlsx
import sys, zipfile
rows, cols = int(sys.argv[1]), 20
path = sys.argv[2]
ct = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
      '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
      '<Default Extension="xml" ContentType="application/xml"/>'
      '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>')
rels = ('<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>')
wb = ('<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
      'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
wbrels = ('<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
          '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
          '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>')
def letters(c):
    s = ''
    c += 1
    while c: c, r = divmod(c - 1, 26); s = chr(65 + r) + s
    return s
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', ct); z.writestr('_rels/.rels', rels)
    z.writestr('xl/workbook.xml', wb); z.writestr('xl/_rels/workbook.xml.rels', wbrels)
    with z.open('xl/sharedStrings.xml', 'w', force_zip64=True) as f:
        f.write(b'<?xml version="1.0"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">')
        for i in range(rows * cols):
            f.write(('<si><t>text %d of cell %s</t></si>' % (i * 7919 % 1000003, i)).encode())
        f.write(b'</sst>')
    with z.open('xl/worksheets/sheet1.xml', 'w', force_zip64=True) as f:
        f.write(b'<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>')
        names = [letters(c) for c in range(cols)]
        for r in range(rows):
            f.write(('<row r="%d">' % (r + 1) + ''.join('<c r="%s%d" t="s"><v>%d</v></c>' % (names[c], r + 1, r * cols + c) for c in range(cols)) + '</row>').encode())
        f.write(b'</sheetData></worksheet>')
