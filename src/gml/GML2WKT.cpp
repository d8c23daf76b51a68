#include "gml/GML2WKT.h"

#include <iterator>
#include <string_view>
#include <utility>

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

TGMLPointList* TGMLGeometry::JoinTarget(TGMLPointList& points) {
    if (points.empty())
        return nullptr;
    TGMLPointList* target = CurrentPointList();
    if (!target)
        return nullptr; // points before the first line, ring or polygon have nowhere to go
    // A segment starts where the one before it ended; the shared point is written once. Only an identical
    // text counts as the same point, because coordinates are never read as numbers.
    if (!target->empty() && target->back() == points.front())
        points.front().clear();
    return target;
}

void TGMLGeometry::AddPoints(TGMLPointList& points) {
    if (TGMLPointList* target = JoinTarget(points))
        target->insert(target->end(), points.begin(), points.end());
}

void TGMLGeometry::AddPoints(TGMLPointList&& points) {
    if (TGMLPointList* target = JoinTarget(points))
        target->insert(target->end(), std::make_move_iterator(points.begin()),
                       std::make_move_iterator(points.end()));
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

std::string_view TrimmedText(const TXmlNode& node) {
    const TXmlNode text = node.FirstChild();
    if (text.IsNull() || !text.IsText() || !text.NextSibling().IsNull())
        throw EGMLError("The element " + node.NodeName() + " holds no coordinate text");
    std::string_view value = text.TextView();
    while (!value.empty() && IsBlank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back()))
        value.remove_suffix(1);
    return value;
}

} // namespace

std::string NodeText(const TXmlNode& node) {
    return std::string(TrimmedText(node));
}

namespace {

// The values of a coordinate text, in a buffer kept from call to call (every posList of every feature
// comes here).
const std::vector<std::string_view>& SplitValues(std::string_view text) {
    thread_local std::vector<std::string_view> values;
    values.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsSeparator(text[i]))
            ++i;
        if (i > start)
            values.push_back(text.substr(start, i - start));
    }
    return values;
}

// The value of an srsDimension attribute (a positive integer, white space and a "+" allowed); 0 when it
// is none.
int DimensionValue(std::string_view value) {
    while (!value.empty() && IsBlank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back()))
        value.remove_suffix(1);
    if (!value.empty() && value.front() == '+')
        value.remove_prefix(1);
    while (value.size() > 1 && value.front() == '0')
        value.remove_prefix(1);
    return value.size() == 1 && value[0] >= '1' && value[0] <= '9' ? value[0] - '0' : 0;
}

} // namespace

int SrsDimension(const TXmlNode& node, int lowest) {
    static const std::string kName = "srsDimension";
    for (TXmlNode n = node; !n.IsNull() && n.IsElement(); n = n.Parent()) {
        if (!n.HasAttribute(kName))
            continue;
        const std::string value = n.Attribute(kName);
        const int dimension = DimensionValue(value);
        if (dimension < lowest || dimension > 3)
            throw EGMLError("srsDimension=\"" + value + "\" an " + n.NodeName() + " für " + node.NodeName() +
                            " wird nicht unterstützt: ein Punkt hat " + (lowest == 1 ? "1, " : "") +
                            "2 oder 3 Koordinaten.");
        return dimension;
    }
    return 0;
}

void PosListToPoints(const TXmlNode& node, TGMLPointList& points) {
    const int declared = SrsDimension(node, 2);
    const std::vector<std::string_view>& values = SplitValues(TrimmedText(node));
    const std::size_t dimension = declared == 0 ? 2 : static_cast<std::size_t>(declared);
    if (values.size() % dimension != 0)
        throw EGMLError("Die Koordinaten von " + node.NodeName() +
                        " lassen sich nicht in Punkte teilen: " + std::to_string(values.size()) + " Werte, " +
                        std::to_string(dimension) + " je Punkt.");
    points.reserve(points.size() + values.size() / dimension);
    for (std::size_t k = 0; k < values.size(); k += dimension) {
        std::string& p = points.emplace_back();
        std::size_t length = dimension - 1;
        for (std::size_t c = 0; c < dimension; ++c)
            length += values[k + c].size();
        p.reserve(length);
        for (std::size_t c = 0; c < dimension; ++c) {
            if (c > 0)
                p += ' ';
            p.append(values[k + c]);
        }
    }
}

