#include "run/RunSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

void ReportStep(TfrmKelpora& form, const std::string& statusText, const std::string& windowText,
                const std::string& logText) {
    form.SetStatusText(0, statusText);
    form.AddLogLine(TfrmKelpora::TimeOfDay() + windowText);
    form.WriteLog(0, logText);
}

TRunEnding RunEnding(bool withFailures) {
    if (withFailures)
        return {"Import mit Fehlern abgeschlossen.", "Der Import ist mit Fehlern abgeschlossen."};
    return {"Import abgeschlossen.", "Der Import ist abgeschlossen."};
}

namespace {

// The texts said for one statement; a function that warns for every row it meets must not bury the log
// window, so beyond this many distinct texts only their number is said.
constexpr std::size_t kMaxWarningsSaid = 100;

// Collects the warnings of one statement on a connection and gives the connection its former callback
// back on every way out.
class TWarningCollector {
public:
    explicit TWarningCollector(TZConnection& c) : conn(c), before(std::move(c.OnNotice)) {
        conn.OnNotice = [this](const TServerNotice& n) {
            if (n.severity != "WARNING" || std::find(texts.begin(), texts.end(), n.message) != texts.end())
                return;
            if (texts.size() < kMaxWarningsSaid)
                texts.push_back(n.message);
            else
                ++further;
        };
    }
    ~TWarningCollector() { Stop(); }
    TWarningCollector(const TWarningCollector&) = delete;
    TWarningCollector& operator=(const TWarningCollector&) = delete;

    // Stops collecting (the reports' own statements are not collected) and says what was collected.
    void Report(TfrmKelpora& form) {
        Stop();
        std::vector<std::string> lines;
        for (const std::string& text : texts)
            lines.push_back("Warnung der Datenbank: " + text);
        if (further > 0)
            lines.push_back(std::to_string(further) + " weitere Warnungen der Datenbank");
        texts.clear();
        further = 0;
        for (const std::string& line : lines)
            form.LogAndWriteLog(1, line);
    }

private:
    void Stop() {
        if (stopped)
            return;
        stopped = true;
        conn.OnNotice = std::move(before);
    }

    TZConnection& conn;
    std::function<void(const TServerNotice&)> before;
    std::vector<std::string> texts;
    std::size_t further = 0;
    bool stopped = false;
};

} // namespace

void WithServerWarnings(TfrmKelpora& form, const std::function<void()>& statement) {
    if (!form.conn) {
        statement();
        return;
    }
    TWarningCollector warnings(*form.conn);
    try {
        statement();
    } catch (...) {
        warnings.Report(form);
        throw;
    }
    warnings.Report(form);
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
