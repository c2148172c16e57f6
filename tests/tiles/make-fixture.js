#!/usr/bin/env node
// Writes a small hand-made 3D Tiles 1.1 tileset into FOLDER, for the tile readers' own tests:
// a 4 x 4 cell city of box buildings (20 m cells, one building a cell, building number
// column * 4 + row) in an implicit quadtree of two levels: the root tile holds every building,
// the four leaves a 2 x 2 block of cells each; one subtree file; .glb content with
// EXT_mesh_features and EXT_structural_metadata. Usage: make-fixture.js FOLDER [BREAK]
// BREAK spoils one rule on purpose, so the rule checker's test sees it refused:
//   no-refine, error-grows, subtree-magic, subtree-length, availability, outside-box
"use strict";
const fs = require("fs");
const path = require("path");

const folder = process.argv[2];
const spoil = process.argv[3] || "";
if (!folder) {
    console.error("usage: make-fixture.js FOLDER [BREAK]");
    process.exit(2);
}

const CELLS = 4;
const CELL = 20;
const SIDE = 12;
const buildings = [];
for (let column = 0; column < CELLS; ++column)
    for (let row = 0; row < CELLS; ++row) {
        const number = column * CELLS + row;
        buildings.push({
            number, column, row,
            height: 10 + 3 * number,
            name: number % 3 === 0 ? `tower_${number}` : "",
            definition: `fixture.xml:${10 + number}`,
            x: column * CELL + (CELL - SIDE) / 2,
            y: row * CELL + (CELL - SIDE) / 2,
        });
    }
const top = Math.max(...buildings.map((b) => b.height));

function pad(buffer, to, fill) {
    const extra = (to - (buffer.length % to)) % to;
    return extra ? Buffer.concat([buffer, Buffer.alloc(extra, fill)]) : buffer;
}

