#!/usr/bin/env python3
"""Fails when a room includes a header of a room it may not use.

The rooms are the folders under src and the client. What each may use is read from the layout
table in README.md, so that table is the one place it is written down: a room's row names its
folder first and the rooms it may use last ("nothing", "every room above", or a list of rooms
above it). Only what a row lists counts: a room that includes the protocol's headers names the
protocol in its row, even where a room it uses names it too.
A quoted include names another room's header by that room's folder ("machine/program_runner.hpp")
or a file of the including room itself.

Usage: check_room_includes.py <source folder>
"""

import pathlib
import re
import sys

ROOM_ROW = re.compile(r"^\| `((?:src/)?([a-z0-9_]+))` \|.*\| ([^|]+?) \|$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp"}


def read_rooms(readme):
    """Each room's name -> (folder, rooms it may use), or a list of faults in the table."""
    rooms, faults = {}, []
    for line in readme.read_text(encoding="utf-8").splitlines():
        row = ROOM_ROW.match(line)
        if not row or not (row[1].startswith("src/") or row[1] == "client"):
            continue
        folder, name, may_use = row.groups()
        if may_use == "nothing":
            uses = set()
        elif may_use == "every room above":
            uses = set(rooms)
        else:
            listed = {use.strip() for use in may_use.split(",")}
            faults += [f"README.md: {folder} may use {use!r}, which is no room above it"
                       for use in sorted(listed - set(rooms))]
            uses = listed
        rooms[name] = (folder, uses)
    return rooms, faults


def include_faults(root, rooms):
    for name, (folder, uses) in rooms.items():
        room_dir = (root / folder).resolve()
        sources = sorted(p for p in room_dir.rglob("*") if p.suffix in SOURCE_SUFFIXES)
        for path in sources:
            lines = path.read_text(encoding="utf-8").splitlines()
            for number, line in enumerate(lines, start=1):
                include = INCLUDE.match(line)
                if not include:
                    continue
                quote, target = include.groups()
                used = target.split("/")[0]
                where = f"{path.relative_to(root)}:{number}: {target}"
                if used in rooms:
                    if used != name and used not in uses:
                        allowed = ", ".join(sorted(uses)) or "nothing"
                        yield f"{where}: {folder} may not use {used} (it may use: {allowed})"
                elif quote == '"':
                    own = (path.parent / target).resolve()
                    if not own.is_file() or room_dir not in own.parents:
                        yield f"{where}: neither a room's header nor a file of {folder}"


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    rooms, faults = read_rooms(root / "README.md")
    if not rooms:
        faults.append("README.md: no rooms found in the layout table")
    listed = {folder for folder, _ in rooms.values()}
    faults += [f"README.md: src/{d.name} is a room missing from the layout table"
               for d in sorted((root / "src").iterdir()) if d.is_dir() and f"src/{d.name}" not in listed]
    faults += [f"README.md: {folder} does not exist"
               for folder in sorted(listed) if not (root / folder).is_dir()]
    if not faults:
        faults = list(include_faults(root, rooms))
    for fault in faults:
        print(fault)
    if faults:
        return 1
    print(f"{len(rooms)} rooms include only the rooms they may use")
    return 0


if __name__ == "__main__":
    sys.exit(main())
