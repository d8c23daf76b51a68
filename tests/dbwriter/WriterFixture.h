#pragma once
// A main window whose run holds a connection to the test's own database, as an import run would.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "QtApp.h"
#include "RunOnTestDatabase.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        // The parts of the target schema these operations read; the prepared database brings them (with
        // its own content), a bare template gets them here.
        db.Exec(R"(
            SET client_min_messages = warning;
            CREATE EXTENSION IF NOT EXISTS postgis;
            CREATE SCHEMA IF NOT EXISTS alkistemp;
            CREATE TABLE IF NOT EXISTS alkistemp.ax_objects (gml_id varchar, tablename varchar,
                modellart varchar, beginn timestamp, ende timestamp, geo geometry);
            CREATE TABLE IF NOT EXISTS public.ax_objects (gml_id varchar, tablename varchar,
                modellart varchar, beginn timestamp, ende timestamp, geo geometry);
            CREATE TABLE IF NOT EXISTS public.id_refs (gml_id varchar, id_ref varchar, typ integer,
                beginn date, ende date);
            CREATE TABLE IF NOT EXISTS parse (oa varchar, oakennung integer, attrart varchar,
                attrartkennung varchar, attrtyp integer);
            CREATE TABLE IF NOT EXISTS modellarten (modellart varchar, modellidx integer);
            CREATE TABLE IF NOT EXISTS parserelations (typ integer, typbez varchar);
            CREATE TABLE IF NOT EXISTS crs (crs varchar, epsg integer);
        )");
        form = std::make_unique<TfrmKelpora>();
        ConnectRunToTestDatabase(*form, db);
        form->obTables = std::make_unique<TStringList>();
        logStart = form->LogLines().size();
    }
    void TearDown() override {
        form->cmd.reset();
        form->conn.reset();
    }

    // The log window lines added since the last call (or since the start of the test).
    std::vector<std::string> NewLogLines() {
        const auto all = form->LogLines();
        std::vector<std::string> added(all.begin() + static_cast<long>(logStart), all.end());
        logStart = all.size();
        return added;
    }
    // The run log rows as "type|text", in the order written.
    std::vector<std::string> LogRows() {
        std::vector<std::string> out;
        if (db.Scalar("SELECT to_regclass('public.logs') IS NOT NULL") != "t")
            return out;
        for (auto& r : db.Query("SELECT meldetyp, beschreibung FROM logs ORDER BY ctid"))
            out.push_back(r[0].value_or("<null>") + "|" + r[1].value_or("<null>"));
        return out;
    }
    // Creates an empty run log so that failure rows can be seen.
    void CreateLogs() {
        db.Exec("CREATE TABLE public.logs( lfd_nr_umsetz integer, zeitpunkt timestamp without time zone, "
                "meldetyp integer, beschreibung text)");
    }

    TTestDatabase db;
    std::unique_ptr<TfrmKelpora> form;
    std::size_t logStart = 0;
};

// The log window lines of a report in the standard form, with the time of day left out.
inline bool StartsWithTimeAnd(const std::string& line, const std::string& rest) {
    const auto pos = line.find(": ");
    return pos != std::string::npos && pos > 0 && line.substr(pos + 2) == rest;
}
