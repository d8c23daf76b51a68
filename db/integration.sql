-- Integration of the staging schema: after every file the importer calls temp2alkis(), which moves
-- the file's object versions and relations from alkistemp into the integrated tables of public.

-- The geometry constraints that fkt_add_geometry_column() registers describe the rows present when
-- it ran; a later import may bring another geometry type or code. They are dropped then (the next
-- post-processing registers the table again) instead of refusing the import.
CREATE OR REPLACE FUNCTION kelpora_drop_geometry_constraints(tbl regclass)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
    con record;
BEGIN
    FOR con IN
        SELECT conname FROM pg_constraint
        WHERE conrelid = tbl AND contype = 'c'
          AND conname IN ('enforce_srid_geo', 'enforce_dims_geo', 'enforce_geotype_geo')
    LOOP
        EXECUTE format('ALTER TABLE %s DROP CONSTRAINT %I', tbl, con.conname);
    END LOOP;
END
$$;

-- The twin in public of a staging object table: the same own columns, inheriting from
-- public.ax_objects, with the key over (gml_id, beginn) that keeps every version once.
CREATE OR REPLACE FUNCTION kelpora_create_public_twin(staging regclass, table_name text)
RETURNS regclass LANGUAGE plpgsql AS $$
DECLARE
    own_columns text;
BEGIN
    SELECT string_agg(format('%I %s', attname, format_type(atttypid, atttypmod)), ', ' ORDER BY attnum)
    INTO own_columns
    FROM pg_attribute
    WHERE attrelid = staging AND attnum > 0 AND NOT attisdropped AND attinhcount = 0;

    -- The key's usual name, unless another relation has it or it would be cut to the table's own name;
    -- then the server picks a free one.
    IF length(table_name) + 5 <= 63 AND to_regclass(format('public.%I', table_name || '_pkey')) IS NULL THEN
        EXECUTE format('CREATE TABLE public.%I (%s CONSTRAINT %I PRIMARY KEY (gml_id, beginn)) INHERITS (public.ax_objects)',
                       table_name, coalesce(own_columns || ', ', ''), table_name || '_pkey');
    ELSE
        EXECUTE format('CREATE TABLE public.%I (%s PRIMARY KEY (gml_id, beginn)) INHERITS (public.ax_objects)',
                       table_name, coalesce(own_columns || ', ', ''));
    END IF;
    RETURN kelpora_public_table(table_name);
END
$$;

-- The replaces and deletes of a file also close what the file staged before them, looked up by
-- identifier: the index is made when the file's first closing of a table needs it (on the rows staged
-- until then) and dropped with the rows when the file is integrated, so that extracts, which close
-- nothing, never maintain it.
CREATE OR REPLACE FUNCTION kelpora_closing_index(staging regclass)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
    col text;
BEGIN
    FOREACH col IN ARRAY ARRAY['gml_id', 'id_ref'] LOOP
        IF kelpora_has_column(staging, col) THEN
            EXECUTE format('CREATE INDEX IF NOT EXISTS %I ON %s (%I)',
                           'kelpora_closing_' || staging::oid || '_' || col, staging, col);
        END IF;
    END LOOP;
END
$$;

-- The schema-qualified name of an object table of `schema_name` (a table inheriting from that schema's
-- ax_objects); anything else (the relation table, a catalogue or configuration table) is refused, so
-- that a closing never changes rows that are no versions.
CREATE OR REPLACE FUNCTION kelpora_object_table_name(tbl regclass, schema_name text)
RETURNS text LANGUAGE plpgsql STABLE AS $$
DECLARE
    qualified text;
BEGIN
    SELECT format('%I.%I', n.nspname, c.relname) INTO qualified
    FROM pg_class c
    JOIN pg_namespace n ON n.oid = c.relnamespace
    WHERE c.oid = tbl AND c.relkind = 'r' AND n.nspname = schema_name
      AND EXISTS (SELECT 1 FROM pg_inherits i JOIN pg_class p ON p.oid = i.inhparent
                  WHERE i.inhrelid = c.oid AND p.relname = 'ax_objects' AND p.relnamespace = c.relnamespace);
    IF qualified IS NULL THEN
        RAISE EXCEPTION 'Keine Objekttabelle: %', tbl;
    END IF;
    RETURN qualified;
END
$$;

