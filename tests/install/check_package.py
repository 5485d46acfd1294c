#!/usr/bin/env python3
"""Builds the Debian package, unpacks it into a throw-away root and starts the installed
Quillfen there in a real window, through its grid, settings page and file dialog. Every
Qt package is installed here, so its qt.conf points the QML and plugin paths at a tree
holding only the files of the packages Depends brings (and theirs, recursively).
usage: check_package.py CPACK CPACK_CONFIG QT_QML_DIR QT_PLUGIN_DIR OUT_DIR (77: skip)"""
import glob, os, re, shutil, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import window  # noqa: E402

# Lines on the program's standard error that mean the package is incomplete.
BROKEN = re.compile(r"is not installed|plugin .* not found|Could not load the Qt platform plugin"
                    r"|no Qt platform plugin could be initialized|failed to load component", re.I)


def run(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=240)


def brought(depends):
    """The installed packages that Depends brings, followed through their own Depends."""
    groups = [[re.split(r"[\s(:\[]", alt.strip())[0] for alt in group.split("|")] for group in depends.split(",")]
    listed = run("dpkg-query", "-W", "-f=${db:Status-Abbrev} ${Package}\n").stdout.splitlines()
    installed = {line.split()[1] for line in listed if line.startswith("ii")}
    for group in groups:
        assert set(group) & installed, f"Depends names {' | '.join(group)}, which is not installed here"
    only = [f"--no-{kind}" for kind in ("recommends", "suggests", "conflicts", "breaks", "replaces", "enhances")]
    tree = run("apt-cache", "depends", "--recurse", "--installed", *only, *sum(groups, []))
    return {line.split(":")[0] for line in tree.stdout.splitlines() if line[:1] not in ("", " ", "<")}


def check(cpack, config, qml_dir, plugin_dir, out, work):
    packed = run(cpack, "--config", config, "-G", "DEB", "-B", work)
    debs = glob.glob(os.path.join(work, "*.deb"))
    assert packed.returncode == 0 and len(debs) == 1, "cpack made no .deb:\n" + packed.stdout + packed.stderr
    root = os.path.join(work, "root")
    run("dpkg-deb", "-x", debs[0], root)
    exe, share = os.path.join(root, "usr/bin/Quillfen"), os.path.join(root, "usr/share/")
    desktop = share + "applications/net.example.Quillfen.desktop"
    for path in (exe, desktop, share + "metainfo/net.example.Quillfen.metainfo.xml",
                 share + "icons/hicolor/scalable/apps/net.example.Quillfen.svg",
                 share + "icons/hicolor/48x48/apps/net.example.Quillfen.png"):
        assert os.path.isfile(path), "the package lacks " + path[len(root):]
    version = run(os.path.join(root, "usr/bin/quillfen-check"), "--version")
    assert version.stdout.startswith("quillfen-check ") and os.path.isfile(share + "man/man1/quillfen-check.1.gz"), \
        f"the packaged quillfen-check: {version.stdout}{version.stderr}"
    launcher = re.search(r"^Exec=(\S+)", open(desktop).read(), re.M)
    assert launcher and os.path.isfile(os.path.join(root, "usr/bin", launcher[1])), "Exec= names no installed program"
    for cmd in (["desktop-file-validate", desktop], ["appstreamcli", "validate-tree", "--no-net", root]):
        result = run(*cmd)
        assert result.returncode == 0, f"{cmd[0]}:\n{result.stdout}{result.stderr}"

    depends = run("dpkg-deb", "-f", debs[0], "Depends").stdout.strip()
    packages = brought(depends)
    # Every shared library the programs load (libmaxminddb's too) comes with a package that Depends brings.
    libs = {os.path.basename(lib) for program in ("Quillfen", "quillfen-check")
            for lib in re.findall(r"=> (\S+) \(", run("ldd", os.path.join(root, "usr/bin", program)).stdout)}
    owned = re.findall(r"^(.+?): \S*/([^/\s]+)$", run("dpkg", "-S", *("*/" + lib for lib in libs)).stdout, re.M)
    lacking = libs - {lib for names, lib in owned if {n.split(":")[0] for n in names.split(", ")} & packages}
    assert not lacking, "the programs load libraries that Depends does not bring: " + ", ".join(sorted(lacking))
    sandbox = os.path.join(work, "qt")
    for path in run("dpkg", "-L", *sorted(packages)).stdout.splitlines():
        for top, sub in ((qml_dir, "qml"), (plugin_dir, "plugins")):
            link = os.path.join(sandbox, sub, path[len(top) + 1:])
            if path.startswith(top + "/") and os.path.isfile(path) and not os.path.lexists(link):
                os.makedirs(os.path.dirname(link), exist_ok=True)
                os.symlink(path, link)
    with open(os.path.join(root, "usr/bin/qt.conf"), "w") as f:
        f.write(f"[Paths]\nPrefix=/usr\nPlugins={sandbox}/plugins\nQmlImports={sandbox}/qml\nQml2Imports={sandbox}/qml\n")

    # An empty list and a loopback target: nothing is ever probed.
    store = "[ProxyConfig]\nsavedProxies=[]\nsavedTargetUrl=http://127.0.0.1:9/\n"
    assert window.run(look, exe, store, shots=out, env={"QML_IMPORT_TRACE": "1"}) == 0, "the installed program failed"
    text = open(os.path.join(out, "quillfen.log"), encoding="utf-8", errors="replace").read()
    broken = [line for line in text.splitlines() if BROKEN.search(line)]
    assert not broken, "installed program:\n" + "\n".join(broken)
    loaded = set(re.findall(r'loaded "?([^"\s]+/qmldir)', text))
    outside = [p for p in loaded if not p.startswith((sandbox, ":", "qrc:"))]
    assert not outside, "QML modules loaded from outside what Depends brings: " + ", ".join(sorted(outside))
    assert any(p.startswith(sandbox) for p in loaded), "the import trace shows no module from the Depends tree"


def look(s):
    """Every page and the file dialog, so that each module they import is loaded."""
    s.start()
    assert s.frame.queryComponent().getExtents(0).width == 400, "the window is not 400 wide"
    s.press("Settings")
    s.press("Export")
    s.find("dialog", "Экспорт списка прокси")
    s.shot("installed-window.png")
    s.close_window()


if __name__ == "__main__":
    if not all(map(shutil.which, ("Xvfb", "dbus-daemon", "dpkg-deb", "dpkg-query"))):
        print("SKIP: the installed-package check needs Xvfb, dbus-daemon and dpkg")
        sys.exit(77)
    work = tempfile.mkdtemp(prefix="quillfen-install-")
    try:
        check(*sys.argv[1:6], work)
    except AssertionError as error:
        sys.exit(f"FAIL: {error}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS")
