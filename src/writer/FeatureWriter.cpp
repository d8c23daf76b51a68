// The feature writer: one finished feature record becomes one row of its object table in the staging
// schema, together with its relations, its quality data and its insert count.
#include <libpq-fe.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/FormKelpora.h"
#include "gml/GML2WKT.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"

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

// The coordinates of a point's WKT text with "," as the decimal separator; empty for any other WKT.
std::string HeightText(const std::string& wkt) {
    if (wkt.find("Point(") == std::string::npos || wkt.size() < 7)
        return {};
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

bool Contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// One parameter value of the INSERT, kept so that the binding can be replayed.
struct TBinding {
    std::string name;
    TFieldType type;
    bool isNull;
    std::string value;
};

void Apply(TZQuery& query, const TBinding& b) {
    TZParam& p = query.ParamByName(b.name);
    p.SetDataType(b.type);
    if (b.isNull)
        p.SetNull();
    else
        p.SetValue(b.value);
}

} // namespace

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

bool TfrmKelpora::WriteToDB(TAXObject* obAXObject) {
    if (!obAXObject)
        return false;
    TAXObject& r = *obAXObject;
    const std::string& oa = r.objektart();
    if (!EnsureObjectTable(oa))
        return false;
    if (r.wfsType == twfsDelete)
        return DeleteFromDB(obAXObject);
    bool result = false;
    if (r.wfsType == twfsReplace)
        result = DeleteFromDB(obAXObject);
    TuneImportConnection();

    try {
        // Geometry: the fragment's reference system, its WKT text, or height values instead.
        bool hasGeometry = false;
        std::int32_t srid = -1;
        std::string wkt;
        if (!r.position.empty()) {
            std::string crs;
            {
                const std::unique_ptr<TXmlDocument> doc =
                    TXmlDocument::LoadXml(std::string("<position xmlns:gml=\"") + kGml32Namespace + "\">" +
                                          r.position + "</position>");
                crs = GetSrsName(doc->Root());
                RemoveFirstIgnoringCase(crs, "urn:adv:crs:");
                srid = GetEPSG(crs);
                if (srid < 0)
                    srid = GetEPSG(obKoRefs ? obKoRefs->GetStdCRS() : std::string());
                wkt = GMLGeometryToWKT(doc->Root());
            }
            const std::vector<std::string> heightLines = HeightLineNames(r.position);
            if (!heightLines.empty()) {
                if (Contains(wkt, "Point(")) {
                    const std::string height = HeightText(wkt);
                    for (const std::string& name : heightLines)
                        r.attribute.SetValue(name, height);
                }
            } else if (srid < 0) {
                WriteLog(1, "CRS unbekannt: (" + crs + ")" + oa + ": " + r.identifikator);
            } else {
                if (!CheckGeometry(r.identifikator, wkt))
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
        struct TColumn {
            std::string attrart, column, typeCode;
        };
        std::vector<TColumn> entries;
        std::string columnText, valueText;
        if (columns) {
            for (int i = 0; i < columns->Count(); ++i) {
                std::string rest = columns->ValueFromIndex(i), token;
                GetNextToken(rest, "|", token);
                TColumn c{columns->Names(i), LowerCaseAscii(token), rest};
                columnText += ", " + c.column;
                valueText += ",:" + c.column + " ";
                entries.push_back(std::move(c));
            }
        }

        // The statement, line by line.
        const std::string expr =
            hasGeometry ? GeometryExpression(srid, iSRIDDB, SelectedTargetSRID()) : std::string();
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
        const std::vector<std::string> insertSql = {"INSERT INTO alkistemp." + table, columnPart, valuesPart,
                                                    valueText + ")"};
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
        std::vector<TBinding> bound;
        const auto bind = [this, &bound](TBinding b) {
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
        for (const TColumn& c : entries) {
            const int line = r.attribute.IndexOfName(c.attrart);
            const bool present = line >= 0;
            const std::string value = present ? r.attribute.ValueFromIndex(line) : std::string();
            if (c.typeCode == "2") {
                bind({c.column, TFieldType::ftInteger, false, present ? value : "-99"});
            } else if (c.typeCode == "3") {
                std::string decimal = value;
                ReplaceAll(decimal, '.', ',');
                bind({c.column, TFieldType::ftFloat, !present, decimal});
            } else if (c.typeCode == "4") {
                bind({c.column, TFieldType::ftInteger, false, (present && value == "true") ? "1" : "0"});
            } else if (c.typeCode == "6" && present) {
                std::string steps;
                {
                    const std::unique_ptr<TXmlDocument> doc = TXmlDocument::LoadXml(
                        "<" + c.column + " xmlns=\"" + kAaa60Namespace + "\" xmlns:gmd=\"" + kGmdNamespace +
                        "\" xmlns:gco=\"" + kGcoNamespace + "\" >" + value + "</" + c.column + ">");
                    steps = WriteProcessSteps(doc->Root(), r.identifikator, beginText);
                }
                if (cmd->SQL().Lines() != insertSql) {
                    setInsert();
                    for (const TBinding& b : bound)
                        Apply(*cmd, b);
                }
                bind({c.column, TFieldType::ftString, false, steps});
            } else {
                bind({c.column, TFieldType::ftString, false, value});
            }
        }

        cmd->ExecSQL();
        const int counted = obInserts.IndexOfName(oa);
        if (counted < 0)
            obInserts.Add(oa + "=1");
        else
            obInserts[counted] = obInserts.Names(counted) + "=" +
                                 std::to_string(std::stoll(obInserts.ValueFromIndex(counted)) + 1);

        if (oReferenzen) {
            for (const auto& relation : r.relationen) {
                const std::int32_t typ = obRelationsTypen ? obRelationsTypen->GetTyp(relation->RelTyp) : -1;
                for (const std::string& target : relation->Lines())
                    WriteIdRef(r.identifikator, target, r.dtBegin, typ);
            }
        }
        result = true;
    } catch (const std::exception& e) {
        const std::string error = e.what();
        if (Contains(error, "duplicate key value") || Contains(error, "doppelter Schl")) {
            const std::string text = "Objekt schon vorhanden: " + oa + ": " + r.identifikator;
            AddLogLine(text);
            WriteLog(1, text);
        } else {
            const std::string text = "Fehler beim Import bei " + oa + ": " + r.identifikator;
            AddLogLine(text);
            AddLogLine(error);
            WriteLog(1, text + " - " + error);
        }
    }

    if (!obStatistics.Empty()) {
        std::int64_t total = 0;
        for (int i = 0; i < obInserts.Count(); ++i)
            total += std::stoll(obInserts.ValueFromIndex(i));
        if (total % 1000 == 0)
            SetStatusText(2, std::to_string(GetFileProgress()) + "% der aktuellen Datei");
    }
    ProcessMessages();
    return result;
}