-- A replace or delete of an object ends its open versions begun before `ende`. The importer ends those
-- in public itself (`integrated_ended` of them) in the same statement; this ends those the file being read
-- staged in `staging` (NULL when it staged none), and leaves "ended:" and the object's identifier as the
-- setting kelpora.closed_object when the two ended any, for the statements that end the object's
-- relations: an object without an open version (an update imported again, a delete of an object deleted
-- before) keeps its relations as they are. A staged version that public holds already (the file is
-- imported again) is dropped by the integration and does not count. The staging tables grow while the file is read: each
-- statement on them is planned when it runs, for the rows staged by then, so that it finds them through
-- the closing indexes. Returns the versions ended.
-- In a table of an object-type group (`object_type` given) only versions of that type (column oa, in any
-- case) end; when none did and the object is stored open as another type of the group (`integrated_other_type`
-- names the one public holds, if any), the closing is refused: the operation names another object.
-- Replaced by the function below, which takes the object type.
DROP FUNCTION IF EXISTS kelpora_close_versions(regclass, text, timestamp, bigint);
CREATE OR REPLACE FUNCTION kelpora_close_versions(staging regclass, object_id text, ende timestamp,
                                                  integrated_ended bigint, object_type text DEFAULT NULL,
                                                  integrated_other_type text DEFAULT NULL)
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    closed bigint := coalesce(integrated_ended, 0);
    n bigint;
    staging_name text;
    twin regclass;
    other_type text := integrated_other_type;
    open_before constant text := format('gml_id = $1 AND (ende IS NULL OR ende = %L) AND beginn < $2',
                                        '1899-12-30 00:00:00');
    of_type constant text := CASE WHEN object_type IS NULL THEN '' ELSE ' AND lower(oa) = lower($3)' END;
BEGIN
    IF staging IS NOT NULL THEN
        staging_name := kelpora_object_table_name(staging, 'alkistemp');
        twin := kelpora_public_table((SELECT relname::text FROM pg_class WHERE oid = staging));
        IF twin IS NULL THEN
            EXECUTE format('UPDATE %s SET ende = $2 WHERE %s%s', staging_name, open_before, of_type)
            USING object_id, ende, object_type;
            GET DIAGNOSTICS n = ROW_COUNT;
        ELSE
            EXECUTE format('WITH ended AS (UPDATE %s SET ende = $2 WHERE %s%s RETURNING beginn) '
                           'SELECT count(*) FROM ended e WHERE NOT EXISTS '
                           '(SELECT 1 FROM %s p WHERE p.gml_id = $1 AND p.beginn = e.beginn)',
                           staging_name, open_before, of_type, kelpora_object_table_name(twin, 'public'))
            INTO n USING object_id, ende, object_type;
        END IF;
        closed := closed + n;
    END IF;
    IF closed = 0 AND object_type IS NOT NULL THEN
        IF other_type IS NULL AND staging_name IS NOT NULL THEN
            EXECUTE format('SELECT min(oa) FROM %s WHERE %s AND lower(oa) <> lower($3)', staging_name,
                           open_before)
            INTO other_type USING object_id, ende, object_type;
        END IF;
        IF other_type IS NOT NULL THEN
            -- About the operation's own values (the type it names), not the server's state.
            RAISE EXCEPTION 'Das Objekt ist vom Typ %: nichts beendet', other_type
                USING ERRCODE = 'invalid_parameter_value';
        END IF;
    END IF;
    -- Marked, so that no identifier (not even an empty one) matches the setting of a closing that ended none.
    PERFORM set_config('kelpora.closed_object', CASE WHEN closed > 0 THEN 'ended:' || object_id ELSE '' END,
                       false);
    RETURN closed;
END
$$;

-- The relations the file staged of an object whose versions kelpora_close_versions() just ended, by the
-- rules of the importer's closing of those in public: a replace ends the object's own open relations
-- begun before `ende` (its new version brings its own), a delete also those pointing to it, begun by
-- `ende`. Nothing when the versions' closing ended none. Returns the relations ended.
CREATE OR REPLACE FUNCTION kelpora_close_staged_relations(object_id text, ende timestamp, is_replace boolean)
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    closed bigint := 0;
BEGIN
    IF current_setting('kelpora.closed_object', true) IS DISTINCT FROM 'ended:' || object_id
       OR to_regclass('alkistemp.id_refs') IS NULL THEN
        RETURN 0;
    END IF;
    EXECUTE CASE WHEN is_replace
                 THEN 'UPDATE alkistemp.id_refs SET ende = $2 WHERE gml_id = $1'
                      ' AND (ende IS NULL OR ende = ''1899-12-30 00:00:00'') AND beginn < $2'
                 ELSE 'UPDATE alkistemp.id_refs SET ende = $2 WHERE (gml_id = $1 OR id_ref = $1)'
                      ' AND (ende IS NULL OR ende = ''1899-12-30 00:00:00'') AND beginn <= $2'
            END
    USING object_id, ende;
    GET DIAGNOSTICS closed = ROW_COUNT;
    RETURN closed;
