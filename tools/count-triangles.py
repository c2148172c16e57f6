#!/usr/bin/python3
"""Counts the triangles of an exported city: the faces of three corners in every coordIndex of a
VRML file, or every triangle (and every face) of an OBJ file read by tinyobjloader.

Usage: count-triangles.py FILE.wrl|FILE.obj
Prints "triangles=N faces=N"; for an OBJ also "colours=N", the number of distinct vertex colours
it read (0 when it has none), and every warning the reader gave (exit status 1 when there is one,
2 when the file cannot be read)."""
import re
import sys


def count_wrl(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    triangles = faces = 0
    for block in re.finditer(r"(?<![A-Za-z])coordIndex\s*\[([^\]]*)\]", text):
        n = 0
        for token in block.group(1).replace(",", " ").split():
            if int(token) < 0:
                faces += 1
                triangles += n == 3
                n = 0
            else:
                n += 1
        if n:
            faces += 1
            triangles += n == 3
    print(f"triangles={triangles} faces={faces}")
    return 0


def count_obj(path):
    import tinyobjloader

    reader = tinyobjloader.ObjReader()
    config = tinyobjloader.ObjReaderConfig()
    config.triangulate = False
    if not reader.ParseFromFile(path, config):
        print("error " + reader.Error().strip())
        return 2
    triangles = faces = 0
    for shape in reader.GetShapes():
        for n in shape.mesh.num_face_vertices:
            faces += 1
            triangles += n == 3
    values = reader.GetAttrib().colors
    colours = len(set(tuple(values[i:i + 3]) for i in range(0, len(values), 3)))
    print(f"triangles={triangles} faces={faces} colours={colours}")
    warning = reader.Warning().strip()
    if warning:
        print("warning " + warning)
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(count_obj(sys.argv[1]) if sys.argv[1].endswith(".obj") else count_wrl(sys.argv[1]))
