#!/usr/bin/env node
// Checks a 3D Tiles 1.1 tileset folder against the rules its writer relies on, without a
// renderer: tileset.json's required properties and refinement; for implicit tiling, every
// subtree file (header magic, version, JSON and binary lengths, buffers and buffer views, the
// availability of tiles, contents and child subtrees, and that they agree with each other and
// with the files present); geometric errors decreasing from parent to child (and 0 at the
// leaves with --leaf-error-zero); every content vertex, turned from glTF's y-up to z-up, inside
// its tile's bounding box (and content box when given).
// Usage: check-tileset.js [--leaf-error-zero] DIR
// Prints every broken rule on a line of its own, then a summary line
//   tiles=N contents=N subtrees=N levels=N problems=N
// Exit status 0 when no rule is broken, 1 when some are, 2 on bad usage.
"use strict";
const fs = require("fs");
const path = require("path");
const { parseGlb, primitives, zUp } = require("./glb");

const args = process.argv.slice(2);
const leafErrorZero = args.includes("--leaf-error-zero");
const dir = args.filter((a) => !a.startsWith("--"))[0];
if (!dir) {
    console.error("usage: check-tileset.js [--leaf-error-zero] DIR");
    process.exit(2);
}

const problems = [];
const problem = (where, what) => problems.push(`${where}: ${what}`);
const counts = { tiles: 0, contents: 0, subtrees: 0, levels: 0 };
const MAX_PROBLEMS = 200;

const isNumber = (v) => typeof v === "number" && Number.isFinite(v);
const isArrayOf = (v, n) => Array.isArray(v) && v.length === n && v.every(isNumber);

function readJson(file, where) {
    try {
        return JSON.parse(fs.readFileSync(file, "utf8"));
    } catch (e) {
        problem(where, `cannot be read as JSON (${e.message})`);
        return null;
    }
}

// The oriented box of a tile: { center, axes (three half-axis vectors) }; null for other volumes.
function boxOf(volume, where) {
    if (!volume || typeof volume !== "object") {
        problem(where, "boundingVolume is missing");
        return null;
    }
    if (volume.box !== undefined) {
        if (!isArrayOf(volume.box, 12)) {
            problem(where, "boundingVolume.box is not 12 numbers");
            return null;
        }
        const b = volume.box;
        return { center: b.slice(0, 3), axes: [b.slice(3, 6), b.slice(6, 9), b.slice(9, 12)] };
    }
    if (volume.region !== undefined) {
        if (!isArrayOf(volume.region, 6)) problem(where, "boundingVolume.region is not 6 numbers");
        return null;
    }
    if (volume.sphere !== undefined) {
        if (!isArrayOf(volume.sphere, 4)) problem(where, "boundingVolume.sphere is not 4 numbers");
        return null;
    }
    problem(where, "boundingVolume has neither box, region nor sphere");
    return null;
}

const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];

// Problems of the vertices of `glbFile` outside `box` (tileset coordinates, z-up).
function checkInside(glbFile, boxes, where) {
    let glb;
    try {
        glb = parseGlb(fs.readFileSync(glbFile));
    } catch (e) {
        problem(where, `content ${path.relative(dir, glbFile)} cannot be read (${e.message})`);
        return;
    }
    for (const [name, box] of boxes) {
        if (!box) continue;
        let worst = 0;
        let worstPoint = null;
        for (const prim of primitives(glb))
            for (const p of prim.positions) {
                const q = zUp(p);
                const d = [q[0] - box.center[0], q[1] - box.center[1], q[2] - box.center[2]];
                for (const axis of box.axes) {
                    const len2 = dot(axis, axis);
                    const len = Math.sqrt(len2);
                    const over = Math.abs(dot(d, axis)) / (len || 1) - len;
                    if (over > worst) {
                        worst = over;
                        worstPoint = q;
                    }
                }
            }
        if (worst > 1e-3 + 1e-5 * Math.hypot(...box.center))
            problem(where, `a vertex of ${path.relative(dir, glbFile)} lies ${worst.toFixed(4)} outside its ${name} ` +
                `(${worstPoint.map((v) => v.toFixed(3)).join(", ")})`);
    }
}

