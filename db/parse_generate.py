#!/usr/bin/env python3
"""Writes db/parse.sql, the rows of the table `parse`, from the catalogue source db/parse_catalogue.txt.

    python3 db/parse_generate.py            # writes db/parse.sql
    python3 db/parse_generate.py --check    # exit status 1 when db/parse.sql is not what it would write

The format of the source is described in its header. Python 3 standard library only; it runs when the
catalogue changes, and its output is committed.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "parse_catalogue.txt")
TARGET = os.path.join(HERE, "parse.sql")

ROOT = "AA_Objekt"
MEASURES = {"Real", "Length", "Area", "Volume", "Angle"}
# Not catalogue attributes: the importer fills them from the geometry of points in a height system.
HEIGHT_LINES = ["hoehe_5783", "hoehe_7837", "DE_DHHN92_NH", "DE_DHHN2016_NH", "ETRS89_h"]
HEIGHT_TYPES = {"AX_PunktortAG", "AX_PunktortAU", "AX_PunktortTA", "AX_Hoehenfestpunkt"}
TYPE_NAMES = {1: "codes of at most four characters", 2: "integers",
              3: "real numbers (areas, lengths, angles, heights above ground)", 4: "Boolean values",
              6: "quality data of point objects", 0: "text: identifiers, names, dates, longer or repeatable values"}


class CatalogueError(Exception):
    pass


def type_code(datatype, multiplicity, kind):
    if multiplicity == "*":
        return 0
    if datatype == "LI_Lineage":
        return 6
    if datatype == "Boolean":
        return 4
    if datatype == "Integer":
        return 2
    if datatype in MEASURES:
        return 3
    if kind in ("E", "K"):
        return 1
    return 0


def read_catalogue(path):
    """The object types in file order: name -> (kennung or None, supertype or None, [(attrart, code)])."""
    types = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].rstrip()
            if not line.strip():
                continue
            where = "%s:%d" % (os.path.basename(path), number)
            fields = line.split()
            if not line[0].isspace():
                if len(fields) not in (2, 4) or (len(fields) == 4 and fields[2] != ":"):
                    raise CatalogueError(where + ": object type line: <name> <Kennung> [: <supertype>]")
                name, kennung = fields[0], fields[1]
                if name in types:
                    raise CatalogueError(where + ": object type " + name + " given twice")
                if kennung != "-" and not (kennung.isdigit() and 4 <= len(kennung) <= 5):
                    raise CatalogueError(where + ": Kennung " + kennung + " is no object-type code")
                current = name
                types[name] = (None if kennung == "-" else int(kennung),
                               fields[3] if len(fields) == 4 else None, [])
                continue
            if current is None:
                raise CatalogueError(where + ": attribute before any object type")
            if len(fields) not in (3, 4) or fields[2] not in ("1", "*") or \
                    (len(fields) == 4 and fields[3] not in ("E", "K", "-")):
                raise CatalogueError(where + ": attribute line: <name> <data type> <1|*> [E|K|-]")
            attrart, datatype, multiplicity = fields[:3]
            kind = fields[3] if len(fields) == 4 else "-"
            types[current][2].append((attrart, type_code(datatype, multiplicity, kind), where))
    return types


def attributes_of(name, types, seen=()):
    """The attributes of an object type: its supertypes' first, then its own, AA_Objekt's last."""
    kennung, supertype, own = types[name]
    if name in seen:
        raise CatalogueError("supertype cycle at " + name)
    inherited = []
    if supertype is not None:
        if supertype not in types or types[supertype][0] is not None:
            raise CatalogueError(name + ": supertype " + supertype + " is no abstract type of the catalogue")
        inherited = attributes_of(supertype, types, seen + (name,))
    result = inherited + own
    if kennung is not None and name != ROOT and ROOT in types:
        result += types[ROOT][2]
    return result


def build(types):
    """Rows (oa, kennung, [attrart]) and the type code of every attribute line."""
    codes = {}     # lower-case name -> {code: [where]}
    spelling = {}  # lower-case name -> attribute line as spelt
    rows = []
    for name, (kennung, _, _) in types.items():
        if kennung is None:
            continue
        names, taken = [], set()
        for attrart, code, where in attributes_of(name, types):
            key = attrart.lower()
            if spelling.setdefault(key, attrart) != attrart:
                raise CatalogueError(where + ": " + attrart + " is spelt " + spelling[key] + " elsewhere")
            codes.setdefault(key, {}).setdefault(code, []).append(where)
            if key not in taken:
                taken.add(key)
                names.append(attrart)
        if name in HEIGHT_TYPES:
            names += HEIGHT_LINES
        rows.append((name, kennung, names))
    attribute_code = {}
    for key, by_code in codes.items():
        # One column type everywhere, said by the lines themselves: a line typed otherwise than the others
        # would change the type of a column that databases prepared before already hold.
        if len(by_code) > 1:
            places = ["type %d at %s" % (code, ", ".join(sorted(set(wheres))))
                      for code, wheres in sorted(by_code.items())]
            raise CatalogueError(spelling[key] + " gives its column two types: " + "; ".join(places))
        attribute_code[spelling[key]] = next(iter(by_code))
    for line in HEIGHT_LINES:
        attribute_code[line] = 0
    return rows, attribute_code


def sql_list(items, indent, width=112):
    """Comma-separated items wrapped to lines of at most `width` characters."""
    lines, current = [], indent
    for i, item in enumerate(items):
        piece = item + ("," if i + 1 < len(items) else "")
        if current.strip() and len(current) + 1 + len(piece) > width:
            lines.append(current)
            current = indent
        current += (" " if current.strip() else "") + piece
    lines.append(current)
    return "\n".join(lines)


def attribute_text(oa, kennung, names, width=112):
    """('oa', kennung, 'a b c ...') with the attribute text split into SQL string pieces."""
    head = "    ('%s', %d, '" % (oa, kennung)
    pieces, current = [], ""
    for n in names:
        candidate = (current + " " + n) if current else n
        if len(head if not pieces else "        '") + len(candidate) + 4 > width and current:
            pieces.append(current + " ")
            current = n
        else:
            current = candidate
    pieces.append(current)
    out = head + pieces[0] + "'"
    for p in pieces[1:]:
        out += "\n        '" + p + "'"
    return out + ")"


HEADER = """\
-- GENERATED by db/parse_generate.py from db/parse_catalogue.txt: edit the catalogue and run the script.
--
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
-- Rows are only added when missing, so a database prepared before keeps its rows and gains the new ones.

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
"""

FOOTER = """
-- Every attribute named above must have its type; a typing slip fails the install.
DO $$
DECLARE
    missing text;
