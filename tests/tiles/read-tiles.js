#!/usr/bin/env node
// Opens a tileset in a real reader in headless Chromium and checks what a user of it sees:
// the tileset loads with no failed tile and no request outside 127.0.0.1, and picking at the
// roof of known buildings from straight above returns their column and row, once near (the
// picked feature from a leaf tile) and once far (from a coarser level). The buildings and their
// roofs come from the tileset's own leaf tiles.
// Usage: read-tiles.js cesium|three DIR
// Prints what it did, one line a step, and "FAIL ..." for each broken expectation.
// Exit status 0 when all held, 1 when some did not, 2 on bad usage or when the reader could not
// be started at all.
"use strict";
const path = require("path");
const { serve, open } = require("../../tools/tiles/browser");
const { readTileset, toEcef, buildingsOf } = require("./targets");

const [reader, dir] = process.argv.slice(2);
if (!["cesium", "three"].includes(reader) || !dir) {
    console.error("usage: read-tiles.js cesium|three DIR");
    process.exit(2);
}
const WIDTH = 1280;
const HEIGHT = 720;
const TAN_HALF_FOV = Math.tan(Math.PI / 6); // 60 degrees across the wider side
// A step that takes longer than this has hung: the reader never settled.
const STEP_MS = 480000;

const fails = [];
const fail = (what) => {
    fails.push(what);
    console.log(`FAIL ${what}`);
};

function withDeadline(promise, what) {
    let timer;
    return Promise.race([
        promise,
        new Promise((_, reject) => (timer = setTimeout(() => reject(new Error(`${what} did not finish in ${STEP_MS / 1000} s`)), STEP_MS))),
    ]).finally(() => clearTimeout(timer));
}

const name = (b) => `building ${b.number} (column ${b.column}, row ${b.row})`;

