#!/usr/bin/env python3
"""Sums a gcovr --json-summary file per folder: lines and branches covered.

Folders are api, layer1, platform, modules/<name> and tools/<name>; the last
rows give the library (api, layer1, platform, modules) and everything.
"""
import json
import sys
from collections import defaultdict


def folder_of(path):
    parts = path.split('/')
    if parts[0] in ('modules', 'tools') and len(parts) > 2:
        return '/'.join(parts[:2])
    return parts[0]


def main():
    with open(sys.argv[1]) as f:
        summary = json.load(f)
    totals = defaultdict(lambda: [0, 0, 0, 0])
    for entry in summary['files']:
        row = totals[folder_of(entry['filename'])]
        row[0] += entry['line_covered']
        row[1] += entry['line_total']
        row[2] += entry['branch_covered']
        row[3] += entry['branch_total']
    library = [0, 0, 0, 0]
    everything = [0, 0, 0, 0]
    for name, row in totals.items():
        for i in range(4):
            everything[i] += row[i]
            if not name.startswith('tools'):
                library[i] += row[i]

    def pct(covered, total):
        return 100.0 * covered / total if total else 100.0

    print(f"{'folder':<20}{'lines':>18}{'line %':>9}{'branches':>18}{'branch %':>10}")
    rows = sorted(totals.items()) + [('library', library), ('all', everything)]
    for name, (lc, lt, bc, bt) in rows:
        print(f"{name:<20}{f'{lc}/{lt}':>18}{pct(lc, lt):>8.1f}%"
              f"{f'{bc}/{bt}':>18}{pct(bc, bt):>9.1f}%")


if __name__ == '__main__':
    main()