// A .glb of boxes, one feature each, y-up as glTF wants it.
function glbOf(list) {
    const pos = [];
    const ids = [];
    const idx = [];
    list.forEach((b, feature) => {
        const x0 = b.x, x1 = b.x + SIDE, y0 = b.y, y1 = b.y + SIDE, z0 = 0, z1 = b.height;
        const faces = [
            [[x0, y0, z1], [x1, y0, z1], [x1, y1, z1], [x0, y1, z1]], // roof
            [[x0, y0, z0], [x1, y0, z0], [x1, y0, z1], [x0, y0, z1]], // south
            [[x1, y0, z0], [x1, y1, z0], [x1, y1, z1], [x1, y0, z1]], // east
            [[x1, y1, z0], [x0, y1, z0], [x0, y1, z1], [x1, y1, z1]], // north
            [[x0, y1, z0], [x0, y0, z0], [x0, y0, z1], [x0, y1, z1]], // west
        ];
        for (const f of faces) {
            const base = pos.length / 3;
            for (const [x, y, z] of f) {
                pos.push(x, z, -y);
                ids.push(feature);
            }
            idx.push(base, base + 1, base + 2, base, base + 2, base + 3);
        }
    });
    const n = pos.length / 3;
    const min = [Infinity, Infinity, Infinity];
    const max = [-Infinity, -Infinity, -Infinity];
    for (let i = 0; i < n; ++i)
        for (let c = 0; c < 3; ++c) {
            min[c] = Math.min(min[c], pos[i * 3 + c]);
            max[c] = Math.max(max[c], pos[i * 3 + c]);
        }
    const views = [];
    const chunks = [];
    let length = 0;
    const add = (buffer, target) => {
        buffer = pad(buffer, 8, 0);
        const view = { buffer: 0, byteOffset: length, byteLength: buffer.length };
        if (target) view.target = target;
        views.push(view);
        chunks.push(buffer);
        length += buffer.length;
        return views.length - 1;
    };
    const f32 = (a) => Buffer.from(new Float32Array(a).buffer);
    const u32 = (a) => Buffer.from(new Uint32Array(a).buffer);
    const posView = add(f32(pos), 34962);
    const idView = add(f32(ids), 34962);
    const idxView = add(u32(idx), 34963);
    const num = add(u32(list.map((b) => b.number)));
    const col = add(u32(list.map((b) => b.column)));
    const row = add(u32(list.map((b) => b.row)));
    const hgt = add(f32(list.map((b) => b.height)));
    const strings = (key) => {
        const bytes = list.map((b) => Buffer.from(b[key], "utf8"));
        const offsets = [0];
        for (const b of bytes) offsets.push(offsets[offsets.length - 1] + b.length);
        // a view may not be empty: an empty column still holds its padding
        const data = Buffer.concat(bytes);
        return [add(data.length ? data : Buffer.alloc(8)), add(u32(offsets))];
    };
    const [names, nameOffsets] = strings("name");
    const [defs, defOffsets] = strings("definition");
    views[names].byteLength = Math.max(1, list.reduce((s, b) => s + Buffer.byteLength(b.name), 0));
    views[defs].byteLength = list.reduce((s, b) => s + Buffer.byteLength(b.definition), 0);
    views[posView].byteLength = n * 12;
    views[idView].byteLength = n * 4;
    views[idxView].byteLength = idx.length * 4;
    for (const v of [num, col, row, hgt]) views[v].byteLength = list.length * 4;
    views[nameOffsets].byteLength = views[defOffsets].byteLength = (list.length + 1) * 4;
    const bin = Buffer.concat(chunks);
    const prop = (description, componentType) => ({ description, type: "SCALAR", componentType });
    const json = {
        asset: { version: "2.0", generator: "Ombrel tile readers' fixture" },
        extensionsUsed: ["EXT_mesh_features", "EXT_structural_metadata"],
        scene: 0,
        scenes: [{ nodes: [0] }],
        nodes: [{ mesh: 0 }],
        meshes: [{
            primitives: [{
                attributes: { POSITION: 0, _FEATURE_ID_0: 1 },
                indices: 2,
                material: 0,
                mode: 4,
                extensions: { EXT_mesh_features: { featureIds: [{ featureCount: list.length, attribute: 0, propertyTable: 0 }] } },
            }],
        }],
        materials: [{ pbrMetallicRoughness: { baseColorFactor: [0.8, 0.7, 0.6, 1], metallicFactor: 0 } }],
        accessors: [
            { bufferView: posView, componentType: 5126, count: n, type: "VEC3", min, max },
            { bufferView: idView, componentType: 5126, count: n, type: "SCALAR" },
            { bufferView: idxView, componentType: 5125, count: idx.length, type: "SCALAR" },
        ],
        bufferViews: views,
        buffers: [{ byteLength: bin.length }],
        extensions: {
            EXT_structural_metadata: {
                schema: {
                    id: "fixture",
                    classes: {
                        building: {
                            properties: {
                                number: prop("number", "UINT32"),
                                column: prop("column", "UINT32"),
                                row: prop("row", "UINT32"),
                                height: prop("height", "FLOAT32"),
                                name: { type: "STRING" },
                                definition: { type: "STRING" },
                            },
                        },
                    },
                },
                propertyTables: [{
                    class: "building",
                    count: list.length,
                    properties: {
                        number: { values: num }, column: { values: col }, row: { values: row },
                        height: { values: hgt },
                        name: { values: names, stringOffsets: nameOffsets, stringOffsetType: "UINT32" },
                        definition: { values: defs, stringOffsets: defOffsets, stringOffsetType: "UINT32" },
                    },
                }],
            },
        },
    };
    const jsonBytes = pad(Buffer.from(JSON.stringify(json), "utf8"), 4, 0x20);
    const header = Buffer.alloc(12);
    const total = 12 + 8 + jsonBytes.length + 8 + bin.length;
    header.writeUInt32LE(0x46546c67, 0);
    header.writeUInt32LE(2, 4);
    header.writeUInt32LE(total, 8);
    const jh = Buffer.alloc(8);
    jh.writeUInt32LE(jsonBytes.length, 0);
    jh.writeUInt32LE(0x4e4f534a, 4);
    const bh = Buffer.alloc(8);
    bh.writeUInt32LE(bin.length, 0);
    bh.writeUInt32LE(0x004e4942, 4);
    return Buffer.concat([header, jh, jsonBytes, bh, bin]);
}

