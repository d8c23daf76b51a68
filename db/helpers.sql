-- Small helpers shared by the database functions. Imported data vary with what a file contained
-- and with the parse configuration, so every function finds tables and columns at run time and
-- works on what is there.

-- An object version or relation is current while it has no end; the importer writes the zero
-- date-time 1899-12-30 for "no end".
CREATE OR REPLACE FUNCTION kelpora_is_current(ende timestamp without time zone)
RETURNS boolean LANGUAGE sql IMMUTABLE AS $$
    SELECT ende IS NULL OR ende = timestamp '1899-12-30 00:00:00'
$$;

-- The object tables of a schema: the tables that inherit from its ax_objects.
CREATE OR REPLACE FUNCTION kelpora_object_tables(schema_name text)
RETURNS TABLE (table_name text, table_oid regclass) LANGUAGE sql STABLE AS $$
    SELECT c.relname::text, c.oid::regclass
    FROM pg_inherits i
    JOIN pg_class c ON c.oid = i.inhrelid
    JOIN pg_class p ON p.oid = i.inhparent
    JOIN pg_namespace pn ON pn.oid = p.relnamespace
    WHERE pn.nspname = schema_name AND p.relname = 'ax_objects' AND c.relkind = 'r'
      AND c.relnamespace = p.relnamespace
    ORDER BY c.relname
$$;

-- A table of the integrated data by its (lower-case) name; NULL when it does not exist.
CREATE OR REPLACE FUNCTION kelpora_public_table(name text)
RETURNS regclass LANGUAGE sql STABLE AS $$
    SELECT to_regclass(format('public.%I', name))
$$;

CREATE OR REPLACE FUNCTION kelpora_has_column(tbl regclass, col text)
RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT tbl IS NOT NULL AND EXISTS (
        SELECT 1 FROM pg_attribute
        WHERE attrelid = tbl AND attname = col AND attnum > 0 AND NOT attisdropped)
$$;

-- SQL text for column col of the table behind alias, or for fallback when the table lacks it
-- (a type imported without that attribute, or a parse table without it).
CREATE OR REPLACE FUNCTION kelpora_column(tbl regclass, alias text, col text, fallback text DEFAULT 'NULL')
RETURNS text LANGUAGE sql STABLE AS $$
    SELECT CASE WHEN kelpora_has_column(tbl, col) THEN format('%s.%I', alias, col) ELSE fallback END
$$;

-- The same as text with surrounding blanks removed, empty text as NULL; char(4) codes come padded.
CREATE OR REPLACE FUNCTION kelpora_text_column(tbl regclass, alias text, col text)
RETURNS text LANGUAGE sql STABLE AS $$
    SELECT CASE WHEN kelpora_has_column(tbl, col)
                THEN format('NULLIF(btrim(%s.%I::text), %L)', alias, col, '')
                ELSE 'NULL::text' END
$$;

-- Index names stay unique and within the identifier length for long table names.
CREATE OR REPLACE FUNCTION kelpora_index_name(table_name text, suffix text)
RETURNS text LANGUAGE sql IMMUTABLE AS $$
    SELECT CASE WHEN length(table_name) + length(suffix) + 1 <= 63
                THEN table_name || '_' || suffix
                ELSE left(table_name, 62 - length(suffix) - 9) || '_' || left(md5(table_name), 8) || '_' || suffix
           END
$$;
