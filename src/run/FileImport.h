#pragma once
// The life of one NAS file in the database: begun, staged, closed, integrated, then committed or rolled
// back as a whole. Everything the file does (its staged rows, the versions and relations it closes, the
// tables it creates, its statistics and quality data, its integration) shares one transaction, so a file
// is applied whole or not at all: after a parse error, a failed integration, a lost connection or a killed
// program the database is as it was before the file, and importing the file again gives what one clean
// import gives. Features that fail one by one cost only themselves (see TZConnection's guarded
// transaction). The rows of the run log the file wrote stay, also when the file is rolled back.
#include <string>
#include <vector>

#include "app/FormKelpora.h"

// The log line of a file that waits for another import into its database, and the report when the
// server ends the wait (lock_timeout).
extern const char* const kWaitingForImportText;
extern const char* const kWaitingFailedText;

class TFileImport {
public:
    // Begins the file's transaction and takes the import lock (kImportLock), waiting, with its log line,
    // while another import holds it; throws EDatabaseError when the transaction cannot be begun. A wait
    // the server ends is reported, and leaves the transaction with its ServerFailure.
    explicit TFileImport(TfrmKelpora& form);
    // Rolls back what was not committed.
    ~TFileImport();
    TFileImport(const TFileImport&) = delete;
    TFileImport& operator=(const TFileImport&) = delete;

    // Makes the file's changes the database's. Throws EDatabaseError when the server refuses; the file
    // is rolled back then.
    void Commit();
    // Nothing of the file stays but its run log rows; the window's per-file caches and counts are those
    // of before the file.
    void RollBack();

private:
    void End();

    TfrmKelpora& form;
    std::vector<std::string> insertsBefore;
    std::vector<TLogRow> logRows;
    bool open = false;
};
