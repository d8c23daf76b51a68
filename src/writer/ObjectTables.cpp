// The object tables (one per object type, or per object-type group) and their attribute columns from
// the configuration table "parse", with the per-file caches that keep both out of the path of every
// feature but the first of its type.
#include "app/FormKelpora.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

#include <set>

namespace {

bool ContainsIgnoringCase(const TStringList& list, const std::string& name) {
    for (const auto& line : list.Lines())
        if (SameTextAscii(line, name))
            return true;
    return false;
}

std::string ColumnPiece(const std::string& typeCode) {
    if (typeCode == "2" || typeCode == "4")
        return " integer,";
    if (typeCode == "3")
        return " double precision,";
    if (typeCode == "1")
        return " character(4),";
    return " character varying,";
}

// The first "alkistemp" of the text (in any letter case) replaced by "public".
std::string ToPublic(std::string s) {
    const std::string lower = LowerCaseAscii(s);
    const auto pos = lower.find("alkistemp");
    if (pos != std::string::npos)
        s.replace(pos, 9, "public");
    return s;
}

std::string Trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// How a table name stands in one schema of the target database.
struct TNameUse {
    bool objectTable = false;   // a table inheriting from that schema's ax_objects
    bool otherRelation = false; // any other relation: table, index, sequence, view, ax_objects itself
};

// Tables the importer and the database functions create themselves when they are missing: an object
// table of that name would be taken for theirs later.
bool IsReservedName(const std::string& table) {
    static const char* const reserved[] = {"ax_objects",        "logs",           "invalids",
                                           "id_refs",           "statistics",     "umsetzung",
                                           "alkis_flurstuecke", "alkis_gebaeude", "alb_flurstuecke",
                                           "hoehenfestpunkte"};
    for (const char* name : reserved)
        if (table == name)
            return true;
    return false;
}

// Names PostgreSQL keeps for its own catalogues ("pg_" and the schemas it brings), and the schemas the
// import works in: a table of such a name would stand for a catalogue, or for a schema in the statements
// that name both.
bool IsDatabaseName(const std::string& table) {
    static const char* const schemas[] = {"alkistemp", "public", "pg_catalog", "information_schema"};
    if (table.starts_with("pg_"))
        return true;
    for (const char* name : schemas)
        if (table == name)
            return true;
    return false;
}

// What the server itself makes of a name (in lower case, as the table name is).
struct TServerName {
    // A data type of that name (geometry, box2d, text, ...) lives in a schema that names are looked up
    // in or that the tables go to: a table brings a row type of its own name, which would clash with it
    // (in public every later integration would fail) or hide it. Row types of existing relations are the
    // relations' own and are judged by the relation check.
    bool dataType = false;
    // An SQL key word that is not an ordinary identifier everywhere (select, user, left, integer, ...):
    // the statements that name the table without quotes would fail on it, or read it as something
    // else. Unreserved key words (action, data, ...) are plain names in every place and stay allowed.
    bool keyWord = false;
};

TServerName ReadServerName(TZQuery& q, const std::string& table) {
    q.SQL().Clear();
    q.SQL().Add("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_type t JOIN pg_catalog.pg_namespace n ON n.oid = "
                "t.typnamespace WHERE t.typname = v.name AND t.typrelid = 0 AND (n.nspname = ANY "
                "(pg_catalog.current_schemas(true)) OR n.nspname IN ('alkistemp', 'public'))), EXISTS "
                "(SELECT 1 FROM pg_catalog.pg_get_keywords() k WHERE k.word = v.name AND k.catcode <> 'U') "
                "FROM (SELECT CAST(:t AS text) AS name) v");
    q.Prepare();
    q.ParamByName("t").SetDataType(TFieldType::ftString);
    q.ParamByName("t").SetValue(table);
    q.Open();
    TServerName found;
    if (!q.Eof()) {
        found.dataType = q.Fields(0).AsBoolean();
        found.keyWord = q.Fields(1).AsBoolean();
    }
    q.Close();
    return found;
}

// Takes out of `columns` the lines whose column the staging table `table` (a checked identifier) lacks:
// a table made before the configuration table gained those lines would refuse every row that names them.
void KeepColumnsOfStagingTable(TZQuery& q, const std::string& table, TAttributList* columns) {
    if (!columns || columns->Count() == 0)
        return;
    q.SQL().Clear();
    q.SQL().Add("SELECT a.attname FROM pg_catalog.pg_attribute a WHERE a.attrelid = "
                "to_regclass('alkistemp.' || quote_ident(:t)) AND a.attnum > 0 AND NOT a.attisdropped");
    TZParam& t = q.ParamByName("t");
    t.SetDataType(TFieldType::ftString);
    t.SetValue(table);
    q.Open();
    std::set<std::string> present;
    for (; !q.Eof(); q.Next())
        present.insert(q.Fields(0).AsString());
    q.Close();
    for (int i = columns->Count() - 1; i >= 0; --i) {
        std::string rest = columns->ValueFromIndex(i);
        std::string column;
        GetNextToken(rest, "|", column);
        if (present.count(column) > 0)
            continue;
        columns->olderTable = "alkistemp." + table;
        columns->linesOlderThanTable.insert(columns->Names(i));
        columns->Delete(i);
    }
}

} // namespace

