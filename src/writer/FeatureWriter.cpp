// The feature writer: one finished feature record becomes one row of its object table in the staging
// schema, together with its relations, its quality data and its insert count.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/FormKelpora.h"
#include "gml/GML2WKT.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"
#include "writer/DbSupport.h"
#include "writer/FeatureWork.h"

namespace {

const char* const kGml32Namespace = "http://www.opengis.net/gml/3.2";
const char* const kAaa60Namespace = "http://www.adv-online.de/namespaces/adv/gid/6.0";
const char* const kGmdNamespace = "http://www.isotc211.org/2005/gmd";
const char* const kGcoNamespace = "http://www.isotc211.org/2005/gco";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Removes the first occurrence of `what` (ASCII letters compared ignoring case); later ones stay.
void RemoveFirstIgnoringCase(std::string& s, const std::string& what) {
    if (what.empty() || s.size() < what.size())
        return;
    for (std::size_t i = 0; i + what.size() <= s.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() && LowerAscii(s[i + k]) == LowerAscii(what[k]))
            ++k;
        if (k == what.size()) {
            s.erase(i, what.size());
            return;
        }
    }
}

void ReplaceAll(std::string& s, char from, char to) {
    for (char& c : s)
        if (c == from)
            c = to;
}

// Twenty characters "0"/"1": position k (from 1) is "1" when a model type of the record has index k.
std::string ModelTypeMask(const TAXObject& record, const TModellarten* table) {
    std::string mask(20, '0');
    if (!table)
        return mask;
    for (const std::string& code : record.modellarten.Lines()) {
        const std::int32_t k = table->GetIdx(code);
        if (k >= 1 && k <= 20)
            mask[static_cast<std::size_t>(k - 1)] = '1';
    }
    return mask;
}

// Only a single point carries a height: "MultiPoint(" holds "Point(" as well, and cutting its text as a
// point's gave "oint(...".
bool IsSinglePoint(const std::string& wkt) {
    return wkt.starts_with("Point(") && wkt.ends_with(")");
}

// The coordinates of a single point's WKT text with "," as the decimal separator.
std::string HeightText(const std::string& wkt) {
    std::string text = wkt.substr(6, wkt.size() - 7);
    ReplaceAll(text, '.', ',');
    return text;
}

// The attribute lines a height fragment fills, or none when the fragment names no height system.
std::vector<std::string> HeightLineNames(const std::string& position) {
    if (position.find("DE_DHHN92_NH") != std::string::npos)
        return {"hoehe_5783", "DE_DHHN92_NH"};
    if (position.find("DE_DHHN2016_NH") != std::string::npos)
        return {"hoehe_7837", "DE_DHHN2016_NH"};
    if (position.find("ETRS89_h") != std::string::npos)
        return {"ETRS89_h"};
    return {};
}

// The SQL around the ":geo" parameter: Gauss-Krüger zones 4 and 5 get their zone number back in x
// before a geometry of a code other than the stored one is transformed into the selected target.
std::string GeometryExpression(std::int32_t srid, std::int32_t storedSrid, std::int32_t targetSrid) {
    std::string expr = "ST_GeometryFromText(:geo, " + std::to_string(srid) + ")";
    if (storedSrid > 0 && srid != storedSrid) {
        if (srid == 2398 || srid == 3397 || srid == 31468)
            expr = "ST_Translate(" + expr + ",4000000,0,0)";
        else if (srid == 2399 || srid == 3398 || srid == 31469)
            expr = "ST_Translate(" + expr + ",5000000,0,0)";
        expr = "ST_Transform(" + expr + ", " + std::to_string(targetSrid) + ")";
    }
    return expr;
}

// The document the quality data routine reads an attribute value of type code "6" from.
std::string QualityDataText(const std::string& column, const std::string& value) {
    return "<" + column + " xmlns=\"" + kAaa60Namespace + "\" xmlns:gmd=\"" + kGmdNamespace +
           "\" xmlns:gco=\"" + kGcoNamespace + "\" >" + value + "</" + column + ">";
}