async function main() {
    const tileset = readTileset(dir);
    const leaves = tileset.contents.filter((c) => c.level === tileset.leafLevel);
    const t = tileset.transform;
    // Every leaf's buildings, their bounds and the city's.
    const files = leaves.map((c) => buildingsOf(c.file));
    const all = files.flatMap((f) => f.list.map((b) => ({ b, f })));
    if (all.length === 0) throw new Error("the leaf tiles hold no buildings");
    const min = [0, 1, 2].map((i) => Math.min(...all.map(({ b }) => b.min[i])));
    const max = [0, 1, 2].map((i) => Math.max(...all.map(({ b }) => b.max[i])));

    // Near: three buildings of the leaf with the most, from the tallest down to the lower quartile.
    const busiest = files.reduce((a, f) => (f.list.length > a.list.length ? f : a));
    const byHeight = busiest.list.slice().sort((a, b) => b.max[2] - a.max[2] || a.number - b.number);
    const near = [];
    for (const at of [0, 0.5, 0.75]) {
        for (let i = Math.floor(at * (byHeight.length - 1)); i < byHeight.length; ++i) {
            const b = byHeight[i];
            if (near.some((n) => n.b === b)) continue;
            const roof = busiest.roof(b);
            if (roof) {
                near.push({ b, roof });
                break;
            }
        }
    }
    // Far: the three tallest buildings of the city whose roofs show.
    const tallest = all.slice().sort((x, y) => y.b.max[2] - x.b.max[2] || x.b.number - y.b.number);
    const far = [];
    for (const { b, f } of tallest) {
        if (far.length === 3) break;
        const roof = f.roof(b);
        if (roof) far.push({ b, roof });
    }
    if (near.length === 0 || far.length === 0) throw new Error("no building's roof shows from straight above");
    console.log(`${reader}: ${tileset.contents.length} content tiles, leaves on level ${tileset.leafLevel}, ` +
        `${all.length} buildings in the leaves`);

    const server = await serve(dir, [`/test=${path.join(__dirname, "..", "..", "tools", "tiles", "pages")}`]);
    const { browser, page } = await open(WIDTH, HEIGHT);
    try {
        await page.goto(`${server.url}test/${reader}.html`, { waitUntil: "load", timeout: STEP_MS });
        await withDeadline(page.evaluate(() => window.reader.load("/tiles/tileset.json")), "loading the tileset");

        const look = (eye) => withDeadline(page.evaluate((e) => window.reader.lookDown(e), eye), "loading a view");
        const pick = (points) => page.evaluate((p) => window.reader.pick(p), points);

        // Near: straight above each building, close enough that its whole roof fills a good
        // part of the picture.
        for (const { b, roof } of near) {
            const size = Math.max(b.max[0] - b.min[0], b.max[1] - b.min[1]);
            const eye = toEcef(t, [roof[0], roof[1], b.max[2] + Math.max(30, 2.5 * size)]);
            const levels = await look(eye);
            const [got] = await pick([toEcef(t, roof)]);
            const where = `near ${name(b)}`;
            console.log(`${where}: levels drawn ${levels.join(",")}; picked at (${fmt(got.x)}, ${fmt(got.y)}): ` +
                (got.column === undefined ? `no building${got.miss ? ": " + got.miss : ""}` : `column ${got.column}, row ${got.row}, number ${got.number}, level ${got.level}`));
            if (got.column !== b.column || got.row !== b.row) fail(`${where}: the pick returned ${got.column === undefined ? "no building" : `column ${got.column}, row ${got.row}`}`);
            else if (got.level !== tileset.leafLevel) fail(`${where}: picked from level ${got.level}, not from the leaves (level ${tileset.leafLevel})`);
        }

        // Far: the whole city in view from straight above its centre; further up until no leaf
        // is drawn any more (a coarse level).
        const centre = [(min[0] + max[0]) / 2, (min[1] + max[1]) / 2];
        let height = max[2] + (1.1 * Math.max(max[0] - min[0], ((max[1] - min[1]) * WIDTH) / HEIGHT)) / (2 * TAN_HALF_FOV);
        let levels = [];
        for (let tries = 0; tries < 6; ++tries, height *= 2) {
            levels = await look(toEcef(t, [centre[0], centre[1], height]));
            console.log(`far at ${height.toFixed(0)} m: levels drawn ${levels.join(",")}`);
            if (levels.length && !levels.includes(tileset.leafLevel)) break;
        }
        if (!levels.length || levels.includes(tileset.leafLevel)) fail(`far: leaves still drawn from ${height.toFixed(0)} m up`);
        const got = await pick(far.map(({ roof }) => toEcef(t, roof)));
        far.forEach(({ b }, i) => {
            const g = got[i];
            const where = `far ${name(b)}`;
            console.log(`${where}: picked at (${fmt(g.x)}, ${fmt(g.y)}): ` +
                (g.column === undefined ? `no building${g.miss ? ": " + g.miss : ""}` : `column ${g.column}, row ${g.row}, number ${g.number}, level ${g.level}`));
            if (g.column !== b.column || g.row !== b.row) fail(`${where}: the pick returned ${g.column === undefined ? "no building" : `column ${g.column}, row ${g.row}`}`);
            else if (g.level >= tileset.leafLevel) fail(`${where}: picked from level ${g.level}, not from a coarse level`);
            if (g.number !== undefined && g.number !== b.number) fail(`${where}: the pick returned number ${g.number}`);
        });

        const failures = await page.evaluate(() => window.reader.failures);
        for (const f of failures) fail(`failed tile ${f}`);
        for (const u of page.outside) fail(`request outside 127.0.0.1: ${u}`);
        for (const u of page.failed) fail(`request failed: ${u}`);
        for (const p of page.problems) fail(p);
        const tiles = [...page.bytes.keys()].filter((u) => u.includes("/tiles/")).length;
        console.log(`${reader}: ${tiles} tileset files requested, ${failures.length} failed tiles, ` +
            `${page.outside.length} requests outside 127.0.0.1`);
    } finally {
        await browser.close();
        server.stop();
    }
}

function fmt(v) {
    return v === null || v === undefined ? "-" : v.toFixed(1);
}

main().then(
    () => process.exit(fails.length ? 1 : 0),
    (e) => {
        console.log(`FAIL ${e.message}`);
        process.exit(fails.length ? 1 : 2);
    }
);
