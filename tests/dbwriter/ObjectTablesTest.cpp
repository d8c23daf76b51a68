#include <algorithm>

#include "WriterFixture.h"

class ObjectTables : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        CreateLogs();
        db.Exec("DROP TABLE IF EXISTS parse CASCADE; CREATE TABLE parse (oa varchar, oakennung integer, "
                "attrart varchar, attrartkennung varchar, attrtyp integer); INSERT INTO parse (oa, "
                "oakennung, attrart, attrartkennung, attrtyp) VALUES "
                "('AX_Gebaeude', '31001', 'gebaeudefunktion', 'GFK', 2), "
                "('AX_Gebaeude', '31001', 'name', 'nam', 1), "
                "('AX_Gebaeude', '31001', 'leer', '', 2), "
                "('AX_Gebaeude', '31001', 'ohnetyp', 'otp', NULL), "
                "('AX_Gebaeude', '31001', 'hoehe', 'hho', 3), "
                "('AX_Gebaeude', '31001', 'qualitaet', 'qag', 6), "
                "('AX_Gebaeude', '31001', 'name', 'nam2', 9), "
                "('AX_Bauteil', '31002', 'bauart', 'bat', 2), "
                "('AX_Flurstueck', '11001', 'amtlicheflaeche', 'afl', 3), "
                "('AX_Flurstueck', '21001', 'amtlicheflaeche', 'afl', 3)");
    }
    std::string Columns(const std::string& schema, const std::string& table) {
        std::string out;
        for (auto& r :
             db.Query("SELECT column_name || ' ' || data_type FROM information_schema.columns WHERE "
                      "table_schema = '" +
                      schema + "' AND table_name = '" + table +
                      "' AND column_name NOT IN ('gml_id','tablename','modellart','beginn','ende','geo') "
                      "ORDER BY ordinal_position"))
            out += (out.empty() ? "" : ", ") + r[0].value_or("");
        return out;
    }
    int Tables(const std::string& schema, const std::string& table) {
        return std::stoi(db.Scalar("SELECT count(*) FROM pg_tables WHERE schemaname='" + schema +
                                   "' AND tablename='" + table + "'"));
    }
};

TEST_F(ObjectTables, PerTypeTablesCreatedOnceWithTheirColumns) {
    EXPECT_TRUE(form->EnsureObjectTable("AX_Gebaeude"));
    EXPECT_EQ(
        Columns("alkistemp", "ax_gebaeude"),
        "gfk integer, nam character, hho double precision, qag character varying, nam2 character varying");
    EXPECT_EQ(Columns("public", "ax_gebaeude"), Columns("alkistemp", "ax_gebaeude"));
    EXPECT_EQ(db.Scalar("SELECT character_maximum_length FROM information_schema.columns WHERE "
                        "table_schema='alkistemp' AND table_name='ax_gebaeude' AND column_name='nam'"),
              "4");
    EXPECT_EQ(
        db.Scalar("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname='ax_gebaeude_pkey'"),
        "PRIMARY KEY (gml_id, beginn)");
    EXPECT_EQ(
        db.Scalar("SELECT count(*) FROM pg_inherits WHERE inhparent = 'public.ax_objects'::regclass AND "
                  "inhrelid = 'public.ax_gebaeude'::regclass"),
        "1");
    // The public twin's statement, as it was sent.
    EXPECT_EQ(
        form->cmd->SQL().Lines(),
        (std::vector<std::string>{"CREATE TABLE public.ax_gebaeude (gfk integer,nam character(4),hho double "
                                  "precision,qag character varying,nam2 character varying",
                                  ", ", " CONSTRAINT ax_gebaeude_pkey PRIMARY KEY (gml_id, beginn)",
                                  ") INHERITS (public.ax_objects)"}));
    EXPECT_EQ(form->obTables->Lines(), std::vector<std::string>{"AX_Gebaeude"});

    // Known now: nothing more goes to the database, not even for the same type in other letter case.
    auto shared = form->cmd;
    form->cmd.reset();
    EXPECT_TRUE(form->EnsureObjectTable("AX_Gebaeude"));
    EXPECT_TRUE(form->EnsureObjectTable("ax_GEBAEUDE"));
    EXPECT_TRUE(NewLogLines().empty());
    form->cmd = shared;
    // ... but the attribute cache compares keys exactly and reads a list of its own for it.
    TAttributList* exact = form->GetAttributList("AX_Gebaeude", "");
    TAttributList* other = form->GetAttributList("ax_GEBAEUDE", "");
    ASSERT_TRUE(exact && other);
    EXPECT_NE(exact, other);
    EXPECT_EQ(exact->Lines(), (std::vector<std::string>{"gebaeudefunktion=gfk|2", "name=nam|1", "hoehe=hho|3",
                                                        "qualitaet=qag|6", "name=nam2|9"}));
    EXPECT_EQ(other->ObjektArt, "ax_GEBAEUDE");
}

