#pragma once
// Small pieces the run's commands share: the three-way step report and the texts of the file loop.
#include <functional>
#include <string>

class TfrmKelpora;

// Status panel 0 gets `statusText`; the log window the time of day followed by `windowText` (which
// brings its own ": "); `logs` a row of type 0 with `logText`.
void ReportStep(TfrmKelpora& form, const std::string& statusText, const std::string& windowText,
                const std::string& logText);

// The run's last log line (and row) and status text: a run that left something undone does not end as
// a success.
struct TRunEnding {
    const char* logText;
    const char* statusText;
};
TRunEnding RunEnding(bool withFailures);

// The percentage of the bytes already read, rounded to the nearest integer with halves going to the even
// neighbour; 0 when the files total no bytes.
int ImportPercent(double done, double total);

// A file size in MB (bytes / 1024 / 1024) with one digit after `decimalSeparator` and at most four
// significant digits (whole numbers from 1000 MB on), rounded once; sizes of 10,000 MB or more keep all
// their digits before the separator.
std::string FileSizeMBText(double bytes, const std::string& decimalSeparator);

// Runs `statement`, one database function of the run (the integration of a file, a post-processing step),
// so that the warnings the server raises meanwhile reach the user, where they are otherwise dropped with
// every other notice: afterwards, also when the statement fails (its error then passes on), each text
// once as a log window line and an error row "Warnung der Datenbank: " + text (beyond 100 texts, one
// line of how many more there were). Notices below warnings are not said.
void WithServerWarnings(TfrmKelpora& form, const std::function<void()>& statement);