std::string PosText(const TXmlNode& node) {
    const std::string_view text = TrimmedText(node);
    // A point without a declared dimension keeps the values it has: a height point carries one, an
    // ellipsoidal one three, and the writer reads both from the text.
    const int dimension = SrsDimension(node, 1);
    const std::size_t count = dimension == 0 ? 0 : SplitValues(text).size();
    if (dimension != 0 && count != static_cast<std::size_t>(dimension))
        throw EGMLError("Der Punkt " + node.NodeName() + " hat " + std::to_string(count) +
                        " Koordinaten, srsDimension verlangt " + std::to_string(dimension) + ".");
    return std::string(text);
}

TGMLPointList ChildTexts(const TXmlNode& node) {
    TGMLPointList texts;
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling())
        texts.push_back(child.PrefixView() == "gml" && child.LocalNameView() == "pos" ? PosText(child)
                                                                                      : NodeText(child));
    return texts;
}

void AddRing(TGMLGeometry& geometry, TGMLRing ring) {
    geometry.AddRing(std::move(ring));
}

// ------------------------------------------------------------------------------------------- the walk

namespace {

// The GML elements the conversion knows, by qualified name as written (prefix "gml", case-sensitive).
enum class TGmlName {
    Other,
    pos,
    posList,
    Arc,
    LineStringSegment,
    Surface,
    Polygon,
    exterior,
    interior,
    Curve,
    LineString,
    Point,
    MultiPoint,
    MultiPolygon,
    MultiSurface,
    MultiCurve,
    CompositeCurve,
};

constexpr std::pair<std::string_view, TGmlName> kGmlNames[] = {
    {"posList", TGmlName::posList},
    {"pos", TGmlName::pos},
    {"LineStringSegment", TGmlName::LineStringSegment},
    {"Arc", TGmlName::Arc},
    {"Curve", TGmlName::Curve},
    {"exterior", TGmlName::exterior},
    {"interior", TGmlName::interior},
    {"Surface", TGmlName::Surface},
    {"Polygon", TGmlName::Polygon},
    {"LineString", TGmlName::LineString},
    {"Point", TGmlName::Point},
    {"MultiPoint", TGmlName::MultiPoint},
    {"MultiPolygon", TGmlName::MultiPolygon},
    {"MultiSurface", TGmlName::MultiSurface},
    {"MultiCurve", TGmlName::MultiCurve},
    {"CompositeCurve", TGmlName::CompositeCurve},
};

// Runs once per node of every feature, so it works on views instead of building the qualified name.
TGmlName Classify(const TXmlNode& node) {
    if (node.PrefixView() != "gml")
        return TGmlName::Other;
    const std::string_view local = node.LocalNameView();
    for (const auto& [name, id] : kGmlNames)
        if (local == name)
            return id;
    return TGmlName::Other;
}

// The database writes a line of three coordinates per point as "LINESTRING Z (".
const std::string_view kLineStringPrefixes[] = {"LINESTRING(", "LINESTRING Z ("};

// A circular arc is linearised by PostGIS; its points come back in PostGIS' own number format.
void AddArc(const TXmlNode& arc, TGMLGeometry& geometry) {
    // Without an executor (no parser has been created yet) an arc cannot be linearised and adds nothing.
    if (!ExecPostGISSQL)
        return;
    const TXmlNode first = arc.FirstChild();
    if (first.IsNull() || Classify(first) != TGmlName::posList)
        return;
    TGMLPointList points;
    PosListToPoints(first, points);

    std::string sql = "SELECT ST_AsText(ST_CurveToLine(ST_GeomFromText('CIRCULARSTRING(";
    // The points come from the file and go into a string literal: a quote in them is doubled, so that a
    // file can never end the literal and run SQL of its own. Coordinates never hold one.
    for (const std::string& p : points) {
        for (const char c : p) {
            if (c == '\'')
                sql += '\'';
            sql += c;
        }
        sql += ',';
    }
    sql.pop_back();
    sql += ")')))";

    const std::string answer = ExecPostGISSQL(sql);
    std::string_view inner;
    for (const std::string_view prefix : kLineStringPrefixes)
        if (answer.starts_with(prefix) && answer.ends_with(')'))
            inner = std::string_view(answer).substr(prefix.size(), answer.size() - prefix.size() - 1);
    if (inner.empty())
        return;
    TGMLPointList linePoints;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = inner.find(',', start);
        linePoints.emplace_back(
            inner.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    geometry.AddPoints(std::move(linePoints));
}

void AddPosChildren(const TXmlNode& node, const TXmlNode& pos, bool& posTaken, TGMLGeometry& geometry) {
    if (pos.NextSibling().IsNull() && node.FirstChild() == pos) {
        geometry.AddPoints(TGMLPointList{PosText(pos)});
        return;
    }
    // Several children: the texts of all of them form one point list, taken at the first "gml:pos".
    if (posTaken)
        return;
    posTaken = true;
    geometry.AddPoints(ChildTexts(node));
}

} // namespace

void ParseGeometryNode(const TXmlNode& node, TGMLGeometry& geometry) {
    bool posTaken = false;
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling()) {
        switch (Classify(child)) {
        case TGmlName::pos:
            AddPosChildren(node, child, posTaken, geometry);
            break;
        case TGmlName::posList: {
            TGMLPointList points;
            PosListToPoints(child, points);
            geometry.AddPoints(std::move(points));
            break;
        }
        case TGmlName::Arc:
            AddArc(child, geometry);
            break;
        case TGmlName::Surface:
        case TGmlName::Polygon:
            geometry.AddPolygon();
            ParseGeometryNode(child, geometry);
            break;
        case TGmlName::exterior:
        case TGmlName::interior:
            AddRing(geometry, TGMLRing{{}, Classify(child) == TGmlName::exterior ? tExterior : tInterior});
            ParseGeometryNode(child, geometry);
            break;
        case TGmlName::Curve:
        case TGmlName::LineString:
            geometry.AddLine();
            ParseGeometryNode(child, geometry);
            break;
        default:
            // "gml:LineStringSegment", members, patches, rings: their content passes through.
            ParseGeometryNode(child, geometry);
            break;
        }
    }
}

