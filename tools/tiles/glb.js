// Reading what the tile readers need out of a binary glTF (.glb): its JSON, its binary chunk,
// accessors, the world positions of its primitives (nodes' transforms applied, still y-up) and
// the buildings each vertex belongs to through EXT_mesh_features and EXT_structural_metadata.
// Every function throws an Error saying what is wrong when the file is not what it claims.
"use strict";

const GLB_MAGIC = 0x46546c67; // "glTF"
const CHUNK_JSON = 0x4e4f534a;
const CHUNK_BIN = 0x004e4942;

// { json, bin } of a .glb held in `bytes` (a Buffer); bin is null when the file has no binary chunk.
function parseGlb(bytes) {
    if (bytes.length < 20) throw new Error("shorter than a glb header");
    if (bytes.readUInt32LE(0) !== GLB_MAGIC) throw new Error("no glTF magic");
    if (bytes.readUInt32LE(4) !== 2) throw new Error(`glb version ${bytes.readUInt32LE(4)}`);
    const length = bytes.readUInt32LE(8);
    if (length !== bytes.length) throw new Error(`header length ${length} but ${bytes.length} bytes`);
    let at = 12;
    let json = null;
    let bin = null;
    while (at < length) {
        const size = bytes.readUInt32LE(at);
        const type = bytes.readUInt32LE(at + 4);
        const data = bytes.subarray(at + 8, at + 8 + size);
        if (type === CHUNK_JSON) json = JSON.parse(data.toString("utf8"));
        else if (type === CHUNK_BIN) bin = data;
        at += 8 + size;
    }
    if (!json) throw new Error("no JSON chunk");
    return { json, bin };
}

const COMPONENTS = { SCALAR: 1, VEC2: 2, VEC3: 3, VEC4: 4, MAT4: 16 };
const READERS = {
    5120: ["readInt8", 1],
    5121: ["readUInt8", 1],
    5122: ["readInt16LE", 2],
    5123: ["readUInt16LE", 2],
    5125: ["readUInt32LE", 4],
    5126: ["readFloatLE", 4],
};

// The values of accessor `index` as an array of arrays (one per element), or of numbers for SCALAR.
function readAccessor(glb, index) {
    const a = glb.json.accessors[index];
    const view = glb.json.bufferViews[a.bufferView];
    if (view.buffer !== 0 || !glb.bin) throw new Error(`accessor ${index}: not in the glb's own buffer`);
    const [reader, size] = READERS[a.componentType];
    const n = COMPONENTS[a.type];
    const stride = view.byteStride || size * n;
    const base = (view.byteOffset || 0) + (a.byteOffset || 0);
    const out = new Array(a.count);
    for (let i = 0; i < a.count; ++i) {
        const at = base + i * stride;
        if (n === 1) {
            out[i] = glb.bin[reader](at);
        } else {
            const v = new Array(n);
            for (let c = 0; c < n; ++c) v[c] = glb.bin[reader](at + c * size);
            out[i] = v;
        }
    }
    return out;
}

// The bytes of buffer view `index`.
function viewBytes(glb, index) {
    const view = glb.json.bufferViews[index];
    const start = view.byteOffset || 0;
    return glb.bin.subarray(start, start + view.byteLength);
}

function multiply(a, b) {
    // column-major 4x4
    const r = new Array(16).fill(0);
    for (let c = 0; c < 4; ++c)
        for (let rr = 0; rr < 4; ++rr)
            for (let k = 0; k < 4; ++k) r[c * 4 + rr] += a[k * 4 + rr] * b[c * 4 + k];
    return r;
}

function nodeMatrix(node) {
    if (node.matrix) return node.matrix.slice();
    const [tx, ty, tz] = node.translation || [0, 0, 0];
    const [x, y, z, w] = node.rotation || [0, 0, 0, 1];
    const [sx, sy, sz] = node.scale || [1, 1, 1];
    const r = [
        1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,
        2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,
        2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0,
        0, 0, 0, 1,
    ];
    for (let i = 0; i < 3; ++i) {
        r[i] *= sx;
        r[4 + i] *= sy;
        r[8 + i] *= sz;
    }
    r[12] = tx;
    r[13] = ty;
    r[14] = tz;
    return r;
}

