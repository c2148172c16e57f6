"""Renders an exported city's glTF from its "Home" camera with Blender's Cycles (CPU, 16
samples, no denoising, a grey world), to compare the pictures of two exports:

  blender -b --factory-startup --python bench/blender-render.py -- CITY.glb OUT.png [W H]
  python3 bench/png-diff.py A.png B.png
"""
import sys, numpy
numpy.bool = bool  # for Blender 3.4's glTF importer on Debian 12's numpy
import bpy
args = sys.argv[sys.argv.index("--") + 1:]
path, out = args[:2]
width, height = (int(args[2]), int(args[3])) if len(args) >= 4 else (640, 480)
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.import_scene.gltf(filepath=path)
scene = bpy.context.scene
scene.camera = bpy.data.objects['Home']
scene.render.engine = 'CYCLES'
scene.cycles.device = 'CPU'
scene.cycles.samples = 16
scene.cycles.use_denoising = False
scene.render.resolution_x = width
scene.render.resolution_y = height
scene.render.resolution_percentage = 100
world = bpy.data.worlds.new('w'); scene.world = world
world.use_nodes = True
world.node_tree.nodes['Background'].inputs[1].default_value = 1.0
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
