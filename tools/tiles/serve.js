#!/usr/bin/env node
// Serves a tileset folder and the pages that look at it on 127.0.0.1 alone, for
// scripts/view-tiles and the tile readers' tests. Nothing is fetched from elsewhere: CesiumJS,
// three.js and 3d-tiles-renderer come from tools/node_modules.
//   /tiles/...   the tileset folder (DIR/tileset.json is /tiles/tileset.json)
//   /cesium/...  CesiumJS's built files        /three/... three.js   /3d-tiles-renderer/...
//   /            the viewer page (tools/tiles/viewer.html)
//   /MOUNT/...   any further folder given with --mount /MOUNT=FOLDER
// Usage: serve.js [--port N] [--mount /NAME=FOLDER]... DIR
// Prints "Serving DIR at http://127.0.0.1:PORT/" once it listens; exits 2 on bad usage or when
// DIR holds no tileset.json, 3 when the port cannot be had.
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");

const here = __dirname;
const modules = path.join(here, "..", "node_modules");
const mounts = [
    ["/cesium/", path.join(modules, "cesium", "Build", "Cesium")],
    ["/three/", path.join(modules, "three")],
    ["/3d-tiles-renderer/", path.join(modules, "3d-tiles-renderer")],
];
let port = 0;
let dir = null;
const args = process.argv.slice(2);
for (let i = 0; i < args.length; ++i) {
    if (args[i] === "--port" && i + 1 < args.length) {
        port = Number(args[++i]);
    } else if (args[i] === "--mount" && i + 1 < args.length) {
        const m = /^(\/[A-Za-z0-9_-]+)=(.+)$/.exec(args[++i]);
        if (!m) {
            console.error(`serve: --mount wants /NAME=FOLDER, not ${args[i]}`);
            process.exit(2);
        }
        mounts.push([m[1] + "/", path.resolve(m[2])]);
    } else if (dir === null && !args[i].startsWith("--")) {
        dir = path.resolve(args[i]);
    } else {
        console.error("usage: serve.js [--port N] [--mount /NAME=FOLDER]... DIR");
        process.exit(2);
    }
}
if (dir === null || !Number.isInteger(port) || port < 0 || port > 65535) {
    console.error("usage: serve.js [--port N] [--mount /NAME=FOLDER]... DIR");
    process.exit(2);
}
if (!fs.existsSync(path.join(dir, "tileset.json"))) {
    console.error(`serve: ${dir} holds no tileset.json`);
    process.exit(2);
}
mounts.push(["/tiles/", dir]);

const TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".mjs": "text/javascript; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".json": "application/json",
    ".glb": "model/gltf-binary",
    ".subtree": "application/octet-stream",
    ".png": "image/png",
    ".jpg": "image/jpeg",
    ".jpeg": "image/jpeg",
    ".ktx2": "image/ktx2",
    ".wasm": "application/wasm",
    ".svg": "image/svg+xml",
    ".xml": "application/xml",
};

// The file a request path names, or null when it names nothing served (or climbs out of its root).
function fileFor(urlPath) {
    let decoded;
    try {
        decoded = decodeURIComponent(urlPath);
    } catch (e) {
        return null;
    }
    if (decoded === "/" || decoded === "/index.html") return path.join(here, "viewer.html");
    if (decoded === "/viewer.js") return path.join(here, "viewer.js");
    for (const [prefix, root] of mounts) {
        if (!decoded.startsWith(prefix)) continue;
        const file = path.resolve(root, "." + decoded.slice(prefix.length - 1));
        if (file !== root && !file.startsWith(root + path.sep)) return null;
        return file;
    }
    return null;
}

const server = http.createServer((req, res) => {
    const urlPath = req.url.split("?")[0];
    const file = fileFor(urlPath);
    if (req.method !== "GET" && req.method !== "HEAD") {
        res.writeHead(405).end();
        return;
    }
    if (!file) {
        res.writeHead(404, { "Content-Type": "text/plain" }).end("not found\n");
        return;
    }
    fs.stat(file, (err, st) => {
        if (err || !st.isFile()) {
            res.writeHead(404, { "Content-Type": "text/plain" }).end("not found\n");
            return;
        }
        res.writeHead(200, {
            "Content-Type": TYPES[path.extname(file).toLowerCase()] || "application/octet-stream",
            "Content-Length": st.size,
            "Cache-Control": "no-store",
        });
        if (req.method === "HEAD") {
            res.end();
            return;
        }
        fs.createReadStream(file).pipe(res);
    });
});
server.on("error", (e) => {
    console.error(`serve: cannot listen on 127.0.0.1:${port}: ${e.message}`);
    process.exit(3);
});
server.listen(port, "127.0.0.1", () => {
    console.log(`Serving ${dir} at http://127.0.0.1:${server.address().port}/`);
});
for (const s of ["SIGINT", "SIGTERM", "SIGHUP"]) process.on(s, () => server.close(() => process.exit(0)) && setTimeout(() => process.exit(0), 200).unref());
