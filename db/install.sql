-- Prepares a PostgreSQL/PostGIS database as Kelpora's import target.
-- Run from this folder:  psql -v ON_ERROR_STOP=1 -d DATABASE -f install.sql
-- Every step is idempotent: running the script again keeps imported data and the user's own
-- additions to the configuration tables, and brings the functions up to date.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

BEGIN;
\i schema.sql
\i reference_systems.sql
\i configuration.sql
\i parse.sql
\i helpers.sql
\i integration.sql
\i postprocessing.sql
\i derived_tables.sql
COMMIT;
