// The validity check of a feature's geometry, the SQL executor of the GML conversion, and the mapping
// of reference-system names to spatial reference codes.
#include "app/FormKelpora.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

void TfrmKelpora::EnsureInvalidsTable() {
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add("SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE tablename = 'invalids'");
        q.Open();
        std::int64_t n = 0;
        for (; !q.Eof(); q.Next())
            n = q.Fields(0).AsInteger();
        if (n <= 0) {
            q.SQL().Clear();
            q.SQL().Add("CREATE TABLE invalids( gml_id character varying, geo geometry)");
            q.ExecSQL();
        }
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Anlegen der Tabelle invalids", e.what());
    }
}

// An invalid geometry whose "invalids" row cannot be written still gives False: the check did find the
// geometry invalid, and the writer must not store it; the lost row is reported.
bool TfrmKelpora::CheckGeometry(const std::string& id, const std::string& wkt) {
    return CheckGeometryAnswer(id, wkt) == TGeometryAnswer::gaValid;
}

TfrmKelpora::TGeometryAnswer TfrmKelpora::CheckGeometryAnswer(const std::string& id, const std::string& wkt) {
    TGeometryAnswer answer = TGeometryAnswer::gaUnchecked;
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add("SELECT ST_IsValid(ST_GeomFromText(:wkt))");
        q.Prepare();
        q.ParamByName("wkt").SetDataType(TFieldType::ftWideString);
        q.ParamByName("wkt").SetValue(wkt);
        q.Open();
        bool valid = true;
        for (; !q.Eof(); q.Next())
            valid = q.Fields(0).ValueAsBoolean();
        answer = TGeometryAnswer::gaValid;
        if (!valid) {
            answer = TGeometryAnswer::gaInvalid;
            q.SQL().Clear();
            q.SQL().Add("INSERT INTO invalids (gml_id, geo) VALUES(:gml_id, :geo)");
            q.ParamByName("gml_id").SetDataType(TFieldType::ftString);
            q.ParamByName("gml_id").SetValue(id);
            q.ParamByName("geo").SetDataType(TFieldType::ftWideString);
            q.ParamByName("geo").SetValue(wkt);
            q.ExecSQL();
            answer = TGeometryAnswer::gaInvalidKept;
        }
    } catch (const std::exception& e) {
        const std::string M = "Fehler beim Prüfen der Geometrie von Objekt mit gml_id: " + id;
        ReportFailure(M, e.what());
    }
    return answer;
}

// A feature is never skipped without a word: the row names it and why, next to its "invalids" row.
bool TfrmKelpora::CheckFeatureGeometry(const std::string& oa, const std::string& id, const std::string& wkt) {
    switch (CheckGeometryAnswer(id, wkt)) {
    case TGeometryAnswer::gaValid:
        return true;
    case TGeometryAnswer::gaInvalidKept:
        ReportWriteFailure(oa, id, "ungültige Geometrie (in der Tabelle invalids)");
        break;
    case TGeometryAnswer::gaInvalid:
        ReportWriteFailure(oa, id, "ungültige Geometrie");
        break;
    case TGeometryAnswer::gaUnchecked:
        ReportWriteFailure(oa, id, "Geometrie nicht prüfbar");
        break;
    }
    return false;
}

std::string TfrmKelpora::PostGISCommand(const std::string& sql) {
    std::string result;
    try {
        if (!conn || !conn->Connected())
            throw EDatabaseError("Keine Verbindung zur Datenbank");
        // A statement of its own: the conversion calls this while the writer holds `cmd`.
        TZQuery q(conn.get());
        q.SetSQL(sql);
        q.Open();
        for (; !q.Eof(); q.Next())
            result = q.Fields(0).ValueAsString();
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Ausführen des PostGIS-Kommandos: " + sql, e.what());
    }
    return result;
}

std::int32_t TfrmKelpora::GetEPSG(const std::string& crs) {
    try {
        if (!obCRS)
            throw EDatabaseError("Die Koordinatensystem-Tabelle ist nicht gelesen");
        return SafeStrToInt(obCRS->Value(crs));
    } catch (const std::exception& e) {
        const std::string M = "Unbekanntes Koordinatensystem: " + crs;
        ReportFailure(M, M + "-" + e.what(), e.what());
        return -1;
    }
}
