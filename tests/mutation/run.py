#!/usr/bin/env python3
"""Mutation check: applies each line of mutants.tsv (file, text found exactly
once, its replacement) to a scratch copy of the tree, runs the suite there and
says whether a test failed. Usage: run.py [N ...] (1-based lines; all by default).
MUTANT_DIR is the scratch copy, kept between runs so that builds stay
incremental; MUTANT_TEST the command (default: make test, stopping at the
first failed test)."""
import os, shutil, subprocess, sys
here = os.path.dirname(os.path.abspath(__file__))
top = os.path.dirname(os.path.dirname(here))
work = os.environ.get("MUTANT_DIR", "/tmp/quillfen-mutants")
command = os.environ.get("MUTANT_TEST", "make test CTEST_ARGS=--stop-on-failure")
mutants = [line.rstrip("\n").split("\t") for line in open(os.path.join(here, "mutants.tsv"))]
for name in subprocess.run(["git", "ls-files"], cwd=top, capture_output=True, text=True).stdout.split("\n"):
    source, copy = os.path.join(top, name), os.path.join(work, name)
    if name and os.path.isfile(source) and (not os.path.exists(copy) or open(source, "rb").read() != open(copy, "rb").read()):
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copy(source, copy)
caught = 0
chosen = [int(n) for n in sys.argv[1:]] or range(1, len(mutants) + 1)
for n in chosen:
    path, old, new = mutants[n - 1]
    original = open(os.path.join(top, path)).read()
    if original.count(old) != 1:
        sys.exit(f"mutant {n}: the text is not in {path} exactly once")
    with open(os.path.join(work, path), "w") as f:
        f.write(original.replace(old, new))
    if subprocess.run("make build", shell=True, cwd=work, capture_output=True).returncode:
        sys.exit(f"mutant {n}: does not build")
    failed = subprocess.run(command, shell=True, cwd=work, capture_output=True).returncode != 0
    shutil.copy(os.path.join(top, path), os.path.join(work, path))
    caught += failed
    print(f"{n:3} {'caught' if failed else 'MISSED'}  {path}: {new}", flush=True)
print(f"{caught} of {len(chosen)} mutants caught")
