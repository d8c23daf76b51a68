// What the parser makes of the elements of a feature: a table of tiny documents and the records they
// give.
#include "ParserFixture.h"

namespace {

struct TRecordCase {
    const char* name;
    std::string body;                 // inside the root element
    std::vector<std::string> records; // Dump() of every record handed over, in order
};

std::vector<TRecordCase> RecordCases() {
    return {
        {"data types name their members after the property, repeats join on the first line",
         Member("<AX_Buchungsstelle gml:id=\"I\"><P><AX_Anteil><Q>1</Q><R>2</R></AX_Anteil></P>"
                "<P>3</P><P>4</P></AX_Buchungsstelle>"),
         {"Insert AX_Buchungsstelle I\nA P=3|4\nA P_Q=1\nA P_R=2\nA P=\nA P=\n"}},
        {"a property inside a non-data-type element is named on its own",
         Member("<F gml:id=\"I\"><P><X>1</X></P></F>"),
         {"Insert F I\nA P=\nA X=1\n"}},
        {"two levels of data types",
         Member("<F gml:id=\"I\"><P><AX_Anteil><Q><AX_FOLGEVA><S>5</S></AX_FOLGEVA>"
                "</Q></AX_Anteil></P></F>"),
         {"Insert F I\nA P=\nA P_Q=\nA P_Q_S=5\n"}},
        {"a replace keeps the first 16 characters; its Filter names the same object",
         "<wfsext:Replace><F gml:id=\"DEBBAL000000000120241016T080000Z\"><P>1</P></F>"
         "<ogc:Filter><ogc:FeatureId "
         "fid=\"DEBBAL000000000120241015T075513Z\"/></ogc:Filter></wfsext:Replace>",
         {"Replace F DEBBAL0000000001\nA P=1\n"}},
        {"relations by relation type, the oid prefix cut off; other references are dropped",
         Member("<F gml:id=\"I\"><istGebucht xlink:href=\"urn:adv:oid:DEBBAL0000000001\"/>"
                "<zeigtAuf xlink:href=\"DEBBAL0000000002\"/><istGebucht xlink:href=\"urn:adv:oid:X\"/>"
                "<anlass xlink:href=\"https://registry.example/anlass/010102\"/></F>"),
         {"Insert F I\nR istGebucht DEBBAL0000000001\nR istGebucht X\nR zeigtAuf DEBBAL0000000002\n"}},
        {"lifespan, model types and identifier blocks read only their own elements",
         Member("<F gml:id=\"I\"><gml:identifier codeSpace=\"c\">urn:adv:oid:I</gml:identifier>"
                "<lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2010-02-12T10:07:36Z</beginnt>"
                "<endet>2011-03-04T00:00:00Z</endet></AA_Lebenszeitintervall></lebenszeitintervall>"
                "<modellart><AA_Modellart><advStandardModell>DLKM</advStandardModell>"
                "<advStandardModell>DKKM1000</advStandardModell><sonstigesModell>X</sonstigesModell>"
                "</AA_Modellart></modellart><beginnt>frei</beginnt></F>"),
         {"Insert F I\nA beginnt=frei\nM DLKM\nM DKKM1000\nB 2010-02-12 10:07:36\nE 2011-03-04\n"}},
        {"the geometry is copied with its start tags rebuilt; empty attributes are left out",
         Member("<F gml:id=\"I\"><position>\n  <gml:Point gml:id=\"\" srsName=\"urn:adv:crs:ETRS89_UTM32\">\n"
                "    <gml:pos>1.5 2.5</gml:pos>\n  </gml:Point>\n</position><P>1</P></F>"),
         {"Insert F I\nA P=1\nP <gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>1.5 2.5</gml:pos>"
          "</gml:Point>\n"}},
        {"markup characters of the geometry come back as references",
         Member("<F gml:id=\"I\"><position><gml:Point gml:id=\"a&amp;&quot;b&lt;\">"
                "<gml:pos>1 &amp; 2</gml:pos></gml:Point></position></F>"),
         {"Insert F I\nP <gml:Point gml:id=\"a&amp;&quot;b&lt;\"><gml:pos>1 &amp; "
          "2</gml:pos></gml:Point>\n"}},
        {"a nested element of the geometry's own name is copied with it: the copy ends with the first "
         "element",
         Member("<F gml:id=\"I\"><position><gml:X><gml:X>1</gml:X><P>2</P></gml:X></position><Q>3</Q></F>"),
         {"Insert F I\nA Q=3\nP <gml:X><gml:X>1</gml:X><P>2</P></gml:X>\n"}},
        {"a second geometry in the position refuses the record; the next record's geometry is its own",
         Member("<F gml:id=\"I\"><position><gml:Point><gml:pos>1 2</gml:pos></gml:Point>"
                "<gml:Point><gml:pos>3 4</gml:pos></gml:Point></position><P>1</P></F>") +
             Member("<F gml:id=\"J\"><position><gml:Point><gml:pos>5 6</gml:pos></gml:Point></position></F>"),
         {"Insert F I\nA P=1\nP <gml:Point><gml:pos>1 2</gml:pos></gml:Point>\nX Das Objekt hat mehr als "
          "eine Geometrie: ein weiteres Element gml:Point in position (Zeile 2, Spalte 541).\n",
          "Insert F J\nP <gml:Point><gml:pos>5 6</gml:pos></gml:Point>\n"}},
        {"a second position refuses the record, also after an empty one",
         Member("<F gml:id=\"I\"><position><gml:Point><gml:pos>1 2</gml:pos></gml:Point></position><P>1</P>"
                "<position><gml:Point><gml:pos>3 4</gml:pos></gml:Point></position><Q>2</Q></F>") +
             Member("<F gml:id=\"J\"><position/>\n<position><gml:Point><gml:pos>5 6</gml:pos></gml:Point>"
                    "</position></F>"),
         {"Insert F I\nA P=1\nA Q=2\nP <gml:Point><gml:pos>1 2</gml:pos></gml:Point>\nX Das Objekt hat mehr "
          "als eine Geometrie: eine zweite Eigenschaft position (Zeile 2, Spalte 559).\n",
          "Insert F J\nX Das Objekt hat mehr als eine Geometrie: eine zweite Eigenschaft position (Zeile 3, "
          "Spalte 10).\n"}},
        {"an empty position, also one that only refers, gives no geometry and ends the copy at once",
         Member("<F gml:id=\"I\"><position/><P>1</P></F>") +
             Member("<F gml:id=\"J\"><P>2</P><position xlink:href=\"#x\"/></F>") +
             Member("<F gml:id=\"K\"><lebenszeitintervall><AA_Lebenszeitintervall>"
                    "<beginnt>2010-02-12T10:07:36Z</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>"
                    "</F>"),
         {"Insert F I\nA P=1\n", "Insert F J\nA P=2\n", "Insert F K\nB 2010-02-12 10:07:36\n"}},
        {"a lineage block is kept as XML text in its property's line",
         Member("<F gml:id=\"I\"><qualitaet><gmd:LI_Lineage xmlns:x=\"u\"><gmd:processStep a=\"1&amp;2\">"
                "<gco:CharacterString>A &lt; B</gco:CharacterString></gmd:processStep></gmd:LI_Lineage>"
                "</qualitaet><P>1</P></F>"),
         {"Insert F I\nA qualitaet=<gmd:LI_Lineage><gmd:processStep a=\"1&amp;2\"><gco:CharacterString>"
          "A &lt; B</gco:CharacterString></gmd:processStep></gmd:LI_Lineage>\nA P=1\n"}},
        {"links to specialist data are no property: that one held a value, by text or by reference, is noted "
         "alone; an empty one is not",
         Member(
             "<F gml:id=\"I\"><zeigtAufExternes><AA_Fachdatenverbindung><art>urn:adv:fdv:0901</art>"
             "<fachdatenobjekt><AA_Fachdatenobjekt><name>4711</name></AA_Fachdatenobjekt></fachdatenobjekt>"
             "</AA_Fachdatenverbindung></zeigtAufExternes><P>1</P></F>") +
             Member("<F gml:id=\"J\"><zeigtAufExternes xlink:href=\"urn:adv:fdv:4712\"/></F>") +
             Member(
                 "<F gml:id=\"K\"><zeigtAufExternes><AA_Fachdatenverbindung><fachdatenobjekt "
                 "xlink:href=\"urn:adv:oid:DEBBAL0000000009\"/></AA_Fachdatenverbindung></zeigtAufExternes>"
                 "</F>") +
             Member("<F gml:id=\"L\"><zeigtAufExternes>\n <AA_Fachdatenverbindung/> </zeigtAufExternes>"
                    "<P>2</P></F>"),
         {"Insert F I\nA P=1\nZ zeigtAufExternes\n", "Insert F J\nZ zeigtAufExternes\n",
          "Insert F K\nZ zeigtAufExternes\n", "Insert F L\nA P=2\n"}},
        {"a begin or an end that is a date alone is that day at midnight, an offset converted to UTC",
         Member("<F gml:id=\"I\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2020-05-06</beginnt>"
                "<endet> 2020-05-07+02:00 </endet></AA_Lebenszeitintervall></lebenszeitintervall></F>") +
             Member("<F gml:id=\"J\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2020-05-06Z"
                    "</beginnt><endet>2020-05-07-05:30</endet></AA_Lebenszeitintervall></lebenszeitintervall>"
                    "</F>"),
         {"Insert F I\nB 2020-05-06\nE 2020-05-06 22:00:00\n",
          "Insert F J\nB 2020-05-06\nE 2020-05-07 05:30:00\n"}},
        {"an element inside a feature named like the feature ends nothing: the feature ends with its own end",
         Member("<F gml:id=\"I\"><P><F><X>1</X></F></P><Q>2</Q><position><gml:Point><gml:pos>1 2</gml:pos>"
                "</gml:Point></position><istGebucht xlink:href=\"urn:adv:oid:B\"/></F>"),
         {"Insert F I\nA P=\nA F=\nA X=1\nA Q=2\nR istGebucht B\n"
          "P <gml:Point><gml:pos>1 2</gml:pos></gml:Point>\n"}},
        {"every feature of a featureMember or featureMembers is a record of its own",
         "<gml:featureMember><F gml:id=\"A\"><P>1</P></F><G gml:id=\"B\"><P>2</P></G></gml:featureMember>"
         "<gml:featureMembers><H gml:id=\"C\"/><K gml:id=\"D\"><P>3</P></K></gml:featureMembers>",
         {"Insert F A\nA P=1\n", "Insert G B\nA P=2\n", "Insert H C\n", "Insert K D\nA P=3\n"}},
        {"a transaction element inside a feature refuses the feature; the transaction is read",
         Member("<F gml:id=\"I\"><P>1</P><lebenszeitintervall><wfs:Insert><G gml:id=\"J\"><Q>2</Q></G>"
                "</wfs:Insert></lebenszeitintervall><R>3</R></F>") +
             Member("<F gml:id=\"K\"><wfs:Delete typeName=\"T\"><ogc:FeatureId fid=\"L\"/>"
                    "</wfs:Delete></F>") +
             "<wfs:Delete typeName=\"T\"><ogc:Filter><ogc:FeatureId fid=\"M\"/><gml:featureMember>"
             "<H gml:id=\"N\"/></gml:featureMember></ogc:Filter></wfs:Delete>",
         {"Insert F I\nA P=1\nX Das Element wfs:Insert (Zeile 2, Spalte 516) beginnt ein neues Objekt, "
          "bevor dieses zu Ende ist.\n",
          "Insert G J\nA Q=2\n",
          "Insert F K\nX Das Element wfs:Delete (Zeile 2, Spalte 667) beginnt ein neues Objekt, "
          "bevor dieses zu Ende ist.\n",
          "Delete T L\n",
          "Delete T M\nX Das Element gml:featureMember (Zeile 2, Spalte 808) beginnt ein neues Objekt, "
          "bevor dieses zu Ende ist.\n",
          "Insert H N\n"}},
        {"the pieces of one text are joined before they are used",
         Member("<F gml:id=\"I\"><P>A &amp; B</P><Q>&#228;&#xFC;ber</Q><P>C</P>"
                "<lebenszeitintervall><beginnt>2010-&#48;2-12T10:07:36Z</beginnt></lebenszeitintervall></F>"),
         {"Insert F I\nA P=A & B|C\nA Q=äüber\nA P=\nB 2010-02-12 10:07:36\n"}},
        {"white space between elements changes nothing",
         Member("<F gml:id=\"I\">\n <P>\n  </P>\n <Q> x </Q>\n</F>"),
         {"Insert F I\nA P=\nA Q= x \n"}},
        {"a lifespan begin that is no date refuses its record alone: the parse goes on",
         Member("<F gml:id=\"I\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>gestern</beginnt>"
                "</AA_Lebenszeitintervall></lebenszeitintervall><P>1</P></F>") +
             Member("<F gml:id=\"J\"><P>2</P></F>"),
         {"Insert F I\nA P=1\nX 'gestern' ist keine gültige Datums- und Uhrzeitangabe (beginnt, Zeile 2)\n",
          "Insert F J\nA P=2\n"}},
        {"an empty begin or end, also one of white space only, is no date: its record is refused",
         Member("<F gml:id=\"I\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt/>"
                "</AA_Lebenszeitintervall></lebenszeitintervall><P>1</P></F>") +
             Member("<F gml:id=\"J\"><lebenszeitintervall><AA_Lebenszeitintervall>"
                    "<beginnt>2010-02-12T10:07:36+01:00</beginnt><endet> \n </endet>"
                    "</AA_Lebenszeitintervall></lebenszeitintervall></F>") +
             Member(
                 "<F gml:id=\"K\"><beginnt/><lebenszeitintervall><AA_Lebenszeitintervall>"
                 "<beginnt> 2010-02-12T10:07:36.25Z </beginnt></AA_Lebenszeitintervall></lebenszeitintervall>"
                 "</F>"),
         {"Insert F I\nA P=1\nX '' ist keine gültige Datums- und Uhrzeitangabe (beginnt, Zeile 2)\n",
          "Insert F J\nB 2010-02-12 09:07:36\nX '' ist keine gültige Datums- und Uhrzeitangabe (endet, Zeile "
          "3)\n",
          "Insert F K\nA beginnt=\nB 2010-02-12 10:07:36.250\n"}},
        {"an impossible end refuses a replace whole; the first bad value counts",
         "<wfsext:Replace><F gml:id=\"DEBBAL000000000120241016T080000Z\"><lebenszeitintervall>"
         "<AA_Lebenszeitintervall><beginnt>2024-10-16T08:00:00Z</beginnt>\n<endet>2024-13-45T00:00:00Z"
         "</endet><endet>morgen</endet></AA_Lebenszeitintervall></lebenszeitintervall></F></wfsext:Replace>",
         {"Replace F DEBBAL0000000001\nB 2024-10-16 08:00:00\nX '2024-13-45T00:00:00Z' ist keine gültige "
          "Datums- und Uhrzeitangabe (endet, Zeile 3)\n"}},
        {"a feature without gml:id is refused; gml bound to another prefix gives none either",
         "<gml:featureMember><F><P>1</P></F></gml:featureMember><gml:featureMember "
         "xmlns:g=\"http://www.opengis.net/gml/3.2\"><G g:id=\"X\"/></gml:featureMember>",
         {"Insert F \nA P=1\nX Der Identifikator ist leer\n", "Insert G \nX Der Identifikator ist leer\n"}},
    };
}

TEST_F(ParserTest, RecordsOfTinyDocuments) {
    for (const TRecordCase& c : RecordCases()) {
        SCOPED_TRACE(c.name);
        records.clear();
        ASSERT_TRUE(Parse(Doc(c.body))) << parseError;
        EXPECT_EQ(records, c.records);
    }
}

// ---- transactions and identifiers ---------------------------------------------------------------------

// An update transaction of `typeName` with the given properties (name, value) and FeatureIds.
std::string Update(const std::string& typeName,
                   const std::vector<std::pair<std::string, std::string>>& properties,
                   const std::vector<std::string>& fids) {
    std::string text = "<wfs:Update typeName=\"" + typeName + "\">";
    for (const auto& [name, value] : properties)
        text += "<wfs:Property><wfs:Name>" + name + "</wfs:Name><wfs:Value>" + value +
                "</wfs:Value></wfs:Property>";
    text += "<ogc:Filter>";
    for (const std::string& fid : fids)
        text += "<ogc:FeatureId fid=\"" + fid + "\"/>";
    return text + "</ogc:Filter></wfs:Update>";
}

const std::string kEndet = "adv:lebenszeitintervall/adv:AA_Lebenszeitintervall/adv:endet";

// A replace by the feature F of the version `id`, with a Filter of the given FeatureIds after it.
std::string Replace(const std::string& id, const std::vector<std::string>& fids) {
    std::string filter = "<ogc:Filter>";
    for (const std::string& fid : fids)
        filter += "<ogc:FeatureId fid=\"" + fid + "\"/>";
    return "<wfsext:Replace><F gml:id=\"" + id + "\"><P>1</P></F>" + filter +
           "</ogc:Filter></wfsext:Replace>";
}

std::string Said(const std::string& property) {
    return "Eigenschaft einer Aktualisierung übergangen (Zeile 2): " + property +
           " ändert nichts; übernommen wird nur lebenszeitintervall/AA_Lebenszeitintervall/endet.";
}

struct TTransactionCase {
    const char* name;
    std::string body;
    std::vector<std::string> records;
    std::vector<std::string> said = {}; // what the log window got, without the time of day
};

std::vector<TTransactionCase> TransactionCases() {
    const std::string a300(300, 'a'), b300(300, 'b'), d300(300, 'd');
    std::string umlauts255, umlauts256;
    for (int i = 0; i < 255; ++i)
        umlauts255 += "ä";
    umlauts256 = umlauts255 + "ä";
    const std::string sound = Member("<F gml:id=\"S\"><P>s</P></F>");
    return {
        {"every feature of an insert is an insert of its own, in order; what follows the insert is none",
         "<wfs:Insert><F gml:id=\"A\"><P>1</P></F>\n<G gml:id=\"DEBBAL000000000120241016T080000Z\"><P>2</P>"
         "<position><gml:Point><gml:pos>1 2</gml:pos></gml:Point></position></G><H gml:id=\"C\"/>"
         "</wfs:Insert><X><Y>1</Y></X>" +
             Member("<K gml:id=\"D\"/>"),
         {"Insert F A\nA P=1\n",
          "Insert G DEBBAL0000000001\nA P=2\nP <gml:Point><gml:pos>1 2</gml:pos></gml:Point>\n",
          "Insert H C\n", "Insert K D\n"}},
        {"a delete hands over every FeatureId, in order, each as its object identifier",
         "<wfs:Delete typeName=\"AX_Turm\"><ogc:Filter><ogc:FeatureId "
         "fid=\"DENW36ALVk00001s20241015T075513Z\"/>"
         "<ogc:FeatureId fid=\"DENW36ALVk00002s\"/><ogc:FeatureId fid=\"DENW36ALVk00003sXYZ\"/></ogc:Filter>"
         "</wfs:Delete>",
         {"Delete AX_Turm DENW36ALVk00001s\n", "Delete AX_Turm DENW36ALVk00002s\n",
          "Delete AX_Turm DENW36ALVk00003s\n"}},
        {"a prefix of typeName is dropped, up to the last colon, for delete, replace and update",
         "<wfs:Delete typeName=\"adv:AX_Turm\"><ogc:Filter><ogc:FeatureId "
         "fid=\"DENW36ALVk00001s\"/></ogc:Filter>"
         "</wfs:Delete><wfs:Delete typeName=\"a:b:AX_Wald\"><ogc:Filter><ogc:FeatureId "
         "fid=\"DENW36ALVk00002s\"/>"
         "</ogc:Filter></wfs:Delete><wfsext:Replace typeName=\"adv:AX_Gebaeude\"><adv:AX_Gebaeude "
         "xmlns:adv=\"urn:x\" gml:id=\"DEBBAL000000000120241016T080000Z\"><adv:P>1</adv:P></adv:AX_Gebaeude>"
         "</wfsext:Replace>" +
             Update("adv:AX_Flurstueck", {{kEndet, "2011-04-29T07:06:35Z"}}, {"DENW44AL00003IkM"}),
         {"Delete AX_Turm DENW36ALVk00001s\n", "Delete AX_Wald DENW36ALVk00002s\n",
          "Replace AX_Gebaeude DEBBAL0000000001\nA P=1\n",
          "Update AX_Flurstueck DENW44AL00003IkM\nE 2011-04-29 07:06:35\n"}},
        {"an update ends every object it names at its endet; anlass is taken silently; the records around it "
         "stay as they are",
         sound +
             Update("adv:AX_Flurstueck", {{kEndet, "2011-04-29T07:06:35Z"}, {"adv:anlass", "010102"}},
                    {"DENW44AL00003IkM20110429T070635Z", "DENW44AL00003IkN"}) +
             Update("AX_Gebaeude",
                    {{" lebenszeitintervall/AA_Lebenszeitintervall/endet\n", "\n2012-01-02T00:00:00Z\n"}},
                    {"DENW44AL00003IkO"}) +
             sound,
         {"Insert F S\nA P=s\n", "Update AX_Flurstueck DENW44AL00003IkM\nE 2011-04-29 07:06:35\n",
          "Update AX_Flurstueck DENW44AL00003IkN\nE 2011-04-29 07:06:35\n",
          "Update AX_Gebaeude DENW44AL00003IkO\nE 2012-01-02\n", "Insert F S\nA P=s\n"}},
        {"other properties of an update change nothing and are said once per file and name; without "
         "endet nothing is handed over",
         Update(
             "adv:AX_Gebaeude",
             {{"adv:gebaeudefunktion", "2000"},
              {"adv:position", "<gml:Point><gml:pos>1 2</gml:pos></gml:Point>"},
              {"anlass", "010102"},
              // Values are data: what they hold opens nothing and is no part of this update.
              {"adv:istTeilVon", "<wfs:Insert><F gml:id=\"Q\"><P>1</P></F></wfs:Insert><crs gml:id=\"R\"/>"},
              {"adv:x", Update("Y", {{kEndet, "2011-01-01"}}, {"DENW44AL00003IkX"})}},
             {"DENW44AL00003IkM"}) +
             sound +
             Update("AX_Gebaeude", {{"gebaeudefunktion", "1000"}, {kEndet, "2011-04-29T07:06:35Z"}},
                    {"DENW44AL00003IkN"}),
         {"Insert F S\nA P=s\n", "Update AX_Gebaeude DENW44AL00003IkN\nE 2011-04-29 07:06:35\n"},
         {Said("gebaeudefunktion"), Said("position"), Said("istTeilVon"), Said("x")}},
        {"an endet that is no date refuses the update's records; an update naming no object is refused",
         Update("AX_Flurstueck", {{kEndet, "morgen"}}, {"DENW44AL00003IkM", "DENW44AL00003IkN"}) +
             Update("AX_Flurstueck", {{kEndet, "2011-04-29T07:06:35Z"}}, {}),
         {"Update AX_Flurstueck DENW44AL00003IkM\nX 'morgen' ist keine gültige Datums- und Uhrzeitangabe "
          "(endet, Zeile 2)\n",
          "Update AX_Flurstueck DENW44AL00003IkN\nX 'morgen' ist keine gültige Datums- und Uhrzeitangabe "
          "(endet, Zeile 2)\n",
          "Update AX_Flurstueck \nE 2011-04-29 07:06:35\nX Der Identifikator ist leer\n"}},
        {"an empty or overlong identifier refuses its record alone, quoted cut; 255 characters are taken",
         Member("<F gml:id=\"\"><P>1</P></F>") + Member("<F gml:id=\"" + a300 + "\"><P>2</P></F>") +
             Member("<F gml:id=\"" + umlauts255 + "\"/>") + Member("<F gml:id=\"" + umlauts256 + "\"/>") +
             "<wfsext:Replace><F gml:id=\"" + a300 + "\"/></wfsext:Replace>" + sound,
         {"Insert F \nA P=1\nX Der Identifikator ist leer\n",
          "Insert F " + a300.substr(0, 40) +
              "…\nA P=2\nX Der Identifikator ist länger als 255 Zeichen (300)\n",
          "Insert F " + umlauts255 + "\n",
          "Insert F " + umlauts256.substr(0, 80) +
              "…\nX Der Identifikator ist länger als 255 Zeichen (256)\n",
          "Replace F " + a300.substr(0, 40) + "…\nX Der Identifikator ist länger als 255 Zeichen (300)\n",
          "Insert F S\nA P=s\n"}},
        {"an empty or overlong fid refuses its own delete or update record",
         "<wfs:Delete typeName=\"AX_Turm\"><ogc:Filter><ogc:FeatureId fid=\"" + b300 +
             "\"/><ogc:FeatureId/><ogc:FeatureId fid=\"DENW36ALVk00002s\"/></ogc:Filter></wfs:Delete>" +
             Update("AX_Turm", {{kEndet, "2011-04-29T00:00:00Z"}}, {b300, "DENW36ALVk00003s"}),
         {"Delete AX_Turm " + b300.substr(0, 40) +
              "…\nX Der Identifikator ist länger als 255 Zeichen (300)\n",
          "Delete AX_Turm \nX Der Identifikator ist leer\n", "Delete AX_Turm DENW36ALVk00002s\n",
          "Update AX_Turm " + b300.substr(0, 40) +
              "…\nE 2011-04-29\nX Der Identifikator ist länger als 255 Zeichen (300)\n",
          "Update AX_Turm DENW36ALVk00003s\nE 2011-04-29\n"}},
        {"a replace whose Filter names the object of its new version, by its 16 characters, is taken; one "
         "naming another object is refused with both ids",
         Replace("DEBBAL000000000120241016T080000Z", {"DEBBAL000000000120241015T075513Z"}) +
             Replace("DEBBAL0000000001", {"DEBBAL0000000001"}) +
             Replace("DEBBAL000000000120241016T080000Z", {"DEBBAL000000000220241015T075513Z"}) +
             Replace("DEBBAL000000000120241016T080000Z", {"DEBBAL0000000001", "DEBBAL0000000003"}) +
             "<wfsext:Replace><ogc:Filter><ogc:FeatureId fid=\"DEBBAL0000000004\"/></ogc:Filter>"
             "<F gml:id=\"DEBBAL0000000001\"/></wfsext:Replace>"
             "<wfsext:Replace><F gml:id=\"DEBBAL000000000120241016T080000Z\"/></wfsext:Replace>" +
             sound,
         {"Replace F DEBBAL0000000001\nA P=1\n", "Replace F DEBBAL0000000001\nA P=1\n",
          "Replace F DEBBAL0000000001\nA P=1\nX Der Filter der Ersetzung nennt das Objekt DEBBAL0000000002, "
          "die neue Version gehört zum Objekt DEBBAL0000000001.\n",
          "Replace F DEBBAL0000000001\nA P=1\nX Der Filter der Ersetzung nennt das Objekt DEBBAL0000000003, "
          "die neue Version gehört zum Objekt DEBBAL0000000001.\n",
          "Replace F DEBBAL0000000001\nX Der Filter der Ersetzung nennt das Objekt DEBBAL0000000004, "
          "die neue Version gehört zum Objekt DEBBAL0000000001.\n",
          "Replace F DEBBAL0000000001\n", "Insert F S\nA P=s\n"}},
        {"an empty or overlong fid, a Filter naming no object, no feature or a second one refuse a replace",
         "<wfsext:Replace><F gml:id=\"DEBBAL0000000001\"/><ogc:Filter><ogc:FeatureId/></ogc:Filter>"
         "</wfsext:Replace>" +
             Replace("DEBBAL0000000001", {b300}) +
             "<wfsext:Replace><F gml:id=\"DEBBAL0000000001\"/><ogc:Filter> </ogc:Filter></wfsext:Replace>"
             "<wfsext:Replace typeName=\"adv:AX_Gebaeude\"><ogc:Filter>"
             "<ogc:FeatureId fid=\"DEBBAL0000000002\"/></ogc:Filter></wfsext:Replace>"
             "<wfsext:Replace><F gml:id=\"DEBBAL0000000001\"/><G gml:id=\"DEBBAL0000000002\"><P>2</P></G>"
             "<ogc:Filter><ogc:FeatureId fid=\"DEBBAL0000000001\"/></ogc:Filter></wfsext:Replace>" +
             sound,
         {"Replace F DEBBAL0000000001\nX Im Filter der Ersetzung: Der Identifikator ist leer\n",
          "Replace F DEBBAL0000000001\nA P=1\nX Im Filter der Ersetzung: Der Identifikator ist länger "
          "als 255 Zeichen (300)\n",
          "Replace F DEBBAL0000000001\nX Der Filter der Ersetzung nennt kein Objekt.\n",
          "Replace AX_Gebaeude DEBBAL0000000002\nX Die Ersetzung enthält kein Objekt "
          "(Zeile 2, Spalte 1182).\n",
          "Replace F DEBBAL0000000001\nX Die Ersetzung enthält nach ihrem Objekt ein weiteres Element G "
          "(Zeile 2, Spalte 1256).\n",
          "Insert F S\nA P=s\n"}},
        {"an update's endet that is a date alone is that day at midnight",
         Update("AX_Flurstueck", {{kEndet, "2011-04-29"}}, {"DENW44AL00003IkM"}) +
             Update("AX_Flurstueck", {{kEndet, "2011-04-29+02:00"}}, {"DENW44AL00003IkN"}),
         {"Update AX_Flurstueck DENW44AL00003IkM\nE 2011-04-29\n",
          "Update AX_Flurstueck DENW44AL00003IkN\nE 2011-04-28 22:00:00\n"}},
        {"an overlong relation target refuses its record",
         Member("<F gml:id=\"I\"><istGebucht xlink:href=\"urn:adv:oid:" + d300 +
                "\"/><zeigtAuf xlink:href=\"DEBBAL0000000002\"/><P>1</P></F>") +
             sound,
         {"Insert F I\nA P=1\nR zeigtAuf DEBBAL0000000002\nX Ein Verweisziel (istGebucht) ist länger als 255 "
          "Zeichen (300)\n",
          "Insert F S\nA P=s\n"}},
        {"the first element of a record is its feature element, also when named like a header element",
         Member("<crs gml:id=\"X\"><gml:identifier>urn:adv:oid:X</gml:identifier><P>1</P></crs>") +
             Member("<antragsnummer gml:id=\"Y\"><P>2</P></antragsnummer>") +
             Member("<erlaeuterung gml:id=\"Z\"><P>3</P></erlaeuterung>") +
             "<wfs:Insert><AA_Koordinatenreferenzsystemangaben gml:id=\"W\"><crs "
             "xlink:href=\"urn:adv:crs:X\"/>"
             "</AA_Koordinatenreferenzsystemangaben></wfs:Insert>" +
             Member("<crs><P>4</P></crs>"),
         {"Insert crs X\nA P=1\n", "Insert antragsnummer Y\nA P=2\n", "Insert erlaeuterung Z\nA P=3\n",
          "Insert AA_Koordinatenreferenzsystemangaben W\n",
          "Insert crs \nA P=4\nX Der Identifikator ist leer\n"}},
    };
}

// The log lines since `from` that say what updates could not apply (without a database, the window also
// says that its run log cannot be written).
class UpdateParserTest : public ParserTest {
protected:
    std::vector<std::string> UpdateReports(std::size_t from) const {
        const std::vector<std::string> log = form->LogLines();
        std::vector<std::string> lines;
        for (std::size_t i = from; i < log.size(); ++i)
            if (log[i].find("Aktualisierung") != std::string::npos)
                lines.push_back(log[i]);
        return lines;
    }
};

TEST_F(UpdateParserTest, TransactionsAndIdentifiers) {
    for (const TTransactionCase& c : TransactionCases()) {
        SCOPED_TRACE(c.name);
        records.clear();
        const std::size_t linesBefore = form->LogLines().size();
        ASSERT_TRUE(Parse(Doc(c.body))) << parseError;
        EXPECT_EQ(records, c.records);
        std::vector<std::string> said;
        for (const std::string& line : UpdateReports(linesBefore))
            said.push_back(line.substr(TfrmKelpora::TimeOfDay().size() + 2));
        EXPECT_EQ(said, c.said);
        EXPECT_TRUE(portion.antragsnr.empty());
        EXPECT_TRUE(form->obKoRefs->empty());
        EXPECT_TRUE(protocols.empty());
    }
}

// Each file says the properties its updates cannot apply again.
TEST_F(UpdateParserTest, PropertiesAnUpdateCannotApplyAreSaidAgainInTheNextFile) {
    const std::string file =
        Doc(Update("AX_Gebaeude", {{"gebaeudefunktion", "1"}}, {"DENW44AL00003IkN"}) +
            Update("AX_Gebaeude", {{"adv:gebaeudefunktion", "2"}}, {"DENW44AL00003IkN"}));
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const std::size_t linesBefore = form->LogLines().size();
        records.clear();
        ASSERT_TRUE(Parse(file)) << parseError;
        EXPECT_TRUE(records.empty());
        const std::vector<std::string> said = UpdateReports(linesBefore);
        ASSERT_EQ(said.size(), 1u);
        EXPECT_TRUE(said[0].ends_with(Said("gebaeudefunktion"))) << said[0];
    }
}

