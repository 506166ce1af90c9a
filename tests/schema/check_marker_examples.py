"""Checks the documented example markers against the marker's JSON Schema.

Every docs/examples/valid-*.json must be accepted, and every invalid-*.json rejected for the
problem it was written to show: the place of the first problem is listed below. The files
are loaded the way the watchdog reads them, as far as Python's json allows: strict UTF-8 with no
byte-order mark, no repeated keys, and numbers with a fraction or exponent kept apart from
integers, so that 1.0 does not pass as the integer 1.

Usage: check_marker_examples.py SCHEMA EXAMPLES_DIR
"""

import decimal
import json
import pathlib
import sys

import jsonschema

# Where each invalid example goes wrong, as a JSON path; "$" for what the loader itself rejects.
INVALID_AT = {
    "invalid-alpha-out-of-range.json": "$.taskbar.windows[0].layered_alpha",
    "invalid-missing-session-id.json": "$",
    "invalid-version-fraction.json": "$.version",
    "invalid-visible-as-string.json": "$.desktopIcons.originalVisible",
    "invalid-windows-null.json": "$.taskbar.windows",
}


def reject_repeated_keys(pairs):
    keys = [key for key, _ in pairs]
    repeated = sorted({key for key in keys if keys.count(key) > 1})
    if repeated:
        raise ValueError(f"repeated keys {repeated}")
    return dict(pairs)


def load_marker(path):
    text = path.read_bytes().decode("utf-8")  # a byte-order mark stays and fails json.loads
    return json.loads(text, parse_float=decimal.Decimal, object_pairs_hook=reject_repeated_keys)


def main(schema_path, examples_dir):
    schema = json.loads(pathlib.Path(schema_path).read_text(encoding="utf-8"))
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)

    examples = sorted(pathlib.Path(examples_dir).glob("*.json"))
    failures = []
    counts = {"valid": 0, "invalid": 0}
    for path in examples:
        expected_valid = path.name.startswith("valid-")
        if not expected_valid and not path.name.startswith("invalid-"):
            failures.append(f"{path.name}: name must begin with valid- or invalid-")
            continue
        counts["valid" if expected_valid else "invalid"] += 1
        try:
            error = jsonschema.exceptions.best_match(validator.iter_errors(load_marker(path)))
            problem = None if error is None else (error.json_path, error.message)
        except ValueError as not_json:  # not JSON as the watchdog reads it
            problem = ("$", str(not_json))
        if expected_valid:
            if problem:
                failures.append(f"{path.name}: rejected at {problem[0]}: {problem[1]}")
            else:
                print(f"{path.name}: accepted")
        elif not problem:
            failures.append(f"{path.name}: accepted, but the watchdog rejects it")
        elif problem[0] != INVALID_AT.get(path.name):
            failures.append(f"{path.name}: rejected at {problem[0]} ({problem[1]}), "
                            f"expected at {INVALID_AT.get(path.name, 'a place listed in INVALID_AT')}")
        else:
            print(f"{path.name}: rejected at {problem[0]}: {problem[1]}")

    if counts["valid"] == 0 or counts["invalid"] == 0:
        failures.append(f"need valid and invalid examples, found {counts}")
    for failure in failures:
        print(f"FAILED {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
