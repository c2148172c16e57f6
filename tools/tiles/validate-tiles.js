#!/usr/bin/env node
// Runs the Khronos glTF validator on every .glb under a tileset folder, in one process.
// Prints each error and warning as "FILE severity CODE POINTER MESSAGE", then one line
//   files=N errors=N warnings=N
// Exit status 0 when no file has errors or warnings, 1 when some have, 2 when none was found or a
// file could not be validated at all.
// Usage: validate-tiles.js DIR
"use strict";
const fs = require("fs");
const path = require("path");
const validator = require("gltf-validator");

const dir = process.argv[2];
if (!dir) {
    console.error("usage: validate-tiles.js DIR");
    process.exit(2);
}
const files = [];
const walk = (d) => {
    for (const e of fs.readdirSync(d, { withFileTypes: true }).sort((a, b) => a.name.localeCompare(b.name))) {
        const p = path.join(d, e.name);
        if (e.isDirectory()) walk(p);
        else if (e.name.endsWith(".glb")) files.push(p);
    }
};
walk(dir);
(async () => {
    let errors = 0;
    let warnings = 0;
    let broken = 0;
    for (const file of files) {
        const rel = path.relative(dir, file);
        try {
            const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
                uri: path.basename(file),
                maxIssues: 0,
                writeTimestamp: false,
                externalResourceFunction: (uri) =>
                    new Promise((resolve, reject) =>
                        fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)), (err, data) =>
                            err ? reject(String(err)) : resolve(data))),
            });
            errors += report.issues.numErrors;
            warnings += report.issues.numWarnings;
            for (const m of report.issues.messages)
                if (m.severity <= 1)
                    console.log(`${rel} ${m.severity === 0 ? "error" : "warning"} ${m.code} ${m.pointer || ""} ${m.message}`);
        } catch (e) {
            ++broken;
            console.log(`${rel} could not be validated: ${e}`);
        }
    }
    console.log(`files=${files.length} errors=${errors} warnings=${warnings}`);
    process.exit(broken || files.length === 0 ? 2 : errors || warnings ? 1 : 0);
})();