function transformPoint(m, p) {
    return [
        m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
        m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
        m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14],
    ];
}

// Every primitive of the default scene: { positions (glTF world, y-up), indices (triangles),
// featureIds (per vertex, or null), propertyTable (index or undefined), mode }.
function primitives(glb) {
    const json = glb.json;
    const out = [];
    const visit = (index, parent) => {
        const node = json.nodes[index];
        const m = multiply(parent, nodeMatrix(node));
        if (node.mesh !== undefined) {
            for (const p of json.meshes[node.mesh].primitives) {
                const positions = readAccessor(glb, p.attributes.POSITION).map((v) => transformPoint(m, v));
                const indices =
                    p.indices !== undefined ? readAccessor(glb, p.indices) : positions.map((_, i) => i);
                let featureIds = null;
                let propertyTable;
                const ext = p.extensions && p.extensions.EXT_mesh_features;
                if (ext && ext.featureIds && ext.featureIds.length > 0) {
                    const f = ext.featureIds[0];
                    propertyTable = f.propertyTable;
                    if (f.attribute !== undefined) {
                        const name = `_FEATURE_ID_${f.attribute}`;
                        if (p.attributes[name] === undefined) throw new Error(`primitive without ${name}`);
                        featureIds = readAccessor(glb, p.attributes[name]);
                    } else {
                        featureIds = positions.map((_, i) => i);
                    }
                }
                out.push({ positions, indices, featureIds, propertyTable, mode: p.mode === undefined ? 4 : p.mode });
            }
        }
        for (const c of node.children || []) visit(c, m);
    };
    const identity = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1];
    const scene = json.scenes[json.scene || 0];
    for (const n of scene.nodes) visit(n, identity);
    return out;
}

// Property table `index` of EXT_structural_metadata as an array of rows (objects by property name).
function propertyTable(glb, index) {
    const meta = glb.json.extensions && glb.json.extensions.EXT_structural_metadata;
    if (!meta || !meta.propertyTables || !meta.propertyTables[index])
        throw new Error(`no property table ${index}`);
    const table = meta.propertyTables[index];
    const cls = meta.schema.classes[table.class];
    const rows = [];
    for (let i = 0; i < table.count; ++i) rows.push({});
    for (const [name, prop] of Object.entries(table.properties)) {
        const def = cls.properties[name];
        const values = viewBytes(glb, prop.values);
        if (def.type === "STRING") {
            const offsetType = prop.stringOffsetType || "UINT32";
            const offsets = viewBytes(glb, prop.stringOffsets);
            const read = offsetType === "UINT32" ? (i) => offsets.readUInt32LE(i * 4)
                : offsetType === "UINT16" ? (i) => offsets.readUInt16LE(i * 2) : (i) => offsets.readUInt8(i);
            for (let i = 0; i < table.count; ++i)
                rows[i][name] = values.subarray(read(i), read(i + 1)).toString("utf8");
        } else if (def.type === "SCALAR") {
            const kinds = {
                UINT8: ["readUInt8", 1], UINT16: ["readUInt16LE", 2], UINT32: ["readUInt32LE", 4],
                INT32: ["readInt32LE", 4], FLOAT32: ["readFloatLE", 4], FLOAT64: ["readDoubleLE", 8],
            };
            const [reader, size] = kinds[def.componentType];
            for (let i = 0; i < table.count; ++i) rows[i][name] = values[reader](i * size);
        }
    }
    return rows;
}

// glTF y-up to the tileset's z-up, as clients turn content before the tile's transform.
function zUp(p) {
    return [p[0], -p[2], p[1]];
}

module.exports = { parseGlb, readAccessor, viewBytes, primitives, propertyTable, zUp };
