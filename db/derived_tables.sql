-- Tables that users query after an AFIS or ALKIS import, derived from the integrated object tables
-- and the relations in id_refs. They are rebuilt on every call. An object type that was not
-- imported (or a column the parse configuration does not have) contributes nothing, so each
-- function works on whatever was imported.

-- The select list of kelpora_current_objects() for one source table (alias x).
CREATE OR REPLACE FUNCTION kelpora_object_select_list(source regclass, cols text[])
RETURNS text LANGUAGE sql STABLE AS $$
    SELECT 'x.gml_id::character varying AS gml_id, x.beginn, x.ende, x.geo'
           || coalesce((SELECT string_agg(', ' || kelpora_text_column(source, 'x', c) || ' AS ' || quote_ident(c), ''
                                          ORDER BY n)
                        FROM unnest(cols) WITH ORDINALITY AS u(c, n)), '')
$$;

-- The current versions of one object type as an SQL subquery with the columns gml_id, beginn,
-- ende, geo and, as trimmed text, each column of cols (NULL where a table lacks it). Rows come from
-- the table of the type and from the tables of its object-type group ("og_" + the first two digits
-- of its code, rows with oa = the type); without any such table the subquery yields no rows.
CREATE OR REPLACE FUNCTION kelpora_current_objects(object_type text, cols text[])
RETURNS text LANGUAGE plpgsql STABLE AS $$
DECLARE
    source regclass;
    parts text[] := '{}';
    col text;
    select_list text;
    group_code text;
BEGIN
    source := kelpora_public_table(lower(object_type));
    IF source IS NOT NULL THEN
        parts := parts || format('SELECT %s FROM ONLY %s x', kelpora_object_select_list(source, cols), source);
    END IF;

    FOR group_code IN
        SELECT DISTINCT substring(oakennung::text FROM 1 FOR 2) FROM public.parse WHERE oa = object_type
    LOOP
        source := kelpora_public_table('og_' || group_code);
        IF source IS NOT NULL AND kelpora_has_column(source, 'oa') THEN
            parts := parts || format('SELECT %s FROM ONLY %s x WHERE x.oa = %L', kelpora_object_select_list(source, cols),
                                     source, object_type);
        END IF;
    END LOOP;

    IF cardinality(parts) = 0 THEN
        select_list := 'NULL::character varying AS gml_id, NULL::timestamp AS beginn, NULL::timestamp AS ende,'
                       ' NULL::geometry AS geo';
        FOREACH col IN ARRAY cols LOOP
            select_list := select_list || ', NULL::text AS ' || quote_ident(col);
        END LOOP;
        RETURN format('(SELECT %s WHERE false)', select_list);
    END IF;
    RETURN format('(SELECT DISTINCT ON (gml_id) * FROM (%s) u WHERE kelpora_is_current(ende) ORDER BY gml_id, beginn DESC)',
                  array_to_string(parts, ' UNION ALL '));
END
$$;

-- Current relations of one type as a subquery (gml_id, id_ref). The importer takes a relation's
-- number from the first parserelations row of its name, so every number of the name counts.
CREATE OR REPLACE FUNCTION kelpora_current_relations(relation_name text)
RETURNS text LANGUAGE sql IMMUTABLE AS $$
    SELECT format('(SELECT r.gml_id, r.id_ref FROM public.id_refs r WHERE r.typ IN '
                  '(SELECT typ FROM public.parserelations WHERE typbez = %L) AND kelpora_is_current(r.ende))',
                  relation_name)
$$;

-- A height value as the importer stores it: decimal comma, and for three-value points
-- (ETRS89_h) the last value is the height. NULL for anything that is not a number.
CREATE OR REPLACE FUNCTION kelpora_height(value text)
RETURNS double precision LANGUAGE sql IMMUTABLE AS $$
    SELECT CASE WHEN h ~ '^[+-]?[0-9]+(\.[0-9]+)?$' THEN h::double precision END
    FROM (SELECT replace((regexp_split_to_array(btrim(value), '\s+'))[cardinality(regexp_split_to_array(btrim(value), '\s+'))],
                         ',', '.') AS h) v
$$;

-- An integer attribute that the importer wrote as -99 because the feature did not have it.
CREATE OR REPLACE FUNCTION kelpora_present(value text)
RETURNS text LANGUAGE sql IMMUTABLE AS $$
    SELECT NULLIF(value, '-99')
$$;

