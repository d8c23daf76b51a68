-- Configuration read by every import: model types and relation types of the AAA model.
-- Rows are only added when missing, so local changes survive a second install. The tables carry no
-- keys of their own: the importer reads whatever rows they hold, duplicates included.

-- The AdV standard models; modellidx is the position (1 to 20) in the model-type mask that the
-- importer writes into ax_objects.modellart.
CREATE TABLE IF NOT EXISTS public.modellarten (
    modellart character varying,
    modellidx integer
);

INSERT INTO public.modellarten (modellart, modellidx)
SELECT v.modellart, v.modellidx FROM (VALUES
    ('DLKM', 1),        -- Digitales Liegenschaftskatastermodell (ALKIS)
    ('DKKM500', 2),     -- Digitale Katasterkartenmodelle 1:500 to 1:5000
    ('DKKM1000', 3),
    ('DKKM2000', 4),
    ('DKKM5000', 5),
    ('Basis-DLM', 6),   -- Digitale Landschaftsmodelle (ATKIS)
    ('DLM50', 7),
    ('DLM250', 8),
    ('DLM1000', 9),
    ('DTK10', 10),      -- Digitale Topographische Karten
    ('DTK25', 11),
    ('DTK50', 12),
    ('DTK100', 13),
    ('DTK250', 14),
    ('DTK1000', 15),
    ('DFGM', 16),       -- Digitales Festpunktmodell (AFIS)
    ('DGM2', 17),       -- Digitale Geländemodelle
    ('DGM5', 18),
    ('DGM25', 19),
    ('DGM50', 20)
) AS v(modellart, modellidx)
WHERE NOT EXISTS (SELECT 1 FROM public.modellarten m WHERE m.modellart = v.modellart);

-- Relation roles that NAS features carry as xlink:href properties ("urn:adv:oid:..." targets).
-- Only names listed here become rows of id_refs; any other xlink:href property (code lists such as
-- "anlass") is neither a relation nor an attribute. The numbers are stable: derived tables and
-- user queries may rely on them, new roles get new numbers at the end.
CREATE TABLE IF NOT EXISTS public.parserelations (
    typ integer,
    typbez character varying
);

