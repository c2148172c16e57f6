#!/usr/bin/env python3
"""Writes the generated files of the bad-input catalogue (the hand-written ones sit beside them).

Run from this folder; the output is committed, so tests never need Python."""
import os
import struct
import zlib

ROOT = ('<Ombrel numCellsX="2" numCellsY="2" cellSizeX="10" cellSizeY="10" '
        'streetEveryX="1" streetEveryY="1" randomSeed="1">')


def write(name, text):
    with open("files/" + name, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def numbers_everywhere(tag, v):
    """Every numeric attribute of the grammar, the textures and the definitions holds v."""
    write(f"{tag}-grammar.xml", f'''<?xml version="1.0" encoding="UTF-8"?>
<!-- {v} in every numeric attribute below the root, as a number and in ranges. -->
{ROOT}
  <TextureGroup name="t">
    <Texture imageURL="assets/one.png" probability="{v}" scalex="{v}" scaley="{v}"/>
  </TextureGroup>
  <Procedure name="p"><DrawBox height="{v}" useTextureGroup="t"/></Procedure>
  <Street type="cross" probability="{v}"><DrawFloor/></Street>
  <Street type="horizontal" probability="{v}"><DrawFloor/></Street>
  <Street type="vertical" probability="{v}"><DrawFloor/></Street>
  <Building probability="{v}">
    <Push count="{v}"/>
    <ScaleTo scalex="{v}" scaley="[1,{v}]"/>
    <ScaleTo scalex="[{v},{v}]" scaley="{v}" scaleType="exact"/>
    <Rotate theta="{v}" distance="[{v},1]"/>
    <GoUp height="{v}"/>
    <DrawBox height="{v}" useTextureGroup="t"/>
    <DrawPyramid height="[0,{v}]">
      <Texture imageURL="assets/one.png" probability="{v}" scalex="{v}" scaley="{v}"/>
    </DrawPyramid>
    <DrawFloor useTextureGroup="t"/>
    <Maybe probability="{v}"><GoUp height="[{v},{v}]"/></Maybe>
    <Choose><ChooseOption probability="{v}"><DrawBox height="[{v},2]"/></ChooseOption></Choose>
    <Call name="p" repeat="{v}"/>
    <Call name="p" repeat="[1,{v}]"/>
    <Pop/>
  </Building>
</Ombrel>
''')
    write(f"{tag}-root.xml", f'''<?xml version="1.0" encoding="UTF-8"?>
<!-- {v} in every numeric attribute of the root. -->
<Ombrel numCellsX="{v}" numCellsY="{v}" cellSizeX="{v}" cellSizeY="{v}"
        streetEveryX="{v}" streetEveryY="{v}" firstStreetCrossX="{v}" firstStreetCrossY="{v}"
        streetSizeX="{v}" streetSizeY="{v}" randomSeed="{v}">
  <Street type="cross"><DrawFloor/></Street>
  <Street type="horizontal"><DrawFloor/></Street>
  <Street type="vertical"><DrawFloor/></Street>
  <Building><DrawBox height="5"/></Building>
</Ombrel>
''')


def png(width, height, bit_depth, colour_type, rows, extra=b""):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    numbers_everywhere("nan", "NaN")
    numbers_everywhere("inf", "-inf")
    numbers_everywhere("1e39", "1e39")

    # 300 Maybe elements inside each other.
    depth = 300
    write("deep-300.xml", '<?xml version="1.0" encoding="UTF-8"?>\n'
          f'<!-- {depth} Maybe elements nested inside each other. -->\n' + ROOT + "\n"
          '<Building probability="1">' + '<Maybe probability="1">' * depth +
          '<DrawBox height="1"/>' + "</Maybe>" * depth + "</Building>\n</Ombrel>\n")

    # The same city in UTF-16 (little-endian, with its byte order mark).
    text = ('<?xml version="1.0" encoding="UTF-16"?>\n'
            '<Ombrel numCellsX="1" numCellsY="1" cellSizeX="10" cellSizeY="10" randomSeed="1">\n'
            '  <Building probability="1" vrmlTag="Maison_été"><DrawBox height="5"/></Building>\n'
            '</Ombrel>\n')
    with open("files/utf16-bom.xml", "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))

    # Bytes that are no text at all, NUL included.
    with open("files/binary.xml", "wb") as f:
        f.write(bytes((i * 167 + 13) % 256 for i in range(512)))

    # Images: a single white pixel, and 20000 x 20000 one-bit pixels (a few kilobytes packed).
    with open("assets/one.png", "wb") as f:
        f.write(png(1, 1, 8, 2, b"\x00\xff\xff\xff"))
    os.makedirs("assets/vieille façade", exist_ok=True)
    with open("assets/vieille façade/brique rouge été.png", "wb") as f:
        f.write(png(1, 1, 8, 2, b"\x00\xc0\x40\x20"))
    side = 20000
    row = b"\x00" * (1 + (side + 7) // 8)
    with open("assets/huge.png", "wb") as f:
        f.write(png(side, side, 1, 0, row * side))


main()
