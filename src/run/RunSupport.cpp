#include "run/RunSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    double mb = std::fmax(bytes, 0.0) / 1024.0 / 1024.0; // a missing file (-1) reads as nothing
    char buf[64];
    if (mb < 9999.95) {
        std::snprintf(buf, sizeof buf, "%.3e", mb);
        mb = std::strtod(buf, nullptr);
    }
    std::snprintf(buf, sizeof buf, "%.1f", mb);
    std::string text = buf;
    const auto dot = text.find('.');
    if (dot != std::string::npos)
        text.replace(dot, 1, decimalSeparator);
    return text;
}
