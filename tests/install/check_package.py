#!/usr/bin/env python3
"""Builds the Debian package, unpacks it into a throw-away root and starts the
installed Quillfen there in a real window (tests/e2e/window.py), up to its grid page.

The machine running this has every Qt package installed, so a plain "does it
start" would not notice a QML module missing from Depends. The installed
program therefore gets a qt.conf that points its QML import path and its
plugin path at a tree holding only the files of the packages that Depends
brings (followed through their own dependencies). A module the program loads
then resolves only if the package really pulls it in.

Exit status: 0 pass, 1 fail, 77 skip (no Xvfb or no dpkg).
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import window  # noqa: E402

SKIP = 77
APP_ID = "net.example.Quillfen"

# Modules that Qt's C++ code imports by name, so no qmldir or document shows them.
CPP_IMPORTS = {
    "QtQuick.Dialogs": ["QtQuick.Dialogs.quickimpl"],
    "QtQuick.Controls": ["QtQuick.Controls.Basic"],  # the style main() selects
}
# Imported only by documents the pages never use.
UNUSED = {
    "QtQuick.Shapes": "Basic style's SelectionRectangle (for TableView)",
}

# Lines on the program's standard error that mean the package is incomplete.
BROKEN = re.compile(
    r"is not installed|plugin .* not found|Could not load the Qt platform plugin"
    r"|no Qt platform plugin could be initialized|failed to load component", re.I)

failures = []


def fail(msg):
    failures.append(msg)
    print("FAIL:", msg)


def run(cmd, **kw):
    kw.setdefault("timeout", 120)
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def package_names(field):
    """Depends field -> list of alternative groups, each a list of bare names."""
    groups = []
    for group in filter(None, (g.strip() for g in field.split(","))):
        groups.append([re.split(r"[\s(:\[]", alt.strip())[0] for alt in group.split("|")])
    return groups


def installed_packages():
    out = run(["dpkg-query", "-W", "-f=${Package}\t${Status}\t${Provides}\t${Depends}, ${Pre-Depends}\n"]).stdout
    deps, provides = {}, {}
    for line in out.splitlines():
        name, status, prov, dep = line.split("\t")
        if not status.endswith(" installed"):
            continue
        deps[name] = package_names(dep)
        for virtual in package_names(prov):
            provides.setdefault(virtual[0], []).append(name)
    return deps, provides


def closure(groups, deps, provides):
    """Installed packages that the Depends groups bring, followed recursively."""
    seen, todo = set(), []

    def want(group):
        for name in group:
            todo.extend([name] if name in deps else provides.get(name, []))

    for group in groups:
        want(group)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        for group in deps[name]:
            want(group)
    return seen


def build_sandbox(packages, qml_dir, plugin_dir, sandbox):
    """Links the QML modules and Qt plugins of the packages into sandbox/{qml,plugins}."""
    files = run(["dpkg", "-L", *sorted(packages)]).stdout.splitlines()
    for path in files:
        for root, sub in ((qml_dir, "qml"), (plugin_dir, "plugins")):
            if path.startswith(root + "/") and os.path.isfile(path):
                link = os.path.join(sandbox, sub, os.path.relpath(path, root))
                os.makedirs(os.path.dirname(link), exist_ok=True)
                if not os.path.lexists(link):
                    os.symlink(path, link)


def imports_of(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return re.findall(r"^\s*import\s+([A-Za-z_][\w.]*)", f.read(), re.M)


def module_imports(module_dir):
    """What a module imports: its qmldir's import/depends lines and its documents'
    imports. Documents of other styles (+Material/...), Qt Design Studio
    support (designer/) and submodules are left out."""
    found = []
    with open(os.path.join(module_dir, "qmldir")) as f:
        for line in f:
            words = line.split()
            if words[:1] in (["import"], ["depends"]) or words[:2] == ["default", "import"]:
                found.append(words[words.index("import") + 1 if "import" in words else 1])
    for top, dirs, names in os.walk(module_dir):
        dirs[:] = [d for d in dirs if not d.startswith("+") and d != "designer"
                   and not os.path.exists(os.path.join(top, d, "qmldir"))]
        found += [uri for n in names if n.endswith(".qml") for uri in imports_of(os.path.join(top, n))]
    return found


def check_static_imports(sources, qml_dir, sandbox_qml):
    """Every module the pages import, directly or through other modules, that this
    machine has must also be in the sandbox."""
    todo = [uri for src in sources for uri in imports_of(src)]
    seen = set()
    while todo:
        uri = todo.pop()
        if uri in seen or uri in UNUSED:
            continue
        seen.add(uri)
        rel = uri.replace(".", "/")
        todo += CPP_IMPORTS.get(uri, [])
        if os.path.exists(os.path.join(sandbox_qml, rel, "qmldir")):
            todo += module_imports(os.path.join(sandbox_qml, rel))
        elif os.path.exists(os.path.join(qml_dir, rel, "qmldir")):
            owner = run(["dpkg", "-S", os.path.join(qml_dir, rel, "qmldir")]).stdout.split(":")[0]
            fail(f"QML module {uri} is not brought by Depends (add {owner or 'its package'})")
    print("QML modules reached from the pages:", " ".join(sorted(seen)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cpack", required=True)
    ap.add_argument("--cpack-config", required=True)
    ap.add_argument("--sources", required=True, help="folder of the program's .qml documents")
    ap.add_argument("--qt-qml-dir", required=True)
    ap.add_argument("--qt-plugin-dir", required=True)
    ap.add_argument("--out", required=True, help="where the screenshot and logs are kept")
    args = ap.parse_args()

    missing = [t for t in ("Xvfb", "dbus-daemon", "dpkg", "dpkg-deb", "dpkg-query") if not shutil.which(t)]
    if missing:
        print("SKIP: the installed-package check needs", ", ".join(missing))
        return SKIP
    for tool in ("xdotool", "import", "convert", "desktop-file-validate", "appstreamcli", "lintian"):
        if not shutil.which(tool):
            fail(f"{tool} is missing (`make deps` installs it)")
    if failures:
        return 1

    os.makedirs(args.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillfen-install-")
    try:
        return check(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check(args, work):
    # 1. Pack what the build produced (cpack only installs and packs).
    packed = run([args.cpack, "--config", args.cpack_config, "-G", "DEB", "-B", os.path.join(work, "pkg")],
                 timeout=240)
    debs = glob.glob(os.path.join(work, "pkg", "*.deb"))
    if packed.returncode != 0 or len(debs) != 1:
        fail("cpack did not produce one .deb:\n" + packed.stdout + packed.stderr)
        return 1
    deb = debs[0]
    print("package:", os.path.basename(deb))

    lint = run(["lintian", "--fail-on", "error,warning", deb])
    if lint.returncode != 0:
        fail("lintian:\n" + lint.stdout)

    # 2. Unpack into a throw-away root and look at the desktop integration files.
    root = os.path.join(work, "root")
    run(["dpkg-deb", "-x", deb, root], check=True)
    exe = os.path.join(root, "usr/bin/Quillfen")
    desktop = os.path.join(root, f"usr/share/applications/{APP_ID}.desktop")
    metainfo = os.path.join(root, f"usr/share/metainfo/{APP_ID}.metainfo.xml")
    for path in (exe, desktop, metainfo):
        if not os.path.isfile(path):
            fail(f"the package lacks /{os.path.relpath(path, root)}")
    stray = [os.path.relpath(os.path.join(d, n), root) for d, _, names in os.walk(root) for n in names
             if os.path.join(d, n) != exe and not os.path.join(d, n).startswith(os.path.join(root, "usr/share/"))]
    if stray:
        fail("the package carries files besides the program and usr/share: " + ", ".join(stray))
    if failures:
        return 1
    entry = dict(line.strip().split("=", 1) for line in open(desktop, encoding="utf-8") if "=" in line)
    if not os.path.isfile(os.path.join(root, "usr/bin", entry["Exec"].split()[0])):
        fail(f"Exec={entry['Exec']} names no installed program")
    icons = glob.glob(os.path.join(root, "usr/share/icons/hicolor/*/apps", entry["Icon"] + ".*"))
    if not any("/scalable/" in i for i in icons) or not any("/48x48/" in i for i in icons):
        fail(f"Icon={entry['Icon']}: no scalable and 48x48 icon installed ({len(icons)} found)")
    for cmd in (["desktop-file-validate", desktop], ["appstreamcli", "validate-tree", "--no-net", root]):
        res = run(cmd)
        if res.returncode != 0:
            fail(f"{cmd[0]}:\n{res.stdout}{res.stderr}")

    # 3. Depends, and the sandbox of what they bring.
    depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.strip()
    print("Depends:", depends)
    deps, provides = installed_packages()
    groups = package_names(depends)
    for group in groups:
        if not any(n in deps or n in provides for n in group):
            fail(f"Depends names {' | '.join(group)}, which is not installed here")
    brought = closure(groups, deps, provides)
    sandbox = os.path.join(work, "qt")
    build_sandbox(brought, args.qt_qml_dir, args.qt_plugin_dir, sandbox)
    with open(os.path.join(root, "usr/bin/qt.conf"), "w") as f:
        f.write(f"[Paths]\nPrefix=/usr\nPlugins={sandbox}/plugins\n"
                f"QmlImports={sandbox}/qml\nQml2Imports={sandbox}/qml\n")
    check_static_imports(sorted(glob.glob(os.path.join(args.sources, "*.qml"))),
                         args.qt_qml_dir, os.path.join(sandbox, "qml"))

    # 4. Start the installed program in a real window with a settings store that
    #    holds an empty proxy list and a loopback target: nothing is ever probed.
    store = "[ProxyConfig]\nsavedProxies=[]\nsavedTargetUrl=http://127.0.0.1:9/\n"
    if window.run(look, exe, store, shots=args.out, env={"QML_IMPORT_TRACE": "1"}) != 0:
        fail("the installed program did not show its grid page, or did not end with 0 when closed")
    log_path = os.path.join(args.out, "quillfen.log")

    # 5. What the run itself loaded: every module from the sandbox or from resources.
    text = open(log_path, encoding="utf-8", errors="replace").read()
    for line in text.splitlines():
        if BROKEN.search(line):
            fail("installed program: " + line.strip())
    loaded = set(re.findall(r'loaded "?([^"\s]+/qmldir)', text))
    outside = [p for p in loaded if not p.startswith((sandbox, ":", "qrc:"))]
    if outside:
        fail("QML modules loaded from outside what Depends brings: " + ", ".join(sorted(outside)))
    if not any(p.startswith(sandbox) for p in loaded):
        fail("the import trace shows no QML module loaded from the Depends tree")
    print(f"run: {len(loaded)} qmldir files loaded; log {log_path}")
    if failures:
        print("\n".join(l for l in text.splitlines() if not l.startswith("qt.qml.import"))[-4000:])
    return 1 if failures else 0


def look(s):
    s.start()  # up to the grid page's "▶ Test"
    assert s.box(s.frame)[2:] == (400, 700), f"the window is {s.box(s.frame)}, not 400 x 700"
    s.shot("installed-window.png")
    mean = float(run(["convert", os.path.join(s.shots, "installed-window.png"), "-format", "%[fx:mean]",
                      "info:"]).stdout)
    print(f"screenshot: mean {mean:.3f}")
    assert mean > 0, "the window area of the screenshot is black: nothing was drawn"
    s.close_window()


if __name__ == "__main__":
    sys.exit(main())
