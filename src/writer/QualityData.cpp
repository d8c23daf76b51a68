// Quality data of point objects: one row of AX_LI_ProcessStep_Punktort per "gmd:processStep" of an
// attribute holding ISO 19139 lineage.
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"
#include "writer/FeatureWork.h"

namespace {

// Whether an element's qualified name (as NodeName gives it) is prefix ":" local, without building it.
bool IsNamed(const TXmlNode& element, std::string_view prefix, std::string_view local) {
    return element.PrefixView() == prefix && element.LocalNameView() == local;
}

void CollectByQualifiedName(const TXmlNode& node, std::string_view prefix, std::string_view local,
                            std::vector<TXmlNode>& found) {
    for (TXmlNode child = node.FirstChild(); !child.IsNull(); child = child.NextSibling()) {
        if (!child.IsElement())
            continue;
        if (IsNamed(child, prefix, local))
            found.push_back(child);
        CollectByQualifiedName(child, prefix, local, found);
    }
}

const char* const kStepsSql =
    "WITH v (gml_id, beginn, description, datetime, org, role) AS (VALUES ("
    "CAST(:gml_id AS varchar), CAST(:beginn AS timestamp), CAST(:desc AS varchar), "
    "CAST(:dt AS varchar), CAST(:org AS varchar), CAST(:role AS varchar))) "
    "INSERT INTO AX_LI_ProcessStep_Punktort (gml_id, beginn, description, dateTime, "
    "processor_organisationName, processor_role) SELECT * FROM v WHERE NOT EXISTS ("
    "SELECT 1 FROM AX_LI_ProcessStep_Punktort p WHERE p.gml_id = v.gml_id AND p.beginn = "
    "v.beginn AND p.description IS NOT DISTINCT FROM v.description AND p.datetime IS NOT "
    "DISTINCT FROM v.datetime AND p.processor_organisationname IS NOT DISTINCT FROM v.org AND "
    "p.processor_role IS NOT DISTINCT FROM v.role);";

// Which parameter a leaf feeds, by the qualified name of the element that holds it; empty for none.
std::string ParamOfLeaf(const std::string& name) {
    if (name == "AX_LI_ProcessStep_Punktort_Description")
        return "desc";
    if (name == "gco:DateTime")
        return "dt";
    if (name == "gco:CharacterString")
        return "org";
    if (name == "gmd:CI_RoleCode")
        return "role";
    return {};
}

} // namespace

void TfrmKelpora::CollectLeafValues(const TXmlNode& node, TStringList& leaves) {
    TXmlNode child = node.FirstChild();
    if (child.IsNull()) {
        const TXmlNode parent = node.Parent();
        leaves.Add((parent.IsNull() ? std::string() : parent.NodeName()) + "=" +
                   (node.IsText() ? node.Text() : ""));
        return;
    }
    for (; !child.IsNull(); child = child.NextSibling())
        CollectLeafValues(child, leaves);
}

std::string TfrmKelpora::WriteProcessSteps(const TXmlNode& element, const std::string& gmlId,
                                           const std::string& beginText) {
    const std::string result;
    // A call during another one (a flush of the features in flight while the other binds) must not
    // take over its statement.
    std::shared_ptr<TZQuery> own;
    if (qualityQueryInUse || !qualityQuery || qualityQuery->Connection() != conn.get()) {
        own = std::make_shared<TZQuery>(conn.get());
        own->SetSQL(kStepsSql);
    }
    TZQuery& query = own ? *own : *qualityQuery;
    struct TInUse {
        bool& flag;
        bool was;
        ~TInUse() { flag = was; }
    } inUse{qualityQueryInUse, qualityQueryInUse};
    qualityQueryInUse = true;
    try {
        // The rows go straight to the integrated table, so a version imported again (the same file
        // after a crash or by mistake) must not add its steps a second time.
        query.Prepare();
        const auto start = [&query](const char* name, const std::string& value) {
            TZParam& p = query.ParamByName(name);
            p.SetDataType(TFieldType::ftString);
            p.SetValue(value);
        };
        start("gml_id", gmlId);
        start("beginn", beginText);
        start("desc", "");
        start("dt", DateTimeToDbText(0));
        start("org", "");
        start("role", "");

        // The element is read in place: the writer built it as the root of a document that already
        // declares the gmd and gco prefixes.
        std::vector<TXmlNode> steps;
        CollectByQualifiedName(element, "gmd", "processStep", steps);
        TStringList leaves;
        for (const TXmlNode& step : steps) {
            leaves.Clear();
            CollectLeafValues(step, leaves);
            // Values are not reset between steps: a step without one of them repeats the previous one.
            for (int i = 0; i < leaves.Count(); ++i) {
                const std::string param = ParamOfLeaf(leaves.Names(i));
                if (!param.empty())
                    query.ParamByName(param).SetValue(leaves.ValueFromIndex(i));
            }
            if (!collectingWork) {
                query.ExecSQL();
            } else {
                try {
                    collectingWork->qualityRows.push_back(TakePreparedCall(query));
                } catch (const std::exception&) {
                    collectingWork->collectFailed = true; // written one at a time, where it fails again
                }
            }
        }
    } catch (const std::exception& e) {
        const std::string m = "Fehler beim Auswerten der Qualitätsangaben für " + gmlId;
        ReportFailure(m, m + " - " + e.what(), e.what(), false);
    }
    // The next feature's call takes this statement up again (made anew for another connection).
    if (own && !inUse.was)
        qualityQuery = std::move(own);
    ProcessMessagesNowAndThen();
    return result;
}
