// Quality data: one AX_LI_ProcessStep_Punktort row per "gmd:processStep".
#include "WriterFixture.h"
#include "platform/xml/XmlDom.h"

namespace {

std::string Step(const std::string& inner) {
    return "<gmd:processStep><gmd:LI_ProcessStep>" + inner + "</gmd:LI_ProcessStep></gmd:processStep>";
}
std::string Desc(const std::string& t) {
    return "<gmd:description><AX_LI_ProcessStep_Punktort_Description>" + t +
           "</AX_LI_ProcessStep_Punktort_Description></gmd:description>";
}
std::string When(const std::string& t) {
    return "<gmd:dateTime><gco:DateTime>" + t + "</gco:DateTime></gmd:dateTime>";
}
std::string Org(const std::string& t) {
    return "<gmd:processor><gmd:CI_ResponsibleParty><gmd:organisationName><gco:CharacterString>" + t +
           "</gco:CharacterString></gmd:organisationName>";
}
std::string Individual(const std::string& t) {
    return "<gmd:individualName><gco:CharacterString>" + t + "</gco:CharacterString></gmd:individualName>";
}
std::string Role(const std::string& t) {
    return "<gmd:role><gmd:CI_RoleCode codeList=\"x\" codeListValue=\"" + t + "\">" + t +
           "</gmd:CI_RoleCode></gmd:role></gmd:CI_ResponsibleParty></gmd:processor>";
}
const char* const kEmptyRole =
    "<gmd:role><gmd:CI_RoleCode codeList=\"x\" "
    "codeListValue=\"owner\"/></gmd:role></gmd:CI_ResponsibleParty></gmd:processor>";

// The element the writer hands over: named after the column, with the AAA default namespace and the
// ISO 19139 prefixes.
std::unique_ptr<TXmlDocument> Wrapped(const std::string& content) {
    return TXmlDocument::LoadXml(
        "<herkunft xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
        "xmlns:gmd=\"http://www.isotc211.org/2005/gmd\" xmlns:gco=\"http://www.isotc211.org/2005/gco\" >"
        "<gmd:LI_Lineage>" +
        content + "</gmd:LI_Lineage></herkunft>");
}

struct TStepsCase {
    const char* name;
    std::string content;
    std::vector<std::string> rows; // gml_id|beginn|description|datetime|organisation|role
};

const std::vector<TStepsCase> kStepsCases = {
    {"two full steps",
     Step(Desc("Erhebung") + When("2017-07-20T11:20:04Z") + Org("Amt Bonn") + Role("processor")) +
         Step(Desc("Berechnung") + When("2018-01-02T03:04:05Z") + Org("Amt Köln") + Role("owner")),
     {"P1|2019-03-14 10:07:02|Erhebung|2017-07-20T11:20:04Z|Amt Bonn|processor",
      "P1|2019-03-14 10:07:02|Berechnung|2018-01-02T03:04:05Z|Amt Köln|owner"}},
    {"missing date-time: first step the start value, second the value before",
     Step(Desc("A") + Org("O") + Role("r")) +
         Step(Desc("B") + When("2018-01-02T03:04:05Z") + Org("O") + Role("r")) +
         Step(Desc("C") + Org("O") + Role("r")),
     {"P1|2019-03-14 10:07:02|A|1899-12-30|O|r", "P1|2019-03-14 10:07:02|B|2018-01-02T03:04:05Z|O|r",
      "P1|2019-03-14 10:07:02|C|2018-01-02T03:04:05Z|O|r"}},
    {"individual name after the organisation wins",
     Step(Desc("A") + When("t") +
          "<gmd:processor><gmd:CI_ResponsibleParty><gmd:organisationName><gco:CharacterString>Amt"
          "</gco:CharacterString></gmd:organisationName>" +
          Individual("Frau M") + Role("r")),
     {"P1|2019-03-14 10:07:02|A|t|Frau M|r"}},
    {"role code without text",
     Step(Desc("A") + When("t") + Org("O") + kEmptyRole) +
         Step(Desc("B") + When("t") + Org("O") + Role("r")) +
         Step(Desc("C") + When("t") + Org("O") + kEmptyRole),
     {"P1|2019-03-14 10:07:02|A|t|O|", "P1|2019-03-14 10:07:02|B|t|O|r", "P1|2019-03-14 10:07:02|C|t|O|r"}},
    {"no process step", "<gmd:source/>", {}},
    {"other prefixes are not recognised",
     "<iso:processStep xmlns:iso=\"http://www.isotc211.org/2005/gmd\"><iso:LI_ProcessStep>" + Desc("A") +
         "</iso:LI_ProcessStep></iso:processStep>" +
         Step("<gmd:dateTime><c:DateTime "
              "xmlns:c=\"http://www.isotc211.org/2005/gco\">x</c:DateTime></gmd:dateTime>" +
              Desc("B")),
     {"P1|2019-03-14 10:07:02|B|1899-12-30||"}},
};

class QualityData : public WriterTest {
protected:
    std::vector<std::string> Rows() {
        std::vector<std::string> out;
        for (const auto& r :
             db.Query("SELECT concat_ws('|', gml_id, beginn, description, datetime, "
                      "processor_organisationname, processor_role) FROM AX_LI_ProcessStep_Punktort "
                      "ORDER BY ctid"))
            out.push_back(r[0].value_or("<null>"));
        return out;
    }
};

} // namespace

TEST_F(QualityData, OneRowPerProcessStep) {
    for (const TStepsCase& c : kStepsCases) {
        SCOPED_TRACE(c.name);
        db.Exec("DELETE FROM AX_LI_ProcessStep_Punktort");
        const auto doc = Wrapped(c.content);
        EXPECT_EQ(form->WriteProcessSteps(doc->Root(), "P1", "2019-03-14 10:07:02"), "");
        EXPECT_EQ(Rows(), c.rows);
    }
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(ErrorRows().empty());
}

TEST_F(QualityData, RejectedStepKeepsEarlierRowsAndReportsOnce) {
    db.Exec("ALTER TABLE AX_LI_ProcessStep_Punktort ADD CONSTRAINT kaputt CHECK (description <> 'kaputt')");
    form->cmd->SetSQL("SELECT 1");
    const auto doc = Wrapped(Step(Desc("gut") + When("t")) + Step(Desc("kaputt")) + Step(Desc("danach")));
    EXPECT_EQ(form->WriteProcessSteps(doc->Root(), "P2", "2020-01-01"), "");
    EXPECT_EQ(Rows(), std::vector<std::string>{"P2|2020-01-01 00:00:00|gut|t||"});
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Fehler beim Auswerten der Qualitätsangaben für P2");
    EXPECT_NE(log[1].find("kaputt"), std::string::npos);
    EXPECT_EQ(ErrorRows(),
              std::vector<std::string>{"Fehler beim Auswerten der Qualitätsangaben für P2 - " + log[1]});
}

TEST_F(QualityData, LeavesArePathsOfTheirParents) {
    const auto doc = TXmlDocument::LoadXml("<a><b>x</b><c/><d><e> y </e></d></a>");
    TStringList leaves;
    form->CollectLeafValues(doc->Root(), leaves);
    EXPECT_EQ(leaves.Lines(), (std::vector<std::string>{"b=x", "a=", "e= y "}));
}