// A feature with many properties, distinct ones and a name repeated in another letter case: lines in the
// order of the elements, the repeat's text joined on the first line of the name, its own line left empty.
// An element with many attributes is rebuilt with them in order; a name equal but for case takes the
// earlier one's place.
TEST_F(ParserTest, ManyPropertiesAndAttributesKeepOrderAndTexts) {
    std::string properties, expected = "Insert F I\n", attributes, tag = "<gml:X";
    for (int i = 0; i < 200; ++i) {
        const std::string n = std::to_string(i);
        properties += "<p" + n + ">v" + n + "</p" + n + ">";
        expected += "A p" + n + "=v" + (i == 5 ? n + "|w" : n) + "\n";
        attributes += " a" + n + "=\"" + n + "\"";
        tag += i == 3 ? std::string(" A3=\"x\"") : " a" + n + "=\"" + n + "\"";
    }
    properties += "<P5>w</P5>";
    expected += "A P5=\n";
    expected += "P " + tag + "></gml:X>\n";
    ASSERT_TRUE(Parse(Doc(Member("<F gml:id=\"I\"><position><gml:X" + attributes + " A3=\"x\"/></position>" +
                                 properties + "</F>"))))
        << parseError;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], expected);
}

// Entities of the document's own DTD: the text before the entity joins an earlier value with "|", the
// entity's text and what follows it are appended without.
TEST_F(ParserTest, EntityInsideARepeatedPropertyJoinsWithoutSeparator) {
    const std::string prolog = "<!DOCTYPE AX_Bestandsdatenauszug [<!ENTITY e \"EE\">]>\n";
    ASSERT_TRUE(Parse(Doc(Member("<F gml:id=\"I\"><P>a</P><P>b &e; c</P><Q>&e;x</Q><Q>y &e;</Q></F>"),
                          "AX_Bestandsdatenauszug", prolog)))
        << parseError;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], "Insert F I\nA P=a|b EE c\nA P=\nA Q=EEx|y EE\nA Q=\n");
}