function fill(template, level, x, y, z) {
    return template
        .replace(/\{level\}/g, level)
        .replace(/\{x\}/g, x)
        .replace(/\{y\}/g, y)
        .replace(/\{z\}/g, z === undefined ? "" : z);
}

function morton2(x, y) {
    let m = 0n;
    for (let i = 0n; i < 32n; ++i) {
        m |= BigInt((x >>> Number(i)) & 1) << (2n * i);
        m |= BigInt((y >>> Number(i)) & 1) << (2n * i + 1n);
    }
    return Number(m);
}

// Reads one availability ({constant} or {bitstream, availableCount}) of `bits` bits: a function
// bit index -> available, and the count of available bits; null when broken.
function availability(a, bits, subtree, where, name) {
    if (!a || typeof a !== "object") {
        problem(where, `${name} is missing`);
        return null;
    }
    if (a.constant !== undefined) {
        if (a.constant !== 0 && a.constant !== 1) {
            problem(where, `${name}.constant is ${a.constant}, not 0 or 1`);
            return null;
        }
        return { at: () => a.constant === 1, count: a.constant * bits };
    }
    if (a.bitstream === undefined) {
        problem(where, `${name} has neither constant nor bitstream`);
        return null;
    }
    const bytes = subtree.view(a.bitstream, `${name}.bitstream`);
    if (!bytes) return null;
    if (bytes.length < Math.ceil(bits / 8)) {
        problem(where, `${name} holds ${bytes.length} bytes for ${bits} bits`);
        return null;
    }
    const at = (i) => ((bytes[i >> 3] >> (i & 7)) & 1) === 1;
    let count = 0;
    for (let i = 0; i < bits; ++i) if (at(i)) ++count;
    if (a.availableCount !== undefined && a.availableCount !== count)
        problem(where, `${name}.availableCount is ${a.availableCount} but ${count} bits are set`);
    return { at, count };
}

// Reads a subtree file: header, JSON, binary chunk, buffers and views. Returns
// { json, view(index, name) -> bytes or null } or null when it cannot be read at all.
function readSubtree(file, where) {
    let bytes;
    try {
        bytes = fs.readFileSync(file);
    } catch (e) {
        problem(where, `is missing (${e.code || e.message})`);
        return null;
    }
    if (bytes.length < 24) {
        problem(where, `has ${bytes.length} bytes, less than a subtree header`);
        return null;
    }
    if (bytes.toString("latin1", 0, 4) !== "subt") problem(where, `magic is ${JSON.stringify(bytes.toString("latin1", 0, 4))}, not "subt"`);
    const version = bytes.readUInt32LE(4);
    if (version !== 1) problem(where, `version is ${version}, not 1`);
    const jsonLength = Number(bytes.readBigUInt64LE(8));
    const binLength = Number(bytes.readBigUInt64LE(16));
    if (24 + jsonLength + binLength !== bytes.length) {
        problem(where, `header says ${jsonLength} bytes of JSON and ${binLength} of binary, the file holds ${bytes.length - 24} after the header`);
        return null;
    }
    if (jsonLength === 0) {
        problem(where, "has no JSON");
        return null;
    }
    if (jsonLength % 8 !== 0) problem(where, `JSON length ${jsonLength} is not a multiple of 8`);
    if (binLength % 8 !== 0) problem(where, `binary length ${binLength} is not a multiple of 8`);
    let json;
    try {
        json = JSON.parse(bytes.toString("utf8", 24, 24 + jsonLength));
    } catch (e) {
        problem(where, `JSON cannot be parsed (${e.message})`);
        return null;
    }
    const bin = bytes.subarray(24 + jsonLength);
    const buffers = (json.buffers || []).map((b, i) => {
        if (!isNumber(b.byteLength) || b.byteLength < 1) problem(where, `buffers[${i}].byteLength is missing or not positive`);
        if (b.uri === undefined) {
            if (b.byteLength > bin.length) problem(where, `buffers[${i}] needs ${b.byteLength} bytes, the binary chunk holds ${bin.length}`);
            return bin.subarray(0, b.byteLength);
        }
        try {
            const data = fs.readFileSync(path.resolve(path.dirname(file), decodeURIComponent(b.uri)));
            if (data.length < b.byteLength) problem(where, `buffers[${i}] (${b.uri}) is shorter than its byteLength`);
            return data;
        } catch (e) {
            problem(where, `buffers[${i}] (${b.uri}) cannot be read`);
            return Buffer.alloc(0);
        }
    });
    const internal = (json.buffers || []).filter((b) => b.uri === undefined);
    if (internal.length > 1) problem(where, "more than one buffer without a uri");
    if (binLength > 0 && internal.length === 0) problem(where, "has a binary chunk but no buffer uses it");
    const views = json.bufferViews || [];
    views.forEach((v, i) => {
        const buffer = buffers[v.buffer];
        if (!buffer) problem(where, `bufferViews[${i}] names buffer ${v.buffer}, which does not exist`);
        else if ((v.byteOffset || 0) + v.byteLength > json.buffers[v.buffer].byteLength)
            problem(where, `bufferViews[${i}] runs past the end of its buffer`);
    });
    return {
        json,
        view(index, name) {
            const v = views[index];
            if (!v || !buffers[v.buffer]) {
                problem(where, `${name} names buffer view ${index}, which does not exist`);
                return null;
            }
            return buffers[v.buffer].subarray(v.byteOffset || 0, (v.byteOffset || 0) + v.byteLength);
        },
    };
}

