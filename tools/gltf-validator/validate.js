// Validates one .glb with the Khronos glTF validator and prints its findings,
// one line each ("error CODE pointer: message"). Exit status: 0 when it found
// no error, 1 when it found some, 2 when the file could not be read.
//   node tools/gltf-validator/validate.js FILE.glb
const fs = require("fs");
const validator = require("gltf-validator");

const severities = ["error", "warning", "info", "hint"];
let bytes;
try {
    bytes = new Uint8Array(fs.readFileSync(process.argv[2]));
} catch (e) {
    console.log(`cannot read ${process.argv[2]}: ${e.message}`);
    process.exit(2);
}
validator
    .validateBytes(bytes, { maxIssues: 100 })
    .then((report) => {
        for (const m of report.issues.messages)
            console.log(`${severities[m.severity]} ${m.code} ${m.pointer || ""}: ${m.message}`);
        console.log(`errors: ${report.issues.numErrors}, warnings: ${report.issues.numWarnings}`);
        process.exit(report.issues.numErrors ? 1 : 0);
    })
    .catch((e) => {
        console.log(`validator failed: ${e}`);
        process.exit(2);
    });
