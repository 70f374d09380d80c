#!/usr/bin/env python3
"""Compares two gcovr --json-summary files file by file: where did a change
of the tests lose (or gain) covered lines and branches?

usage: coverage-diff.py BEFORE.json AFTER.json [--all]
Without --all only files whose counts changed are listed.
"""
import json
import sys


def load(path):
    with open(path) as f:
        return {e['filename']: e for e in json.load(f)['files']}


def main():
    before, after = load(sys.argv[1]), load(sys.argv[2])
    show_all = '--all' in sys.argv
    print(f"{'file':<48}{'lines':>14}{'branches':>14}")
    for name in sorted(set(before) | set(after)):
        b, a = before.get(name), after.get(name)
        bl = b['line_covered'] if b else 0
        al = a['line_covered'] if a else 0
        bb = b['branch_covered'] if b else 0
        ab = a['branch_covered'] if a else 0
        if show_all or bl != al or bb != ab:
            print(f"{name:<48}{f'{bl}->{al}':>14}{f'{bb}->{ab}':>14}")


if __name__ == '__main__':
    main()
