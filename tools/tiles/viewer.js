// The tileset viewer that scripts/view-tiles serves: CesiumJS with nothing online (no ion token,
// no imagery, no terrain service, no geocoder), the globe a plain colour, the tileset at
// /tiles/tileset.json. A click on a building shows its properties; a click elsewhere clears them.
"use strict";
(async function () {
    Cesium.Ion.defaultAccessToken = "";
    const viewer = new Cesium.Viewer("view", {
        baseLayer: false,
        baseLayerPicker: false,
        geocoder: false,
        homeButton: false,
        sceneModePicker: false,
        navigationHelpButton: false,
        animation: false,
        timeline: false,
        fullscreenButton: false,
        infoBox: false,
        selectionIndicator: false,
        terrainProvider: new Cesium.EllipsoidTerrainProvider(),
    });
    const scene = viewer.scene;
    scene.globe.baseColor = Cesium.Color.fromCssColorString("#5b6b5a");
    scene.globe.showGroundAtmosphere = false;
    scene.skyAtmosphere.show = false;
    scene.fog.enabled = false;
    scene.backgroundColor = Cesium.Color.fromCssColorString("#20242a");
    if (scene.skyBox) scene.skyBox.show = false;
    viewer.creditDisplay.container.style.display = "none";

    const status = document.getElementById("status");
    const table = document.getElementById("properties");
    let tileset;
    try {
        tileset = await Cesium.Cesium3DTileset.fromUrl("/tiles/tileset.json");
    } catch (e) {
        status.textContent = "The tileset could not be loaded: " + e;
        return;
    }
    scene.primitives.add(tileset);
    // a picked building's yellow shows on textured walls too
    tileset.colorBlendMode = Cesium.Cesium3DTileColorBlendMode.MIX;
    tileset.colorBlendAmount = 0.6;
    let failed = 0;
    tileset.tileFailed.addEventListener((e) => {
        ++failed;
        status.textContent = `A tile failed: ${e.url} (${e.message})`;
    });
    tileset.allTilesLoaded.addEventListener(() => {
        if (!failed) status.textContent = "Click a building to see its properties.";
    });
    // The root's volume may be larger than the city (a grid padded for the quadtree): once the
    // first tiles are in, the view is framed on the first tile with content, whose volume is
    // the city's own.
    const firstTiles = new Promise((resolve) => {
        const remove = tileset.initialTilesLoaded.addEventListener(() => {
            remove();
            resolve();
        });
    });
    const from = (sphere) => new Cesium.HeadingPitchRange(0.5, -0.6, sphere.radius * 2.2);
    await viewer.zoomTo(tileset, from(tileset.boundingSphere));
    await firstTiles;
    let top = tileset.root;
    while (top.children.length === 1 && !top.hasRenderableContent) top = top.children[0];
    viewer.camera.viewBoundingSphere(top.boundingSphere, from(top.boundingSphere));
    viewer.camera.lookAtTransform(Cesium.Matrix4.IDENTITY);
    window.ombrelViewer = { viewer, tileset };

    const highlight = { feature: undefined, colour: new Cesium.Color() };
    const handler = new Cesium.ScreenSpaceEventHandler(scene.canvas);
    handler.setInputAction((click) => {
        if (highlight.feature) {
            highlight.feature.color = highlight.colour;
            highlight.feature = undefined;
        }
        table.textContent = "";
        const picked = scene.pick(click.position);
        if (!(picked instanceof Cesium.Cesium3DTileFeature)) return;
        highlight.feature = picked;
        Cesium.Color.clone(picked.color, highlight.colour);
        picked.color = Cesium.Color.YELLOW;
        const order = ["number", "column", "row", "height", "name", "definition"];
        const ids = picked.getPropertyIds();
        ids.sort((a, b) => (order.indexOf(a) + 1 || 99) - (order.indexOf(b) + 1 || 99));
        for (const id of ids) {
            let value = picked.getProperty(id);
            if (typeof value === "number" && !Number.isInteger(value)) value = value.toFixed(2);
            const tr = table.insertRow();
            tr.insertCell().textContent = id;
            tr.insertCell().textContent = value === "" ? "(none)" : String(value);
        }
    }, Cesium.ScreenSpaceEventType.LEFT_CLICK);
})();
