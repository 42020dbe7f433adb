// Encrypts an .xlsx with Agile encryption (AES-256, SHA-512, 100,000 spins, with the
// data-integrity HMAC) using the npm package officecrypto-tool 0.0.19:
//   npm install officecrypto-tool@0.0.19 && node agile_encrypt.js IN.xlsx OUT.xlsx PASSWORD
const officeCrypto = require('officecrypto-tool');
const fs = require('fs');
const [input, output, password] = process.argv.slice(2);
fs.writeFileSync(output, officeCrypto.encrypt(fs.readFileSync(input), {password}));
