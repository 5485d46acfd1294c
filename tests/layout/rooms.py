#!/usr/bin/python3
"""The house's arrows run one way. Each room (a folder with an INCLUDES file) includes its own headers and those of the
rooms its INCLUDES names, nothing else; no header includes itself back through others; and, given its static library,
the network engine needs nothing from Qt Gui or Qt Qml."""
import os, re, subprocess, sys

top = sys.argv[1]
rooms = {}  # name -> (folder, rooms it may include)
for folder, _, files in os.walk(top):
    if "INCLUDES" in files and "/tests" not in folder and "/build" not in folder:
        lines = open(os.path.join(folder, "INCLUDES")).read().splitlines()
        rooms[os.path.basename(folder)] = (folder, [line.strip() for line in lines if line.strip() and not line.startswith("#")])
faults = [f"{w}: named in an INCLUDES file, but no room has that name" for _, a in rooms.values() for w in a if w not in rooms]
home, edges = {}, {}  # header -> room; file -> headers it includes
for name, (folder, _) in rooms.items():
    for f in os.listdir(folder):
        if f.endswith((".h", ".cpp")):
            home.setdefault(f, name)
            edges[(name, f)] = re.findall(r'^\s*#\s*include\s*"([^"]+)"', open(os.path.join(folder, f)).read(), re.M)
for (room, f), includes in edges.items():
    for inc in includes:
        target = home.get(os.path.basename(inc))
        if target is None:
            faults.append(f"{room}/{f} includes {inc}, which no room holds")
        elif target != room and target not in rooms[room][1]:
            faults.append(f"{room}/{f} includes {inc} from {target}, which {room}/INCLUDES does not name")


def circle(node, path):  # depth-first through the headers; a header met again on the path closes a circle
    if node in path:
        return path[path.index(node):] + [node]
    for inc in edges.get((home.get(node), node), []):
        found = circle(os.path.basename(inc), path + [node])
        if found:
            return found


for header in sorted(h for h in home if h.endswith(".h")):
    if found := circle(header, []):
        faults.append("include circle: " + " -> ".join(found))
        break
if len(sys.argv) > 2:  # the network engine's library
    symbols = subprocess.run(["nm", "-C", "--undefined-only", sys.argv[2]], capture_output=True, text=True, check=True).stdout
    faults += [f"the network engine needs {s.strip()[2:]}" for s in symbols.splitlines() if re.search(r"\b(QGui|QQml|QJS|QQuick|QClipboard|QWindow)", s)][:5]
print("\n".join(faults) or f"{len(rooms)} rooms, {len(edges)} files: every include as the rooms allow, no circle")
sys.exit(1 if faults else 0)
