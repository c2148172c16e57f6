#!/usr/bin/env node
// How much of a tileset CesiumJS asks for, in headless Chromium (SwiftShader) at 1280 x 720:
// the share of the tileset's bytes requested (a) for the whole city seen from straight above,
// framed, and (b) for a street-level view of one block near the city's centre (the eye 2 m
// above a street, looking north 10 degrees down). Each view starts in a fresh browser, so its
// requests are its own; CesiumJS must report every tile loaded (tilesLoaded) before counting.
// Usage: node bench/tiles-bytes.js DIR        (DIR/tileset.json)
// Prints one line a view: requests, bytes, share of the tileset's bytes, levels drawn, time.
"use strict";
const fs = require("fs");
const path = require("path");
const { serve, open } = require("../tools/tiles/browser");
const { readTileset, toEcef } = require("../tests/tiles/targets");
const { parseGlb, primitives, zUp } = require("../tools/tiles/glb");

const dir = process.argv[2];
if (!dir) {
    console.error("usage: tiles-bytes.js DIR");
    process.exit(2);
}
const WIDTH = 1280;
const HEIGHT = 720;

function folderBytes(d) {
    let n = 0;
    for (const e of fs.readdirSync(d, { withFileTypes: true })) {
        const p = path.join(d, e.name);
        n += e.isDirectory() ? folderBytes(p) : fs.statSync(p).size;
    }
    return n;
}

// The bounds (z-up) of a .glb's positions from its accessors' min and max, reading its JSON alone.
function jsonBounds(file) {
    const fd = fs.openSync(file, "r");
    try {
        const head = Buffer.alloc(20);
        fs.readSync(fd, head, 0, 20, 0);
        const json = Buffer.alloc(head.readUInt32LE(12));
        fs.readSync(fd, json, 0, json.length, 20);
        const gltf = JSON.parse(json.toString("utf8"));
        const min = [Infinity, Infinity, Infinity];
        const max = [-Infinity, -Infinity, -Infinity];
        for (const mesh of gltf.meshes || [])
            for (const p of mesh.primitives) {
                const a = gltf.accessors[p.attributes.POSITION];
                const lo = zUp(a.min);
                const hi = zUp(a.max);
                for (let i = 0; i < 3; ++i) {
                    min[i] = Math.min(min[i], lo[i], hi[i]);
                    max[i] = Math.max(max[i], lo[i], hi[i]);
                }
            }
        return { min, max };
    } finally {
        fs.closeSync(fd);
    }
}

// A point of the street near the middle of the leaf tile nearest the city's centre: the
// sample of a 1 m grid closest to that tile's centre that no triangle above 0.5 m covers.
function streetPoint(tileset, centre) {
    const leaves = tileset.contents.filter((c) => c.level === tileset.leafLevel);
    const distance = (c) => {
        const b = jsonBounds(c.file);
        return Math.hypot((b.min[0] + b.max[0]) / 2 - centre[0], (b.min[1] + b.max[1]) / 2 - centre[1]);
    };
    for (const c of leaves) c.distance = distance(c);
    leaves.sort((a, b) => a.distance - b.distance);
    const glb = parseGlb(fs.readFileSync(leaves[0].file));
    const tris = [];
    const min = [Infinity, Infinity];
    const max = [-Infinity, -Infinity];
    for (const prim of primitives(glb)) {
        const pos = prim.positions.map(zUp);
        for (const p of pos) {
            min[0] = Math.min(min[0], p[0]); min[1] = Math.min(min[1], p[1]);
            max[0] = Math.max(max[0], p[0]); max[1] = Math.max(max[1], p[1]);
        }
        for (let i = 0; i + 2 < prim.indices.length; i += 3)
            tris.push([pos[prim.indices[i]], pos[prim.indices[i + 1]], pos[prim.indices[i + 2]]]);
    }
    const covered = (x, y) => tris.some(([a, b, c]) => {
        if (Math.max(a[2], b[2], c[2]) < 0.5) return false;
        const d = (b[1] - c[1]) * (a[0] - c[0]) + (c[0] - b[0]) * (a[1] - c[1]);
        if (Math.abs(d) < 1e-12) return false;
        const l1 = ((b[1] - c[1]) * (x - c[0]) + (c[0] - b[0]) * (y - c[1])) / d;
        const l2 = ((c[1] - a[1]) * (x - c[0]) + (a[0] - c[0]) * (y - c[1])) / d;
        return l1 >= 0 && l2 >= 0 && 1 - l1 - l2 >= 0;
    });
    const mid = [(min[0] + max[0]) / 2, (min[1] + max[1]) / 2];
    for (let r = 0; r < 200; ++r)
        for (let dx = -r; dx <= r; ++dx)
            for (const dy of [-r, r]) {
                for (const [x, y] of [[mid[0] + dx, mid[1] + dy], [mid[0] + dy, mid[1] + dx]])
                    if (!covered(x, y)) return [x, y];
            }
    return mid;
}

async function measure(server, name, eye, heading, pitch, total) {
    const { browser, page } = await open(WIDTH, HEIGHT);
    try {
        const start = Date.now();
        await page.goto(`${server.url}test/cesium.html`, { waitUntil: "load", timeout: 600000 });
        await page.evaluate(() => window.reader.load("/tiles/tileset.json"));
        const levels = await page.evaluate((e, h, p) => window.reader.look(e, h, p), eye, heading, pitch);
        const seconds = (Date.now() - start) / 1000;
        let bytes = 0;
        let requests = 0;
        for (const [url, n] of page.bytes)
            if (url.includes("/tiles/")) {
                bytes += n;
                ++requests;
            }
        const failures = await page.evaluate(() => window.reader.failures.length);
        console.log(`${name}: ${requests} requests, ${bytes} of ${total} bytes (${((100 * bytes) / total).toFixed(2)} %), ` +
            `levels drawn ${levels.join(",")}, ${failures} failed tiles, ${page.outside.length} requests outside 127.0.0.1, ${seconds.toFixed(1)} s`);
    } finally {
        await browser.close();
    }
}

(async () => {
    const tileset = readTileset(dir);
    const total = folderBytes(dir);
    const t = tileset.transform;
    const box = tileset.json.root.boundingVolume.box;
    const half = [Math.abs(box[3]) + Math.abs(box[6]), Math.abs(box[4]) + Math.abs(box[7]), Math.abs(box[5]) + Math.abs(box[11])];
    const top = box[2] + half[2];
    const height = top + (1.05 * Math.max(2 * half[0], (2 * half[1] * WIDTH) / HEIGHT)) / (2 * Math.tan(Math.PI / 6));
    const server = await serve(dir, [`/test=${path.join(__dirname, "..", "tools", "tiles", "pages")}`]);
    try {
        console.log(`tileset: ${total} bytes in ${tileset.contents.length} content tiles, leaves on level ${tileset.leafLevel}`);
        await measure(server, "whole city from above", toEcef(t, [box[0], box[1], height]), 0, -90, total);
        const street = streetPoint(tileset, [box[0], box[1]]);
        await measure(server, `street level at (${street[0].toFixed(0)}, ${street[1].toFixed(0)})`,
            toEcef(t, [street[0], street[1], 2]), 0, -10, total);
    } finally {
        server.stop();
    }
})().catch((e) => {
    console.error(String(e && e.stack || e));
    process.exit(1);
});
