// What the reader tests expect, read from a tileset's own files: its root transform, its content
// files by level, and its buildings with a roof point that a view from straight above certainly
// shows (found by casting rays down through every triangle of the building's tile).
"use strict";
const fs = require("fs");
const path = require("path");
const { parseGlb, primitives, propertyTable, zUp } = require("../../tools/tiles/glb");

// { json, transform (column-major 4x4), contents: [{ level, x, y, file }], leafLevel }
function readTileset(dir) {
    const json = JSON.parse(fs.readFileSync(path.join(dir, "tileset.json"), "utf8"));
    const transform = json.root.transform || [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1];
    const template = json.root.content && json.root.content.uri;
    if (!json.root.implicitTiling || !template) throw new Error("not an implicit tileset with content");
    const names = [];
    const pattern = new RegExp(
        "^" + template.replace(/[.*+?^$()|[\]\\]/g, "\\$&").replace(/\{(level|x|y)\}/g, (_, n) => (names.push(n), "(\\d+)")) + "$");
    const contents = [];
    const walk = (d) => {
        for (const e of fs.readdirSync(d, { withFileTypes: true })) {
            const p = path.join(d, e.name);
            if (e.isDirectory()) walk(p);
            else {
                const m = pattern.exec(path.relative(dir, p).split(path.sep).join("/"));
                if (!m) continue;
                const c = { file: p };
                names.forEach((n, i) => (c[n] = Number(m[i + 1])));
                contents.push(c);
            }
        }
    };
    walk(dir);
    contents.sort((a, b) => a.level - b.level || a.x - b.x || a.y - b.y);
    const leafLevel = Math.max(...contents.map((c) => c.level));
    return { json, transform, contents, leafLevel };
}

function toEcef(t, p) {
    return [
        t[0] * p[0] + t[4] * p[1] + t[8] * p[2] + t[12],
        t[1] * p[0] + t[5] * p[1] + t[9] * p[2] + t[13],
        t[2] * p[0] + t[6] * p[1] + t[10] * p[2] + t[14],
    ];
}

// The triangles of a content file in tileset coordinates (z-up), each with the row of its
// building in the tile's property table (-1 for triangles of no building), and the table.
function trianglesOf(file) {
    const glb = parseGlb(fs.readFileSync(file));
    const tris = [];
    let table = null;
    for (const prim of primitives(glb)) {
        if (prim.mode !== 4) continue;
        const pos = prim.positions.map(zUp);
        if (prim.propertyTable !== undefined && !table) table = propertyTable(glb, prim.propertyTable);
        for (let i = 0; i + 2 < prim.indices.length; i += 3) {
            const [a, b, c] = [prim.indices[i], prim.indices[i + 1], prim.indices[i + 2]];
            const f = prim.featureIds ? prim.featureIds[a] : -1;
            tris.push({ a: pos[a], b: pos[b], c: pos[c], feature: f });
        }
    }
    return { tris, table: table || [] };
}

// The topmost triangle under (x, y): { z, feature } or null.
function castDown(tris, x, y) {
    let best = null;
    for (const t of tris) {
        const { a, b, c } = t;
        const d = (b[1] - c[1]) * (a[0] - c[0]) + (c[0] - b[0]) * (a[1] - c[1]);
        if (Math.abs(d) < 1e-12) continue; // a wall, seen edge on from above
        const l1 = ((b[1] - c[1]) * (x - c[0]) + (c[0] - b[0]) * (y - c[1])) / d;
        const l2 = ((c[1] - a[1]) * (x - c[0]) + (a[0] - c[0]) * (y - c[1])) / d;
        const l3 = 1 - l1 - l2;
        if (l1 < -1e-9 || l2 < -1e-9 || l3 < -1e-9) continue;
        const z = l1 * a[2] + l2 * b[2] + l3 * c[2];
        if (!best || z > best.z) best = { z, feature: t.feature };
    }
    return best;
}

// The buildings of a content file: their properties and bounds, and roof(b), the point of b's
// roof that a view from straight above shows at the centre of its bounds (and 1 m around it, so
// that a pixel off still lands on it), or null when another building or nothing lies there.
function buildingsOf(file) {
    const { tris, table } = trianglesOf(file);
    const bounds = new Map();
    for (const t of tris) {
        if (t.feature < 0) continue;
        let b = bounds.get(t.feature);
        if (!b) bounds.set(t.feature, (b = { min: [Infinity, Infinity, Infinity], max: [-Infinity, -Infinity, -Infinity] }));
        for (const p of [t.a, t.b, t.c])
            for (let i = 0; i < 3; ++i) {
                b.min[i] = Math.min(b.min[i], p[i]);
                b.max[i] = Math.max(b.max[i], p[i]);
            }
    }
    const list = [];
    for (const [feature, b] of bounds) list.push({ feature, ...table[feature], min: b.min, max: b.max, file });
    const roof = (b) => {
        const cx = (b.min[0] + b.max[0]) / 2;
        const cy = (b.min[1] + b.max[1]) / 2;
        const r = Math.min(1, (b.max[0] - b.min[0]) / 4, (b.max[1] - b.min[1]) / 4);
        const hits = [[0, 0], [r, 0], [-r, 0], [0, r], [0, -r]].map(([dx, dy]) => castDown(tris, cx + dx, cy + dy));
        return hits.every((h) => h && h.feature === b.feature) ? [cx, cy, hits[0].z] : null;
    };
    return { list, roof };
}

module.exports = { readTileset, toEcef, buildingsOf };