// Whether a node below quality data holds text inside the description of an LI_Source.
bool HoldsSourceDescription(const TXmlNode& node, bool inSource, bool inDescription) {
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling()) {
        if (child.IsText()) {
            const std::string_view text = child.TextView();
            if (inDescription && std::any_of(text.begin(), text.end(),
                                             [](char ch) { return static_cast<unsigned char>(ch) > 32; }))
                return true;
        } else if (child.IsElement()) {
            const std::string_view local = child.LocalNameView();
            if (HoldsSourceDescription(child, inSource || local == "LI_Source",
                                       inDescription || (inSource && local == "description")))
                return true;
        }
    }
    return false;
}

// Whether the quality data value of a column of type code "6" holds a source description (the ISO 19115
// LI_Source/description, how a point was collected); a value that cannot be read holds none, its failure
// is said where its process steps are read.
bool HoldsSourceDescription(const std::string& column, const std::string& value) {
    if (value.find("LI_Source") == std::string::npos)
        return false;
    try {
        const std::unique_ptr<TXmlDocument> doc = TXmlDocument::LoadXml(QualityDataText(column, value));
        return HoldsSourceDescription(doc->Root(), false, false);
    } catch (const std::exception&) {
        return false;
    }
}

void Apply(TZQuery& query, const TBinding& b) {
    TZParam& p = query.ParamByName(b.name);
    p.SetDataType(b.type);
    if (b.isNull)
        p.SetNull();
    else
        p.SetValue(b.value);
}

} // namespace

const TAttributList::TInsertColumns& TAttributList::InsertColumns() const {
    if (!insertColumns) {
        auto made = std::make_unique<TInsertColumns>();
        for (int i = 0; i < Count(); ++i) {
            std::string rest = ValueFromIndex(i), token;
            GetNextToken(rest, "|", token);
            TColumn c{Names(i), LowerCaseAscii(token), rest};
            made->columnText += ", " + c.column;
            made->valueText += ",:" + c.column + " ";
            made->entries.push_back(std::move(c));
        }
        insertColumns = std::move(made);
    }
    return *insertColumns;
}

// The document the geometry routines read a feature's GML fragment from.
std::unique_ptr<TXmlDocument> LoadPosition(const std::string& position) {
    return TXmlDocument::LoadXml(std::string("<position xmlns:gml=\"") + kGml32Namespace + "\">" + position +
                                 "</position>");
}

// Whether the conversion of a fragment can ask anything: only a "gml:Arc" element makes it ask.
bool MayAskArcQuestions(const std::string& position) {
    return position.find("<gml:Arc") != std::string::npos;
}

void TfrmKelpora::TuneImportConnection() {
    // Commits of the import need not wait for the disk: a server crash can lose the last fraction of a
    // second of committed rows (never corrupt them), and the import of that file is then repeated.
    if (!conn || !conn->Connected())
        return;
    const void* const handle = conn->Handle();
    const int pid = PQbackendPID(conn->Handle());
    if (handle == tunedHandle && pid == tunedBackendPid)
        return;
    try {
        conn->SetSessionSetting("synchronous_commit", "off");
        tunedHandle = handle;
        tunedBackendPid = pid;
    } catch (const std::exception&) {
        // Only a speed-up: without it every commit waits for the disk, nothing else changes.
    }
}

void TfrmKelpora::CountInsert(const std::string& oa) {
    const int line = obInserts.IndexOfName(oa);
    if (line < 0)
        obInserts.Add(oa + "=1");
    else
        obInserts[line] =
            obInserts.Names(line) + "=" + std::to_string(std::stoll(obInserts.ValueFromIndex(line)) + 1);
}

std::int32_t TfrmKelpora::RelationTyp(const std::string& relTyp) const {
    return obRelationsTypen ? obRelationsTypen->GetTyp(relTyp) : -1;
}

