#include "gml/GML2WKT.h"

#include "platform/dialogs/Dialogs.h"

TPostGISCommandFunc ExecPostGISSQL;

// ------------------------------------------------------------------------------------------ TGMLGeometry

int TGMLGeometry::Count() const {
    switch (geomType) {
    case tPolygon:
        return static_cast<int>(rings.size());
    case tMultiPolygon:
        return static_cast<int>(polygons.size());
    default:
        return static_cast<int>(lines.size());
    }
}

TGMLPointList* TGMLGeometry::CurrentPointList() {
    switch (geomType) {
    case tPoint:
    case tLineString:
    case tMultiPoint:
        if (lines.empty())
            lines.emplace_back();
        return &lines.front();
    case tMultiLineString:
        return lines.empty() ? nullptr : &lines.back();
    case tPolygon:
        return rings.empty() ? nullptr : &rings.back().points;
    case tMultiPolygon:
        if (polygons.empty() || polygons.back().empty())
            return nullptr;
        return &polygons.back().back().points;
    }
    return nullptr;
}

void TGMLGeometry::AddPoints(TGMLPointList& points) {
    if (points.empty())
        return;
    TGMLPointList* target = CurrentPointList();
    if (!target)
        return; // points before the first line, ring or polygon have nowhere to go
    // A segment starts where the one before it ended; the shared point is written once. Only an identical
    // text counts as the same point, because coordinates are never read as numbers.
    if (!target->empty() && target->back() == points.front())
        points.front().clear();
    target->insert(target->end(), points.begin(), points.end());
}

void TGMLGeometry::AddLine() {
    if (geomType == tMultiLineString)
        lines.emplace_back();
}

void TGMLGeometry::AddPolygon() {
    if (geomType == tMultiPolygon)
        polygons.emplace_back();
}

void TGMLGeometry::AddRing(TGMLRing ring) {
    if (geomType == tPolygon)
        rings.push_back(std::move(ring));
    else if (geomType == tMultiPolygon && !polygons.empty())
        polygons.back().push_back(std::move(ring));
}

namespace {

// "(" + points + ")," for every list, the last comma removed.
template <typename List, typename Points>
void AppendParenthesised(std::string& out, const List& items, Points pointsOf) {
    for (const auto& item : items) {
        out += '(';
        out += PointsToText(pointsOf(item));
        out += "),";
    }
    RemoveTrailingComma(out);
}

} // namespace

void TGMLGeometry::GenerateWKT(std::string& wkt) const {
    if (Count() == 0)
        return;
    const auto same = [](const TGMLPointList& l) -> const TGMLPointList& { return l; };
    const auto ringPoints = [](const TGMLRing& r) -> const TGMLPointList& { return r.points; };
    std::string out;
    switch (geomType) {
    case tPoint:
        out = "Point(" + PointsToText(lines.front()) + ")";
        break;
    case tLineString:
        out = "LineString(" + PointsToText(lines.front()) + ")";
        break;
    case tMultiPoint:
        out = "MultiPoint(" + PointsToText(lines.front()) + ")";
        break;
    case tMultiLineString:
        out = "MultiLineString(";
        AppendParenthesised(out, lines, same);
        out += ')';
        break;
    case tPolygon:
        out = "Polygon(";
        AppendParenthesised(out, rings, ringPoints);
        out += ')';
        break;
    case tMultiPolygon:
        out = "MultiPolygon(";
        for (const TGMLPolygon& polygon : polygons) {
            if (polygon.empty())
                continue;
            out += '(';
            AppendParenthesised(out, polygon, ringPoints);
            out += "),";
        }
        RemoveTrailingComma(out);
        out += ')';
        break;
    }
    wkt = std::move(out);
}

// --------------------------------------------------------------------------------------------- helpers

std::string PointsToText(const TGMLPointList* points) {
    std::string text;
    if (!points)
        return text;
    for (const std::string& p : *points) {
        if (p.empty())
            continue;
        text += p;
        text += ',';
    }
    RemoveTrailingComma(text);
    return text;
}

void RemoveTrailingComma(std::string& text) {
    if (!text.empty() && text.back() == ',')
        text.pop_back();
}

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Values are separated by any run of control characters and blanks (codes 1 to 32).
bool IsSeparator(char c) {
    return c != '\0' && IsBlank(c);
}

} // namespace

std::string NodeText(const TXmlNode& node) {
    const TXmlNode text = node.FirstChild();
    if (text.IsNull() || !text.IsText() || !text.NextSibling().IsNull())
        throw EGMLError("The element " + node.NodeName() + " holds no coordinate text");
    const std::string value = text.Text();
    std::size_t begin = 0;
    std::size_t end = value.size();
    while (begin < end && IsBlank(value[begin]))
        ++begin;
    while (end > begin && IsBlank(value[end - 1]))
        --end;
    return value.substr(begin, end - begin);
}

void PosListToPoints(const TXmlNode& node, TGMLPointList& points) {
    const std::string text = NodeText(node);
    std::vector<std::string> values;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsSeparator(text[i]))
            ++i;
        if (i > start)
            values.emplace_back(text, start, i - start);
    }
    if (values.size() % 2 != 0)
        return;
    for (std::size_t k = 0; k < values.size(); k += 2)
        points.push_back(values[k] + ' ' + values[k + 1]);
}

TGMLPointList ChildTexts(const TXmlNode& node) {
    TGMLPointList texts;
    for (const TXmlNode& child : node.ChildNodes())
        texts.push_back(NodeText(child));
    return texts;
}

void AddRing(TGMLGeometry& geometry, TGMLRing ring) {
    geometry.AddRing(std::move(ring));
}

