#!/usr/bin/env bash
# Times Blender's headless import of an exported city and reports its peak memory:
#   bench/blender-import.sh FILE.glb|FILE.gltf|FILE.obj
# prints "seconds=S objects=N meshes=N materials=N peak_kb=K". glTF goes through the glTF
# importer, OBJ through Blender's own (C++) importer. Needs Debian's blender and python3-numpy.
set -euo pipefail
file=$(realpath "$1")
expr="
import sys, time, numpy
numpy.bool = bool  # Debian 12's numpy lacks the alias Blender 3.4's glTF importer uses
import bpy
bpy.ops.wm.read_factory_settings(use_empty=True)
start = time.time()
if '$file'.endswith('.obj'):
    bpy.ops.wm.obj_import(filepath='$file')
else:
    bpy.ops.import_scene.gltf(filepath='$file')
took = time.time() - start
print('seconds=%.2f objects=%d meshes=%d materials=%d' % (took, len(bpy.data.objects),
      len(bpy.data.meshes), len(bpy.data.materials)))
"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
/usr/bin/time -f "peak_kb=%M" -o "$log" blender -b --factory-startup --python-expr "$expr" 2>&1 |
    grep '^seconds=' | tr '\n' ' '
cat "$log"
