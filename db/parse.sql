-- Attribute columns of the object tables. For every object type (oa, with its code oakennung of the
-- AAA object catalogue; the first two digits are the object-type group) one row per attribute:
--   attrart         the attribute line name as the parser builds it: the property name, and for
--                   members of data types the outer property, "_" and the member name
--                   (gemarkung_land, flurstuecksnummer_zaehler); heights that the importer takes
--                   from point geometries are hoehe_5783, hoehe_7837, DE_DHHN92_NH, DE_DHHN2016_NH
--                   and ETRS89_h
--   attrartkennung  the column name: the attribute name in lower case
--   attrtyp         1 code of at most 4 characters (column character(4)), 2 integer (absent: -99),
--                   3 double precision (absent: NULL), 4 boolean as integer 1/0, 6 quality data
--                   of point objects (rows in ax_li_processstep_punktort), 0 text (character varying)
-- An attribute has the same column name and type in every object type, so that the tables per
-- object-type group (one column set for the whole group) never get two columns of one name.
-- Properties that can occur more than once in a feature arrive as values joined by "|" and are text.

CREATE TABLE IF NOT EXISTS public.parse (
    oa character varying,
    oakennung integer,
    attrart character varying,
    attrartkennung character varying,
    attrtyp integer
);

CREATE TEMPORARY TABLE kelpora_attribute_type (
    attrart character varying PRIMARY KEY,
    attrtyp integer NOT NULL
) ON COMMIT DROP;