TEST_F(ParserTest, EntityAtTheStartOfARepeatedPropertyJoinsWithoutSeparator) {
    const std::string prolog = "<!DOCTYPE AX_Bestandsdatenauszug [<!ENTITY e \"EE\">]>\n";
    ASSERT_TRUE(
        Parse(Doc(Member("<F gml:id=\"I\"><P>a</P><P>&e; c</P></F>"), "AX_Bestandsdatenauszug", prolog)))
        << parseError;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], "Insert F I\nA P=aEE c\nA P=\n");
}

TEST_F(ParserTest, AnEmptyInsertOrFeatureMemberHoldsNoFeatureAnEmptyReplaceIsRefused) {
    // Their features are the elements inside them: the elements after them, header ones too, are none. A
    // replace that replaces nothing is said.
    ASSERT_TRUE(
        Parse(Doc("<wfs:Insert/><X/><gml:featureMember> </gml:featureMember><antragsnummer>A1</antragsnummer>"
                  "<wfsext:Replace/><laufendeNummerVonGesamtzahl>3</laufendeNummerVonGesamtzahl>" +
                  Member("<F gml:id=\"I\"/>"))))
        << parseError;
    const std::vector<std::string> expected = {
        "Replace  \nX Die Ersetzung enthält kein Objekt (Zeile 2, Spalte 550).\n", "Insert F I\n"};
    EXPECT_EQ(records, expected);
    EXPECT_EQ(portion.antragsnr, "A1");
    EXPECT_EQ(portion.lfdNr, "3");
}