TEST_F(ObjectTables, ExistingStagingTableIsOnlyCounted) {
    db.Exec("CREATE TABLE alkistemp.ax_bauteil () INHERITS (alkistemp.ax_objects)");
    EXPECT_TRUE(form->EnsureObjectTable("AX_Bauteil"));
    EXPECT_EQ(Tables("public", "ax_bauteil"), 0);
    EXPECT_EQ(Columns("alkistemp", "ax_bauteil"), "");
    EXPECT_EQ(form->obTables->Lines(), std::vector<std::string>{"AX_Bauteil"});
}

TEST_F(ObjectTables, TypeWithoutColumnsGetsEmptyTables) {
    EXPECT_TRUE(form->EnsureObjectTable("AX_Leer"));
    EXPECT_EQ(Tables("alkistemp", "ax_leer"), 1);
    EXPECT_EQ(form->cmd->SQL().Lines(),
              (std::vector<std::string>{"CREATE TABLE public.ax_leer (",
                                        " CONSTRAINT ax_leer_pkey PRIMARY KEY (gml_id, beginn)",
                                        ") INHERITS (public.ax_objects)"}));
    EXPECT_EQ(Columns("public", "ax_leer"), "");
    EXPECT_TRUE(NewLogLines().empty());
}

TEST_F(ObjectTables, GroupTables) {
    form->oNachFolien = true;
    form->obOAGruppen = form->ReadOAGruppen();
    // Ordered by object type; the two beginnings of one type come in the order the database chooses.
    auto groups = form->obOAGruppen->Lines();
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0], "AX_Bauteil=31");
    EXPECT_EQ(groups[3], "AX_Gebaeude=31");
    std::sort(groups.begin() + 1, groups.begin() + 3);
    EXPECT_EQ(groups[1] + " " + groups[2], "AX_Flurstueck=11 AX_Flurstueck=21");
    EXPECT_TRUE(form->EnsureObjectTable("ax_gebaeude"));
    EXPECT_EQ(form->obTables->Lines(), std::vector<std::string>{"og_31"});
    const std::string cols = Columns("alkistemp", "og_31");
    EXPECT_EQ(cols.substr(0, 20), "oa character varying");
    for (const char* c : {"gfk integer", "nam character", "hho double precision", "bat integer", "nam2"})
        EXPECT_NE(cols.find(c), std::string::npos) << cols;
    EXPECT_TRUE(form->EnsureObjectTable("AX_Bauteil")); // same group, no database access needed
    EXPECT_TRUE(NewLogLines().empty());

    // A type the group table does not hold: table "og_" with the group column alone, in both schemas.
    EXPECT_TRUE(form->EnsureObjectTable("AX_Unbekannt"));
    EXPECT_EQ(Columns("alkistemp", "og_").substr(0, 20), "oa character varying");
    EXPECT_EQ(Columns("public", "og_").substr(0, 20), "oa character varying");
    EXPECT_TRUE(NewLogLines().empty());
    EXPECT_EQ(form->obTables->Count(), 2);

    db.Exec("ALTER TABLE parse RENAME COLUMN oa TO objektart");
    auto partial = form->ReadOAGruppen();
    EXPECT_TRUE(partial->Empty());
    EXPECT_EQ(NewLogLines().size(), 2u);
    EXPECT_EQ(LogRows().back().substr(0, 54), "1|Fehler beim Zusammenstellen der OAGruppen-Tabelle - ");
}

TEST_F(ObjectTables, FailedAttributeReadIsReportedAndRepeated) {
    db.Exec("ALTER TABLE parse RENAME COLUMN attrtyp TO typ");
    EXPECT_EQ(form->GetAttributList("AX_Gebaeude", ""), nullptr);
    auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Fehler beim Lesen der parse-Tabelle")) << lines[0];
    EXPECT_EQ(lines[1], "\tField 'attrtyp' not found");
    EXPECT_TRUE(form->obParseTable && form->obParseTable->empty());

    // The table goes on without attribute columns.
    EXPECT_TRUE(form->EnsureObjectTable("AX_Gebaeude"));
    EXPECT_EQ(Columns("alkistemp", "ax_gebaeude"), "");
    NewLogLines();

    db.Exec("ALTER TABLE parse RENAME COLUMN typ TO attrtyp");
    TAttributList* list = form->GetAttributList("AX_Gebaeude", "");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 5);
    EXPECT_EQ(form->GetAttributList("AX_Gebaeude", ""), list);
}

