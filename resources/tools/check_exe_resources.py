#!/usr/bin/env python3
"""Reads the resource section of a built executable back with windres and
checks that it holds what Zolva Keystrip ships: the raw-data resources with
their languages, the manifest, the version information and the icon.

    check_exe_resources.py --windres <windres> <program.exe>

Exits 1 and names every problem when something is missing or misfiled.
Other resources (the wizard's artwork) are allowed alongside.
"""
import argparse
import re
import subprocess
import sys

NEUTRAL = (0, 0)
GERMAN = (7, 1)

EXPECTED = [("rcdata", '"ZOLVAPRODUCT%d"' % n, NEUTRAL) for n in range(1, 8)] + [
    ("rcdata", '"ZOLVASTRINGS"', GERMAN),
    ("rcdata", '"EULA"', GERMAN),
    ("24", "1", None),  # the manifest, RT_MANIFEST 1
    ("version", "1", None),
    ("group icon", '"MAINICON"', None),
]
ICON_IMAGES = 4


def resources(listing):
    """(type, name, (language, sublanguage)) for every resource of a windres
    -O rc listing, whose comments name type and name and whose LANGUAGE lines
    apply to the resources that follow them."""
    found = []
    kind = name = None
    language = NEUTRAL
    pending = None
    for line in listing.splitlines():
        m = re.match(r"/\* Type: (.*)$", line)
        if m:
            kind = m.group(1).strip()
        m = re.search(r"Name: (.*)\.  \*/", line)
        if m:
            if pending:
                found.append(pending + (language,))
            name = m.group(1)
            pending = (kind, name)
        m = re.match(r"LANGUAGE (\d+), (\d+)", line)
        if m:
            language = (int(m.group(1)), int(m.group(2)))
    if pending:
        found.append(pending + (language,))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windres", required=True)
    parser.add_argument("program")
    args = parser.parse_args()
    run = subprocess.run([args.windres, "-i", args.program, "-O", "rc"], capture_output=True,
                         text=True, errors="replace")
    if run.returncode != 0:
        # windres fails on an executable without a resource section.
        print("%s: no readable resources: %s" % (args.program, run.stderr.strip()), file=sys.stderr)
        return 1
    found = resources(run.stdout)
    problems = []
    for kind, name, language in EXPECTED:
        matches = [f for f in found if f[0] == kind and f[1] == name]
        if not matches:
            problems.append("missing: %s %s" % (kind, name))
        elif len(matches) > 1:
            problems.append("more than one: %s %s" % (kind, name))
        elif language is not None and matches[0][2] != language:
            problems.append("%s %s has language %s, not %s" % (kind, name, matches[0][2], language))
    extra = [f for f in found if f[0] == "rcdata" and re.fullmatch(r'"ZOLVAPRODUCT\d+"', f[1])
             and (f[0], f[1]) not in [(k, n) for k, n, _ in EXPECTED]]
    for f in extra:
        problems.append("unexpected definition: %s" % f[1])
    icons = [f for f in found if f[0] == "icon"]
    if len(icons) < ICON_IMAGES:
        problems.append("%d icon images, expected at least %d" % (len(icons), ICON_IMAGES))
    for p in problems:
        print("%s: %s" % (args.program, p), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
