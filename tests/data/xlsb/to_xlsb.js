// Rewrites a workbook as .xlsb with SheetJS (npm xlsx 0.18.5), keeping number formats and
// the date system: node to_xlsb.js IN OUT.xlsb
const XLSX = require('xlsx');
const [input, output] = process.argv.slice(2);
const book = XLSX.readFile(input, {cellNF: true, cellStyles: true, cellDates: false});
XLSX.writeFile(book, output, {bookType: 'xlsb', cellStyles: true});