-- Height control points (AFIS): identifier, point number, heights and position. Heights come from
-- the point's own height columns or from its point locations (AX_PunktortAU/AG/TA that are part of
-- it, relation istTeilVon); the position from a point location with a geometry, else the point's own.
CREATE OR REPLACE FUNCTION intoHoehenfestpunkte()
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    height_cols constant text[] := ARRAY['hoehe_5783', 'de_dhhn92_nh', 'hoehe_7837', 'de_dhhn2016_nh', 'etrs89_h'];
    points text;
    locations text;
    part_of text;
    filled bigint;
BEGIN
    points := kelpora_current_objects('AX_Hoehenfestpunkt', ARRAY['punktkennung'] || height_cols);
    locations := format('(%s UNION ALL %s UNION ALL %s)',
                        'SELECT * FROM ' || kelpora_current_objects('AX_PunktortAU', height_cols) || ' au',
                        'SELECT * FROM ' || kelpora_current_objects('AX_PunktortAG', height_cols) || ' ag',
                        'SELECT * FROM ' || kelpora_current_objects('AX_PunktortTA', height_cols) || ' ta');
    part_of := kelpora_current_relations('istTeilVon');

    DROP TABLE IF EXISTS public.hoehenfestpunkte;
    EXECUTE format($sql$
        CREATE TABLE public.hoehenfestpunkte AS
        WITH point AS (SELECT * FROM %1$s p),
             location AS (SELECT r.id_ref AS point_id, l.* FROM %2$s l JOIN %3$s r ON r.gml_id = l.gml_id)
        SELECT p.gml_id, p.punktkennung,
               coalesce(kelpora_height(p.hoehe_5783), kelpora_height(p.de_dhhn92_nh),
                        (SELECT max(coalesce(kelpora_height(l.hoehe_5783), kelpora_height(l.de_dhhn92_nh)))
                         FROM location l WHERE l.point_id = p.gml_id)) AS hoehe_dhhn92,
               coalesce(kelpora_height(p.hoehe_7837), kelpora_height(p.de_dhhn2016_nh),
                        (SELECT max(coalesce(kelpora_height(l.hoehe_7837), kelpora_height(l.de_dhhn2016_nh)))
                         FROM location l WHERE l.point_id = p.gml_id)) AS hoehe_dhhn2016,
               coalesce(kelpora_height(p.etrs89_h),
                        (SELECT max(kelpora_height(l.etrs89_h)) FROM location l WHERE l.point_id = p.gml_id))
                   AS hoehe_etrs89,
               coalesce((SELECT l.geo FROM location l WHERE l.point_id = p.gml_id AND l.geo IS NOT NULL
                         ORDER BY l.gml_id LIMIT 1), p.geo) AS geo
        FROM point p
        $sql$, points, locations, part_of);
    GET DIAGNOSTICS filled = ROW_COUNT;
    RETURN filled;
END
$$;

-- Current parcels with their Flurstueckskennzeichen: the delivered one, or else put together from
-- land (2), Gemarkung (4), Flur (3), Zaehler (5) and Nenner (4, "_" when there is none) + "__".
CREATE OR REPLACE FUNCTION kelpora_parcels()
RETURNS text LANGUAGE sql STABLE AS $$
    SELECT format($sql$(
        SELECT f.gml_id, f.geo, f.gemarkung_land AS land, f.gemarkung_gemarkungsnummer AS gemarkungsnummer,
               kelpora_present(f.flurnummer)::integer AS flurnummer,
               kelpora_present(f.flurstuecksnummer_zaehler)::integer AS zaehler,
               f.flurstuecksnummer_nenner AS nenner,
               f.amtlicheflaeche::double precision AS amtliche_flaeche,
               coalesce(f.flurstueckskennzeichen,
                        lpad(f.gemarkung_land, 2, '0') || lpad(f.gemarkung_gemarkungsnummer, 4, '0')
                        || lpad(coalesce(kelpora_present(f.flurnummer), '0'), 3, '0')
                        || lpad(kelpora_present(f.flurstuecksnummer_zaehler), 5, '0')
                        || coalesce(lpad(f.flurstuecksnummer_nenner, 4, '0'), '____') || '__') AS flurstueckskennzeichen
        FROM %s f)$sql$,
        kelpora_current_objects('AX_Flurstueck',
            ARRAY['gemarkung_land', 'gemarkung_gemarkungsnummer', 'flurnummer', 'flurstuecksnummer_zaehler',
                  'flurstuecksnummer_nenner', 'flurstueckskennzeichen', 'amtlicheflaeche']))