END
$$;

-- Replaced by the functions above.
DROP FUNCTION IF EXISTS kelpora_close_staged(regclass, text, timestamp, boolean, boolean);

CREATE OR REPLACE FUNCTION kelpora_drop_closing_indexes()
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
    idx record;
BEGIN
    FOR idx IN
        SELECT c.oid::regclass AS index_oid FROM pg_class c
        JOIN pg_namespace n ON n.oid = c.relnamespace
        WHERE n.nspname = 'alkistemp' AND c.relkind = 'i' AND c.relname LIKE 'kelpora\_closing\_%'
    LOOP
        EXECUTE format('DROP INDEX %s', idx.index_oid);
    END LOOP;
END
$$;

-- Indexes that an empty table gets only after its rows: one sorted build of an index costs a fraction of
-- putting the rows into it one by one. The table's keys and indexes (their definitions as the server
-- prints them) are dropped by kelpora_drop_indexes and made again, with their names, by
-- kelpora_restore_indexes. Only a table whose single unique index is the one over `key_columns` is
-- handed over (NULL otherwise): the rows going in are made unique over those columns, and nothing else
-- can refuse them.
CREATE OR REPLACE FUNCTION kelpora_drop_indexes(tbl regclass, key_columns text[])
RETURNS text[] LANGUAGE plpgsql AS $$
DECLARE
    definitions text[] := ARRAY[]::text[];
    item record;
BEGIN
    IF EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = tbl AND (i.indisunique OR i.indisexclusion)
               AND ARRAY(SELECT a.attname::text FROM unnest(i.indkey) WITH ORDINALITY k(attnum, n)
                         JOIN pg_attribute a ON a.attrelid = tbl AND a.attnum = k.attnum ORDER BY k.n)
                   IS DISTINCT FROM key_columns)
       OR (SELECT count(*) FROM pg_index i WHERE i.indrelid = tbl AND (i.indisunique OR i.indisexclusion)) > 1
       OR EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = tbl AND NOT i.indisvalid) THEN
        RETURN NULL;
    END IF;
    FOR item IN
        SELECT c.conname, pg_get_constraintdef(c.oid) AS definition
        FROM pg_constraint c WHERE c.conrelid = tbl AND c.contype IN ('p', 'u', 'x') ORDER BY c.conname
    LOOP
        definitions := definitions || format('ALTER TABLE %s ADD CONSTRAINT %I %s', tbl, item.conname,
                                             item.definition);
        EXECUTE format('ALTER TABLE %s DROP CONSTRAINT %I', tbl, item.conname);
    END LOOP;
    FOR item IN
        SELECT i.indexrelid::regclass AS index_oid, pg_get_indexdef(i.indexrelid) AS definition
        FROM pg_index i WHERE i.indrelid = tbl ORDER BY i.indexrelid::regclass::text
    LOOP
        definitions := definitions || item.definition;
        EXECUTE format('DROP INDEX %s', item.index_oid);
    END LOOP;
    RETURN definitions;
END
$$;

CREATE OR REPLACE FUNCTION kelpora_restore_indexes(definitions text[])
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
    definition text;
BEGIN
    FOREACH definition IN ARRAY coalesce(definitions, ARRAY[]::text[]) LOOP
        EXECUTE definition;
    END LOOP;
END
$$;

-- Runs the INSERT of staged rows into an object twin; geometry constraints that refuse them are dropped
-- first (see kelpora_drop_geometry_constraints). Returns the rows inserted.
CREATE OR REPLACE FUNCTION kelpora_insert_rows(target regclass, insert_sql text)
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    moved bigint;
BEGIN
    BEGIN
        EXECUTE insert_sql;
    EXCEPTION WHEN check_violation THEN
        PERFORM kelpora_drop_geometry_constraints(target);
        EXECUTE insert_sql;
    END;
    GET DIAGNOSTICS moved = ROW_COUNT;
    RETURN moved;
END
$$;

