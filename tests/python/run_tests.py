#!/usr/bin/python3
"""Runs a folder of the Python module's tests with pytest; exits 77 (skipped) when pytest, the
built module or a module the tests need is missing.

Usage: run_tests.py <tests folder> <folder holding the trelis package> <Trelis> <make_demo>
                    <work folder> [module the tests need ...]"""
import importlib
import os
import sys

SKIPPED = 77


def main():
    tests, package_dir, program, make_demo, work = sys.argv[1:6]
    sys.path.insert(0, package_dir)
    try:
        for needed in ["pytest", "trelis", *sys.argv[6:]]:
            importlib.import_module(needed)
    except ImportError as missing:
        print(f"skipped: {missing}")
        return SKIPPED
    import pytest
    # Worker processes (trelis.distributed) find the package the same way.
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [package_dir] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
    os.environ.update(TRELIS_PROGRAM=program, TRELIS_MAKE_DEMO=make_demo)
    return pytest.main(["-q", "-p", "no:cacheprovider", f"--basetemp={work}", tests])


if __name__ == "__main__":
    sys.exit(main())
