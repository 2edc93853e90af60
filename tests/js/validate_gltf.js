// Runs Khronos' glTF validator on each file named on the command line (.gltf or .glb, with the
// files it refers to read from beside it) and prints its messages. Exits 1 when any file has an
// error or a warning, 0 otherwise; infos and hints are printed but accepted.
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

async function validate(file) {
  const folder = path.dirname(file);
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
    uri: path.basename(file),
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.join(folder, decodeURIComponent(uri)), (error, data) =>
          error ? reject(error.toString()) : resolve(new Uint8Array(data)));
      }),
  });
  const issues = report.issues;
  for (const message of issues.messages) {
    const severity = ['error', 'warning', 'info', 'hint'][message.severity];
    console.log(`${file}: ${severity} ${message.code} at ${message.pointer || '-'}: ${message.message}`);
  }
  console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
              `${issues.numInfos} infos, ${issues.numHints} hints`);
  return issues.numErrors === 0 && issues.numWarnings === 0;
}

(async () => {
  const files = process.argv.slice(2);
  if (files.length === 0) {
    console.error('usage: node validate_gltf.js FILE.gltf|FILE.glb ...');
    process.exit(2);
  }
  let clean = true;
  for (const file of files) clean = (await validate(file)) && clean;
  process.exit(clean ? 0 : 1);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
