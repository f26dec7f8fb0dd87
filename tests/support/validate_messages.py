#!/usr/bin/env python3
"""Checks published messages against the JSON Schemas of docs/schema.

Usage: validate_messages.py SCHEMA_DIR FILE, where FILE holds one message per line as
"topic<TAB>payload". The topic picks the schema: .../status (the site), .../reader/<ID>/status,
.../event, .../tag/<UID>. Prints every message that fails and exits 1; exits 0 when all pass.
"""
import json
import sys
import warnings
from pathlib import Path

# Newer releases of the module deprecate RefResolver; Debian's still needs it.
warnings.filterwarnings("ignore", category=DeprecationWarning)

from jsonschema import Draft202012Validator, RefResolver


def kind_of(topic):
    levels = topic.split("/")
    if levels[-1] == "status":
        return "reader-status" if len(levels) >= 3 and levels[-3] == "reader" else "status"
    if levels[-1] == "event":
        return "event"
    if len(levels) >= 2 and levels[-2] == "tag":
        return "record"
    return None


def main():
    schema_dir, messages = Path(sys.argv[1]), Path(sys.argv[2])
    kinds = ("record", "event", "status", "reader-status")
    schemas = {}
    for kind in kinds:
        schemas[kind] = json.loads((schema_dir / f"{kind}.schema.json").read_text(encoding="utf-8"))
        Draft202012Validator.check_schema(schemas[kind])
    # References between the files are resolved among them, never fetched.
    store = {s["$id"]: s for s in schemas.values()}
    validators = {
        kind: Draft202012Validator(
            s, resolver=RefResolver(base_uri=s["$id"], referrer=s, store=store))
        for kind, s in schemas.items()
    }
    failed = 0
    for n, line in enumerate(messages.read_text(encoding="utf-8").splitlines(), 1):
        topic, _, payload = line.partition("\t")
        kind = kind_of(topic)
        if kind is None:
            print(f"{n}: {topic}: no message kind has this topic")
            failed += 1
            continue
        try:
            message = json.loads(payload)
        except ValueError as e:
            print(f"{n}: {topic}: not JSON ({e})")
            failed += 1
            continue
        errors = sorted(validators[kind].iter_errors(message), key=lambda e: list(e.path))
        for e in errors[:3]:
            print(f"{n}: {topic} ({kind}): {'/'.join(map(str, e.path))}: {e.message}")
        failed += bool(errors)
    if failed:
        print(f"{failed} messages fail their schema")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
