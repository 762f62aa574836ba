#!/usr/bin/env python3
"""Validates JSON Lines of package facts against the JSON Schema.

usage: validate_facts.py SCHEMA FILE
Exit 0 when every line is valid, 1 when one is not (each error is printed), 3 when the
jsonschema module is missing.
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("the python3 jsonschema module is missing (Debian: python3-jsonschema)", file=sys.stderr)
    sys.exit(3)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    bad = 0
    with open(sys.argv[2], encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            document = json.loads(line)
            for error in validator.iter_errors(document):
                bad += 1
                where = document.get("file", {}).get("path", "?")
                print(f"line {number} ({where}): {error.json_path}: {error.message[:300]}")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
