#!/usr/bin/env node
// Runs the Khronos glTF validator on one .gltf or .glb file and prints one summary line:
//   errors=N warnings=N infos=N hints=N triangles=N vertices=N
// followed by every error and warning, one a line. Exit status 0 when the file has neither
// errors nor warnings, 1 when it has some, 2 when it could not be read or validated at all.
// Given several files (the tiles of a tileset), checks each in turn, each report preceded by a
// line "file=PATH", and the status is the worst of them.
// Usage: tools/validate-gltf.js FILE...
"use strict";
const fs = require("fs");
const path = require("path");
const validator = require("gltf-validator");

const files = process.argv.slice(2);
if (files.length === 0) {
    console.error("usage: validate-gltf.js FILE...");
    process.exit(2);
}

// The report of one file; resolves to its status.
function validate(file) {
    let bytes;
    try {
        bytes = fs.readFileSync(file);
    } catch (e) {
        console.error(String(e));
        return Promise.resolve(2);
    }
    return validator
        .validateBytes(new Uint8Array(bytes), {
            uri: path.basename(file),
            maxIssues: 0,
            writeTimestamp: false,
            externalResourceFunction: (uri) =>
                new Promise((resolve, reject) => {
                    const target = path.resolve(path.dirname(file), decodeURIComponent(uri));
                    fs.readFile(target, (err, data) => (err ? reject(String(err)) : resolve(data)));
                }),
        })
        .then((report) => {
            const i = report.issues;
            const info = report.info || {};
            console.log(
                `errors=${i.numErrors} warnings=${i.numWarnings} infos=${i.numInfos} ` +
                    `hints=${i.numHints} triangles=${info.totalTriangleCount} ` +
                    `vertices=${info.totalVertexCount}`
            );
            for (const m of i.messages)
                if (m.severity <= 1)
                    console.log(`${m.severity === 0 ? "error" : "warning"} ${m.code} ${m.pointer || ""} ${m.message}`);
            if (process.env.VALIDATE_GLTF_ALL)
                for (const m of i.messages)
                    if (m.severity > 1) console.log(`info/hint ${m.code} ${m.pointer || ""} ${m.message}`);
            return i.numErrors === 0 && i.numWarnings === 0 ? 0 : 1;
        })
        .catch((e) => {
            console.error(String(e));
            return 2;
        });
}

(async () => {
    let worst = 0;
    for (const file of files) {
        if (files.length > 1) console.log(`file=${file}`);
        worst = Math.max(worst, await validate(file));
    }
    process.exit(worst);
})();