// Object type names come from the file; none of these may reach SQL as a piece of a statement.
TEST_F(ObjectTables, HostileObjectTypeNamesStayHarmless) {
    db.Exec("CREATE TABLE public.victim(x int)");
    const std::string hostile[] = {
        "AX_x (a int); DROP TABLE public.victim; CREATE TABLE alkistemp.y",
        "AX_x' or '1'='1",
        "ax gebaeude",
        "\"AX_Quoted\"",
        "1AX",
        "AX_Gebäude",
        std::string(64, 'a'),
        "",
    };
    for (const auto& name : hostile) {
        EXPECT_FALSE(form->EnsureObjectTable(name)) << name;
        const auto lines = NewLogLines();
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_EQ(lines[1], "\tUngültiger Name für eine Tabelle oder Spalte: " + name);
    }
    EXPECT_EQ(Tables("public", "victim"), 1);
    EXPECT_EQ(
        db.Scalar("SELECT count(*) FROM pg_tables WHERE schemaname='alkistemp' AND tablename <> 'ax_objects'"
                  " AND tablename <> 'id_refs'"),
        "0");
    EXPECT_TRUE(form->obTables->Empty());
    // A long plain name is fine.
    EXPECT_TRUE(form->EnsureObjectTable("AX_" + std::string(50, 'b')));
    EXPECT_TRUE(NewLogLines().empty());
}

// A type named like a data type the database has (PostGIS's geometry, a built-in type, an array type)
// would bring a row type of the same name: in public every integration would fail from then on. Such a
// name is refused like the names of other relations, and a type of another name still gets its tables.
TEST_F(ObjectTables, TypesNamedLikeDataTypesAreRefused) {
    for (const std::string name : {"geometry", "Geography", "box2d", "text", "int4", "_geometry"}) {
        EXPECT_FALSE(form->EnsureObjectTable(name)) << name;
        const auto lines = NewLogLines();
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_EQ(lines[1], "\tName eines Datentyps der Datenbank, keine Objektart: " + name);
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_tables WHERE schemaname IN ('public', 'alkistemp') AND "
                        "tablename IN ('geometry', 'geography', 'box2d', 'text', 'int4', '_geometry')"),
              "0");
    EXPECT_TRUE(form->EnsureObjectTable("AX_Geometrie"));
    EXPECT_TRUE(NewLogLines().empty());
    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "0");
}

// Names the database keeps for itself: its catalogues ("pg_"), the schemas of the import and of the
// server, and SQL key words that are no plain identifier. Refused in any letter case, like the names of
// other relations; an unreserved key word is a plain name and gets its tables.
TEST_F(ObjectTables, NamesTheDatabaseReservesAreRefused) {
    const struct {
        const char* name;
        const char* reason;
    } refused[] = {
        {"pg_class", "Name ist der Datenbank vorbehalten"},
        {"PG_Toast", "Name ist der Datenbank vorbehalten"},
        {"pg_ax_gebaeude", "Name ist der Datenbank vorbehalten"},
        {"alkistemp", "Name ist der Datenbank vorbehalten"},
        {"Public", "Name ist der Datenbank vorbehalten"},
        {"pg_catalog", "Name ist der Datenbank vorbehalten"},
        {"information_schema", "Name ist der Datenbank vorbehalten"},
        {"select", "SQL-Schlüsselwort"},
        {"SELECT", "SQL-Schlüsselwort"},
        {"User", "SQL-Schlüsselwort"},
        {"left", "SQL-Schlüsselwort"},
        {"between", "SQL-Schlüsselwort"},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(form->EnsureObjectTable(c.name)) << c.name;
        const auto lines = NewLogLines();
        ASSERT_EQ(lines.size(), 2u) << c.name;
        EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Fehler beim Anlegen der Tabelle")) << lines[0];
        EXPECT_EQ(lines[1], "\t" + std::string(c.reason) + ", keine Objektart: " + c.name);
        EXPECT_EQ(LogRows().back(), "1|Fehler beim Anlegen der Tabelle - " + std::string(c.reason) +
                                        ", keine Objektart: " + c.name);
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_tables WHERE schemaname IN ('public', 'alkistemp') AND "
                        "tablename IN ('pg_class', 'pg_toast', 'pg_ax_gebaeude', 'alkistemp', 'public', "
                        "'pg_catalog', 'information_schema', 'select', 'user', 'left', 'between')"),
              "0");
    EXPECT_TRUE(form->obTables->Empty());
    EXPECT_TRUE(form->EnsureObjectTable("Action"));
    EXPECT_TRUE(NewLogLines().empty());
    EXPECT_EQ(Tables("public", "action"), 1);
    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "0");
}