INSERT INTO public.parserelations (typ, typbez)
SELECT v.typ, v.typbez FROM (VALUES
    (1, 'istGebucht'),                  -- AX_Flurstueck -> AX_Buchungsstelle
    (2, 'zeigtAuf'),                    -- AX_Flurstueck -> AX_LagebezeichnungOhneHausnummer, AX_Gebaeude -> AX_LagebezeichnungMitHausnummer
    (3, 'hat'),                         -- AX_Gebaeude -> AX_LagebezeichnungMitPseudonummer, AX_Person -> AX_Anschrift
    (4, 'gehoertZu'),                   -- AX_Gebaeude -> AX_Gebaeude (Nebengebaeude), AX_Bauteil -> AX_Gebaeude
    (5, 'istBestandteilVon'),           -- AX_Buchungsstelle, AX_Namensnummer -> AX_Buchungsblatt
    (6, 'istTeilVon'),                  -- AX_PunktortAU/AG/TA -> point object; ZUSO membership
    (7, 'weistAuf'),                    -- AX_Flurstueck -> AX_LagebezeichnungMitHausnummer, AX_Person -> AX_Namensnummer
    (8, 'beziehtSichAuf'),              -- AX_Flurstueck, AX_Anschrift, ... -> referenced object
    (9, 'gehoertAnteiligZu'),           -- AX_Flurstueck -> AX_Flurstueck
    (10, 'an'),                         -- AX_Buchungsstelle (herrschend) -> AX_Buchungsstelle (dienend)
    (11, 'durch'),                      -- AX_Buchungsstelle -> AX_Buchungsstelle
    (12, 'dientZurDarstellungVon'),     -- AP_PTO, AP_LPO, ... -> presented object
    (13, 'benennt'),                    -- AX_Namensnummer -> AX_Person
    (14, 'zu'),                         -- AX_Buchungsstelle -> AX_Buchungsstelle
    (15, 'verweistAuf'),                -- AX_Buchungsstelle -> AX_Buchungsstelle
    (16, 'grundstueckBestehtAus'),      -- AX_Buchungsstelle -> AX_Buchungsstelle
    (17, 'beziehtSichAufFlurstueck'),   -- AX_Flurstueck -> AX_Flurstueck
    (18, 'haengtZusammenMit'),          -- AX_Gebaeude -> AX_Gebaeude
    (19, 'gehoert'),                    -- AX_Gebaeude -> AX_Person
    (20, 'bestehtAusRechtsverhaeltnissenZu'), -- AX_Namensnummer -> AX_Namensnummer
    (21, 'hatAuch'),                    -- AX_Namensnummer -> AX_Namensnummer
    (22, 'wirdVertretenVon'),           -- AX_Person -> AX_Vertretung
    (23, 'uebtAus'),                    -- AX_Person -> AX_Vertretung / AX_Verwaltung
    (24, 'besitzt'),                    -- AX_Person -> AX_Gebaeude
    (25, 'vertritt'),                   -- AX_Vertretung -> AX_Person
    (26, 'beziehtSichAuch'),            -- AX_Anschrift -> AX_Person
    (27, 'bestehtAus'),                 -- AX_Gebaeude, aggregates -> parts
    (28, 'istAbgeleitetAus'),           -- derived objects -> source objects
    (29, 'traegtBeiZu'),                -- objects -> aggregates
    (30, 'hatDirektUnten'),             -- overpass: object above -> object below
    -- The further relation roles of the AAA catalogue.
    (31, 'beziehtSichAuchAuf'),
    (32, 'bearbeitbarDurch'),
    (33, 'bearbeitungsstatus'),
    (34, 'beschreibt'),
    (35, 'beziehtSichAufSFP'),
    (36, 'detailliert'),
    (37, 'enthaelt'),
    (38, 'gebiet'),
    (39, 'gehoertZuLFP'),
    (40, 'generalisiert'),
    (41, 'haengtAn'),
    (42, 'hatIdentitaet'),
    (43, 'hatVorgaenger'),
    (44, 'ist'),
    (45, 'istExzentrumZu'),
    (46, 'istIdentischMitAP'),
    (47, 'istIdentischMitGrenzpunkt'),
    (48, 'istIdentischMitHFP'),
    (49, 'istIdentischMitLFP'),
    (50, 'istIdentischMitRSP'),
    (51, 'istIdentischMitSFP'),
    (52, 'istIdentischMitSP'),
    (53, 'istIdentischMitSVP'),
    (54, 'istZentrumZu'),
    (55, 'status'),
    (56, 'synchronisiertMit'),
    (57, 'unterschiedlicherBezugspunktMitAP'),
    (58, 'unterschiedlicherBezugspunktMitGrenzpunkt'),
    (59, 'unterschiedlicherBezugspunktMitHFP'),
    (60, 'unterschiedlicherBezugspunktMitLFP'),
    (61, 'unterschiedlicherBezugspunktMitRSP'),
    (62, 'unterschiedlicherBezugspunktMitSFP'),
    (63, 'unterschiedlicherBezugspunktMitSP'),
    (64, 'unterschiedlicherBezugspunktMitSVP'),
    (65, 'verbundenMit'),
    (66, 'vonAktivitaet'),
    (67, 'vonAntrag'),
    (68, 'vonVorgang'),
    (69, 'weistZum'),
    (70, 'wer'),
    (71, 'wirdVerwaltetVon'),
    (72, 'gehoertZuBauwerk')            -- AX_SonstigesBauwerkOderSonstigeEinrichtung -> the building work it belongs to
) AS v(typ, typbez)
WHERE NOT EXISTS (SELECT 1 FROM public.parserelations r WHERE r.typ = v.typ OR r.typbez = v.typbez);