INSERT INTO kelpora_attribute_type (attrart, attrtyp) VALUES
    -- codes of at most four characters
    ('gemarkung_land', 1), ('gemarkung_gemarkungsnummer', 1),
    ('gemeindezugehoerigkeit_land', 1), ('gemeindezugehoerigkeit_regierungsbezirk', 1),
    ('gemeindezugehoerigkeit_kreis', 1), ('gemeindezugehoerigkeit_gemeinde', 1),
    ('zustaendigeStelle_land', 1),
    ('lagebezeichnung_verschluesselt_land', 1), ('lagebezeichnung_verschluesselt_regierungsbezirk', 1),
    ('lagebezeichnung_verschluesselt_kreis', 1), ('lagebezeichnung_verschluesselt_gemeinde', 1),
    ('schluessel_land', 1), ('schluessel_regierungsbezirk', 1), ('schluessel_kreis', 1),
    ('schluessel_gemeinde', 1), ('schluessel_gemarkungsnummer', 1),
    ('buchungsblattbezirk_land', 1),
    ('gebaeudefunktion', 1), ('bauweise', 1), ('dachform', 1), ('zustand', 1), ('lageZurErdoberflaeche', 1),
    ('dachgeschossausbau', 1), ('bauart', 1), ('bauwerksfunktion', 1), ('funktion', 1),
    ('vegetationsmerkmal', 1), ('nutzung', 1), ('artDerBebauung', 1), ('abbaugut', 1), ('lagergut', 1),
    ('foerdergut', 1), ('primaerenergie', 1), ('oberflaechenmaterial', 1), ('hydrologischesMerkmal', 1),
    ('tidemerkmal', 1), ('markierung', 1), ('befestigung', 1), ('koordinatenstatus', 1),
    ('qualitaetsangaben_genauigkeitsstufe', 1), ('qualitaetsangaben_vertrauenswuerdigkeit', 1),
    ('vermarkung_Marke', 1), ('abmarkung_Marke', 1), ('bemerkungZurAbmarkung', 1), ('blattart', 1),
    ('buchungsart', 1), ('beschreibungDesUmfangsDerBuchung', 1), ('artDerRechtsgemeinschaft', 1),
    ('eigentuemerart', 1), ('anrede', 1), ('stellenart', 1),
    -- integers
    ('flurnummer', 2), ('flurstuecksnummer_zaehler', 2),
    ('anzahlDerOberirdischenGeschosse', 2), ('anzahlDerUnterirdischenGeschosse', 2),
    -- real numbers (areas, lengths, heights above ground)
    ('amtlicheFlaeche', 3), ('objekthoehe', 3), ('breiteDesVerkehrsweges', 3), ('geschossflaeche', 3),
    ('grundflaeche', 3), ('umbauterRaum', 3), ('relativeHoehe', 3),
    ('anteil_zaehler', 3), ('anteil_nenner', 3),
    -- Boolean values
    ('abweichenderRechtszustand', 4), ('rechtsbehelfsverfahren', 4), ('zweifelhafterFlurstuecksnachweis', 4),
    ('kartendarstellung', 4), ('hochhaus', 4), ('festgestellterGrenzpunkt', 4),
    -- quality data of point objects
    ('qualitaetsangaben_herkunft', 6),
    -- text: identifiers, names, dates, longer or repeatable values
    -- (the key of a Dienststelle, "stelle", has up to five characters: "U2129")
    ('zustaendigeStelle_stelle', 0), ('schluessel_stelle', 0),
    ('flurstuecksnummer_nenner', 0), ('flurstueckskennzeichen', 0), ('zeitpunktDerEntstehung', 0),
    ('pos', 0), ('artDerFlurstuecksgrenze', 0), ('punktkennung', 0), ('sonstigeEigenschaft', 0),
    ('hinweise', 0), ('lagebezeichnung_unverschluesselt', 0), ('lagebezeichnung_verschluesselt_lage', 0),
    ('zusatzZurLagebezeichnung', 0), ('hausnummer', 0), ('pseudonummer', 0), ('laufendeNummer', 0),
    ('name', 0), ('name_unverschluesselt', 0), ('zweitname', 0), ('bezeichnung', 0),
    ('weitereGebaeudefunktion', 0), ('baujahr', 0), ('dachart', 0), ('gebaeudekennzeichen', 0),
    ('bahnkategorie', 0), ('nummerDerBahnstrecke', 0), ('art', 0), ('gewaesserkennziffer', 0),
    ('buchungsblattkennzeichen', 0), ('buchungsblattbezirk_bezirk', 0),
    ('buchungsblattnummerMitBuchstabenerweiterung', 0), ('zeitpunktDerEintragung', 0),
    ('nummerImAufteilungsplan', 0), ('beschreibungDesSondereigentums', 0),
    ('laufendeNummerNachDIN1421', 0), ('beschriebDerRechtsgemeinschaft', 0), ('nummer', 0),
    ('nachnameOderFirma', 0), ('vorname', 0), ('namensbestandteil', 0), ('akademischerGrad', 0),
    ('geburtsname', 0), ('geburtsdatum', 0), ('wohnortOderSitz', 0), ('beruf', 0),
    ('ort_Post', 0), ('postleitzahlPostzustellung', 0), ('strasse', 0), ('bestimmungsbezirk', 0),
    ('ortsteil', 0), ('telefon', 0), ('fax', 0), ('land', 0),
    ('schluessel_lage', 0), ('schluessel_bezirk', 0), ('nivellementlinie', 0),
    -- heights taken from point geometries (comma as decimal separator, up to three values)
    ('hoehe_5783', 0), ('hoehe_7837', 0), ('DE_DHHN92_NH', 0), ('DE_DHHN2016_NH', 0), ('ETRS89_h', 0);

CREATE TEMPORARY TABLE kelpora_object_type (
    oa character varying PRIMARY KEY,
    oakennung integer NOT NULL,
    attributes text NOT NULL
) ON COMMIT DROP;

