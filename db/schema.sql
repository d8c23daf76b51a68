-- Schemas and the tables that every import writes to.
-- The object tables themselves (one per object type or object-type group), "logs", "invalids" and
-- alkistemp.id_refs are created by Kelpora when it first needs them.

CREATE EXTENSION IF NOT EXISTS postgis;

-- Staging schema: a file is written here and integrated into public by temp2alkis() afterwards.
-- It must stay off the search path, so that unqualified names always mean the integrated data.
CREATE SCHEMA IF NOT EXISTS alkistemp;

-- Parents of the object tables. Date-times arrive as text such as "2024-10-15 07:55:13"; an object
-- without end gets "1899-12-30" (the zero date-time), so "current" means ende IS NULL or that date.
CREATE TABLE IF NOT EXISTS public.ax_objects (
    gml_id character varying,
    tablename character varying,
    modellart character varying,
    beginn timestamp without time zone,
    ende timestamp without time zone,
    geo geometry
);

CREATE TABLE IF NOT EXISTS alkistemp.ax_objects (LIKE public.ax_objects);

-- Integrated relations between objects (filled from alkistemp.id_refs). Closing an object sets
-- ende of its relations to a date-time, hence timestamp rather than date.
CREATE TABLE IF NOT EXISTS public.id_refs (
    gml_id character varying NOT NULL,
    id_ref character varying NOT NULL,
    typ integer NOT NULL,
    beginn timestamp without time zone NOT NULL,
    ende timestamp without time zone
);
-- Closing an object looks its relations up by holder and by target, and integration by the whole
-- relation: without these every replace and delete of an update scans all relations of the county.
CREATE INDEX IF NOT EXISTS id_refs_gml_id_idx ON public.id_refs (gml_id);
CREATE INDEX IF NOT EXISTS id_refs_id_ref_idx ON public.id_refs (id_ref);
-- The integration looks each staged relation up as a whole: by target alone, a target many objects point to
-- would be searched through all of them, again for every one.
CREATE INDEX IF NOT EXISTS id_refs_relation_idx ON public.id_refs (gml_id, id_ref, typ, beginn);

-- Object counts announced by the export protocol of each file (progress display).
CREATE TABLE IF NOT EXISTS public.statistics (
    fileid character varying,
    obj_art character varying,
    obj_anzahl bigint
);

-- One row per ISO 19115 process step of the quality data of point objects.
-- The values are kept as delivered text; only beginn is the object's begin.
CREATE TABLE IF NOT EXISTS public.ax_li_processstep_punktort (
    gml_id character varying,
    beginn timestamp without time zone,
    description character varying,
    datetime character varying,
    processor_organisationname character varying,
    processor_role character varying
);
-- A step is written only when its version does not hold it yet (a file imported again), which looks the
-- version up once per step.
CREATE INDEX IF NOT EXISTS ax_li_processstep_punktort_version_idx
    ON public.ax_li_processstep_punktort (gml_id, beginn);

-- Relations staged by Kelpora keep the begin of their version with its time (earlier versions kept the
-- date only, so a version replaced on the day it began could not be told from its successor).
DO $$
BEGIN
    IF EXISTS (SELECT 1 FROM information_schema.columns WHERE table_schema = 'alkistemp'
               AND table_name = 'id_refs' AND column_name = 'beginn' AND data_type = 'date') THEN
        ALTER TABLE alkistemp.id_refs
            ALTER COLUMN beginn TYPE timestamp without time zone,
            ALTER COLUMN ende TYPE timestamp without time zone;
    END IF;
END
$$;
