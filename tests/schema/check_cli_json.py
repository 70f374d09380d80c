#!/usr/bin/env python3
"""Validates every --json output of the zepdemux CLI against the versioned
schema in docs/schema, on the bundled samples (AVI, Matroska with chapters,
tags and an attachment, raw H.264, SRT as bitmaps and as text).

It also checks that the schema is not vacuous: documents with a wrong type,
an unknown key or a missing key must be refused.

usage: check_cli_json.py ZEPDEMUX SOURCE_DIR
"""
import copy
import json
import os
import subprocess
import sys
import tempfile

import jsonschema


def main():
    cli, source = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, 'docs/schema/zepdemux-cli-1.schema.json')) as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)

    def validator(name):
        return jsonschema.Draft202012Validator({'$ref': '#/$defs/' + name, '$defs': schema['$defs']})

    samples = os.path.join(source, 'samples')
    avi, mkv = os.path.join(samples, 'sample.avi'), os.path.join(samples, 'sample.mkv')
    h264, srt = os.path.join(samples, 'sample.h264'), os.path.join(samples, 'sample.srt')
    png_dir = tempfile.TemporaryDirectory()
    # (definition, one document per line, command line)
    runs = [('info', False, ['info', f, '--json']) for f in (avi, mkv, h264, srt)]
    runs += [('packet', True, ['packets', f, '--json']) for f in (avi, mkv, h264)]
    runs += [('read', False, ['read', avi, '--json']), ('read', False, ['read', mkv, '--pull', '--json'])]
    runs += [('seek', False, ['seek', f, '--time', '1', '--json']) for f in (avi, mkv)]
    runs += [('seek', False, ['seek', mkv, '--time', '1', '--sync', 'next', '--json'])]
    runs += [('subs_entry', True, ['subs', srt, '--json']),
             ('subs_entry', True, ['subs', srt, '--text', '--json']),
             ('subs_entry', True, ['subs', srt, '--png', png_dir.name, '--json']),
             ('subs_entry', True, ['subs', mkv, '--json'])]

    checked = {}
    failures = 0
    for name, per_line, args in runs:
        result = subprocess.run([cli] + args, capture_output=True, text=True)
        if result.returncode != 0:
            print(f"FAIL: zepdemux {' '.join(args)} exited {result.returncode}: {result.stderr}")
            failures += 1
            continue
        documents = ([json.loads(line) for line in result.stdout.splitlines() if line]
                     if per_line else [json.loads(result.stdout)])
        if not documents:
            print(f"FAIL: zepdemux {' '.join(args)} printed nothing")
            failures += 1
        for document in documents:
            errors = list(validator(name).iter_errors(document))
            for error in errors[:3]:
                print(f"FAIL: zepdemux {' '.join(args)}: {list(error.absolute_path)}: {error.message}")
            failures += bool(errors)
            checked.setdefault(name, document)
        print(f"ok: zepdemux {' '.join(args)}: {len(documents)} document(s) as {name}")

    # The schema must refuse what a consumer could not rely on.
    broken = []
    packet = copy.deepcopy(checked['packet'])
    packet['key'] = 'yes'
    broken.append(('packet', packet, 'a key flag that is not a boolean'))
    info = copy.deepcopy(checked['info'])
    info['titles'][0]['streams'][0]['bitrate'] = 1
    broken.append(('info', info, 'an unknown stream key'))
    seek = copy.deepcopy(checked['seek'])
    del seek['reached']
    broken.append(('seek', seek, 'a missing key'))
    entry = copy.deepcopy(checked['subs_entry'])
    entry.pop('text', None), entry.pop('width', None)
    broken.append(('subs_entry', entry, 'an entry with neither text nor picture'))
    for name, document, what in broken:
        if validator(name).is_valid(document):
            print(f"FAIL: the schema accepts {what}")
            failures += 1
    print(f"{len(runs)} command lines, {failures} failure(s)")
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