INSERT INTO kelpora_object_type (oa, oakennung, attributes) VALUES
    -- 11 Flurstuecke
    ('AX_Flurstueck', 11001, 'gemarkung_land gemarkung_gemarkungsnummer flurnummer flurstuecksnummer_zaehler '
        'flurstuecksnummer_nenner flurstueckskennzeichen amtlicheFlaeche abweichenderRechtszustand '
        'rechtsbehelfsverfahren zweifelhafterFlurstuecksnachweis zeitpunktDerEntstehung pos '
        'gemeindezugehoerigkeit_land gemeindezugehoerigkeit_regierungsbezirk gemeindezugehoerigkeit_kreis '
        'gemeindezugehoerigkeit_gemeinde'),
    ('AX_BesondereFlurstuecksgrenze', 11002, 'artDerFlurstuecksgrenze'),
    ('AX_Grenzpunkt', 11003, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle abmarkung_Marke '
        'festgestellterGrenzpunkt bemerkungZurAbmarkung sonstigeEigenschaft relativeHoehe zeitpunktDerEntstehung'),
    -- 12 Lage
    ('AX_LagebezeichnungOhneHausnummer', 12001, 'lagebezeichnung_unverschluesselt lagebezeichnung_verschluesselt_land '
        'lagebezeichnung_verschluesselt_regierungsbezirk lagebezeichnung_verschluesselt_kreis '
        'lagebezeichnung_verschluesselt_gemeinde lagebezeichnung_verschluesselt_lage zusatzZurLagebezeichnung'),
    ('AX_LagebezeichnungMitHausnummer', 12002, 'lagebezeichnung_unverschluesselt lagebezeichnung_verschluesselt_land '
        'lagebezeichnung_verschluesselt_regierungsbezirk lagebezeichnung_verschluesselt_kreis '
        'lagebezeichnung_verschluesselt_gemeinde lagebezeichnung_verschluesselt_lage hausnummer'),
    ('AX_LagebezeichnungMitPseudonummer', 12003, 'lagebezeichnung_unverschluesselt lagebezeichnung_verschluesselt_land '
        'lagebezeichnung_verschluesselt_regierungsbezirk lagebezeichnung_verschluesselt_kreis '
        'lagebezeichnung_verschluesselt_gemeinde lagebezeichnung_verschluesselt_lage pseudonummer laufendeNummer'),
    -- 13 Vermessungspunkte
    ('AX_Aufnahmepunkt', 13001, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle sonstigeEigenschaft '
        'vermarkung_Marke hinweise relativeHoehe'),
    ('AX_Sicherungspunkt', 13002, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle sonstigeEigenschaft '
        'vermarkung_Marke hinweise relativeHoehe'),
    ('AX_SonstigerVermessungspunkt', 13003, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle '
        'sonstigeEigenschaft vermarkung_Marke hinweise relativeHoehe art'),
    -- 14 Punktorte (position and heights of points, with quality data)
    ('AX_PunktortAG', 14002, 'kartendarstellung koordinatenstatus hinweise qualitaetsangaben_herkunft '
        'qualitaetsangaben_genauigkeitsstufe qualitaetsangaben_vertrauenswuerdigkeit '
        'hoehe_5783 hoehe_7837 DE_DHHN92_NH DE_DHHN2016_NH ETRS89_h'),
    ('AX_PunktortAU', 14003, 'kartendarstellung koordinatenstatus hinweise qualitaetsangaben_herkunft '
        'qualitaetsangaben_genauigkeitsstufe qualitaetsangaben_vertrauenswuerdigkeit '
        'hoehe_5783 hoehe_7837 DE_DHHN92_NH DE_DHHN2016_NH ETRS89_h'),
    ('AX_PunktortTA', 14004, 'kartendarstellung koordinatenstatus hinweise qualitaetsangaben_herkunft '
        'qualitaetsangaben_genauigkeitsstufe qualitaetsangaben_vertrauenswuerdigkeit '
        'hoehe_5783 hoehe_7837 DE_DHHN92_NH DE_DHHN2016_NH ETRS89_h'),
    -- 15 Festpunkte (AFIS)
    ('AX_Lagefestpunkt', 15001, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle hinweise '
        'vermarkung_Marke name'),
    ('AX_Hoehenfestpunkt', 15002, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle hinweise '
        'vermarkung_Marke nivellementlinie hoehe_5783 hoehe_7837 DE_DHHN92_NH DE_DHHN2016_NH ETRS89_h'),
    ('AX_Schwerefestpunkt', 15003, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle hinweise '
        'vermarkung_Marke'),
    ('AX_Referenzstationspunkt', 15004, 'punktkennung zustaendigeStelle_land zustaendigeStelle_stelle hinweise '
        'vermarkung_Marke name'),
    -- 21 Eigentuemer, 22 Grundbuch
    ('AX_Person', 21001, 'nachnameOderFirma vorname namensbestandteil akademischerGrad geburtsname geburtsdatum '
        'anrede wohnortOderSitz beruf'),
    ('AX_Anschrift', 21003, 'ort_Post postleitzahlPostzustellung strasse hausnummer bestimmungsbezirk ortsteil '
        'telefon fax land'),
    ('AX_Namensnummer', 21006, 'laufendeNummerNachDIN1421 anteil_zaehler anteil_nenner artDerRechtsgemeinschaft '
        'beschriebDerRechtsgemeinschaft eigentuemerart nummer'),
    ('AX_Buchungsblatt', 22001, 'buchungsblattkennzeichen buchungsblattbezirk_land buchungsblattbezirk_bezirk '
        'buchungsblattnummerMitBuchstabenerweiterung blattart'),
    ('AX_Buchungsstelle', 22002, 'buchungsart laufendeNummer anteil_zaehler anteil_nenner '
        'beschreibungDesUmfangsDerBuchung zeitpunktDerEintragung nummerImAufteilungsplan '
        'beschreibungDesSondereigentums'),
    -- 31 Gebaeude
    ('AX_Gebaeude', 31001, 'gebaeudefunktion weitereGebaeudefunktion name bauweise anzahlDerOberirdischenGeschosse '
        'anzahlDerUnterirdischenGeschosse hochhaus objekthoehe dachform zustand geschossflaeche grundflaeche '
        'umbauterRaum baujahr lageZurErdoberflaeche dachart dachgeschossausbau gebaeudekennzeichen'),
    ('AX_Bauteil', 31002, 'bauart dachform anzahlDerOberirdischenGeschosse anzahlDerUnterirdischenGeschosse '
        'lageZurErdoberflaeche objekthoehe'),
    -- 41 Siedlung
    ('AX_Wohnbauflaeche', 41001, 'artDerBebauung zustand name zweitname'),
    ('AX_IndustrieUndGewerbeflaeche', 41002, 'funktion name zustand foerdergut lagergut primaerenergie'),
    ('AX_Halde', 41003, 'lagergut name zustand'),
    ('AX_Bergbaubetrieb', 41004, 'abbaugut name zustand bezeichnung'),
    ('AX_TagebauGrubeSteinbruch', 41005, 'abbaugut name zustand'),
    ('AX_FlaecheGemischterNutzung', 41006, 'artDerBebauung funktion name zustand'),
    ('AX_FlaecheBesondererFunktionalerPraegung', 41007, 'funktion artDerBebauung name zustand'),
    ('AX_SportFreizeitUndErholungsflaeche', 41008, 'funktion zustand name'),
    ('AX_Friedhof', 41009, 'funktion name zustand'),
    -- 42 Verkehr
    ('AX_Strassenverkehr', 42001, 'funktion name_unverschluesselt zweitname zustand'),
    ('AX_Weg', 42006, 'funktion name bezeichnung'),
    ('AX_Fahrwegachse', 42008, 'funktion breiteDesVerkehrsweges markierung befestigung name'),
    ('AX_Platz', 42009, 'funktion name zweitname'),
    ('AX_Bahnverkehr', 42010, 'funktion bahnkategorie bezeichnung nummerDerBahnstrecke zweitname zustand'),
    ('AX_Flugverkehr', 42015, 'funktion art name bezeichnung nutzung zustand'),
    ('AX_Schiffsverkehr', 42016, 'funktion name zustand'),
    -- 43 Vegetation
    ('AX_Landwirtschaft', 43001, 'vegetationsmerkmal name'),
    ('AX_Wald', 43002, 'vegetationsmerkmal nutzung name bezeichnung'),
    ('AX_Gehoelz', 43003, 'vegetationsmerkmal name funktion'),
    ('AX_Heide', 43004, 'name'),
    ('AX_Moor', 43005, 'name'),
    ('AX_Sumpf', 43006, 'name'),
    ('AX_UnlandVegetationsloseFlaeche', 43007, 'oberflaechenmaterial funktion name'),
    -- 44 Gewaesser
    ('AX_Fliessgewaesser', 44001, 'funktion name zustand'),
    ('AX_Hafenbecken', 44005, 'funktion name nutzung'),
    ('AX_StehendesGewaesser', 44006, 'funktion name gewaesserkennziffer hydrologischesMerkmal'),
    ('AX_Meer', 44007, 'funktion name bezeichnung tidemerkmal'),
    -- 51 Bauwerke, 61 Relief
    ('AX_Turm', 51001, 'bauwerksfunktion zustand name objekthoehe'),
    ('AX_BoeschungKliff', 61001, 'objekthoehe'),
    -- 73 Kataloge
    ('AX_Bundesland', 73002, 'schluessel_land bezeichnung'),
    ('AX_Regierungsbezirk', 73003, 'schluessel_land schluessel_regierungsbezirk bezeichnung'),
    ('AX_KreisRegion', 73004, 'schluessel_land schluessel_regierungsbezirk schluessel_kreis bezeichnung'),
    ('AX_Gemeinde', 73005, 'schluessel_land schluessel_regierungsbezirk schluessel_kreis schluessel_gemeinde '
        'bezeichnung'),
    ('AX_Gemarkung', 73007, 'schluessel_land schluessel_gemarkungsnummer bezeichnung'),
    ('AX_Buchungsblattbezirk', 73010, 'schluessel_land schluessel_bezirk bezeichnung'),
    ('AX_Dienststelle', 73011, 'schluessel_land schluessel_stelle bezeichnung stellenart'),
    ('AX_LagebezeichnungKatalogeintrag', 73012, 'schluessel_land schluessel_regierungsbezirk schluessel_kreis '
        'schluessel_gemeinde schluessel_lage bezeichnung');