// Reads the values of the properties with the given semantics from property table `index` of a
// subtree: { SEMANTIC: row -> value (number or array) }.
function semanticsOf(subtree, index, schema, where, name) {
    const out = {};
    const tables = subtree.json.propertyTables || [];
    const table = tables[index];
    if (!table) {
        problem(where, `${name} names property table ${index}, which does not exist`);
        return out;
    }
    const cls = schema && schema.classes && schema.classes[table.class];
    if (!cls) {
        problem(where, `${name}'s property table has class ${table.class}, which the schema lacks`);
        return out;
    }
    const kinds = { FLOAT32: ["readFloatLE", 4], FLOAT64: ["readDoubleLE", 8], UINT32: ["readUInt32LE", 4], UINT64: ["readBigUInt64LE", 8] };
    for (const [pname, prop] of Object.entries(table.properties || {})) {
        const def = cls.properties && cls.properties[pname];
        if (!def || !def.semantic) continue;
        const kind = kinds[def.componentType];
        if (!kind || def.type !== "SCALAR") continue;
        const values = subtree.view(prop.values, `${name}.${pname}`);
        if (!values) continue;
        const n = def.array ? def.count : 1;
        if (values.length < table.count * n * kind[1]) {
            problem(where, `${name}.${pname} holds ${values.length} bytes for ${table.count} rows`);
            continue;
        }
        out[def.semantic] = (row) => {
            const read = (i) => Number(values[kind[0]](i * kind[1]));
            if (!def.array) return read(row);
            const a = [];
            for (let c = 0; c < n; ++c) a.push(read(row * n + c));
            return a;
        };
    }
    return out;
}

