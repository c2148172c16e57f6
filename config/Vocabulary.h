#pragma once

#include <xercesc/util/XercesDefs.hpp>

namespace ombrel::vocab {

// The construction-file vocabulary as the XML library's UTF-16 text, compared directly with
// the names and values the DOM hands out. Names are case-sensitive.

// Elements.
inline constexpr XMLCh Ombrel[] = u"Ombrel";
inline constexpr XMLCh Street[] = u"Street";
inline constexpr XMLCh Building[] = u"Building";
inline constexpr XMLCh Procedure[] = u"Procedure";
inline constexpr XMLCh TextureGroup[] = u"TextureGroup";
inline constexpr XMLCh Texture[] = u"Texture";
inline constexpr XMLCh DrawFloor[] = u"DrawFloor";
inline constexpr XMLCh DrawBox[] = u"DrawBox";
inline constexpr XMLCh DrawPyramid[] = u"DrawPyramid";
inline constexpr XMLCh GoUp[] = u"GoUp";
inline constexpr XMLCh Rotate[] = u"Rotate";
inline constexpr XMLCh ScaleTo[] = u"ScaleTo";
inline constexpr XMLCh Call[] = u"Call";
inline constexpr XMLCh Choose[] = u"Choose";
inline constexpr XMLCh ChooseOption[] = u"ChooseOption";
inline constexpr XMLCh Maybe[] = u"Maybe";
inline constexpr XMLCh Push[] = u"Push";
inline constexpr XMLCh Pop[] = u"Pop";

// Attributes of the root.
inline constexpr XMLCh numCellsX[] = u"numCellsX";
inline constexpr XMLCh numCellsY[] = u"numCellsY";
inline constexpr XMLCh cellSizeX[] = u"cellSizeX";
inline constexpr XMLCh cellSizeY[] = u"cellSizeY";
inline constexpr XMLCh streetEveryX[] = u"streetEveryX";
inline constexpr XMLCh streetEveryY[] = u"streetEveryY";
inline constexpr XMLCh streetSizeX[] = u"streetSizeX";
inline constexpr XMLCh streetSizeY[] = u"streetSizeY";
inline constexpr XMLCh firstStreetCrossX[] = u"firstStreetCrossX";
inline constexpr XMLCh firstStreetCrossY[] = u"firstStreetCrossY";
inline constexpr XMLCh randomSeed[] = u"randomSeed";

// Attributes of definitions, textures and grammar elements.
inline constexpr XMLCh type[] = u"type";
inline constexpr XMLCh probability[] = u"probability";
inline constexpr XMLCh vrmlTag[] = u"vrmlTag";
inline constexpr XMLCh name[] = u"name";
inline constexpr XMLCh imageURL[] = u"imageURL";
inline constexpr XMLCh scalex[] = u"scalex";
inline constexpr XMLCh scaley[] = u"scaley";
inline constexpr XMLCh relativeToWidth[] = u"relativeToWidth";
inline constexpr XMLCh relativeToHeight[] = u"relativeToHeight";
inline constexpr XMLCh noColor[] = u"noColor";
inline constexpr XMLCh pointingDown[] = u"pointingDown";
inline constexpr XMLCh useTextureGroup[] = u"useTextureGroup";
inline constexpr XMLCh useLastTexture[] = u"useLastTexture";
inline constexpr XMLCh closed[] = u"closed";
inline constexpr XMLCh height[] = u"height";
inline constexpr XMLCh theta[] = u"theta";
inline constexpr XMLCh distance[] = u"distance";
inline constexpr XMLCh where[] = u"where";
inline constexpr XMLCh scaleType[] = u"scaleType";
inline constexpr XMLCh repeat[] = u"repeat";
inline constexpr XMLCh count[] = u"count";
inline constexpr XMLCh popCellVertices[] = u"popCellVertices";
inline constexpr XMLCh popHeight[] = u"popHeight";
inline constexpr XMLCh popRandomSeed[] = u"popRandomSeed";
inline constexpr XMLCh surface[] = u"surface";
inline constexpr XMLCh roofSurface[] = u"roofSurface";
inline constexpr XMLCh material[] = u"material";

// Enumeration words.
inline constexpr XMLCh horizontal[] = u"horizontal";
inline constexpr XMLCh vertical[] = u"vertical";
inline constexpr XMLCh cross[] = u"cross";
inline constexpr XMLCh yes[] = u"yes";
inline constexpr XMLCh no[] = u"no";
inline constexpr XMLCh onlyTop[] = u"onlyTop";
inline constexpr XMLCh onlyBottom[] = u"onlyBottom";
inline constexpr XMLCh center[] = u"center";
inline constexpr XMLCh v0[] = u"v0";
inline constexpr XMLCh v1[] = u"v1";
inline constexpr XMLCh v2[] = u"v2";
inline constexpr XMLCh v3[] = u"v3";
inline constexpr XMLCh relative[] = u"relative";
inline constexpr XMLCh exact[] = u"exact";
inline constexpr XMLCh trueWord[] = u"true";

// Every element name and every attribute name above, for naming the one a misspelt name meant.
inline constexpr const XMLCh* elementNames[] = {
    Ombrel,    Street,  Building,     Procedure, TextureGroup, Texture,
    DrawFloor, DrawBox, DrawPyramid,  GoUp,      Rotate,       ScaleTo,
    Call,      Choose,  ChooseOption, Maybe,     Push,         Pop};
inline constexpr const XMLCh* attributeNames[] = {numCellsX,
                                                  numCellsY,
                                                  cellSizeX,
                                                  cellSizeY,
                                                  streetEveryX,
                                                  streetEveryY,
                                                  streetSizeX,
                                                  streetSizeY,
                                                  firstStreetCrossX,
                                                  firstStreetCrossY,
                                                  randomSeed,
                                                  type,
                                                  probability,
                                                  vrmlTag,
                                                  name,
                                                  imageURL,
                                                  scalex,
                                                  scaley,
                                                  relativeToWidth,
                                                  relativeToHeight,
                                                  noColor,
                                                  pointingDown,
                                                  useTextureGroup,
                                                  useLastTexture,
                                                  closed,
                                                  height,
                                                  theta,
                                                  distance,
                                                  where,
                                                  scaleType,
                                                  repeat,
                                                  count,
                                                  popCellVertices,
                                                  popHeight,
                                                  popRandomSeed,
                                                  surface,
                                                  roofSurface,
                                                  material};

} // namespace ombrel::vocab
