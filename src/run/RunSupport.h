#pragma once
// Small pieces the run's commands share: the three-way step report and the texts of the file loop.
#include <string>

class TfrmKelpora;

// Status panel 0 gets `statusText`; the log window the time of day followed by `windowText` (which
// brings its own ": "); `logs` a row of type 0 with `logText`.
void ReportStep(TfrmKelpora& form, const std::string& statusText, const std::string& windowText,
                const std::string& logText);

// The percentage of the bytes already read, rounded to the nearest integer with halves going to the even
// neighbour; 0 when the files total no bytes.
int ImportPercent(double done, double total);

// A file size in MB (bytes / 1024 / 1024) with one digit after `decimalSeparator` and at most four
// significant digits (whole numbers from 1000 MB on), rounded once; sizes of 10,000 MB or more keep all
// their digits before the separator.
std::string FileSizeMBText(double bytes, const std::string& decimalSeparator);
