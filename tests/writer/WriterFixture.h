#pragma once
// A main window connected to a fresh database the way an import run sets it up: connection and shared
// statement, run number, the lookup tables read from the configuration tables, per-file caches.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <QComboBox>
#include <QPlainTextEdit>

#include "QtApp.h"
#include "RunOnTestDatabase.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

class WriterTest : public ::testing::Test {
public:
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

protected:
    void SetUp() override {
        EnsureQApplication();
        form = std::make_unique<TfrmKelpora>();
        ConnectRunToTestDatabase(*form, db);
        conn = form->conn;
        form->obTables = std::make_unique<TStringList>();
        form->obKoRefs = std::make_unique<TKooRefSysteme>();
        form->oTableExistsIdRefs = false;
        form->iLfdNrUmsetzung = form->InitLogTable();
        form->EnsureInvalidsTable();
    }

    // Reads the lookup tables as a run does after the configuration rows of a test are in place.
    void ReadLookupTables() {
        form->ReadModellarten();
        form->ReadRelationsTypen();
        form->ReadCRS();
    }

    // Log window lines after the first (empty) one.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines = form->LogLines();
        if (!lines.empty())
            lines.erase(lines.begin());
        return lines;
    }

    // The error rows of "logs" in the order written.
    std::vector<std::string> ErrorRows() {
        std::vector<std::string> out;
        for (const auto& row : db.Query("SELECT beschreibung FROM logs WHERE meldetyp = 1 ORDER BY ctid"))
            out.push_back(row[0].value_or("<null>"));
        return out;
    }

    // A log window line of the time of day, ": " and `message`.
    static void ExpectTimed(const std::string& line, const std::string& message) {
        const std::string tail = ": " + message;
        ASSERT_GT(line.size(), tail.size()) << line;
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
        EXPECT_EQ(line.size() - tail.size(), TfrmKelpora::TimeOfDay().size()) << line;
    }

    TTestDatabase db;
    std::shared_ptr<TZConnection> conn;
    std::unique_ptr<TfrmKelpora> form;
};
