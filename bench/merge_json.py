"""Merges the benchmarks' JSON objects into one, nested keys combined."""

import json
import sys


def merge(into: dict, other: dict) -> dict:
    for key, value in other.items():
        if isinstance(value, dict) and isinstance(into.get(key), dict):
            merge(into[key], value)
        else:
            into[key] = value
    return into


def main(paths: list[str]) -> None:
    merged: dict = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            merge(merged, json.load(f))
    print(json.dumps(merged, indent=2, sort_keys=True))


if __name__ == "__main__":
    main(sys.argv[1:])
