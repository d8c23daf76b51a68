-- Prepares a PostgreSQL/PostGIS database as Kelpora's import target.
-- Run with  psql -v ON_ERROR_STOP=1 -d DATABASE -f install.sql  (from this folder or any other:
-- the parts are included relative to this file).
-- Every step is idempotent: running the script again keeps imported data and the user's own
-- additions to the configuration tables, and brings the functions up to date.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

BEGIN;
\ir schema.sql
\ir reference_systems.sql
\ir configuration.sql
\ir parse.sql
\ir helpers.sql
\ir integration.sql
\ir postprocessing.sql
\ir derived_tables.sql
COMMIT;