// The east-north-up frame at LAT,LON,HEIGHT on WGS84, column-major, as the root's transform.
function enu(latDeg, lonDeg, h) {
    const a = 6378137, e2 = 6.69437999014e-3;
    const lat = (latDeg * Math.PI) / 180, lon = (lonDeg * Math.PI) / 180;
    const n = a / Math.sqrt(1 - e2 * Math.sin(lat) ** 2);
    const p = [(n + h) * Math.cos(lat) * Math.cos(lon), (n + h) * Math.cos(lat) * Math.sin(lon), (n * (1 - e2) + h) * Math.sin(lat)];
    const east = [-Math.sin(lon), Math.cos(lon), 0];
    const north = [-Math.sin(lat) * Math.cos(lon), -Math.sin(lat) * Math.sin(lon), Math.cos(lat)];
    const up = [Math.cos(lat) * Math.cos(lon), Math.cos(lat) * Math.sin(lon), Math.sin(lat)];
    return [...east, 0, ...north, 0, ...up, 0, ...p, 1];
}

fs.mkdirSync(path.join(folder, "subtrees"), { recursive: true });
const side = CELLS * CELL;
const tileset = {
    asset: { version: "1.1", generator: "Ombrel tile readers' fixture", extras: { origin: [48.8566, 2.3522, 35] } },
    geometricError: 200,
    root: {
        transform: enu(48.8566, 2.3522, 35),
        boundingVolume: { box: [side / 2, side / 2, top / 2, side / 2, 0, 0, 0, side / 2, 0, 0, 0, top / 2] },
        geometricError: spoil === "error-grows" ? 250 : 40,
        content: { uri: "tiles/{level}/{x}/{y}.glb" },
        implicitTiling: {
            subdivisionScheme: "QUADTREE",
            subtreeLevels: 2,
            availableLevels: 2,
            subtrees: { uri: "subtrees/{level}.{x}.{y}.subtree" },
        },
    },
};
if (spoil !== "no-refine") tileset.root.refine = "REPLACE";
if (spoil === "outside-box") tileset.root.boundingVolume.box[11] = top / 4;
fs.writeFileSync(path.join(folder, "tileset.json"), JSON.stringify(tileset, null, 1));

// Level 0 holds every building; leaf (x, y) of level 1 holds columns 2x, 2x+1 and rows 2y, 2y+1.
const write = (level, x, y, list) => {
    const dir = path.join(folder, "tiles", String(level), String(x));
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, `${y}.glb`), glbOf(list));
};
write(0, 0, 0, buildings);
for (let x = 0; x < 2; ++x)
    for (let y = 0; y < 2; ++y)
        write(1, x, y, buildings.filter((b) => b.column >> 1 === x && b.row >> 1 === y));

// The subtree: every tile available (a constant), content availability as a bitstream (five
// tiles: bits 0..4), no child subtrees.
const bits = Buffer.alloc(8);
bits[0] = spoil === "availability" ? 0x3f : 0x1f;
const subtreeJson = {
    buffers: [{ byteLength: 8 }],
    bufferViews: [{ buffer: 0, byteOffset: 0, byteLength: 1 }],
    tileAvailability: { constant: 1 },
    contentAvailability: [{ bitstream: 0, availableCount: 5 }],
    childSubtreeAvailability: { constant: 0 },
};
if (spoil === "availability") subtreeJson.tileAvailability = { constant: 0 };
const jsonBytes = pad(Buffer.from(JSON.stringify(subtreeJson), "utf8"), 8, 0x20);
const header = Buffer.alloc(24);
header.write(spoil === "subtree-magic" ? "sbut" : "subt", 0, "ascii");
header.writeUInt32LE(1, 4);
header.writeBigUInt64LE(BigInt(jsonBytes.length), 8);
header.writeBigUInt64LE(BigInt(spoil === "subtree-length" ? 16 : 8), 16);
fs.writeFileSync(path.join(folder, "subtrees", "0.0.0.subtree"), Buffer.concat([header, jsonBytes, bits]));
