// The post-processing sequence: one database function per step, each step reported, a failed step
// reported and passed over.
#include <string>
#include <vector>

#include "app/FormKelpora.h"
#include "app/IniFile.h"
#include "platform/db/ZDatabase.h"
#include "platform/shell/AppDir.h"
#include "run/RunSupport.h"

namespace {

struct TPostStep {
    const char* statusText;
    const char* windowText;
    const char* logText;
    const char* sql;
    const char* failureText;
    const char* failurePrefix;
};

const TPostStep kUpdateUmsetzung{"Aktualisiere Umsetzungstabelle ... ",
                                 ": Aktualisiere Umsetzungstabelle...",
                                 "Aktualisiere Umsetzungstabelle ...",
                                 "SELECT fkt_umsetzung()",
                                 "Fehler beim Aktualisieren der Umsetzungstabelle",
                                 "Fehler beim Aktualisieren der Umsetzungstabelle - "};
const TPostStep kCreateIndizes{"Erzeuge Indizes ... ",
                               ": Erzeuge Indizes ...",
                               "Erzeuge Indizes ...",
                               "SELECT fkt_create_indizes()",
                               "Fehler beim Erzeugen der Indizes. ",
                               "Fehler beim Erzeugen der Indizes.  - "};
const TPostStep kAddGeometryColumns{"Bearbeite geometry_columns ... ",
                                    ": Bearbeite geometry_columns ...",
                                    "Bearbeite geometry_columns ... ",
                                    "SELECT fkt_add_geometry_column()",
                                    "Fehler beim Bearbeiten der Tabelle \"geometry_columns\". ",
                                    "Fehler beim Bearbeiten der Tabelle \"geometry_columns\".  - "};
const TPostStep kTransformGeometries{"Transformiere Geometrien ... ",
                                     ": Transformiere Geometrien ...",
                                     "Transformiere Geometrien ... ",
                                     "SELECT * FROM fkt_transformprj(:srid, :path)",
                                     "Fehler beim Transformieren der Geometrien. ",
                                     "Fehler beim Transformieren der Geometrien\".  - "};
const TPostStep kNachbereitungAFIS{"Nachbereitung ... ",
                                   ": Nachbereitung ...",
                                   "Nachbereitung ...",
                                   "SELECT intoHoehenfestpunkte()",
                                   "Fehler bei der Nachbereitung. ",
                                   "Fehler bei der Nachbereitung.  - "};
const TPostStep kNachbereitungALK{"Nachbereitung ALKIS ... ",
                                  ": Nachbereitung ALKIS ...",
                                  "Nachbereitung ALKIS ...",
                                  "SELECT alkis_nachbearbeitung()",
                                  "Fehler bei der Nachbereitung der ALK-Daten ",
                                  "Fehler bei der Nachbereitung der ALK-Daten.  - "};
const TPostStep kAufbereitungALB{"Aufbereitung ALB ... ",
                                 ": Aufbereitung ALB ...",
                                 "Aufbereitung ALB ...",
                                 "SELECT alb_nachbearbeitung()",
                                 "Fehler bei der Aufbereitung ALB ",
                                 "Fehler bei der Aufbereitung ALB.  - "};

// The geometries the transformation could not take stay as they were; the others are transformed and
// stay transformed, so the step has failed for these alone, and says which they are.
std::string NotTransformedText(std::int32_t target, std::int64_t transformed, std::int64_t failed,
                               const std::string& firstIds, const std::string& firstFailure) {
    constexpr std::int64_t kIdsNamed = 10; // as many as the database function names
    std::string text = std::to_string(failed) + " von " + std::to_string(transformed + failed) +
                       " Geometrien lassen sich nicht nach SRID " + std::to_string(target) +
                       " transformieren und bleiben unverändert: " + firstIds;
    if (failed > kIdsNamed)
        text += " und " + std::to_string(failed - kIdsNamed) + " weitere";
    return text + " (Grund bei der ersten: " + firstFailure + ")";
}

TZQuery& Statement(const std::shared_ptr<TZQuery>& cmd) {
    if (!cmd)
        throw EDatabaseError("no database connection");
    return *cmd;
}

// Reports the step, then runs `body`; a failure of the body is reported and goes no further.
template <class TBody> void RunStep(TfrmKelpora& form, const TPostStep& step, TBody body) {
    ReportStep(form, step.statusText, step.windowText, step.logText);
    try {
        WithServerWarnings(form, body);
    } catch (const std::exception& e) {
        ++form.iPostProcessingFailures;
        form.ReportFailure(step.failureText, step.failurePrefix + std::string(e.what()), e.what());
    }
}

void RunSqlStep(TfrmKelpora& form, const std::shared_ptr<TZQuery>& cmd, const TPostStep& step) {
    RunStep(form, step, [&] {
        TZQuery& q = Statement(cmd);
        q.SQL().Clear();
        q.SQL().Add(step.sql);
        q.ExecSQL();
    });
}

} // namespace

void TfrmKelpora::UpdateUmsetzung() {
    RunSqlStep(*this, cmd, kUpdateUmsetzung);
}

void TfrmKelpora::CreateIndizes() {
    RunSqlStep(*this, cmd, kCreateIndizes);
}

void TfrmKelpora::AddGeometryColumns() {
    RunSqlStep(*this, cmd, kAddGeometryColumns);
}

void TfrmKelpora::TransformGeometries() {
    if (sSchema == "AFIS")
        return;
    const std::int32_t target = SelectedTargetSRID();
    if (target == iSRIDDB)
        return;
    RunStep(*this, kTransformGeometries, [&] {
        const TIniFile ini(ApplicationFile("Kelpora.ini"));
        TZQuery& q = Statement(cmd);
        q.SetSQL(kTransformGeometries.sql);
        q.Prepare();
        TZParam& srid = q.ParamByName("srid");
        srid.SetDataType(TFieldType::ftInteger);
        srid.SetAsInteger(target);
        TZParam& path = q.ParamByName("path");
        path.SetDataType(TFieldType::ftString);
        path.SetValue(ini.ReadString("Transformation", "Path31468", ""));
        q.Open();
        const std::int64_t failed = q.FieldByName("failed").AsInteger();
        if (failed > 0)
            throw EDatabaseError(NotTransformedText(target, q.FieldByName("transformed").AsInteger(), failed,
                                                    q.FieldByName("failed_ids").AsString(),
                                                    q.FieldByName("failure").AsString()));
    });
}

void TfrmKelpora::NachbereitungAFIS() {
    RunSqlStep(*this, cmd, kNachbereitungAFIS);
}

void TfrmKelpora::NachbereitungALKIS() {
    RunSqlStep(*this, cmd, kNachbereitungALK);
    if (!ConnectionLost())
        RunSqlStep(*this, cmd, kAufbereitungALB);
}

void TfrmKelpora::PostProcessing() {
    std::vector<void (TfrmKelpora::*)()> steps = {&TfrmKelpora::UpdateUmsetzung, &TfrmKelpora::CreateIndizes,
                                                  &TfrmKelpora::AddGeometryColumns,
                                                  &TfrmKelpora::TransformGeometries};
    if (sSchema == "AFIS")
        steps.push_back(&TfrmKelpora::NachbereitungAFIS);
    if (sSchema == "ALKIS")
        steps.push_back(&TfrmKelpora::NachbereitungALKIS);
    for (const auto step : steps) {
        // The step that met the lost connection has said so once; the rest would start and fail alike.
        if (ConnectionLost())
            return;
        (this->*step)();
    }
}
