"""Imports an exported city's glTF into Blender, headless, and prints what an artist sees of it:

  objects=N buildings=N tagged=N linked=N
  extras NAME KEY=VALUE ...   (the number and text extras of that object)
  colour NAME R G B          (one line for each distinct vertex colour of that object)

objects counts every object, buildings the children of "Buildings", tagged those of them named
like a vrmlTag or a block (letters, then _COLUMN_ROW), linked those whose every material takes
the vertex colours (a Color Attribute node linked into the material). Colours are linear, to
four places.

Usage: blender -b --factory-startup --python tools/blender-check.py -- FILE.glb NAME
"""
import re
import sys

import numpy

# Debian 12's numpy no longer has the alias that Blender 3.4's glTF importer uses.
numpy.bool = bool
import bpy  # noqa: E402


def main():
    path, sample = sys.argv[sys.argv.index("--") + 1:][:2]
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.import_scene.gltf(filepath=path)
    objects = bpy.data.objects
    buildings = [o for o in objects if o.parent and o.parent.name == "Buildings"]
    tagged = [o for o in buildings if re.fullmatch(r"[A-Za-z][A-Za-z0-9]*_\d+_\d+", o.name)]
    linked = 0
    for o in buildings:
        mats = [s.material for s in o.material_slots if s.material]
        if mats and all(
            any(n.type == "VERTEX_COLOR" and n.outputs["Color"].is_linked
                for n in m.node_tree.nodes)
            for m in mats
        ):
            linked += 1
    print(f"objects={len(objects)} buildings={len(buildings)} tagged={len(tagged)} "
          f"linked={linked}")
    o = objects.get(sample)
    if o is None:
        return
    extras = [f"{k}={o[k]}" for k in o.keys() if isinstance(o[k], (int, float, str))]
    print(f"extras {sample} " + " ".join(sorted(extras)))
    colours = set()
    attribute = o.data.color_attributes.get("Col") if o.type == "MESH" else None
    if attribute:
        for d in attribute.data:
            c = d.color
            colours.add((round(c[0], 4), round(c[1], 4), round(c[2], 4)))
    for c in sorted(colours):
        print(f"colour {sample} {c[0]} {c[1]} {c[2]}")


main()
