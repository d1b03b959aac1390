#!/usr/bin/python3
"""Validates a CycloneDX 1.5 JSON document against the published schema.

    tools/dist/validate_sbom.py SCHEMA_DIR BOM.json

SCHEMA_DIR is the schema folder of CycloneDX's own library
(scripts/cyclonedx-install prints it); the validator is Debian's
python3-jsonschema (hence Debian's interpreter). Prints one verdict line,
and each schema error under it; exits 1 when the document is invalid.
"""
import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    print("validate_sbom: python3-jsonschema is missing (scripts/deps.sh python3-jsonschema)", file=sys.stderr)
    sys.exit(2)

BASE = "http://cyclonedx.org/schema/"


def validator(schema_dir):
    schema_dir = pathlib.Path(schema_dir)
    store = {}
    for path in schema_dir.glob("*.schema.json"):
        doc = json.loads(path.read_text())
        # The schemas refer to each other by file name, relative to their $id.
        store[BASE + path.name] = doc
        if "$id" in doc:
            store[doc["$id"]] = doc
    schema = store[BASE + "bom-1.5.SNAPSHOT.schema.json"]
    resolver = jsonschema.RefResolver(schema.get("$id", BASE), schema, store=store)
    return jsonschema.Draft7Validator(schema, resolver=resolver, format_checker=jsonschema.FormatChecker())


def main(argv):
    if len(argv) != 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    try:
        bom = json.loads(pathlib.Path(argv[1]).read_text())
        errors = sorted(validator(argv[0]).iter_errors(bom), key=lambda e: list(map(str, e.absolute_path)))
    except (OSError, ValueError, KeyError) as e:
        print(f"validate_sbom: {e}", file=sys.stderr)
        return 2
    name = pathlib.Path(argv[1]).name
    if errors:
        print(f"{name}: INVALID against CycloneDX 1.5 ({len(errors)} errors)")
        for e in errors[:20]:
            print(f"  at /{'/'.join(map(str, e.absolute_path))}: {e.message[:300]}")
        return 1
    print(f"{name}: valid CycloneDX 1.5 (jsonschema {jsonschema.Draft7Validator.__name__}, schema from "
          f"@cyclonedx/cyclonedx-library)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