-- Moves the rows of one staging object table into its twin. A version (gml_id, beginn) that the
-- twin already holds, or that occurs twice in the staging table, is kept once: the first stored.
-- Columns are matched by name, so a twin created under another parse configuration still takes
-- every staged value. Returns the number of rows added to the twin.
-- What the twin holds is looked up by its key, version by version: a fixed-size update costs the
-- same in a county of any size (a merge or hash join would read the whole twin).
-- An empty twin (a new one, in the first import of a type) takes the rows before its key and indexes.
CREATE OR REPLACE FUNCTION kelpora_integrate_table(staging regclass, target regclass)
RETURNS bigint LANGUAGE plpgsql
SET enable_hashjoin = off SET enable_mergejoin = off SET work_mem = '64MB' AS $$
DECLARE
    column_list text;
    value_list text;
    insert_sql text;
    moved bigint;
    left_behind bigint;
    missing record;
    empty_target boolean;
    indexes text[];
BEGIN
    -- A column the twin lacks (parse was extended and the staging table made anew) is added rather
    -- than its values dropped.
    FOR missing IN
        SELECT s.attname, format_type(s.atttypid, s.atttypmod) AS type_name
        FROM pg_attribute s
        WHERE s.attrelid = staging AND s.attnum > 0 AND NOT s.attisdropped
          AND NOT kelpora_has_column(target, s.attname)
        ORDER BY s.attnum
    LOOP
        EXECUTE format('ALTER TABLE %s ADD COLUMN %I %s', target, missing.attname, missing.type_name);
    END LOOP;

    SELECT string_agg(format('%I', s.attname), ', ' ORDER BY s.attnum),
           string_agg(CASE WHEN s.atttypid = d.atttypid AND s.atttypmod = d.atttypmod
                           THEN format('s.%I', s.attname)
                           ELSE format('CAST(s.%I AS %s)', s.attname, format_type(d.atttypid, d.atttypmod)) END,
                      ', ' ORDER BY s.attnum)
    INTO column_list, value_list
    FROM pg_attribute s
    JOIN pg_attribute d ON d.attrelid = target AND d.attname = s.attname AND d.attnum > 0 AND NOT d.attisdropped
    WHERE s.attrelid = staging AND s.attnum > 0 AND NOT s.attisdropped;

    EXECUTE format('SELECT NOT EXISTS (SELECT 1 FROM ONLY %s) AND EXISTS (SELECT 1 FROM ONLY %s)',
                   target, staging)
    INTO empty_target;
    IF empty_target THEN
        indexes := kelpora_drop_indexes(target, ARRAY['gml_id', 'beginn']);
    END IF;
    IF indexes IS NOT NULL THEN
        -- A file mostly stages each version once: the rows go in as they were staged, and only when the
        -- key refuses them (a version staged twice) is everything of this block undone and the rows
        -- sorted, to keep the first of each.
        BEGIN
            moved := kelpora_insert_rows(target, format(
                'INSERT INTO %1$s (%2$s) SELECT %3$s FROM ONLY %4$s s'
                ' WHERE gml_id IS NOT NULL AND beginn IS NOT NULL',
                target, column_list, value_list, staging));
            PERFORM kelpora_restore_indexes(indexes);
            indexes := ARRAY[]::text[];
        EXCEPTION WHEN unique_violation THEN
            NULL;
        END;
    END IF;
    IF indexes IS NULL OR cardinality(indexes) > 0 THEN
        insert_sql := format(
            'INSERT INTO %1$s (%2$s) SELECT %3$s FROM ('
            '  SELECT DISTINCT ON (gml_id, beginn) * FROM ONLY %4$s'
            '  WHERE gml_id IS NOT NULL AND beginn IS NOT NULL ORDER BY gml_id, beginn, ctid) s',
            target, column_list, value_list, staging);
        IF indexes IS NULL THEN
            insert_sql := insert_sql || format(
                ' WHERE NOT EXISTS (SELECT 1 FROM ONLY %1$s p WHERE p.gml_id = s.gml_id AND p.beginn = s.beginn)'
                ' ON CONFLICT DO NOTHING', target);
        END IF;
        moved := kelpora_insert_rows(target, insert_sql);
        PERFORM kelpora_restore_indexes(indexes);
    END IF;

    EXECUTE format('SELECT count(*) FROM ONLY %s WHERE gml_id IS NULL OR beginn IS NULL', staging)
    INTO left_behind;
    IF left_behind = 0 THEN
        -- Emptied without leaving dead rows behind for the closings of the next file to wade through.
        EXECUTE format('TRUNCATE ONLY %s', staging);
    ELSE
        EXECUTE format('DELETE FROM ONLY %s WHERE gml_id IS NOT NULL AND beginn IS NOT NULL', staging);
        RAISE WARNING 'temp2alkis: % rows of % without gml_id or beginn stay in the staging table',
            left_behind, staging;
    END IF;
    RETURN moved;
