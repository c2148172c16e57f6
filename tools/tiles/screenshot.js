#!/usr/bin/env node
// Takes a picture of the tileset viewer (scripts/view-tiles) on DIR, as the README shows it:
// headless Chromium at WIDTHxHEIGHT, the tileset loaded, the building under the picture's
// centre (or under X,Y) clicked so its properties show.
// Usage: screenshot.js DIR OUT.png [WIDTHxHEIGHT] [X,Y]
"use strict";
const { serve, open } = require("./browser");

(async () => {
    const [dir, out, size = "1280x720", at] = process.argv.slice(2);
    if (!dir || !out) {
        console.error("usage: screenshot.js DIR OUT.png [WIDTHxHEIGHT] [X,Y]");
        process.exit(2);
    }
    const [width, height] = size.split("x").map(Number);
    const server = await serve(dir);
    const { browser, page } = await open(width, height);
    try {
        await page.goto(server.url, { waitUntil: "load", timeout: 300000 });
        await page.waitForFunction("window.ombrelViewer !== undefined", { timeout: 300000, polling: 200 });
        const settle = () =>
            page.evaluate(
                () => new Promise((resolve) => {
                    const t = window.ombrelViewer.tileset;
                    const r = () => (t.tilesLoaded ? resolve() : t.allTilesLoaded.addEventListener(() => resolve()));
                    window.ombrelViewer.viewer.scene.requestRender();
                    setTimeout(r, 500);
                })
            );
        await settle();
        const [x, y] = at ? at.split(",").map(Number) : [width / 2, height / 2];
        // The first pick of a fresh scene can come back empty while CesiumJS still builds its
        // pick pass: click again until the properties show (a few tries).
        for (let tries = 0; tries < 5; ++tries) {
            await page.mouse.click(x, y);
            const shown = await page
                .waitForFunction('document.getElementById("properties").rows.length > 0', { timeout: 15000, polling: 200 })
                .then(() => true, () => false);
            if (shown) break;
        }
        await settle();
        await page.screenshot({ path: out });
        if (page.outside.length) console.error(`requests outside 127.0.0.1: ${page.outside.join(" ")}`);
    } finally {
        await browser.close();
        server.stop();
    }
})().catch((e) => {
    console.error(String(e));
    process.exit(1);
});