namespace {

bool HasRelations(const TAXObject& r) {
    for (const auto& relation : r.relationen)
        if (!relation->Empty())
            return true;
    return false;
}

} // namespace

bool TfrmKelpora::CanDeferGeometryCheck(const std::string& oa, bool qualityRowsCollected) const {
    if (!obParseTable)
        return false;
    const std::string key = oNachFolien ? "og_" + (obOAGruppen ? obOAGruppen->Value(oa) : std::string()) : oa;
    for (const auto& list : *obParseTable) {
        if (list->ObjektArt != key)
            continue;
        if (qualityRowsCollected)
            return true;
        for (int i = 0; i < list->Count(); ++i) {
            const std::string value = list->ValueFromIndex(i);
            if (value.size() >= 2 && value.compare(value.size() - 2, 2, "|6") == 0)
                return false;
        }
        return true;
    }
    return false;
}

void TPreparedCall::AddValue(const char* value, std::size_t length) {
    if (!value) {
        starts.push_back(-1);
        return;
    }
    starts.push_back(static_cast<std::int32_t>(data.size()));
    data.append(value, length).push_back('\0');
}

void TPreparedCall::ValuePointers(std::vector<const char*>& out) const {
    out.clear();
    for (const std::int32_t start : starts)
        out.push_back(start < 0 ? nullptr : data.data() + start);
}