END
$$;

-- Relations: a relation is added unless public already holds it, open or closed. A relation row is
-- its holder, target, type and the begin of the holder's version, so the rows of a new version never
-- meet those of an older one, and a file imported again (or an extract after its updates) does not
-- bring relations back as current next to their closed copies. A relation staged twice is kept once,
-- the first staged, as versions are (a closing between the two would otherwise leave both).
-- An empty public.id_refs (the first import into a database) takes the rows before its indexes.
CREATE OR REPLACE FUNCTION kelpora_integrate_id_refs()
RETURNS bigint LANGUAGE plpgsql
SET enable_hashjoin = off SET enable_mergejoin = off SET work_mem = '64MB' AS $$
DECLARE
    moved bigint := 0;
    insert_sql text;
    indexes text[];
BEGIN
    IF to_regclass('alkistemp.id_refs') IS NULL THEN
        RETURN 0;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM public.id_refs) AND EXISTS (SELECT 1 FROM alkistemp.id_refs) THEN
        indexes := kelpora_drop_indexes('public.id_refs', ARRAY['gml_id', 'id_ref', 'typ', 'beginn']);
    END IF;
    insert_sql :=
        'INSERT INTO public.id_refs (gml_id, id_ref, typ, beginn, ende)'
        ' SELECT s.gml_id, s.id_ref, s.typ, s.beginn, s.ende FROM ('
        '   SELECT DISTINCT ON (gml_id, id_ref, typ, beginn) * FROM alkistemp.id_refs'
        '   ORDER BY gml_id, id_ref, typ, beginn, ctid) s';
    IF indexes IS NULL THEN
        insert_sql := insert_sql ||
            ' WHERE NOT EXISTS (SELECT 1 FROM public.id_refs p'
            '   WHERE p.gml_id = s.gml_id AND p.id_ref = s.id_ref AND p.typ = s.typ AND p.beginn = s.beginn)';
    END IF;
    EXECUTE insert_sql;
    GET DIAGNOSTICS moved = ROW_COUNT;
    PERFORM kelpora_restore_indexes(indexes);
    EXECUTE 'TRUNCATE alkistemp.id_refs';
    RETURN moved;
END
$$;

-- Integrates everything staged: every object table of alkistemp (its twin in public is created
-- when missing) and alkistemp.id_refs. Runs inside the caller's statement, so it is one
-- transaction; afterwards the staging tables are empty. Returns the number of rows added.
CREATE OR REPLACE FUNCTION temp2alkis()
RETURNS bigint LANGUAGE plpgsql AS $$
DECLARE
    staged record;
    target regclass;
    total bigint := 0;
BEGIN
    FOR staged IN SELECT * FROM kelpora_object_tables('alkistemp') LOOP
        -- Only object tables are touched: a name that public holds for another relation (a
        -- configuration table, an index, a PostGIS table) keeps that relation as it is.
        SELECT o.table_oid INTO target FROM kelpora_object_tables('public') o
        WHERE o.table_name = staged.table_name;
        IF target IS NULL THEN
            IF kelpora_public_table(staged.table_name) IS NOT NULL THEN
                RAISE WARNING 'temp2alkis: public.% is no object table; the rows of % stay staged',
                    staged.table_name, staged.table_oid;
                CONTINUE;
            END IF;
            -- A twin would bring a row type of the same name, which a data type of public has already.
            IF EXISTS (SELECT 1 FROM pg_type WHERE typname = staged.table_name
                       AND typnamespace = 'public'::regnamespace) THEN
                RAISE WARNING 'temp2alkis: public.% is a data type; the rows of % stay staged',
                    staged.table_name, staged.table_oid;
                CONTINUE;
            END IF;
            target := kelpora_create_public_twin(staged.table_oid, staged.table_name);
        END IF;
        total := total + kelpora_integrate_table(staged.table_oid, target);
    END LOOP;
    total := total + kelpora_integrate_id_refs();
    PERFORM kelpora_drop_closing_indexes();
    RETURN total;
END
$$;