// ------------------------------------------------------------------------------------------- the walk

namespace {

const std::string kLineStringPrefix = "LINESTRING(";

// A circular arc is linearised by PostGIS; its points come back in PostGIS' own number format.
void AddArc(const TXmlNode& arc, TGMLGeometry& geometry) {
    const TXmlNode first = arc.FirstChild();
    if (first.IsNull() || first.NodeName() != "gml:posList")
        return;
    TGMLPointList points;
    PosListToPoints(first, points);

    std::string sql = "SELECT ST_AsText(ST_CurveToLine(ST_GeomFromText('CIRCULARSTRING(";
    for (const std::string& p : points) {
        sql += p;
        sql += ',';
    }
    sql.pop_back();
    sql += ")')))";

    // Without an executor (no parser has been created) an arc cannot be linearised and adds nothing.
    if (!ExecPostGISSQL)
        return;
    const std::string answer = ExecPostGISSQL(sql);
    if (answer.find(kLineStringPrefix) == std::string::npos || answer.size() < kLineStringPrefix.size() + 1)
        return;
    const std::string inner =
        answer.substr(kLineStringPrefix.size(), answer.size() - kLineStringPrefix.size() - 1);
    TGMLPointList linePoints;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = inner.find(',', start);
        linePoints.push_back(
            inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    geometry.AddPoints(linePoints);
}

void AddPosChildren(const TXmlNode& node, const TXmlNode& pos, bool& posTaken, TGMLGeometry& geometry) {
    if (pos.NextSibling().IsNull() && node.FirstChild() == pos) {
        TGMLPointList one{NodeText(pos)};
        geometry.AddPoints(one);
        return;
    }
    // Several children: the texts of all of them form one point list, taken at the first "gml:pos".
    if (posTaken)
        return;
    posTaken = true;
    TGMLPointList all = ChildTexts(node);
    geometry.AddPoints(all);
}

} // namespace

void ParseGeometryNode(const TXmlNode& node, TGMLGeometry& geometry) {
    bool posTaken = false;
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling()) {
        const std::string name = child.NodeName();
        if (name == "gml:pos") {
            AddPosChildren(node, child, posTaken, geometry);
        } else if (name == "gml:posList") {
            TGMLPointList points;
            PosListToPoints(child, points);
            geometry.AddPoints(points);
        } else if (name == "gml:Arc") {
            AddArc(child, geometry);
        } else if (name == "gml:Surface" || name == "gml:Polygon") {
            geometry.AddPolygon();
            ParseGeometryNode(child, geometry);
        } else if (name == "gml:exterior" || name == "gml:interior") {
            TGMLRing ring;
            ring.ringType = name == "gml:exterior" ? tExterior : tInterior;
            AddRing(geometry, std::move(ring));
            ParseGeometryNode(child, geometry);
        } else if (name == "gml:Curve" || name == "gml:LineString") {
            geometry.AddLine();
            ParseGeometryNode(child, geometry);
        } else {
            // "gml:LineStringSegment", members, patches, rings: their content passes through.
            ParseGeometryNode(child, geometry);
        }
    }
}

namespace {

struct TGeometryRule {
    const char* name;
    TGMLGeomType type;
    int kind;
};

constexpr TGeometryRule kGeometryRules[] = {
    {"gml:Point", tPoint, gkPoint},
    {"gml:MultiPoint", tMultiPoint, gkPoint},
    {"gml:Polygon", tPolygon, gkArea},
    {"gml:MultiPolygon", tMultiPolygon, gkArea},
    {"gml:Surface", tPolygon, gkArea},
    {"gml:MultiSurface", tMultiPolygon, gkArea},
    {"gml:Curve", tLineString, gkLine},
    {"gml:MultiCurve", tMultiLineString, gkLine},
    {"gml:CompositeCurve", tMultiLineString, gkLine},
    {"gml:LineString", tLineString, gkLine},
};

// The geometry type of the last converted element; nullptr-free variant of the conversion.
void Convert(const TXmlNode& node, int& kind, std::string& wkt, TGMLGeomType* lastType) {
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling()) {
        const std::string name = child.NodeName();
        const TGeometryRule* rule = nullptr;
        for (const TGeometryRule& r : kGeometryRules)
            if (name == r.name) {
                rule = &r;
                break;
            }
        if (!rule) {
            Dialogs().MessageDlg("Unknown type of geometry: " + name, TMsgDlgType::mtInformation, mbOK, mrOk);
            wkt.clear();
            return;
        }
        kind = rule->kind;
        if (lastType)
            *lastType = rule->type;
        TGMLGeometry geometry(rule->type);
        ParseGeometryNode(child, geometry);
        geometry.GenerateWKT(wkt);
    }
}

} // namespace

void GMLGeometryToWKT(const TXmlNode& node, int& kind, std::string& wkt) {
    Convert(node, kind, wkt, nullptr);
}

std::string GMLGeometryToWKT(const TXmlNode& root, int& kind) {
    std::string wkt;
    Convert(root, kind, wkt, nullptr);
    return wkt;
}

std::string GMLGeometryToWKT(const TXmlNode& root, TGMLGeomType& kind) {
    int geometryKind = 0;
    std::string wkt;
    Convert(root, geometryKind, wkt, &kind);
    return wkt;
}

std::string GMLGeometryToWKT(const TXmlNode& root) {
    int kind = 0;
    return GMLGeometryToWKT(root, kind);
}

std::string GetSrsName(const TXmlNode& root) {
    for (TXmlNode node = root.FirstChild(); !node.IsNull(); node = node.FirstChild())
        if (node.HasAttribute("srsName"))
            return node.Attribute("srsName");
    return {};
}
