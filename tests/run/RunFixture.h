#pragma once
// A main window wired to a fresh test database through Kelpora.ini in a folder of its own, with the
// scripted dialogs and helpers to drive the import command.
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FakeDialogs.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"

class RunFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes Kelpora.ini for the test database (TCP with password) with this schema and extra lines.
    void WriteIni(const std::string& schema, const std::string& extra = {});
    // Queues the file-selection dialog: adds `files`, sets the check box, presses the named button
    // ("import", "post", "abbruch").
    void ChooseFiles(std::vector<std::string> files, bool postprocessing,
                     const std::string& button = "import");
    // The log window lines with their leading time of day removed (the first, empty line left out).
    std::vector<std::string> Lines() const;
    // The rows of logs for a run number: "meldetyp|beschreibung".
    std::vector<std::string> LogRows(int run);
    // Records every text status panel 0 shows whenever pending window messages are let through, and
    // calls `onStatus` with it.
    void WatchStatus(std::function<void(const std::string&)> onStatus = {});
    // Replaces the database's post-processing functions by ones that record their calls in `calls`.
    void TracePostProcessing();
    std::vector<std::string> TracedCalls();
    std::string ReadFile(const std::string& name) const;
    // The run's own state is gone after the clean-up, and so is its database session.
    void ExpectCleanedUp();

    QTemporaryDir dir;
    std::unique_ptr<TTestDatabase> db;
    std::unique_ptr<TFakeDialogs> fake;
    std::unique_ptr<TfrmKelpora> w;
    std::vector<std::string> statusSeen;
    std::unique_ptr<QTimer> watcher;
};