namespace {

struct TGeometryRule {
    TGmlName name;
    TGMLGeomType type;
    int kind;
};

constexpr TGeometryRule kGeometryRules[] = {
    {TGmlName::Point, tPoint, gkPoint},
    {TGmlName::MultiPoint, tMultiPoint, gkPoint},
    {TGmlName::Polygon, tPolygon, gkArea},
    {TGmlName::MultiPolygon, tMultiPolygon, gkArea},
    {TGmlName::Surface, tPolygon, gkArea},
    {TGmlName::MultiSurface, tMultiPolygon, gkArea},
    {TGmlName::Curve, tLineString, gkLine},
    {TGmlName::MultiCurve, tMultiLineString, gkLine},
    {TGmlName::CompositeCurve, tMultiLineString, gkLine},
    {TGmlName::LineString, tLineString, gkLine},
};

const TGeometryRule* RuleOf(const TXmlNode& node) {
    const TGmlName name = Classify(node);
    for (const TGeometryRule& r : kGeometryRules)
        if (name == r.name)
            return &r;
    return nullptr;
}

void Convert(const TXmlNode& node, int& kind, std::string& wkt, TGMLGeomType* lastType,
             bool showUnknown = true) {
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling()) {
        const TGeometryRule* rule = RuleOf(child);
        if (!rule) {
            if (showUnknown)
                Dialogs().MessageDlg("Unknown type of geometry: " + child.NodeName(),
                                     TMsgDlgType::mtInformation, mbOK, mrOk);
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

std::string GMLGeometryToWKTQuietly(const TXmlNode& root) {
    int kind = 0;
    std::string wkt;
    Convert(root, kind, wkt, nullptr, false);
    return wkt;
}

bool MeetsUnknownGeometryType(const TXmlNode& root) {
    for (TXmlNode child = root.FirstChild(); !child.IsNull(); child = child.NextSibling())
        if (!RuleOf(child))
            return true;
    return false;
}

std::string GetSrsName(const TXmlNode& root) {
    for (TXmlNode node = root.FirstChild(); !node.IsNull(); node = node.FirstChild())
        if (node.HasAttribute("srsName"))
            return node.Attribute("srsName");
    return {};
}
