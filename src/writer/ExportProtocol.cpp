// The export protocol of a NAS file: object counts per type read from the protocol text, stored in
// "statistics" under the current file id, and the share of the current file imported so far.
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "app/FormKelpora.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"
#include "writer/DbSupport.h"

namespace {

bool IsBlankText(const TXmlNode& node) {
    if (!node.IsText())
        return false;
    for (const char c : node.Text())
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

// The first child that carries content: white space between elements is layout, not a child.
TXmlNode FirstContentChild(const TXmlNode& node) {
    for (const TXmlNode& child : node.ChildNodes())
        if (!IsBlankText(child))
            return child;
    return {};
}

std::string TrimControlAndBlank(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// Splits at every single blank: two blanks in a row give an empty word between them.
std::vector<std::string> SplitAtBlanks(const std::string& s) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t p = s.find(' ', start);
        if (p == std::string::npos) {
            words.push_back(s.substr(start));
            return words;
        }
        words.push_back(s.substr(start, p - start));
        start = p + 1;
    }
}

// "objektmenge objektart=T" whose first child "objektanzahl" holds the count: the line T=count, or
// nothing.
std::string LineOfObjektmenge(const TXmlNode& entry) {
    if (!entry.HasAttribute("objektart"))
        return {};
    const TXmlNode first = FirstContentChild(entry);
    if (first.IsNull() || !first.IsElement() || first.LocalName() != "objektanzahl")
        return {};
    const std::string count = first.Text();
    if (count.empty())
        return {};
    return entry.Attribute("objektart") + "=" + count;
}

// A message text "... Anzahl ...: 12 x T" gives the line T=12, any other text nothing.
std::string LineOfMessageText(const TXmlNode& entry) {
    const std::string t = entry.Text();
    const std::size_t anzahl = t.find("Anzahl");
    if (anzahl == std::string::npos)
        return {};
    const std::size_t colon = t.find(':', anzahl);
    if (colon == std::string::npos)
        return {};
    const std::vector<std::string> words =
        SplitAtBlanks(TrimControlAndBlank(Utf8Left(t.substr(colon + 1), 255)));
    if (words.size() != 3)
        return {};
    return words[2] + "=" + words[0];
}

void BindString(TZQuery& q, const char* name, const std::string& value) {
    TZParam& p = q.ParamByName(name);
    p.SetDataType(TFieldType::ftString);
    p.SetValue(value);
}

} // namespace

bool TfrmKelpora::IB_Protokoll(const std::string& sXML) {
    // The records read before the protocol are written before it: with the counts they were read
    // with (their progress step reads obStatistics), and before its statements use `cmd`.
    FlushPendingFeatures();
    obStatistics.Clear();
    try {
        const std::unique_ptr<TXmlDocument> doc = TXmlDocument::LoadXml(sXML);
        const TXmlNode root = doc->Root();
        if (root.IsNull())
            throw std::runtime_error("Das Export-Protokoll hat kein Wurzelelement");
        for (const TXmlNode& section : root.ChildNodes()) {
            if (!section.IsElement())
                continue;
            const std::string name = section.LocalName();
            const bool statistik = name == "statistik";
            if (!statistik && name != "Message")
                continue;
            for (const TXmlNode& entry : section.ChildNodes()) {
                // A broken entry costs only itself.
                try {
                    if (!entry.IsElement())
                        continue;
                    std::string line;
                    if (statistik && entry.LocalName() == "objektmenge")
                        line = LineOfObjektmenge(entry);
                    else if (!statistik && entry.LocalName() == "MessageText")
                        line = LineOfMessageText(entry);
                    if (!line.empty())
                        obStatistics.Add(line);
                } catch (const std::exception&) {
                }
            }
        }
    } catch (const std::exception& e) {
        const std::string m = "Fehler beim Lesen des Export-Protokolls";
        ReportFailure(m, m + e.what(), e.what(), false);
    }
    if (!obStatistics.Empty())
        WriteStatistics();
    return true;
}

void TfrmKelpora::WriteStatistics() {
    try {
        TZQuery& q = SharedStatement(cmd);
        // A file imported again announces its numbers again; they count once, or its progress would be
        // measured against their multiple. The numbers it announced last stand.
        q.SQL().Clear();
        q.SQL().Add("DELETE FROM statistics WHERE fileid = :fileid");
        q.Prepare();
        BindString(q, "fileid", sFileID);
        q.ExecSQL();
        for (int i = 0; i < obStatistics.Count(); ++i) {
            // The protocol is data from the file: its object types and counts travel as parameters, so a
            // quote cannot alter the statement, while a count that is no number still fails the insert.
            q.SQL().Clear();
            q.SQL().Add(
                "INSERT INTO statistics(fileid, obj_art, obj_anzahl) VALUES(:fileid, :obj_art, :obj_anzahl)");
            q.Prepare();
            BindString(q, "fileid", sFileID);
            BindString(q, "obj_art", obStatistics.Names(i));
            BindString(q, "obj_anzahl", obStatistics.ValueFromIndex(i));
            q.ExecSQL();
        }
    } catch (const std::exception& e) {
        const std::string m = "Fehler beim Schreiben der Export-Statistik";
        ReportFailure(m, m + " - " + e.what(), e.what(), true);
    }
}

std::int32_t TfrmKelpora::GetFileProgress() {
    std::int32_t result = -1;
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        // The file id is a file name and may hold a quote: it goes in as a parameter.
        q.SQL().Add(
            "SELECT ((100.0*(select count(*) from alkistemp.ax_objects)) /sum(obj_anzahl)) as p  FROM "
            "statistics WHERE statistics.fileid=:fileid");
        q.Prepare();
        BindString(q, "fileid", sFileID);
        q.Open();
        result = 0;
        for (q.First(); !q.Eof(); q.Next()) {
            const TZField p = q.FieldByName("p");
            if (p.IsNull())
                throw std::runtime_error("Der Fortschritt p ist NULL (keine Statistik zur Datei " + sFileID +
                                         ")");
            // the default rounding mode: a half goes to the even neighbour
            result = static_cast<std::int32_t>(std::nearbyint(p.AsFloat()));
        }
    } catch (const std::exception& e) {
        const std::string m = "Fehler beim Lesen des Dateilese-Fortschritts";
        ReportFailure(m, m + " - " + e.what(), e.what(), true);
    }
    return result;
}