// A record holds at most 20,000,000 bytes of text: past that it is refused where the bound was crossed,
// what it held is dropped, and the next record is read whole. Up to the bound everything stays.
TEST_F(ParserTest, ARecordPastItsBoundIsRefusedAndTheNextOneIsRead) {
    const std::string posList(7'000'000, '1');
    const auto geometry = [&](int lists) {
        std::string members;
        for (int i = 0; i < lists; ++i)
            members += "<gml:polygonMember><gml:posList>" + posList + "</gml:posList></gml:polygonMember>";
        return "<position><gml:MultiPolygon>" + members + "</gml:MultiPolygon></position>";
    };
    const std::string next = Member("<G gml:id=\"J\"><P>2</P></G>");
    const std::string refused = "Insert F I\nX Das Objekt ist zu groß: mehr als 20.000.000 Bytes liest der "
                                "Parser für ein Objekt nicht (Zeile 2, Spalte ";
    const struct {
        const char* name;
        std::string feature;
        bool fits;
    } cases[] = {
        {"a geometry of three large coordinate lists", geometry(3), false},
        {"one property whose pieces are joined",
         "<P>" + posList + "<!-- -->" + posList + "<!-- -->" + posList + "</P>", false},
        {"three properties together", "<P>" + posList + "</P><Q>" + posList + "</Q><R>" + posList + "</R>",
         false},
        {"a repeated property whose values are joined",
         "<P>" + posList + "</P><P>" + posList + "</P><P>" + posList + "</P>", false},
        {"a geometry of two large coordinate lists fits", geometry(2), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        records.clear();
        ASSERT_TRUE(Parse(Doc(Member("<F gml:id=\"I\">" + c.feature + "<S>1</S></F>") + next))) << parseError;
        ASSERT_EQ(records.size(), 2u);
        if (c.fits) {
            EXPECT_EQ(records[0].find("\nX "), std::string::npos) << records[0].substr(0, 200);
            EXPECT_GT(records[0].size(), 2 * posList.size());
            EXPECT_NE(records[0].find("\nA S=1\n"), std::string::npos);
        } else {
            EXPECT_EQ(records[0].rfind(refused, 0), 0u) << records[0].substr(0, 200);
            EXPECT_LT(records[0].size(), 200u) << records[0].substr(0, 200);
        }
        EXPECT_EQ(records[1], "Insert G J\nA P=2\n");
    }
}

// The first element of a featureMember, an Insert or a Replace is the feature whatever its name: named like
// a data type, a lifespan, model type or header element, a transaction or the parser's other names, it
// keeps its identifier, begin, geometry and relation, and a data type inside it still names its members
// after the property.
TEST_F(ParserTest, AFeatureNamedLikeAnyElementTheParserKnowsIsStoredWhole) {
    const std::string geometry = "<gml:Surface><gml:patches><gml:PolygonPatch><gml:exterior><gml:LinearRing>"
                                 "<gml:posList>0 0 1 0 1 1 0 0</gml:posList></gml:LinearRing></gml:exterior>"
                                 "</gml:PolygonPatch></gml:patches></gml:Surface>";
    const auto feature = [&geometry](const std::string& name, const std::string& id) {
        return "<" + name + " gml:id=\"" + id +
               "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2010-02-12T10:07:36Z</beginnt>"
               "</AA_Lebenszeitintervall></lebenszeitintervall><lagebezeichnung><AX_Lagebezeichnung>"
               "<unverschluesselt>Weg</unverschluesselt></AX_Lagebezeichnung></lagebezeichnung><position>" +
               geometry + "</position><istGebucht xlink:href=\"urn:adv:oid:DEBBAL0000000009\"/><P>1</P></" +
               name + ">";
    };
    const auto record = [&geometry](const std::string& kind, const std::string& name, const std::string& id) {
        return kind + " " + name + " " + id +
               "\nA lagebezeichnung=\nA lagebezeichnung_unverschluesselt=Weg\nA P=1\n"
               "R istGebucht DEBBAL0000000009\nB 2010-02-12 10:07:36\nP " +
               geometry + "\n";
    };
    for (const char* name : {"AX_Lagebezeichnung",
                             "AX_DQPunktort",
                             "AX_FOLGEVA",
                             "AX_Gemeindekennzeichen",
                             "AX_Flurstuecksnummer",
                             "AX_Anteil",
                             "beginnt",
                             "endet",
                             "lebenszeitintervall",
                             "modellart",
                             "advStandardModell",
                             "zeigtAufExternes",
                             "identifier",
                             "position",
                             "LI_Lineage",
                             "FeatureId",
                             "featureMember",
                             "Insert",
                             "Delete",
                             "Replace",
                             "Update",
                             "erlaeuterung",
                             "gesamtzahl"}) {
        SCOPED_TRACE(name);
        records.clear();
        ASSERT_TRUE(
            Parse(Doc(Member(feature(name, "DEBBAL0000000001")) + "<wfs:Insert>" +
                      feature(name, "DEBBAL0000000002") + feature(name, "DEBBAL0000000003") +
                      "</wfs:Insert><wfsext:Replace>" + feature(name, "DEBBAL000000000420241016T080000Z") +
                      "<ogc:Filter><ogc:FeatureId fid=\"DEBBAL000000000420241015T075513Z\"/>"
                      "</ogc:Filter></wfsext:Replace>" +
                      Member("<F gml:id=\"S\"/>"))))
            << parseError;
        const std::vector<std::string> expected = {
            record("Insert", name, "DEBBAL0000000001"), record("Insert", name, "DEBBAL0000000002"),
            record("Insert", name, "DEBBAL0000000003"), record("Replace", name, "DEBBAL0000000004"),
            "Insert F S\n"};
        EXPECT_EQ(records, expected);
        EXPECT_TRUE(portion.antragsnr.empty() && portion.anzPort.empty());
        EXPECT_TRUE(protocols.empty());
    }
}

// ---- the date rule -------------------------------------------------------------------------------------

// A lifespan value is an xs:dateTime, read exactly: offsets go to UTC, a value without zone stays as
// written, 24:00:00 is the next day's midnight, a fraction stays to the millisecond. A date alone, with or
// without zone, is that day's midnight.
TEST(NasDateTime, ReadsAnXsDateTime) {
    const struct {
        const char* text;
        const char* stored; // as the database receives it
    } cases[] = {
        {"2010-02-12T10:07:36Z", "2010-02-12 10:07:36"},
        {"2010-02-12T10:07:36", "2010-02-12 10:07:36"},
        {"2010-02-12T00:00:00Z", "2010-02-12"},
        {"2010-02-12T10:07:36+02:00", "2010-02-12 08:07:36"},
        {"2010-02-12T00:30:00+01:00", "2010-02-11 23:30:00"},
        {"2010-02-12T10:00:00+14:00", "2010-02-11 20:00:00"},
        {"2010-02-12T23:30:00-14:00", "2010-02-13 13:30:00"},
        {"2010-02-12T10:07:36-00:00", "2010-02-12 10:07:36"},
        {"2010-03-01T01:00:00+05:30", "2010-02-28 19:30:00"},
        {"2024-03-01T00:00:00+01:00", "2024-02-29 23:00:00"},
        {"2024-02-29T12:00:00Z", "2024-02-29 12:00:00"},
        {"2000-02-29T12:00:00Z", "2000-02-29 12:00:00"},
        {"2010-12-31T24:00:00Z", "2011-01-01"},
        {"2010-02-12T24:00:00.000+01:00", "2010-02-12 23:00:00"},
        {"2010-02-12T10:07:36.5Z", "2010-02-12 10:07:36.500"},
        {"2010-02-12T10:07:36.123+02:00", "2010-02-12 08:07:36.123"},
        {"2010-02-12T10:07:36.1239Z", "2010-02-12 10:07:36.123"},
        {"2010-02-12T00:00:00.040Z", "2010-02-12 00:00:00.040"},
        {"2010-02-12T10:07:36.000Z", "2010-02-12 10:07:36"},
        {" \n\t2010-02-12T10:07:36Z \r\n", "2010-02-12 10:07:36"},
        {"1850-06-01T06:00:00Z", "1850-06-01 06:00:00"},
        {"1899-12-30T12:00:00Z", "1899-12-30 12:00:00"},
        {"0001-01-01T00:00:00Z", "0001-01-01"},
        {"9999-12-31T23:59:59.999Z", "9999-12-31 23:59:59.999"},
        {"2020-05-06", "2020-05-06"},
        {"2020-05-06Z", "2020-05-06"},
        {"2020-05-06+02:00", "2020-05-05 22:00:00"},
        {"2020-05-06-05:30", "2020-05-06 05:30:00"},
        {"2020-05-06-00:00", "2020-05-06"},
        {"2020-03-01+14:00", "2020-02-29 10:00:00"},
        {" \n2024-02-29\t", "2024-02-29"},
        {"0001-01-01", "0001-01-01"},
        {"9999-12-31Z", "9999-12-31"},
        {"9999-12-31-14:00", "9999-12-31 14:00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string stored;
        EXPECT_NO_THROW(stored = DateTimeToDbText(NasTextToDateTime(c.text)));
        EXPECT_EQ(stored, c.stored);
    }
    EXPECT_DOUBLE_EQ(NasTextToDateTime("2010-02-12T10:07:36Z"),
                     EncodeDate(2010, 2, 12) + EncodeTime(10, 7, 36, 0));
}

TEST(NasDateTime, RefusesWhatIsNoXsDateTime) {
    for (const char* text :
         {"", "   ", "gestern",
          // a year of fewer or more than four digits, signed, or outside 0001 to 9999
          "1-01-01T00:00:00Z", "10-02-12T00:00:00Z", "12010-02-12T10:00:00Z", "-2010-02-12T10:00:00Z",
          "+2010-02-12T10:00:00Z", "0000-01-01T00:00:00Z", "0001-01-01T00:30:00+01:00",
          "9999-12-31T24:00:00Z", "9999-12-31T23:30:00-01:00",
          // something after the value, or a part missing
          "2011-01-01'; drop table logs; --", "0044-03-15T00:00:00Z BC", "2010-02-12T10:07:36Z junk",
          "2010-02-12T10:07", "2010-02-12T10", "10:07:36", "10:00+14:00", "2010-02-12 10:07:36",
          "2010-02-12t10:07:36", "2010-02-12T10:07:36z", "2010-2-12T10:07:36Z", "2010-02-12T10:07:36.Z",
          "2010-02-12T10:07:36+0100", "2010-02-12T10:07:36+01", "2010 - 02 - 12T10:07:36Z",
          "  am 2010 - 2 - 3", "2010-02-12T1", " 10:07 ", "10:07:36Z", "12345-01-01",
          // impossible dates and times
          "2010-13-01T00:00:00Z", "2010-00-10T00:00:00Z", "2010-04-31T00:00:00Z", "2023-02-29T00:00:00Z",
          "1900-02-29T00:00:00Z", "2010-02-12T25:00:00Z", "2010-02-12T24:00:01Z", "2010-02-12T24:00:00.5Z",
          "2010-02-12T10:60:00Z", "2010-02-12T10:00:60Z",
          // offsets past 14:00 or with impossible minutes
          "2010-02-12T10:00:00+14:01", "2010-02-12T10:00:00-15:00", "2010-02-12T10:00:00+01:60",
          // a date alone of another form, or one that is no day
          "2020-05-06T", "2020-05-06.", "2020-05-06z", "2020-05-06+02", "2020-05-06+0200", "2020-05-06 Z",
          "2020-05-06ZZ", "2020-05-06+02:00Z", "2020-05-06 00:00", "2020-5-06", "2020-05-6", "20200506",
          "2020-05", "2020-05-06+14:01", "2020-05-06-15:00", "2023-02-29", "2020-04-31", "2020-00-06",
          "0000-12-31", "0001-01-01+00:01", "2020-05-06T24:00:01Z", "2020-05-06-"}) {
        SCOPED_TRACE(text);
        try {
            NasTextToDateTime(text);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' ist keine gültige Datums- und Uhrzeitangabe");
        }
    }
}

TEST(Datentypen, TableAsStoredAndExactMatch) {
    EXPECT_EQ(Datentypen.size(), 32u);
    EXPECT_EQ(Datentypen[2], "AX_Fortführungsnummer");
    EXPECT_EQ(Datentypen[22], "AKS AX_K_AUSGKOPF_Standard");
    EXPECT_EQ(Datentypen[29], Datentypen[12]);
    EXPECT_EQ(Datentypen[31], Datentypen[17]);
    EXPECT_TRUE(IsDatentyp("AX_Anteil"));
    EXPECT_FALSE(IsDatentyp("ax_anteil"));
    EXPECT_FALSE(IsDatentyp("AX_Fortfuehrungsnummer"));
    EXPECT_TRUE(IsDatentyp("AX_Fortführungsnummer"));
}

} // namespace
