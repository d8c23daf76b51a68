#include "run/RunSupport.h"

#include <cmath>
#include <cstdio>

#include "app/FormKelpora.h"

void ReportStep(TfrmKelpora& form, const std::string& statusText, const std::string& windowText,
                const std::string& logText) {
    form.SetStatusText(0, statusText);
    form.AddLogLine(TfrmKelpora::TimeOfDay() + windowText);
    form.WriteLog(0, logText);
}

int ImportPercent(double done, double total) {
    if (!(total > 0))
        return 0;
    const double pct = std::nearbyint(100.0 * done / total); // the default rounding mode: half to even
    return static_cast<int>(std::fmin(std::fmax(pct, 0.0), 100.0));
}

std::string FileSizeMBText(double bytes, const std::string& decimalSeparator) {
    const double mb = std::fmax(bytes, 0.0) / 1024.0 / 1024.0; // a missing file (-1) reads as nothing
    char buf[64];
    // One rounding only: below 1000 MB the one decimal is the finer limit, from there to 9999 MB the four
    // significant digits leave whole numbers. Rounding to four digits first and then to one decimal
    // would turn 1.04996 into 1.1.
    if (mb >= 999.95 && mb < 9999.95)
        std::snprintf(buf, sizeof buf, "%.0f.0", mb);
    else
        std::snprintf(buf, sizeof buf, "%.1f", mb);
    std::string text = buf;
    const auto dot = text.find('.');
    if (dot != std::string::npos)
        text.replace(dot, 1, decimalSeparator);
    return text;
}
