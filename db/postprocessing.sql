-- Post-processing after an import: conversion table, indexes, geometry registration and
-- transformation. Each function works on the object tables that exist in public and returns a count.

-- One row per object table of the integrated data.
CREATE TABLE IF NOT EXISTS public.umsetzung (
    tablename character varying PRIMARY KEY,
    objektart character varying,           -- object type(s) stored in the table
    anzahl bigint NOT NULL DEFAULT 0,       -- all versions
    aktuell bigint NOT NULL DEFAULT 0,      -- versions without end
    letzte_aenderung timestamp without time zone,   -- latest begin or end of a version
    aktualisiert timestamp without time zone        -- when this row was last brought up to date
);

CREATE OR REPLACE FUNCTION fkt_umsetzung()
RETURNS integer LANGUAGE plpgsql AS $$
DECLARE
    obj record;
    type_name text;
    row_count bigint;
    current_count bigint;
    latest timestamp without time zone;
    tables integer := 0;
BEGIN
    DELETE FROM public.umsetzung u
    WHERE NOT EXISTS (SELECT 1 FROM kelpora_object_tables('public') o WHERE o.table_name = u.tablename);

    FOR obj IN SELECT * FROM kelpora_object_tables('public') LOOP
        EXECUTE format(
            'SELECT count(*), count(*) FILTER (WHERE kelpora_is_current(ende)),'
            ' max(greatest(beginn, CASE WHEN kelpora_is_current(ende) THEN NULL ELSE ende END)) FROM ONLY %s',
            obj.table_oid)
        INTO row_count, current_count, latest;

        -- Tables per object-type group keep the type of each row in "oa".
        IF kelpora_has_column(obj.table_oid, 'oa') THEN
            EXECUTE format('SELECT string_agg(DISTINCT oa, %L ORDER BY oa) FROM ONLY %s', ',', obj.table_oid)
            INTO type_name;
        ELSE
            SELECT min(oa) INTO type_name FROM public.parse WHERE lower(oa) = obj.table_name;
        END IF;

        INSERT INTO public.umsetzung AS u (tablename, objektart, anzahl, aktuell, letzte_aenderung, aktualisiert)
        VALUES (obj.table_name, coalesce(type_name, obj.table_name), row_count, current_count, latest,
                localtimestamp(0))
        ON CONFLICT (tablename) DO UPDATE
            SET objektart = EXCLUDED.objektart, anzahl = EXCLUDED.anzahl, aktuell = EXCLUDED.aktuell,
                letzte_aenderung = EXCLUDED.letzte_aenderung, aktualisiert = EXCLUDED.aktualisiert;
        tables := tables + 1;
    END LOOP;
    RETURN tables;
END
$$;

-- Creates an index unless one of that name exists; true when it was created.
CREATE OR REPLACE FUNCTION kelpora_ensure_index(tbl regclass, index_name text, definition text)
RETURNS boolean LANGUAGE plpgsql AS $$
BEGIN
    IF to_regclass(format('public.%I', index_name)) IS NOT NULL THEN
        RETURN false;
    END IF;
    EXECUTE format('CREATE INDEX %I ON %s %s', index_name, tbl, definition);
    RETURN true;
END
$$;

-- GiST on geo and b-tree on gml_id for every object table, b-trees on id_refs (gml_id) and (id_ref).
-- Returns the number of indexes created; existing ones are left alone.
CREATE OR REPLACE FUNCTION fkt_create_indizes()
RETURNS integer LANGUAGE plpgsql AS $$
DECLARE
    obj record;
    created integer := 0;
BEGIN
    FOR obj IN SELECT * FROM kelpora_object_tables('public') LOOP
        created := created
            + kelpora_ensure_index(obj.table_oid, kelpora_index_name(obj.table_name, 'geo_gist'), 'USING gist (geo)')::integer
            + kelpora_ensure_index(obj.table_oid, kelpora_index_name(obj.table_name, 'gml_id_idx'), '(gml_id)')::integer;
    END LOOP;
    created := created
        + kelpora_ensure_index('public.id_refs', 'id_refs_gml_id_idx', '(gml_id)')::integer
        + kelpora_ensure_index('public.id_refs', 'id_refs_id_ref_idx', '(id_ref)')::integer;
    RETURN created;
END
$$;

-- Registers the geometry column of one table in geometry_columns: constraints on the reference
-- code, the dimension and the geometry type, each only when all stored geometries agree on it
-- (PostGIS reads geometry_columns from such constraints). A table without geometries gets none.
CREATE OR REPLACE FUNCTION kelpora_register_geometry(tbl regclass)
RETURNS boolean LANGUAGE plpgsql AS $$
DECLARE
    srids integer[];
    dims integer[];
    kinds text[];
BEGIN
    PERFORM kelpora_drop_geometry_constraints(tbl);
    EXECUTE format('SELECT array_agg(DISTINCT st_srid(geo)), array_agg(DISTINCT st_ndims(geo)),'
                   ' array_agg(DISTINCT geometrytype(geo)) FROM ONLY %s WHERE geo IS NOT NULL', tbl)
    INTO srids, dims, kinds;
    IF srids IS NULL THEN
        RETURN false;
    END IF;
    IF cardinality(srids) = 1 THEN
        EXECUTE format('ALTER TABLE %s ADD CONSTRAINT enforce_srid_geo CHECK (st_srid(geo) = (%s))', tbl, srids[1]);
    END IF;
    IF cardinality(dims) = 1 THEN
        EXECUTE format('ALTER TABLE %s ADD CONSTRAINT enforce_dims_geo CHECK (st_ndims(geo) = (%s))', tbl, dims[1]);
    END IF;
    IF cardinality(kinds) = 1 THEN
        EXECUTE format('ALTER TABLE %s ADD CONSTRAINT enforce_geotype_geo CHECK (geometrytype(geo) = %L::text OR geo IS NULL)',
                       tbl, kinds[1]);
    END IF;
    RETURN true;
