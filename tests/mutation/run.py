#!/usr/bin/env python3
"""Applies each mutant of mutants.tsv (file, text found there once, replacement) to a scratch
copy of the tree (MUTANT_DIR, kept so builds stay incremental) and runs MUTANT_TEST there.
Usage: run.py [N ...] (1-based lines; all by default)."""
import os, shutil, subprocess, sys
here = os.path.dirname(os.path.abspath(__file__))
top, work = os.path.dirname(os.path.dirname(here)), os.environ.get("MUTANT_DIR", "/tmp/quillfen-mutants")
command = os.environ.get("MUTANT_TEST", "make test CTEST_ARGS=--stop-on-failure")
read = lambda root, name: open(os.path.join(root, name), "rb").read() if os.path.isfile(os.path.join(root, name)) else None
for name in subprocess.run(["git", "ls-files"], cwd=top, capture_output=True, text=True).stdout.split():
    if read(top, name) != read(work, name):  # copies only what changed, so builds stay incremental
        os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
        shutil.copy(os.path.join(top, name), os.path.join(work, name))
mutants = [line.rstrip("\n").split("\t") for line in open(os.path.join(here, "mutants.tsv"))]
chosen, caught = [int(n) for n in sys.argv[1:]] or range(1, len(mutants) + 1), 0
for n in chosen:
    path, old, new = mutants[n - 1]
    original = read(top, path).decode()
    assert original.count(old) == 1, f"mutant {n}: the text is not in {path} exactly once"
    open(os.path.join(work, path), "w").write(original.replace(old, new))
    assert subprocess.run("make build", shell=True, cwd=work, capture_output=True).returncode == 0, f"mutant {n} does not build"
    failed = subprocess.run(command, shell=True, cwd=work, capture_output=True).returncode != 0
    shutil.copy(os.path.join(top, path), os.path.join(work, path))
    caught += failed
    print(f"{n:3} {'caught' if failed else 'MISSED'}  {path}: {new}", flush=True)
print(f"{caught} of {len(chosen)} mutants caught")