function checkImplicit(tileset, root) {
    const it = root.implicitTiling;
    const where = "tileset.json root.implicitTiling";
    if (it.subdivisionScheme !== "QUADTREE") {
        problem(where, `subdivisionScheme is ${JSON.stringify(it.subdivisionScheme)}; only QUADTREE is checked`);
        return;
    }
    if (!Number.isInteger(it.subtreeLevels) || it.subtreeLevels < 1) problem(where, "subtreeLevels is not a positive integer");
    if (!Number.isInteger(it.availableLevels) || it.availableLevels < 1) problem(where, "availableLevels is not a positive integer");
    if (!it.subtrees || typeof it.subtrees.uri !== "string") problem(where, "subtrees.uri is missing");
    if (problems.length) return;
    const contentTemplate = root.content && root.content.uri;
    if (root.contents) problem("tileset.json root", "multiple contents are not checked");
    const rootBox = boxOf(root.boundingVolume, "tileset.json root");
    const schema = tileset.schema;
    const levels = it.subtreeLevels;
    const bitsPerSubtree = ((1 << (2 * levels)) - 1) / 3;
    const childBits = 1 << (2 * levels);
    const seenSubtrees = new Set();
    // Every tile's geometric error, for the parent/child comparison: key "level.x.y".
    const errors = new Map();
    const hasChild = new Set();
    const available = new Set();
    const queue = [[0, 0, 0]];
    while (queue.length && problems.length < MAX_PROBLEMS) {
        const [L0, X0, Y0] = queue.shift();
        const rel = fill(it.subtrees.uri, L0, X0, Y0);
        const file = path.join(dir, rel);
        const w = rel;
        seenSubtrees.add(path.resolve(file));
        const subtree = readSubtree(file, w);
        counts.subtrees++;
        if (!subtree) continue;
        const json = subtree.json;
        const tiles = availability(json.tileAvailability, bitsPerSubtree, subtree, w, "tileAvailability");
        const contentList = json.contentAvailability;
        if (contentTemplate && (!Array.isArray(contentList) || contentList.length !== 1))
            problem(w, "contentAvailability should hold one availability (the tiles have one content each)");
        const contents = contentTemplate && Array.isArray(contentList) && contentList.length
            ? availability(contentList[0], bitsPerSubtree, subtree, w, "contentAvailability[0]") : null;
        const children = availability(json.childSubtreeAvailability, childBits, subtree, w, "childSubtreeAvailability");
        if (!tiles || !children) continue;
        if (!tiles.at(0)) problem(w, "its root tile is unavailable: a subtree exists only under an available tile");
        const tileMeta = json.tileMetadata !== undefined ? semanticsOf(subtree, json.tileMetadata, schema, w, "tileMetadata") : {};
        const contentMeta = Array.isArray(json.contentMetadata) && json.contentMetadata.length
            ? semanticsOf(subtree, json.contentMetadata[0], schema, w, "contentMetadata[0]") : {};
        let tileRow = 0;
        let contentRow = 0;
        for (let l = 0; l < levels; ++l) {
            const level = L0 + l;
            const offset = ((1 << (2 * l)) - 1) / 3;
            const side = 1 << l;
            // rows of metadata follow the bit order: level by level, Morton order inside a level
            const order = [];
            for (let x = 0; x < side; ++x) for (let y = 0; y < side; ++y) order.push([morton2(x, y), x, y]);
            order.sort((a, b) => a[0] - b[0]);
            for (const [m, x, y] of order) {
                const bit = offset + m;
                const gx = (X0 << l) + x;
                const gy = (Y0 << l) + y;
                const key = `${level}.${gx}.${gy}`;
                const has = tiles.at(bit);
                const hasContent = contents ? contents.at(bit) : false;
                const contentFile = contentTemplate ? path.join(dir, fill(contentTemplate, level, gx, gy)) : null;
                if (level >= it.availableLevels && has) problem(w, `tile ${key} is available beyond availableLevels ${it.availableLevels}`);
                if (hasContent && !has) problem(w, `tile ${key} has content but is unavailable`);
                if (has && l > 0) {
                    const parentBit = ((1 << (2 * (l - 1))) - 1) / 3 + (m >> 2);
                    if (!tiles.at(parentBit)) problem(w, `tile ${key} is available but its parent is not`);
                }
                if (contentFile && fs.existsSync(contentFile) !== hasContent)
                    problem(w, hasContent ? `content of tile ${key} (${path.relative(dir, contentFile)}) is missing`
                        : `${path.relative(dir, contentFile)} exists but its tile's content is unavailable`);
                if (!has) continue;
                counts.tiles++;
                counts.levels = Math.max(counts.levels, level + 1);
                available.add(key);
                let error = root.geometricError / (1 << level);
                if (tileMeta.TILE_GEOMETRIC_ERROR) error = tileMeta.TILE_GEOMETRIC_ERROR(tileRow);
                errors.set(key, error);
                if (level > 0) hasChild.add(`${level - 1}.${gx >> 1}.${gy >> 1}`);
                // The box implicit tiling gives the tile: the root's, halved level by level.
                let implicitBox = null;
                if (rootBox) {
                    const f = 1 / (1 << level);
                    const [a0, a1, a2] = rootBox.axes;
                    const c = rootBox.center.slice();
                    for (let i = 0; i < 3; ++i)
                        c[i] += a0[i] * (-1 + f * (2 * gx + 1)) + a1[i] * (-1 + f * (2 * gy + 1));
                    implicitBox = { center: c, axes: [a0.map((v) => v * f), a1.map((v) => v * f), a2] };
                }
                let box = implicitBox;
                if (tileMeta.TILE_BOUNDING_BOX) {
                    const b = tileMeta.TILE_BOUNDING_BOX(tileRow);
                    box = { center: b.slice(0, 3), axes: [b.slice(3, 6), b.slice(6, 9), b.slice(9, 12)] };
                }
                if (hasContent) {
                    counts.contents++;
                    const boxes = [["tile box", box]];
                    // Readers that ignore TILE_BOUNDING_BOX (three.js's 3d-tiles-renderer) cull
                    // and pick by the implicit box: the content must lie in it too.
                    if (box !== implicitBox) boxes.push(["implicit tile box", implicitBox]);
                    if (contentMeta.CONTENT_BOUNDING_BOX) {
                        const b = contentMeta.CONTENT_BOUNDING_BOX(contentRow);
                        boxes.push(["content box", { center: b.slice(0, 3), axes: [b.slice(3, 6), b.slice(6, 9), b.slice(9, 12)] }]);
                    }
                    if (contentFile && fs.existsSync(contentFile)) checkInside(contentFile, boxes, `tile ${key}`);
                    contentRow++;
                }
                tileRow++;
            }
        }
        // child subtrees hang under the available tiles of the subtree's last level
        const last = levels - 1;
        for (let x = 0; x < 1 << levels; ++x)
            for (let y = 0; y < 1 << levels; ++y) {
                const bit = morton2(x, y);
                const level = L0 + levels;
                const gx = (X0 << levels) + x;
                const gy = (Y0 << levels) + y;
                const childFile = path.join(dir, fill(it.subtrees.uri, level, gx, gy));
                const parentBit = ((1 << (2 * last)) - 1) / 3 + (bit >> 2);
                if (children.at(bit)) {
                    if (!tiles.at(parentBit)) problem(w, `child subtree ${level}.${gx}.${gy} is available under an unavailable tile`);
                    if (level >= it.availableLevels) problem(w, `child subtree ${level}.${gx}.${gy} lies beyond availableLevels`);
                    queue.push([level, gx, gy]);
                } else if (fs.existsSync(childFile)) {
                    problem(w, `${path.relative(dir, childFile)} exists but is marked unavailable`);
                }
            }
    }
    for (const [key, error] of errors) {
        const [level, x, y] = key.split(".").map(Number);
        if (!isNumber(error) || error < 0) problem(`tile ${key}`, `geometric error ${error} is not a number >= 0`);
        if (level > 0) {
            const parent = errors.get(`${level - 1}.${x >> 1}.${y >> 1}`);
            if (parent !== undefined && !(error < parent))
                problem(`tile ${key}`, `geometric error ${error} is not below its parent's ${parent}`);
        }
        if (leafErrorZero && !hasChild.has(key) && error !== 0)
            problem(`tile ${key}`, `a leaf's geometric error is ${error}, not 0`);
    }
    if (available.size === 0) problem(where, "no tile is available");
    if (counts.levels > it.availableLevels) problem(where, `tiles on ${counts.levels} levels but availableLevels is ${it.availableLevels}`);
    // subtree files that no availability reaches are left over
    const subtreeRoot = path.join(dir, path.dirname(it.subtrees.uri.split("{")[0] + "x"));
    if (fs.existsSync(subtreeRoot) && fs.statSync(subtreeRoot).isDirectory())
        for (const f of fs.readdirSync(subtreeRoot))
            if (f.endsWith(".subtree") && !seenSubtrees.has(path.resolve(subtreeRoot, f)))
                problem(path.relative(dir, path.join(subtreeRoot, f)), "no available subtree names this file");
}