END
$$;

-- Returns the number of object tables registered.
CREATE OR REPLACE FUNCTION fkt_add_geometry_column()
RETURNS integer LANGUAGE plpgsql AS $$
DECLARE
    obj record;
    registered integer := 0;
BEGIN
    FOR obj IN SELECT * FROM kelpora_object_tables('public') LOOP
        IF kelpora_register_geometry(obj.table_oid) THEN
            registered := registered + 1;
        END IF;
    END LOOP;
    RETURN registered;
END
$$;

-- Transforms every stored geometry whose reference code differs from target_srid into target_srid.
-- With grid_path naming an NTv2 grid file (for example BETA2007.gsb) geometries of 31468
-- (DHDN / Gauss-Kruger zone 4) are transformed through that grid instead of the 7-parameter datum
-- shift. Geometries without code (0) cannot be transformed and stay. A grid that cannot be used
-- is an error, so that nothing is transformed less precisely than asked for.
-- A geometry the target cannot take (a point outside its projection's domain, such as an easting
-- with a zone prefix stored under the plain code) stays as it is, code and coordinates, and does
-- not hold back the others: transformed counts the geometries transformed, failed those that stay,
-- failed_ids names the first ten of them ("table gml_id", in table and identifier order) and failure
-- is the error the first one gave.
DROP FUNCTION IF EXISTS fkt_transformprj(integer, text); -- an earlier form returned the count alone
CREATE FUNCTION fkt_transformprj(target_srid integer, grid_path text, OUT transformed bigint,
                                 OUT failed bigint, OUT failed_ids text, OUT failure text)
LANGUAGE plpgsql AS $$
DECLARE
    obj record;
    geometry_row record;
    source_srids integer[];
    source_srid integer;
    grid_proj text;
    new_geo text;
    changed bigint;
    table_changed boolean := false;
BEGIN
    transformed := 0;
    failed := 0;
    IF NOT EXISTS (SELECT 1 FROM spatial_ref_sys WHERE srid = target_srid) THEN
        RAISE EXCEPTION 'Unbekanntes Zielsystem: %', target_srid;
    END IF;
    IF coalesce(btrim(grid_path), '') <> '' THEN
        IF grid_path ~ '\s' THEN
            RAISE EXCEPTION 'Der Pfad der NTv2-Datei darf keine Leerzeichen enthalten: %', grid_path;
        END IF;
        grid_proj := '+proj=tmerc +lat_0=0 +lon_0=12 +k=1 +x_0=4500000 +y_0=0 +ellps=bessel +nadgrids='
                     || btrim(grid_path) || ' +units=m +no_defs';
        BEGIN
            -- A point in the middle of zone 4 tells a missing or unreadable grid from bad data.
            PERFORM ST_Transform(ST_SetSRID(ST_MakePoint(4500000, 5500000), 31468), grid_proj, target_srid);
        EXCEPTION WHEN OTHERS THEN
            RAISE EXCEPTION 'NTv2-Datei nicht verwendbar: % (%)', grid_path, SQLERRM;
        END;
    END IF;

    FOR obj IN SELECT * FROM kelpora_object_tables('public') LOOP
        -- The codes are read before the loop: the table cannot be altered while a query on it is open.
        EXECUTE format(
            'SELECT array_agg(DISTINCT st_srid(geo)) FROM ONLY %s WHERE geo IS NOT NULL AND st_srid(geo) NOT IN (0, %s)',
            obj.table_oid, target_srid)
        INTO source_srids;
        FOREACH source_srid IN ARRAY coalesce(source_srids, '{}') LOOP
            PERFORM kelpora_drop_geometry_constraints(obj.table_oid);
            table_changed := true;
            IF source_srid = 31468 AND grid_proj IS NOT NULL THEN
                new_geo := format('ST_Transform(geo, %L, %s)', grid_proj, target_srid);
            ELSE
                new_geo := format('ST_Transform(geo, %s)', target_srid);
            END IF;
            -- All geometries of the code in one statement; only when one of them fails, one at a time.
            BEGIN
                EXECUTE format('UPDATE ONLY %s SET geo = %s WHERE st_srid(geo) = %s',
                               obj.table_oid, new_geo, source_srid);
                GET DIAGNOSTICS changed = ROW_COUNT;
                transformed := transformed + changed;
            EXCEPTION WHEN OTHERS THEN
                FOR geometry_row IN EXECUTE format(
                    'SELECT ctid AS row_id, gml_id FROM ONLY %s WHERE st_srid(geo) = %s ORDER BY gml_id, ctid',
                    obj.table_oid, source_srid) LOOP
                    BEGIN
                        EXECUTE format('UPDATE ONLY %s SET geo = %s WHERE ctid = $1', obj.table_oid, new_geo)
                        USING geometry_row.row_id;
                        transformed := transformed + 1;
                    EXCEPTION WHEN OTHERS THEN
                        failed := failed + 1;
                        IF failed <= 10 THEN
                            failed_ids := concat_ws(', ', failed_ids,
                                                    obj.table_name || ' ' || coalesce(geometry_row.gml_id, ''));
                        END IF;
                        failure := coalesce(failure, SQLERRM);
                    END;
                END LOOP;
            END;
        END LOOP;
        -- The constraints dropped for the update describe the table again, now with its new code.
        IF table_changed THEN
            PERFORM kelpora_register_geometry(obj.table_oid);
            table_changed := false;
        END IF;
    END LOOP;
END
$$;