-- Every attribute named above must have its type; a typing slip fails the install.
DO $$
DECLARE
    missing text;
BEGIN
    SELECT string_agg(DISTINCT a.attrart, ', ') INTO missing
    FROM kelpora_object_type t
    CROSS JOIN LATERAL regexp_split_to_table(t.attributes, '\s+') AS a(attrart)
    WHERE a.attrart <> '' AND NOT EXISTS (SELECT 1 FROM kelpora_attribute_type k WHERE k.attrart = a.attrart);
    IF missing IS NOT NULL THEN
        RAISE EXCEPTION 'parse: attributes without type: %', missing;
    END IF;
END
$$;

INSERT INTO public.parse (oa, oakennung, attrart, attrartkennung, attrtyp)
SELECT t.oa, t.oakennung, k.attrart, lower(k.attrart), k.attrtyp
FROM kelpora_object_type t
CROSS JOIN LATERAL regexp_split_to_table(t.attributes, '\s+') WITH ORDINALITY AS a(attrart, n)
JOIN kelpora_attribute_type k ON k.attrart = a.attrart
WHERE NOT EXISTS (SELECT 1 FROM public.parse p WHERE p.oa = t.oa AND p.attrartkennung = lower(k.attrart))
ORDER BY t.oakennung, a.n;

-- Databases prepared before the Dienststelle keys were known to take five characters typed them as
-- four-character codes, which refused real Dienststellen; tables created from now on take them as text.
UPDATE public.parse SET attrtyp = 0
WHERE attrtyp = 1 AND attrartkennung IN ('zustaendigestelle_stelle', 'schluessel_stelle');
