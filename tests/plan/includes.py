#!/usr/bin/env python3
"""Every include of the programs we ship against the rooms' table of docs/architecture.md:
includes.py <source folder>. Fails, naming file and line, on an include the table does not allow,
a file in no room, an include that cannot be found, and an include that closes a circle the table
does not mark with ↺."""
import os, pathlib, re, sys

source = pathlib.Path(sys.argv[1]).resolve()
failures = []

# ---------------------------------------------------------------- the plan
plan_file = source / "docs/architecture.md"
rows = {}       # room -> {included room: (files or None, on purpose)}
in_table = False
for number, line in enumerate(plan_file.read_text(encoding="utf-8").splitlines(), 1):
    if line.startswith("## "):
        in_table = line.strip() == "## The rooms"
        continue
    if not in_table or not line.startswith("|"):
        continue
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    if len(cells) != 3 or cells[0] in ("room", "") or set(cells[0]) <= set("-: "):
        continue
    room = cells[0].strip("`")
    allowed = {}
    for entry in re.finditer(r"`([\w/]+)`(?:\s*\(([^)]*)\))?(\s*↺)?", cells[2]):
        files = re.findall(r"`([^`]+)`", entry.group(2)) if entry.group(2) else None
        allowed[entry.group(1)] = (files, bool(entry.group(3)))
    rows[room] = allowed
if not rows:
    sys.exit(f"{plan_file}: no table under '## The rooms'")
for room, allowed in rows.items():
    if not (source / room).is_dir():
        failures.append(f"docs/architecture.md: the room {room} is no folder")
    for other in allowed:
        if other not in rows:
            failures.append(f"docs/architecture.md: {room} may include {other}, which is no room")


def room_of(relative):
    best = None
    for room in rows:
        if relative.startswith(room + "/") and (best is None or len(room) > len(best)):
            best = room
    return best


# ---------------------------------------------------------------- the product's includes
# Not shipped: the tests, the measurements, and the emulator's mend for machines that run no
# 32-bit code.
outside = {"tests", "bench", ".git", "tools/qemu-i386"}
sources = []
for folder, subfolders, names in os.walk(source):
    here = pathlib.Path(folder)
    # Build folders (anything CMake configured) and the folders that are not the product.
    subfolders[:] = sorted(s for s in subfolders
                           if (here / s).relative_to(source).as_posix() not in outside and not (here / s / "CMakeCache.txt").exists())
    sources += [here / n for n in sorted(names) if n.endswith((".cpp", ".h", ".c"))]

used = {}  # (room, included room) -> first "file:line", for edges not marked on purpose
for path in sources:
    relative = path.relative_to(source).as_posix()
    room = room_of(relative)
    if room is None:
        failures.append(f"{relative}: in no room of docs/architecture.md")
        continue
    for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
        match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
        if not match:
            continue
        name = match.group(1)
        where = f"{relative}:{number}"
        found = next((c for c in (source / name, path.parent / name, source / "res" / name) if c.is_file()), None)
        if found is None:
            failures.append(f"{where}: {name} is no file of the source")
            continue
        target = found.resolve().relative_to(source).as_posix()
        other = room_of(target)
        if other is None:
            failures.append(f"{where}: includes {target}, which is in no room")
            continue
        if other == room:
            continue
        if other not in rows[room]:
            failures.append(f"{where}: includes {target}: {room} may not include {other}")
            continue
        files, on_purpose = rows[room][other]
        if files is not None and pathlib.PurePosixPath(target).name not in files:
            failures.append(f"{where}: includes {target}: {room} may include only {', '.join(files)} of {other}")
            continue
        if not on_purpose:
            used.setdefault((room, other), where)


# ---------------------------------------------------------------- circles
def circle(edges):
    """One circle of the graph as a list of rooms, or None."""
    graph = {}
    for a, b in edges:
        graph.setdefault(a, []).append(b)
    state = {}

    def visit(node, trail):
        state[node] = "open"
        trail.append(node)
        for nxt in sorted(graph.get(node, [])):
            if state.get(nxt) == "open":
                return trail[trail.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, trail)
                if found:
                    return found
        trail.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [])
            if found:
                return found
    return None


planned = circle((a, b) for a, allowed in rows.items() for b, (_, on_purpose) in allowed.items() if not on_purpose)
if planned:
    failures.append("docs/architecture.md: the table itself closes a circle: " + " -> ".join(planned))
closed = circle(used)
if closed:
    steps = [f"{a} -> {b} ({used[(a, b)]})" for a, b in zip(closed, closed[1:])]
    failures.append("an include closes a circle: " + "; ".join(steps))

for failure in failures:
    print(failure)
print(f"{len(sources)} files, {len(failures)} faults")
sys.exit(1 if failures else 0)