function checkExplicit(tile, where, parentError) {
    counts.tiles++;
    if (!isNumber(tile.geometricError) || tile.geometricError < 0) problem(where, "geometricError is missing or negative");
    else if (parentError !== undefined && !(tile.geometricError <= parentError))
        problem(where, `geometric error ${tile.geometricError} is above its parent's ${parentError}`);
    if (tile.refine !== undefined && tile.refine !== "REPLACE" && tile.refine !== "ADD") problem(where, `refine is ${JSON.stringify(tile.refine)}`);
    const box = boxOf(tile.boundingVolume, where);
    if (tile.content) {
        if (typeof tile.content.uri !== "string") problem(where, "content.uri is missing");
        else {
            counts.contents++;
            const file = path.join(dir, decodeURIComponent(tile.content.uri));
            if (!fs.existsSync(file)) problem(where, `content ${tile.content.uri} is missing`);
            else if (file.endsWith(".glb")) checkInside(file, [["tile box", box]], where);
        }
    }
    (tile.children || []).forEach((c, i) => checkExplicit(c, `${where}.children[${i}]`, tile.geometricError));
}

const tileset = readJson(path.join(dir, "tileset.json"), "tileset.json");
if (tileset) {
    const w = "tileset.json";
    if (!tileset.asset || typeof tileset.asset.version !== "string") problem(w, "asset.version is missing");
    else if (tileset.asset.version !== "1.1") problem(w, `asset.version is ${JSON.stringify(tileset.asset.version)}, not "1.1"`);
    if (!isNumber(tileset.geometricError) || tileset.geometricError < 0) problem(w, "geometricError is missing or negative");
    const root = tileset.root;
    if (!root || typeof root !== "object") problem(w, "root is missing");
    else {
        if (!isNumber(root.geometricError) || root.geometricError < 0) problem(`${w} root`, "geometricError is missing or negative");
        else if (isNumber(tileset.geometricError) && root.geometricError > tileset.geometricError)
            problem(`${w} root`, `geometric error ${root.geometricError} is above the tileset's ${tileset.geometricError}`);
        if (root.refine !== "REPLACE" && root.refine !== "ADD")
            problem(`${w} root`, `refine is ${root.refine === undefined ? "missing" : JSON.stringify(root.refine)}; the root must give REPLACE or ADD`);
        if (root.transform !== undefined && !isArrayOf(root.transform, 16)) problem(`${w} root`, "transform is not 16 numbers");
        if (root.implicitTiling) {
            if (root.children) problem(`${w} root`, "an implicit root has children");
            boxOf(root.boundingVolume, `${w} root`);
            if (!problems.length) checkImplicit(tileset, root);
        } else {
            checkExplicit(root, `${w} root`, undefined);
        }
    }
}
for (const p of problems.slice(0, MAX_PROBLEMS)) console.log(p);
if (problems.length > MAX_PROBLEMS) console.log(`... and ${problems.length - MAX_PROBLEMS} more`);
console.log(`tiles=${counts.tiles} contents=${counts.contents} subtrees=${counts.subtrees} levels=${counts.levels} problems=${problems.length}`);
process.exit(problems.length ? 1 : 0);
