"""Validates JSON lines from stdin against docs/events.schema.json.

Prints the kinds of object seen (an event's name, "record" for an update record) on one line, or
the first line that does not hold and why, with exit status 1.
"""
import json
import sys

import jsonschema

validator = jsonschema.Draft202012Validator(json.load(open(sys.argv[1], encoding="utf-8")))
seen = set()
for number, line in enumerate(sys.stdin, start=1):
    try:
        value = json.loads(line)
        validator.validate(value)
    except (ValueError, jsonschema.ValidationError) as error:
        print(f"line {number}: {line.strip()}: {str(error).splitlines()[0]}")
        sys.exit(1)
    seen.add(value.get("event", "record"))
print(" ".join(sorted(seen)))
