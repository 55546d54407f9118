import json
import sys

import jsonschema
validator = jsonschema.Draft202012Validator(json.load(open(sys.argv[1], encoding="utf-8")))
seen = set()
for number, line in enumerate(sys.stdin, start=1):
    try:
        validator.validate(json.loads(line))
    except (ValueError, jsonschema.ValidationError) as error:
        sys.exit(f"line {number}: {line.strip()}: {str(error).splitlines()[0]}")
    seen.add(json.loads(line).get("event", "record"))
print(" ".join(sorted(seen)))
