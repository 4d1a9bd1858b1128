#!/usr/bin/env python3
"""Fails when a ctest test of the given build folders has no LABELS or no TIMEOUT (a hang must
fail in seconds, not after ctest's 1500-second default), or a TIMEOUT above ten minutes.

    scripts/check-tests.py build [build-asan ...]
"""
import json
import subprocess
import sys

LONGEST = 600


def main(folders):
    bad = []
    total = 0
    for folder in folders:
        listing = subprocess.run(["ctest", "--test-dir", folder, "--show-only=json-v1"],
                                 check=True, capture_output=True, text=True).stdout
        for test in json.loads(listing)["tests"]:
            total += 1
            props = {p["name"]: p["value"] for p in test.get("properties", [])}
            timeout = props.get("TIMEOUT")
            if not props.get("LABELS"):
                bad.append("%s: %s has no LABELS" % (folder, test["name"]))
            if timeout is None or timeout <= 0:
                bad.append("%s: %s has no TIMEOUT" % (folder, test["name"]))
            elif timeout > LONGEST:
                bad.append("%s: %s has a TIMEOUT of %g s (at most %d)" %
                           (folder, test["name"], timeout, LONGEST))
    for line in bad:
        print(line, file=sys.stderr)
    print("%d tests in %s: %s" % (total, ", ".join(folders),
                                  "each with labels and a timeout" if not bad else
                                  "%d without" % len(bad)))
    return 1 if bad or total == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:] or ["build"]))