TPreparedCall TakePreparedCall(TZQuery& q) {
    // The values go straight from the parameters into the call's buffer.
    thread_local std::vector<const char*> values;
    q.ParamValues(values);
    TPreparedCall call(q.PreparedStatementName());
    // Each value's length is taken once: a geometry's text may run to megabytes.
    thread_local std::vector<std::size_t> lengths;
    lengths.clear();
    std::size_t bytes = 0;
    for (const char* v : values) {
        lengths.push_back(v ? std::strlen(v) : 0);
        bytes += v ? lengths.back() + 1 : 0;
    }
    call.Reserve(bytes, values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        call.AddValue(values[i], lengths[i]);
    return call;
}

void TfrmKelpora::ReportWriteFailure(const std::string& oa, const std::string& id, const std::string& error,
                                     const std::string& sqlState) {
    if (!FailureToBeSaid())
        return;
    if (FailureKindOf(sqlState) == TFailureKind::fkDuplicateKey) {
        const std::string text = "Objekt schon vorhanden: " + oa + ": " + id;
        AddLogLine(text);
        WriteLog(1, text);
    } else {
        const std::string text = "Fehler beim Import bei " + oa + ": " + id;
        AddLogLine(text);
        AddLogLine(error);
        WriteLog(1, text + " - " + error);
    }
}

void TfrmKelpora::ReportCrsFallback(const std::string& crs, const std::string& standardCrs,
                                    std::int32_t srid) {
    // The portion header of the file being read stands for the file: two files of one name are two.
    const TPortionFile* const file = obFiles.empty() ? nullptr : obFiles.back().get();
    if (file != crsFallbackFile) {
        crsFallbackFile = file;
        crsFallbacksReported.clear();
    }
    if (!crsFallbacksReported.insert(crs).second)
        return;
    const std::string text = "Das Bezugssystem " + crs + " der Datei " + sFileID +
                             " steht nicht in der Tabelle crs; seine Geometrien werden als " + standardCrs +
                             " (SRID " + std::to_string(srid) + ") gespeichert.";
    AddLogLine(text);
    WriteLog(1, text);
}

bool TfrmKelpora::SayPropertyNotStored(const std::string& oa, const std::string& property,
                                       const std::string& why) {
    const TPortionFile* const file = obFiles.empty() ? nullptr : obFiles.back().get();
    if (file != columnlessFile) {
        columnlessFile = file;
        columnlessReported.clear();
    }
    // A file of ever new element names would otherwise grow the list and the log without end.
    constexpr std::size_t kMostReports = 1000;
    std::string key = oa + '\n' + property;
    if (columnlessReported.count(key) > 0)
        return true;
    std::string said;
    if (columnlessReported.size() < kMostReports) {
        columnlessReported.insert(std::move(key));
        said = "Die Eigenschaft " + property + " von " + oa + " der Datei " + sFileID + why;
    } else if (columnlessReported.insert(std::string()).second) {
        said = "Weitere nicht gespeicherte Eigenschaften werden in der Datei " + sFileID +
               " nicht mehr einzeln genannt.";
    } else {
        return false;
    }
    AddLogLine(said);
    WriteLog(1, said);
    return true;
}

bool TfrmKelpora::PropertyNotStoredSaid(const std::string& oa, const std::string& property) const {
    const TPortionFile* const file = obFiles.empty() ? nullptr : obFiles.back().get();
    return file == columnlessFile && (columnlessReported.count(oa + '\n' + property) > 0 ||
                                      columnlessReported.count(std::string()) > 0);
}

void TfrmKelpora::ReportUnstoredProperties(const std::string& oa, const TAXObject& r,
                                           const TAttributList* columns) {
    if (r.zeigtAufExternes &&
        !SayPropertyNotStored(oa, "zeigtAufExternes",
                              " wird nicht gespeichert: Verweise auf Fachdaten übernimmt der Import nicht."))
        return;
    if (!columns)
        return;
    const std::vector<TAttributList::TColumn>& entries = columns->InsertColumns().entries;
    const TStringList& attribute = r.attribute;
    for (int i = 0; i < attribute.Count(); ++i) {
        // A line without a value (a data type's container, a repeat) loses nothing.
        if (!attribute.HasValue(i))
            continue;
        const std::string name = attribute.Names(i);
        const int column = columns->IndexOfName(name);
        if (column < 0) {
            const bool olderTable = columns->linesOlderThanTable.count(name) > 0;
            if (!SayPropertyNotStored(oa, name,
                                      olderTable ? " hat keine Spalte in der Tabelle " + columns->olderTable +
                                                       ", die vor ihrer Zeile in parse angelegt wurde, und "
                                                       "wird nicht gespeichert."
                                                 : std::string(" hat keine Spalte in der Tabelle parse und "
                                                               "wird nicht gespeichert.")))
                return;
            continue;
        }
        // Of quality data only the process steps are stored: a source description they hold is not.
        const TAttributList::TColumn& c = entries[static_cast<std::size_t>(column)];
        if (c.typeCode != "6")
            continue;
        const std::string source = c.attrart + "/LI_Source/description";
        if (PropertyNotStoredSaid(oa, source) ||
            !HoldsSourceDescription(c.column, attribute.ValueFromIndex(i)))
            continue;
        if (!SayPropertyNotStored(oa, source,
                                  " wird nicht gespeichert: von den Qualitätsangaben werden nur die "
                                  "Prozessschritte gespeichert."))
            return;
    }
}

void TfrmKelpora::ShowFileProgress() {
    if (obStatistics.Empty())
        return;
    std::int64_t total = 0;
    for (int i = 0; i < obInserts.Count(); ++i)
        total += std::stoll(obInserts.ValueFromIndex(i));
    if (total % 1000 == 0)
        SetStatusText(2, std::to_string(GetFileProgress()) + "% der aktuellen Datei");
}

// The quality data rows of a feature whose transaction did not go through, written now as the binding
// would have written them.
void TfrmKelpora::WriteCollectedQualityData(TFeatureWork& w) {
    if (!w.collectQualityRows)
        return;
    w.collectQualityRows = false;
    w.qualityRows.clear();
    const std::string beginText = DateTimeToDbText(w.dtBegin);
    for (const auto& [column, value] : w.qualityValues) {
        const std::unique_ptr<TXmlDocument> doc = TXmlDocument::LoadXml(QualityDataText(column, value));
        WriteProcessSteps(doc->Root(), w.id, beginText);
    }
}

bool TfrmKelpora::FinishFeatureWork(TFeatureWork& w, bool written) {
    if (!written) {
        // One statement at a time, in the order of the steps.
        if (w.deferredCheck && !CheckFeatureGeometry(w.oa, w.id, w.wkt))
            return false;
        WriteCollectedQualityData(w);
        if (w.deferredCheck || cmd->SQL().Lines() != w.insertSql) {
            cmd->SQL().Clear();
            for (const std::string& line : w.insertSql)
                cmd->SQL().Add(line);
            cmd->Prepare();
            for (const TBinding& b : w.bound)
                Apply(*cmd, b);
        }
        // A replace is one operation: only a new version that is stored ends the old ones, and a new
        // version whose old ones cannot be ended is not stored either.
        std::optional<TZStatementUnit> replace;
        if (w.replaces && !w.closingPlan.ClosesNothing())
            replace.emplace(*SharedStatement(cmd).Connection());
        cmd->ExecSQL();
        if (replace) {
            CloseReplacedVersions(w.closing, w.closingPlan);
            replace->Keep();
        }
    }
    CountInsert(w.oa);
    if (w.referenzen && !(written && w.withRelations))
        for (const auto& [typ, targets] : w.relations)
            for (const std::string& target : targets)
                WriteIdRef(w.id, target, w.dtBegin, typ);
    return true;
}

bool TfrmKelpora::WriteToDB(TAXObject* obAXObject) {
    if (!obAXObject)
        return false;
    TAXObject& r = *obAXObject;
    const std::string& oa = r.objektart();
    // A record the parser could not read whole is refused before anything of it reaches the database: a
    // replace closes nothing either.
    if (!r.refusal.empty()) {
        ReportWriteFailure(oa, r.identifikator, r.refusal);
        return false;
    }
    if (!EnsureObjectTable(oa)) {
        // The table's failure names the type; the record it leaves unstored is named as well.
        ReportWriteFailure(oa, r.identifikator,
                           "Die Objektart hat keine Tabelle, das Objekt wird nicht gespeichert.");
        return false;
    }
    if (r.wfsType == twfsDelete || r.wfsType == twfsUpdate)
        return DeleteFromDB(obAXObject);
    bool result = false;
    TFeatureWork w;
    // A replace is one operation: its closing is planned now, for what is stored before it, and done
    // with its new version, so that a new version that cannot be stored leaves the old one open.
    if (r.wfsType == twfsReplace) {
        w.closing = ClosingOf(r);
        w.replaces = PlanClosingOrReport(w.closing, w.closingPlan);
    }
    TuneImportConnection();
    // From here on the file may stage a version of the object and its relations.
    stagedObjects.Add(r.identifikator);
    for (const auto& relation : r.relationen)
        for (const std::string& target : relation->Lines())
            stagedTargets.Add(target);

    // With answers in flight, the validity question and the quality data rows always travel with the
    // INSERT: until it is sent, nothing of the feature reaches the server or the log (see the catch).
    const bool inFlight = !oOneStatementAtATime && iPipelineDepth > 0;
    const TWriteSettings settings = WriteSettings();
    w.referenzen = settings.referenzen;
    bool unsent = false; // the deferred check and the collected rows are still this call's to do
    try {
        // Geometry: the fragment's reference system, its WKT text, or height values instead.
        bool hasGeometry = false;
        bool deferredCheck = false;
        std::int32_t srid = -1;
        std::string& wkt = w.wkt;
        if (!r.position.empty()) {
            std::string crs;
            std::string standardCrs; // taken for a name that `crs` lacks
            {
                std::unique_ptr<TXmlDocument> loaded;
                const TXmlDocument* doc = currentDocument;
                currentDocument = nullptr;
                if (!doc) {
                    loaded = LoadPosition(r.position);
                    doc = loaded.get();
                }
                crs = GetSrsName(doc->Root());
                RemoveFirstIgnoringCase(crs, "urn:adv:crs:");
                srid = GetEPSG(crs);
                if (srid < 0) {
                    standardCrs = obKoRefs ? obKoRefs->GetStdCRS() : std::string();
                    srid = GetEPSG(standardCrs);
                }
                // The box of an unknown geometry comes after the reports of the features before it.
                if (inFlight && MeetsUnknownGeometryType(doc->Root()))
                    FinishFeaturesInFlight();
                if (inFlight && currentArcRecord != 0)
                    ReadArcAnswersOf(currentArcRecord);
                else if (inFlight && MayAskArcQuestions(r.position))
                    PrefetchArcQueries(doc->Root());
                wkt = GMLGeometryToWKT(doc->Root());
                if (conn)
                    conn->ClearPrefetched();
                currentArcRecord = 0;
            }
            const std::vector<std::string> heightLines = HeightLineNames(r.position);
            if (!heightLines.empty()) {
                if (IsSinglePoint(wkt)) {
                    const std::string height = HeightText(wkt);
                    for (const std::string& name : heightLines)
                        r.attribute.SetValue(name, height);
                }
            } else if (srid < 0) {
                WriteLog(1, "CRS unbekannt: (" + crs + ")" + oa + ": " + r.identifikator);
            } else {
                if (!crs.empty() && !standardCrs.empty())
                    ReportCrsFallback(crs, standardCrs, srid);
                // The validity answer can travel with the INSERT when nothing between here and the
                // INSERT can show: the attribute columns are known already, and no quality data get
                // written (or their rows travel in the same transaction).
                deferredCheck = !oOneStatementAtATime && CanDeferGeometryCheck(oa, inFlight);
                if (!deferredCheck && !CheckFeatureGeometry(oa, r.identifikator, wkt))
                    return result;
                hasGeometry = true;
            }
        }

        // Table and attribute columns.
        std::string table;
        std::string group;
        TAttributList* columns = nullptr;
        if (oNachFolien) {
            group = obOAGruppen ? obOAGruppen->Value(oa) : std::string();
            table = "og_" + group;
            columns = GetAttributList(table, group);
        } else {
            table = LowerCaseAscii(oa);
            columns = GetAttributList(oa, "");
        }
        ReportUnstoredProperties(oa, r, columns);
        static const TAttributList::TInsertColumns kNoColumns;
        const TAttributList::TInsertColumns& insertColumns = columns ? columns->InsertColumns() : kNoColumns;
        const std::vector<TAttributList::TColumn>& entries = insertColumns.entries;
        const std::string& columnText = insertColumns.columnText;
        const std::string& valueText = insertColumns.valueText;

        // The statement, line by line.
        const std::string expr =
            hasGeometry ? GeometryExpression(srid, iSRIDDB, settings.targetSrid) : std::string();
        std::string columnPart = " (gml_id, tablename, beginn, ende, modellart";
        std::string valuesPart = ") VALUES(:gml_id, :tablename, :beginn, :ende, :modellart";
        if (hasGeometry) {
            columnPart += std::string(", ") + "geo";
            valuesPart += ", " + expr;
        }
        if (oNachFolien) {
            columnPart += ", oa";
            valuesPart += ", '" + oa + "'";
        }
        columnPart += columnText;
        w.oa = oa;
        w.id = r.identifikator;
        w.dtBegin = r.dtBegin;
        w.result = result;
        w.deferredCheck = deferredCheck;
        w.collectQualityRows = inFlight;
        unsent = true;
        w.insertSql = {"INSERT INTO alkistemp." + table, columnPart, valuesPart, valueText + ")"};
        const std::vector<std::string>& insertSql = w.insertSql;
        const auto setInsert = [this, &insertSql] {
            cmd->SQL().Clear();
            for (const std::string& line : insertSql)
                cmd->SQL().Add(line);
            cmd->Prepare();
        };
        setInsert();

        // Binding. The quality data routine runs in the middle of it and reports its failures through
        // WriteLog on `cmd`; should that have taken `cmd` over, the INSERT and every parameter bound so far
        // are put back before the binding goes on, so the feature's INSERT stays whole.
        std::vector<TBinding>& bound = w.bound;
        bound.reserve(entries.size() + 6);
        const auto bind = [this, &bound](TBinding&& b) {
            Apply(*cmd, b);
            bound.push_back(std::move(b));
        };
        const std::string beginText = DateTimeToDbText(r.dtBegin);
        bind({"beginn", TFieldType::ftString, false, beginText});
        bind({"ende", TFieldType::ftString, false, DateTimeToDbText(r.dtEnde)});
        bind({"modellart", TFieldType::ftString, false, ModelTypeMask(r, obModellArten.get())});
        bind({"gml_id", TFieldType::ftString, false, r.identifikator});
        bind({"tablename", TFieldType::ftString, false, table});
        if (hasGeometry)
            bind({"geo", TFieldType::ftWideString, false, wkt});
        for (const TAttributList::TColumn& c : entries) {
            const int line = r.attribute.IndexOfName(c.attrart);
            const bool present = line >= 0;
            std::string value = present ? r.attribute.ValueFromIndex(line) : std::string();
            if (c.typeCode == "2") {
                bind({c.column, TFieldType::ftInteger, false, present ? std::move(value) : "-99"});
            } else if (c.typeCode == "3") {
                ReplaceAll(value, '.', ',');
                bind({c.column, TFieldType::ftFloat, !present, std::move(value)});
            } else if (c.typeCode == "4") {
                bind({c.column, TFieldType::ftInteger, false, (present && value == "true") ? "1" : "0"});
            } else if (c.typeCode == "6" && present) {
                std::string steps;
                {
                    const std::unique_ptr<TXmlDocument> doc =
                        TXmlDocument::LoadXml(QualityDataText(c.column, value));
                    if (w.collectQualityRows)
                        w.qualityValues.emplace_back(c.column, value);
                    collectingWork = w.collectQualityRows ? &w : nullptr;
                    steps = WriteProcessSteps(doc->Root(), r.identifikator, beginText);
                    collectingWork = nullptr;
                }
                if (cmd->SQL().Lines() != insertSql) {
                    setInsert();
                    for (const TBinding& b : bound)
                        Apply(*cmd, b);
                }
                bind({c.column, TFieldType::ftString, false, std::move(steps)});
            } else {
                bind({c.column, TFieldType::ftString, false, std::move(value)});
            }
        }

        w.withRelations = settings.referenzen && oTableExistsIdRefs && HasRelations(r);
        for (const auto& relation : r.relationen)
            w.relations.emplace_back(RelationTyp(relation->RelTyp), relation->Lines());
        TFeatureSend sent = TFeatureSend::fsNotWritten;
        // A lone INSERT goes the same way when answers need not be waited for.
        unsent = false;
        if (!oOneStatementAtATime && (w.deferredCheck || w.withRelations || iPipelineDepth > 0))
            sent = SendFeatureAtOnce(w);
        if (sent == TFeatureSend::fsPending) {
            // Its count, relations, progress and any report follow when its answer is read.
            ProcessMessagesNowAndThen();
            return result;
        }
        if (!FinishFeatureWork(w, sent == TFeatureSend::fsWritten))
            return result;
        result = true;
    } catch (const std::exception& e) {
        if (unsent) {
            // What the one-at-a-time way did before it met this error comes first.
            if (w.deferredCheck && !CheckFeatureGeometry(w.oa, w.id, w.wkt))
                return result;
            try {
                WriteCollectedQualityData(w);
            } catch (const std::exception&) {
                // the same texts loaded a moment ago
            }
        }
        ReportWriteFailure(oa, r.identifikator, e.what(), SqlStateOf(e));
    }

    ShowFileProgress();
    ProcessMessagesNowAndThen();
    return result;
}