// The names reach the catalogue query as literals; both are checked to be plain identifiers first, so a
// name from a file can neither break the literal nor inject a statement.
std::int32_t TfrmKelpora::PgTableExists(const std::string& schema, const std::string& table) {
    const std::string s = SqlIdentifier(schema);
    const std::string t = SqlIdentifier(table);
    TZQuery& q = SharedStatement(cmd);
    q.SQL().Clear();
    q.SQL().Add("SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname='" + s + "' and tablename = '" +
                t + "'");
    q.Open();
    std::int64_t count = 0;
    for (; !q.Eof(); q.Next())
        count = q.Fields(0).AsInteger();
    return static_cast<std::int32_t>(count);
}

bool TfrmKelpora::EnsureObjectTable(const std::string& oa) {
    const bool groups = oNachFolien;
    if (!obTables)
        obTables = std::make_unique<TStringList>();
    try {
        const std::string group =
            groups ? (obOAGruppen ? obOAGruppen->Value(oa) : std::string()) : std::string();
        const std::string T = groups ? "og_" + group : oa;
        if (ContainsIgnoringCase(*obTables, T))
            return true;

        // The object type comes from the file: it becomes a table name only as a plain identifier, and
        // only where it names no relation but an object table, so that no file can take over a
        // configuration table, an index or a table of the database's own.
        const std::string table = SqlIdentifier(T);
        if (IsReservedName(table))
            throw EDatabaseError("Name einer Tabelle der Datenbank, keine Objektart: " + T);
        if (IsDatabaseName(table))
            throw EDatabaseError("Name ist der Datenbank vorbehalten, keine Objektart: " + T);
        const TServerName serverName = ReadServerName(SharedStatement(cmd), table);
        if (serverName.dataType)
            throw EDatabaseError("Name eines Datentyps der Datenbank, keine Objektart: " + T);
        if (serverName.keyWord)
            throw EDatabaseError("SQL-Schlüsselwort, keine Objektart: " + T);
        TNameUse staging;
        TNameUse integrated;
        bool keyNameFree = true;
        {
            TZQuery& q = SharedStatement(cmd);
            q.SQL().Clear();
            q.SQL().Add(
                "SELECT n.nspname, c.relkind = 'r' AND EXISTS (SELECT 1 FROM pg_catalog.pg_inherits i "
                "JOIN pg_catalog.pg_class p ON p.oid = i.inhparent WHERE i.inhrelid = c.oid AND "
                "p.relname = 'ax_objects' AND p.relnamespace = c.relnamespace), c.relname <> '" +
                table +
                "' FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                "c.relnamespace WHERE n.nspname IN ('alkistemp', 'public') AND c.relname IN ('" +
                table + "', '" + table + "_pkey')");
            q.Open();
            for (; !q.Eof(); q.Next()) {
                const bool isPublic = q.Fields(0).AsString() == "public";
                if (q.Fields(2).AsBoolean()) {
                    keyNameFree = keyNameFree && !isPublic;
                    continue;
                }
                TNameUse& use = isPublic ? integrated : staging;
                (q.Fields(1).AsBoolean() ? use.objectTable : use.otherRelation) = true;
            }
        }
        if (staging.otherRelation || integrated.otherRelation)
            throw EDatabaseError("Name bereits von einer anderen Relation belegt: " + T);
        if (staging.objectTable) {
            KeepColumnsOfStagingTable(SharedStatement(cmd), table,
                                      groups ? GetAttributList(T, group) : GetAttributList(oa, ""));
            obTables->Add(T);
            return true;
        }

        std::string S = "CREATE TABLE alkistemp." + table + " (";
        if (groups)
            S += "oa character varying, ";
        const TAttributList* columns = groups ? GetAttributList(T, group) : GetAttributList(oa, "");
        if (columns) {
            for (int i = 0; i < columns->Count(); ++i) {
                std::string rest = columns->ValueFromIndex(i);
                std::string column;
                GetNextToken(rest, "|", column);
                S += SqlIdentifier(column) + ColumnPiece(rest);
            }
        }
        // The last column piece ends in ","; the group column alone ends in ", ".
        while (!S.empty() && S.back() == ' ')
            S.pop_back();
        if (!S.empty() && S.back() == ',')
            S.pop_back();

        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add(S + ") INHERITS (alkistemp.ax_objects)");
        q.ExecSQL();

        if (PgTableExists("alkistemp", T) <= 0)
            return false;
        obTables->Add(T);
        if (integrated.objectTable)
            return true;

        q.SQL().Clear();
        q.SQL().Add(ToPublic(S));
        const std::string trimmed = Trimmed(S);
        if (trimmed.empty() || trimmed.back() != '(')
            q.SQL().Add(", ");
        // The key's usual name, unless another relation has it or it would be cut to the table's own
        // name; then the server picks a free one.
        if (keyNameFree && table.size() + 5 <= 63)
            q.SQL().Add(" CONSTRAINT " + table + "_pkey PRIMARY KEY (gml_id, beginn)");
        else
            q.SQL().Add(" PRIMARY KEY (gml_id, beginn)");
        q.SQL().Add(") INHERITS (public.ax_objects)");
        q.ExecSQL();
        return true;
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Anlegen der Tabelle", e.what());
        return false;
    }
}

TAttributList* TfrmKelpora::GetAttributList(const std::string& key, const std::string& group) {
    if (obParseTable) {
        for (const auto& list : *obParseTable)
            if (list->ObjektArt == key)
                return list.get();
    } else {
        obParseTable = std::make_unique<std::vector<std::unique_ptr<TAttributList>>>();
    }
    try {
        auto list = std::make_unique<TAttributList>(key);
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        if (oNachFolien)
            q.SQL().Add("select distinct attrart, attrartkennung, attrtyp from parse where "
                        "substring(cast(oakennung as varchar) from 1 for 2) =:oa");
        else
            q.SQL().Add("SELECT * FROM parse WHERE oa=:oa");
        q.Prepare();
        TZParam& oa = q.ParamByName("oa");
        oa.SetDataType(TFieldType::ftString);
        oa.SetValue(oNachFolien ? group : key);
        q.Open();
        for (; !q.Eof(); q.Next()) {
            const std::string attrart = q.FieldByName("attrart").AsString();
            const std::string kennung = q.FieldByName("attrartkennung").AsString();
            const TZField attrtyp = q.FieldByName("attrtyp");
            if (attrart.empty() || kennung.empty() || attrtyp.IsNull())
                continue;
            list->Add(attrart + "=" + LowerCaseAscii(kennung) + "|" + std::to_string(attrtyp.AsInteger()));
        }
        obParseTable->push_back(std::move(list));
        return obParseTable->back().get();
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Lesen der parse-Tabelle", e.what());
        return nullptr;
    }
}

std::unique_ptr<TStringList> TfrmKelpora::ReadOAGruppen() {
    auto groups = std::make_unique<TStringList>();
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add(
            "select distinct oa, substring(cast (oakennung as varchar) from 1 for 2) as og from parse "
            "order by oa");
        q.Open();
        for (; !q.Eof(); q.Next())
            groups->Add(q.FieldByName("oa").AsString() + "=" + q.FieldByName("og").AsString());
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Zusammenstellen der OAGruppen-Tabelle", e.what());
    }
    return groups;
}
