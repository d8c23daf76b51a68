#pragma once
// GML 3.2 geometry of one NAS feature to WKT text. Coordinates stay text from start to end: nothing is
// parsed into numbers, so the database receives exactly the digits and axis order the file wrote.
// Elements are recognised by their qualified name as written ("gml:Point"), so fragments must use the
// prefix "gml".
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/xml/XmlDom.h"

enum TGMLGeomType { tPoint, tLineString, tMultiPoint, tMultiLineString, tPolygon, tMultiPolygon };
enum TGMLRingType { tExterior, tInterior };

// Geometry kind as the conversion reports it.
enum : int { gkPoint = 0, gkLine = 1, gkArea = 2 };

// Point texts in order, one point each ("385000.5 5800000.25"). An empty text stands for a joint point
// dropped by AddPoints; it stays in the list and is skipped when the text is written.
using TGMLPointList = std::vector<std::string>;

// One polygon ring. ringType is informational: rings are written in document order.
struct TGMLRing {
    TGMLPointList points;
    TGMLRingType ringType = tExterior;
};
using TGMLPolygon = std::vector<TGMLRing>;

// The geometry of one GML geometry element while its points are collected.
class TGMLGeometry {
public:
    explicit TGMLGeometry(TGMLGeomType AgeomType) : geomType(AgeomType) {}

    TGMLGeomType GeomType() const { return geomType; }
    // Number of items: point lists (point/line/multi-point/multi-line), rings (polygon) or polygons.
    int Count() const;

    // Appends the points to the current point list (item 0 of a point/line/multi-point, the last line,
    // the last ring, or the last ring of the last polygon); dropped when there is none. A first point
    // equal, character for character, to the target's last point is replaced by "" in `points`.
    void AddPoints(TGMLPointList& points);
    // The same for a list the caller no longer needs: its texts are moved, not copied.
    void AddPoints(TGMLPointList&& points);
    // Writes the WKT text into `wkt`; a geometry without items leaves `wkt` as it was.
    void GenerateWKT(std::string& wkt) const;

    // Appends a new empty line (tMultiLineString only; ignored otherwise).
    void AddLine();
    // Appends a new polygon without rings (tMultiPolygon only; ignored otherwise).
    void AddPolygon();
    // Attaches a ring: to the geometry (tPolygon), to the last polygon (tMultiPolygon); dropped otherwise.
    void AddRing(TGMLRing ring);

    const std::vector<TGMLPointList>& Lines() const { return lines; }
    const TGMLPolygon& Rings() const { return rings; }
    const std::vector<TGMLPolygon>& Polygons() const { return polygons; }

private:
    TGMLPointList* CurrentPointList();
    // The target of AddPoints after the joint point of `points` was emptied; nullptr when there is none.
    TGMLPointList* JoinTarget(TGMLPointList& points);

    TGMLGeomType geomType;
    std::vector<TGMLPointList> lines;  // tPoint, tLineString, tMultiPoint (item 0 only), tMultiLineString
    TGMLPolygon rings;                 // tPolygon
    std::vector<TGMLPolygon> polygons; // tMultiPolygon
};

// The non-empty texts of the list joined by ","; "" for nullptr or a list without non-empty text.
std::string PointsToText(const TGMLPointList* points);
inline std::string PointsToText(const TGMLPointList& points) {
    return PointsToText(&points);
}
// Deletes a last character ",".
void RemoveTrailingComma(std::string& text);

// A GML element that should carry a text but does not (or holds elements), or coordinates that make no
// points; ends the conversion, and the writer reports its message in the feature's error row.
class EGMLError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs one SQL text and gives the first column of the last row, "" when the statement fails (the
// executor reports the failure itself). Used for circular arcs only.
using TPostGISCommandFunc = std::function<std::string(const std::string&)>;
extern TPostGISCommandFunc ExecPostGISSQL;

// The "srsName" of the first element on the chain of first children below `root` that carries one;
// "" when none does. Siblings are never looked at.
std::string GetSrsName(const TXmlNode& root);

// Converts every child of `node` (the "position" element) in order; each converted child overwrites
// kind and wkt, so the last wins. An unrecognised element shows "Unknown type of geometry: " + its
// qualified name, empties wkt and ends the conversion. Throws EGMLError for a coordinate element without
// text.
void GMLGeometryToWKT(const TXmlNode& node, int& kind, std::string& wkt);
// The same starting from an empty wkt.
std::string GMLGeometryToWKT(const TXmlNode& root, int& kind);
// The same, also giving the geometry type of the last converted element (unchanged when none was).
std::string GMLGeometryToWKT(const TXmlNode& root, TGMLGeomType& kind);
std::string GMLGeometryToWKT(const TXmlNode& root);
// The same without the box for an unrecognised element: for walks that only take down what the
// conversion asks, ahead of the conversion itself, which shows it.
std::string GMLGeometryToWKTQuietly(const TXmlNode& root);
// Whether the conversion of `root` may meet an unrecognised element (and show its box).
bool MeetsUnknownGeometryType(const TXmlNode& root);

// Walks the descendants of `node` and fills `geometry`.
void ParseGeometryNode(const TXmlNode& node, TGMLGeometry& geometry);
// The element's single text, with leading and trailing characters up to code 32 removed. Throws
// EGMLError for an element without text or with element children.
std::string NodeText(const TXmlNode& node);
// The number of coordinates per point that the "srsDimension" of `node` or of the nearest element
// around it gives; 0 when none gives one. Throws EGMLError for a value outside `lowest` to 3.
int SrsDimension(const TXmlNode& node, int lowest);
// Appends the points of a "gml:posList" as point texts, their values joined by one blank: as many values
// per point as SrsDimension says (2 or 3; 2 when nothing says). Throws EGMLError for a number of values
// that is no multiple of it.
void PosListToPoints(const TXmlNode& node, TGMLPointList& points);
// The text of a "gml:pos" (NodeText). When a dimension is declared (1, 2 or 3: a height point has one)
// the number of values must equal it, or EGMLError is thrown.
std::string PosText(const TXmlNode& node);
// NodeText of each child of `node`, in order (PosText for a "gml:pos").
TGMLPointList ChildTexts(const TXmlNode& node);
// Attaches the ring to the current polygon of the geometry, or drops it.
void AddRing(TGMLGeometry& geometry, TGMLRing ring);
