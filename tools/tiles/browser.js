// Headless Chromium for the tile readers: Debian's chromium driven by puppeteer-core, WebGL
// through SwiftShader (no GPU needed), every request leaving 127.0.0.1 refused and remembered.
"use strict";
const fs = require("fs");
const { spawn } = require("child_process");
const path = require("path");
const puppeteer = require("puppeteer-core");

// The Chromium to run: $CHROMIUM when set, else the first of Debian's names found.
function chromiumPath() {
    if (process.env.CHROMIUM) return process.env.CHROMIUM;
    for (const p of ["/usr/bin/chromium", "/usr/bin/chromium-browser"]) if (fs.existsSync(p)) return p;
    return null;
}

// Starts tools/tiles/serve.js on `dir` (any free port, extra `mounts` as "/NAME=FOLDER");
// resolves to { url, stop() } once it listens, rejects when it exits first.
function serve(dir, mounts = []) {
    return new Promise((resolve, reject) => {
        const args = [path.join(__dirname, "serve.js")];
        for (const m of mounts) args.push("--mount", m);
        args.push(dir);
        const child = spawn(process.execPath, args, { stdio: ["ignore", "pipe", "pipe"] });
        let out = "";
        let err = "";
        child.stdout.on("data", (d) => {
            out += d;
            const m = /at (http:\/\/127\.0\.0\.1:\d+\/)/.exec(out);
            if (m) resolve({ url: m[1], stop: () => child.kill("SIGTERM") });
        });
        child.stderr.on("data", (d) => (err += d));
        child.on("exit", (code) => reject(new Error(`the server stopped (${code}): ${err.trim()}`)));
    });
}

// A headless browser and one page of `width` x `height`. `page.outside` lists the URLs the page
// asked for outside 127.0.0.1 (each refused), `page.failed` the local requests that failed or
// answered an error status, `page.problems` the page's uncaught errors and console errors,
// `page.bytes` the bytes received per URL.
async function open(width, height) {
    const executablePath = chromiumPath();
    if (!executablePath) throw new Error("no chromium");
    // Chromium keeps a socket in a folder of its temporary folder, whose path must stay under
    // the 107 bytes a socket address holds: the tests' scratch folders are too deep for it. So
    // its temporary folder (and profile) is a fresh one of its own in /dev/shm, removed when
    // the browser closes.
    const shortTmp = fs.mkdtempSync(path.join(fs.existsSync("/dev/shm") ? "/dev/shm" : "/tmp", "ombrel-chromium-"));
    const browser = await puppeteer.launch({
        executablePath,
        userDataDir: path.join(shortTmp, "profile"),
        env: { ...process.env, TMPDIR: shortTmp },
        headless: true,
        protocolTimeout: 600000,
        args: [
            "--no-sandbox",
            "--use-angle=swiftshader",
            "--enable-unsafe-swiftshader",
            "--ignore-gpu-blocklist",
            "--disable-gpu-driver-bug-workarounds",
            "--no-first-run",
            "--no-default-browser-check",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-domain-reliability",
            "--disable-sync",
            "--disable-renderer-backgrounding",
            "--disable-background-timer-throttling",
            "--disable-backgrounding-occluded-windows",
            "--metrics-recording-only",
            `--window-size=${width},${height}`,
        ],
        defaultViewport: { width, height },
    });
    // close() resolves once Chromium has exited and its folder is gone (a folder that cannot be
    // removed is left behind, never a failure of the run).
    const proc = browser.process();
    const exited = new Promise((resolve) => (proc.exitCode !== null ? resolve() : proc.once("exit", resolve)));
    const closeBrowser = browser.close.bind(browser);
    browser.close = async () => {
        try {
            await closeBrowser();
        } finally {
            await exited;
            try {
                fs.rmSync(shortTmp, { recursive: true, force: true, maxRetries: 5 });
            } catch (e) {
                console.error(`could not remove ${shortTmp}: ${e.message}`);
            }
        }
    };
    const page = await browser.newPage();
    page.outside = [];
    page.failed = [];
    page.problems = [];
    page.bytes = new Map();
    await page.setRequestInterception(true);
    page.on("request", (req) => {
        const url = req.url();
        if (/^(data|blob):/.test(url)) return req.continue();
        let host = "";
        try {
            host = new URL(url).hostname;
        } catch (e) {
            host = "";
        }
        if (host !== "127.0.0.1") {
            page.outside.push(url);
            return req.abort("blockedbyclient");
        }
        return req.continue();
    });
    page.on("requestfailed", (req) => {
        if (!page.outside.includes(req.url())) page.failed.push(`${req.url()} ${req.failure() && req.failure().errorText}`);
    });
    page.on("response", async (res) => {
        const url = res.url();
        if (res.status() >= 400) page.failed.push(`${url} ${res.status()}`);
        const length = Number(res.headers()["content-length"]);
        if (Number.isFinite(length)) page.bytes.set(url, length);
    });
    page.on("pageerror", (e) => page.problems.push(`page error: ${e.message}`));
    page.on("console", (m) => {
        if (m.type() === "error") page.problems.push(`console error: ${m.text()}`);
    });
    return { browser, page };
}

module.exports = { chromiumPath, serve, open };