BEGIN
    SELECT string_agg(DISTINCT a.attrart, ', ') INTO missing
    FROM kelpora_object_type t
    CROSS JOIN LATERAL regexp_split_to_table(t.attributes, '\\s+') AS a(attrart)
    WHERE a.attrart <> '' AND NOT EXISTS (SELECT 1 FROM kelpora_attribute_type k WHERE k.attrart = a.attrart);
    IF missing IS NOT NULL THEN
        RAISE EXCEPTION 'parse: attributes without type: %', missing;
    END IF;
END
$$;

INSERT INTO public.parse (oa, oakennung, attrart, attrartkennung, attrtyp)
SELECT t.oa, t.oakennung, k.attrart, lower(k.attrart), k.attrtyp
FROM kelpora_object_type t
CROSS JOIN LATERAL regexp_split_to_table(t.attributes, '\\s+') WITH ORDINALITY AS a(attrart, n)
JOIN kelpora_attribute_type k ON k.attrart = a.attrart
WHERE NOT EXISTS (SELECT 1 FROM public.parse p WHERE p.oa = t.oa AND p.attrartkennung = lower(k.attrart))
ORDER BY t.oakennung, a.n;

-- Databases prepared before the Dienststelle keys were known to take five characters typed them as
-- four-character codes, which refused real Dienststellen; tables created from now on take them as text.
UPDATE public.parse SET attrtyp = 0
WHERE attrtyp = 1 AND attrartkennung IN ('zustaendigestelle_stelle', 'schluessel_stelle');
"""


def render(rows, attribute_code):
    out = [HEADER, "INSERT INTO kelpora_attribute_type (attrart, attrtyp) VALUES"]
    groups = []
    for code in (1, 2, 3, 4, 6, 0):
        names = sorted((n for n, c in attribute_code.items() if c == code and n not in HEIGHT_LINES),
                       key=lambda n: (n.lower(), n))
        if code == 0:
            groups.append(("heights taken from point geometries (comma as decimal separator, up to three "
                           "values)", HEIGHT_LINES))
            groups.insert(len(groups) - 1, (TYPE_NAMES[code], names))
        else:
            groups.append((TYPE_NAMES[code], names))
    for g, (title, names) in enumerate(groups):
        out.append("    -- " + title)
        items = ["('%s', %d)" % (n, attribute_code[n]) for n in names]
        text = sql_list(items, "    ")
        out.append(text + ("," if g + 1 < len(groups) else ";"))
    out.append("")
    out.append("""CREATE TEMPORARY TABLE kelpora_object_type (
    oa character varying PRIMARY KEY,
    oakennung integer NOT NULL,
    attributes text NOT NULL
) ON COMMIT DROP;
""")
    out.append("INSERT INTO kelpora_object_type (oa, oakennung, attributes) VALUES")
    entries = [attribute_text(oa, kennung, names) for oa, kennung, names in rows]
    out.append(",\n".join(entries) + ";")
    return "\n".join(out) + "\n" + FOOTER


def main(argv):
    try:
        rows, attribute_code = build(read_catalogue(SOURCE))
    except CatalogueError as e:
        print("parse_generate: " + str(e), file=sys.stderr)
        return 2
    text = render(rows, attribute_code)
    if "--check" in argv:
        with open(TARGET, encoding="utf-8") as f:
            if f.read() != text:
                print("parse_generate: db/parse.sql is not current; run python3 db/parse_generate.py",
                      file=sys.stderr)
                return 1
        return 0
    with open(TARGET, "w", encoding="utf-8") as f:
        f.write(text)
    print("parse_generate: %d object types, %d attribute lines" % (len(rows), len(attribute_code)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