$$;

-- ALKIS: alkis_flurstuecke (current parcels with Flurstueckskennzeichen, Gemarkung, area and
-- geometry) and alkis_gebaeude (current buildings with function and address). Returns the number
-- of rows of both tables.
CREATE OR REPLACE FUNCTION alkis_nachbearbeitung()
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    parcels_made bigint;
    buildings_made bigint;
BEGIN
    DROP TABLE IF EXISTS public.alkis_flurstuecke;
    EXECUTE format($sql$
        CREATE TABLE public.alkis_flurstuecke AS
        SELECT f.gml_id, f.flurstueckskennzeichen, f.land, f.gemarkungsnummer,
               (SELECT g.bezeichnung FROM %2$s g
                WHERE g.schluessel_land = f.land AND g.schluessel_gemarkungsnummer = f.gemarkungsnummer
                ORDER BY g.gml_id LIMIT 1) AS gemarkung,
               f.flurnummer, f.zaehler, f.nenner, f.amtliche_flaeche,
               CASE WHEN f.geo IS NOT NULL THEN st_area(f.geo) END AS geometrie_flaeche,
               f.geo
        FROM %1$s f
        $sql$, kelpora_parcels(),
        kelpora_current_objects('AX_Gemarkung', ARRAY['schluessel_land', 'schluessel_gemarkungsnummer', 'bezeichnung']));
    GET DIAGNOSTICS parcels_made = ROW_COUNT;

    DROP TABLE IF EXISTS public.alkis_gebaeude;
    EXECUTE format($sql$
        CREATE TABLE public.alkis_gebaeude AS
        WITH address AS (
            SELECT a.gml_id,
                   concat_ws(' ', coalesce(a.lagebezeichnung_unverschluesselt,
                                           (SELECT k.bezeichnung FROM %3$s k
                                            WHERE k.schluessel_land = a.lagebezeichnung_verschluesselt_land
                                              AND k.schluessel_regierungsbezirk IS NOT DISTINCT FROM a.lagebezeichnung_verschluesselt_regierungsbezirk
                                              AND k.schluessel_kreis = a.lagebezeichnung_verschluesselt_kreis
                                              AND k.schluessel_gemeinde = a.lagebezeichnung_verschluesselt_gemeinde
                                              AND k.schluessel_lage = a.lagebezeichnung_verschluesselt_lage
                                            ORDER BY k.gml_id LIMIT 1),
                                           a.lagebezeichnung_verschluesselt_lage),
                             a.hausnummer) AS text
            FROM %2$s a)
        SELECT b.gml_id, b.gebaeudefunktion, b.name,
               (SELECT string_agg(ad.text, '; ' ORDER BY ad.text)
                FROM %4$s r JOIN address ad ON ad.gml_id = r.id_ref
                WHERE r.gml_id = b.gml_id) AS adresse,
               b.geo
        FROM %1$s b
        $sql$,
        kelpora_current_objects('AX_Gebaeude', ARRAY['gebaeudefunktion', 'name']),
        kelpora_current_objects('AX_LagebezeichnungMitHausnummer',
            ARRAY['lagebezeichnung_unverschluesselt', 'lagebezeichnung_verschluesselt_land',
                  'lagebezeichnung_verschluesselt_regierungsbezirk', 'lagebezeichnung_verschluesselt_kreis',
                  'lagebezeichnung_verschluesselt_gemeinde', 'lagebezeichnung_verschluesselt_lage', 'hausnummer']),
        kelpora_current_objects('AX_LagebezeichnungKatalogeintrag',
            ARRAY['schluessel_land', 'schluessel_regierungsbezirk', 'schluessel_kreis', 'schluessel_gemeinde',
                  'schluessel_lage', 'bezeichnung']),
        kelpora_current_relations('zeigtAuf'));
    GET DIAGNOSTICS buildings_made = ROW_COUNT;
    RETURN parcels_made + buildings_made;
END
$$;

