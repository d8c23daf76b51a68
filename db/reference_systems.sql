-- Reference systems: the three target codes that are not EPSG codes, and the AdV names that NAS
-- files put into srsName (after "urn:adv:crs:") with the spatial reference code each stands for.

-- UTM with the zone number written in front of the easting (easting 32 500 000 at the central
-- meridian of zone 32 instead of 500 000). The survey administrations of Mecklenburg-Vorpommern
-- (35832, 35833) and Brandenburg (325833, zone 33) keep their coordinates in this form. Apart from
-- the false easting the systems equal EPSG:25832 / EPSG:25833 (ETRS89, GRS 1980, k0 0.9996).
INSERT INTO spatial_ref_sys (srid, auth_name, auth_srid, srtext, proj4text)
VALUES
    (35832, 'KELPORA', 35832,
     'PROJCS["ETRS89 / UTM zone 32N (zone-prefixed easting)",GEOGCS["ETRS89",DATUM["European_Terrestrial_Reference_System_1989",SPHEROID["GRS 1980",6378137,298.257222101]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],PARAMETER["central_meridian",9],PARAMETER["scale_factor",0.9996],PARAMETER["false_easting",32500000],PARAMETER["false_northing",0],UNIT["metre",1],AXIS["Easting",EAST],AXIS["Northing",NORTH]]',
     '+proj=tmerc +lat_0=0 +lon_0=9 +k=0.9996 +x_0=32500000 +y_0=0 +ellps=GRS80 +towgs84=0,0,0,0,0,0,0 +units=m +no_defs'),
    (35833, 'KELPORA', 35833,
     'PROJCS["ETRS89 / UTM zone 33N (zone-prefixed easting)",GEOGCS["ETRS89",DATUM["European_Terrestrial_Reference_System_1989",SPHEROID["GRS 1980",6378137,298.257222101]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],PARAMETER["central_meridian",15],PARAMETER["scale_factor",0.9996],PARAMETER["false_easting",33500000],PARAMETER["false_northing",0],UNIT["metre",1],AXIS["Easting",EAST],AXIS["Northing",NORTH]]',
     '+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=33500000 +y_0=0 +ellps=GRS80 +towgs84=0,0,0,0,0,0,0 +units=m +no_defs'),
    (325833, 'KELPORA', 325833,
     'PROJCS["ETRS89 / UTM zone 33N (zone-prefixed easting, Brandenburg)",GEOGCS["ETRS89",DATUM["European_Terrestrial_Reference_System_1989",SPHEROID["GRS 1980",6378137,298.257222101]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],PARAMETER["central_meridian",15],PARAMETER["scale_factor",0.9996],PARAMETER["false_easting",33500000],PARAMETER["false_northing",0],UNIT["metre",1],AXIS["Easting",EAST],AXIS["Northing",NORTH]]',
     '+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=33500000 +y_0=0 +ellps=GRS80 +towgs84=0,0,0,0,0,0,0 +units=m +no_defs')
ON CONFLICT (srid) DO UPDATE
    SET auth_name = EXCLUDED.auth_name, auth_srid = EXCLUDED.auth_srid,
        srtext = EXCLUDED.srtext, proj4text = EXCLUDED.proj4text;

CREATE TABLE IF NOT EXISTS public.crs (
    crs character varying,
    epsg integer
);

-- Names of the AdV CRS register (GeoInfoDok, "Koordinatenreferenzsysteme der AdV"); the codes are
-- those of the EPSG dataset that PostGIS ships (their names are given after each row). Compound
-- names (position * height system) map to their horizontal part: heights travel as attribute
-- values, never as a third coordinate of the stored geometry.
INSERT INTO public.crs (crs, epsg)
SELECT v.crs, v.epsg FROM (VALUES
    ('ETRS89_UTM32', 25832),                    -- EPSG:25832 ETRS89 / UTM zone 32N
    ('ETRS89_UTM33', 25833),                    -- EPSG:25833 ETRS89 / UTM zone 33N
    ('ETRS89_UTM32*DE_DHHN2016_NH', 25832),     -- UTM 32 position of EPSG:25832 with DHHN2016 height (EPSG:7837)
    ('ETRS89_UTM33*DE_DHHN2016_NH', 25833),     -- UTM 33 position of EPSG:25833 with DHHN2016 height (EPSG:7837)
    ('ETRS89_UTM32*DE_DHHN92_NH', 25832),       -- EPSG:5555 ETRS89 / UTM zone 32N + DHHN92 height, horizontal part
    ('ETRS89_UTM33*DE_DHHN92_NH', 25833),       -- EPSG:5556 ETRS89 / UTM zone 33N + DHHN92 height, horizontal part
    ('DE_DHDN_3GK2', 31466),                    -- EPSG:31466 DHDN / 3-degree Gauss-Kruger zone 2
    ('DE_DHDN_3GK3', 31467),                    -- EPSG:31467 DHDN / 3-degree Gauss-Kruger zone 3
    ('DE_DHDN_3GK4', 31468),                    -- EPSG:31468 DHDN / 3-degree Gauss-Kruger zone 4
    ('DE_DHDN_3GK5', 31469),                    -- EPSG:31469 DHDN / 3-degree Gauss-Kruger zone 5
    ('DE_DHDN_3GK2*DE_DHHN92_NH', 31466),       -- GK 2 position of EPSG:31466 with DHHN92 height
    ('DE_DHDN_3GK3*DE_DHHN92_NH', 31467),       -- GK 3 position of EPSG:31467 with DHHN92 height
    ('DE_DHDN_3GK4*DE_DHHN92_NH', 31468),       -- GK 4 position of EPSG:31468 with DHHN92 height
    ('DE_DHDN_3GK5*DE_DHHN92_NH', 31469),       -- GK 5 position of EPSG:31469 with DHHN92 height
    ('DE_42/83_3GK3', 2397),                    -- EPSG:2397 Pulkovo 1942(83) / 3-degree Gauss-Kruger zone 3
    ('DE_42/83_3GK4', 2398),                    -- EPSG:2398 Pulkovo 1942(83) / 3-degree Gauss-Kruger zone 4
    ('DE_42/83_3GK5', 2399),                    -- EPSG:2399 Pulkovo 1942(83) / 3-degree Gauss-Kruger zone 5
    ('DE_PD/83_3GK3', 3396),                    -- EPSG:3396 PD/83 / 3-degree Gauss-Kruger zone 3
    ('DE_PD/83_3GK4', 3397),                    -- EPSG:3397 PD/83 / 3-degree Gauss-Kruger zone 4
    ('DE_RD/83_3GK4', 3398),                    -- EPSG:3398 RD/83 / 3-degree Gauss-Kruger zone 4
    ('DE_RD/83_3GK5', 3399),                    -- EPSG:3399 RD/83 / 3-degree Gauss-Kruger zone 5
    ('ETRS89_Lat-Lon', 4258),                   -- EPSG:4258 ETRS89 (geographic 2D)
    ('DE_DHDN_Lat-Lon', 4314)                   -- EPSG:4314 DHDN (geographic 2D)
) AS v(crs, epsg)
WHERE NOT EXISTS (SELECT 1 FROM public.crs c WHERE c.crs = v.crs);