-- ALB view of the parcels: one row per parcel and owner, following
-- Flurstueck -istGebucht-> Buchungsstelle -istBestandteilVon-> Buchungsblatt
-- <-istBestandteilVon- Namensnummer -benennt-> Person -hat-> Anschrift. A Buchungsstelle that holds a
-- right "an" the parcel's Buchungsstelle (for instance a share of the property) counts as well.
-- Parcels without booking or owners keep one row with empty owner columns. Returns the row count.
CREATE OR REPLACE FUNCTION alb_nachbearbeitung()
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    made bigint;
BEGIN
    DROP TABLE IF EXISTS public.alb_flurstuecke;
    EXECUTE format($sql$
        CREATE TABLE public.alb_flurstuecke AS
        WITH parcel AS (SELECT * FROM %1$s p),
             booking AS (SELECT * FROM %2$s s),
             sheet AS (SELECT * FROM %3$s b),
             name_number AS (SELECT * FROM %4$s n),
             person AS (SELECT * FROM %5$s p),
             address AS (SELECT * FROM %6$s a),
             booked AS (SELECT * FROM %7$s r),
             part_of AS (SELECT * FROM %8$s r),
             names AS (SELECT * FROM %9$s r),
             has AS (SELECT * FROM %10$s r),
             right_on AS (SELECT * FROM %11$s r),
             parcel_booking AS (
                 SELECT r.gml_id AS parcel_id, r.id_ref AS booking_id FROM booked r
                 UNION
                 SELECT r.gml_id, h.gml_id FROM booked r JOIN right_on h ON h.id_ref = r.id_ref)
        SELECT f.gml_id AS flurstueck_gml_id, f.flurstueckskennzeichen,
               s.gml_id AS buchungsstelle_gml_id, s.laufendenummer AS buchungsstelle_laufende_nummer,
               s.buchungsart,
               b.gml_id AS buchungsblatt_gml_id, b.buchungsblattkennzeichen,
               b.buchungsblattnummermitbuchstabenerweiterung AS buchungsblattnummer,
               n.gml_id AS namensnummer_gml_id, n.laufendenummernachdin1421 AS namensnummer,
               CASE WHEN n.anteil_zaehler IS NOT NULL AND n.anteil_nenner IS NOT NULL
                    THEN n.anteil_zaehler || '/' || n.anteil_nenner END AS anteil,
               p.gml_id AS person_gml_id, p.nachnameoderfirma AS nachname_oder_firma, p.vorname,
               p.geburtsdatum,
               (SELECT string_agg(concat_ws(' ', a.strasse, a.hausnummer) || ', '
                                  || concat_ws(' ', a.postleitzahlpostzustellung, a.ort_post), '; ' ORDER BY a.gml_id)
                FROM has h JOIN address a ON a.gml_id = h.id_ref WHERE h.gml_id = p.gml_id) AS anschrift
        FROM parcel f
        LEFT JOIN parcel_booking pb ON pb.parcel_id = f.gml_id
        LEFT JOIN booking s ON s.gml_id = pb.booking_id
        LEFT JOIN part_of sb ON sb.gml_id = s.gml_id AND EXISTS (SELECT 1 FROM sheet x WHERE x.gml_id = sb.id_ref)
        LEFT JOIN sheet b ON b.gml_id = sb.id_ref
        LEFT JOIN part_of nb ON nb.id_ref = b.gml_id AND EXISTS (SELECT 1 FROM name_number x WHERE x.gml_id = nb.gml_id)
        LEFT JOIN name_number n ON n.gml_id = nb.gml_id
        LEFT JOIN names nm ON nm.gml_id = n.gml_id
        LEFT JOIN person p ON p.gml_id = nm.id_ref
        ORDER BY f.flurstueckskennzeichen, b.buchungsblattkennzeichen, n.laufendenummernachdin1421
        $sql$,
        kelpora_parcels(),
        kelpora_current_objects('AX_Buchungsstelle', ARRAY['laufendenummer', 'buchungsart']),
        kelpora_current_objects('AX_Buchungsblatt',
            ARRAY['buchungsblattkennzeichen', 'buchungsblattnummermitbuchstabenerweiterung']),
        kelpora_current_objects('AX_Namensnummer', ARRAY['laufendenummernachdin1421', 'anteil_zaehler', 'anteil_nenner']),
        kelpora_current_objects('AX_Person', ARRAY['nachnameoderfirma', 'vorname', 'geburtsdatum']),
        kelpora_current_objects('AX_Anschrift', ARRAY['strasse', 'hausnummer', 'postleitzahlpostzustellung', 'ort_post']),
        kelpora_current_relations('istGebucht'),
        kelpora_current_relations('istBestandteilVon'),
        kelpora_current_relations('benennt'),
        kelpora_current_relations('hat'),
        kelpora_current_relations('an'));
    GET DIAGNOSTICS made = ROW_COUNT;
    RETURN made;
END
$$;
