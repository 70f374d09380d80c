#!/usr/bin/env python3
"""The damaged-file sweep: every real file of tests/real/make-real-files.sh
and the bundled samples, cut at about 20 points and with about 20 bit-flip
variants (seeded, so a failure can be replayed), each read to the end and
through a few seeks with the zepdemux CLI (a host of the shared library;
raw H.264 and text subtitles go through the container layer).

Checks: no crash, sanitizer report or leak (the CLI's exit status is 0 or 1,
sanitizers are told to exit 86), no hang (a time limit per run); for a cut
file, every packet that lies before the cut (ffprobe's packet positions of
the undamaged file) is delivered, in its stream, identical to the undamaged
file's: size, time, duration, key flag and CRC-32 of the payload.

usage: damage_sweep.py ZEPDEMUX SOURCE_DIR [--seed N] [--cuts N] [--flips N] [--jobs N]
"""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zlib

SANITIZER_EXIT = 86
TIME_LIMIT = 60  # seconds a run; sanitizer builds are slow
# A packet counts as lying before the cut when its payload ends this many
# bytes before it: chunk headers, pad bytes and start codes of the next
# access unit may stand between one payload and the next.
SLACK = 16
SEEK_TIMES = ('0.5', '1.5', '2.5')
TYPE_ORDER = {'video': 0, 'audio': 1, 'subtitle': 2}


def run_cli(cli, args, status=None):
    env = dict(os.environ)
    env['ASAN_OPTIONS'] = f'detect_leaks=1:exitcode={SANITIZER_EXIT}:abort_on_error=0'
    env['UBSAN_OPTIONS'] = f'halt_on_error=1:print_stacktrace=1:exitcode={SANITIZER_EXIT}'
    env['LSAN_OPTIONS'] = f'exitcode={SANITIZER_EXIT}'
    try:
        result = subprocess.run([cli] + args, capture_output=True, text=True,
                                errors='replace', timeout=TIME_LIMIT, env=env)
    except subprocess.TimeoutExpired:
        return None, f'no end within {TIME_LIMIT} s'
    if result.returncode not in (0, 1):
        return None, f'exit status {result.returncode}: {result.stderr[-2000:]}'
    if status is not None:
        status.append((result.returncode, result.stderr))
    return result.stdout, None


def packets_by_stream(listing):
    """The `packets` listing as {stream: [line fields after the stream]}."""
    streams = {}
    for line in listing.splitlines()[1:]:
        fields = line.split()
        if len(fields) == 7:
            streams.setdefault(fields[0], []).append(tuple(fields[1:]))
    return streams


def payload_ends(path):
    """For each of our stream numbers, the end offsets of its packets in file
    order, from ffprobe; None when ffprobe gives no positions."""
    probe = subprocess.run(['ffprobe', '-v', 'error', '-show_entries',
                            'stream=index,codec_type:packet=stream_index,pos,size',
                            '-of', 'json', path], capture_output=True, text=True)
    if probe.returncode != 0:
        return None
    data = json.loads(probe.stdout)
    kinds = {s['index']: s.get('codec_type') for s in data.get('streams', [])}
    ordered = sorted(kinds, key=lambda i: (TYPE_ORDER.get(kinds[i], 3), i))
    ours = {index: str(n) for n, index in enumerate(ordered)}
    # Laced frames share the position of their block: the block ends after
    # all of them.
    group_end = {}
    for p in data.get('packets', []):
        if 'pos' not in p or int(p['pos']) < 0:
            return None
        key = (p['stream_index'], int(p['pos']))
        group_end[key] = group_end.get(key, int(p['pos'])) + int(p['size'])
    ends = {}
    if path.endswith(('.srt', '.ass')):
        # ffprobe's size of a text entry counts its text, not its timing line:
        # an entry ends where the next one starts (the last at the file's end).
        starts = [int(p['pos']) for p in data['packets']]
        ends['0'] = starts[1:] + [os.path.getsize(path)]
        return ends
    for p in data['packets']:
        ends.setdefault(ours[p['stream_index']], []).append(
            group_end[(p['stream_index'], int(p['pos']))])
    return ends


def variants(path, seed, cuts, flips):
    data = open(path, 'rb').read()
    rng = random.Random(f'{seed}:{os.path.basename(path)}')
    for i in range(cuts):
        cut = int(len(data) * (i + rng.random()) / cuts)
        yield f'cut at {cut}', cut, data[:cut]
    for i in range(flips):
        damaged = bytearray(data)
        bits = rng.randint(1, 16)
        for _ in range(bits):
            spot = rng.randrange(len(damaged) * 8)
            damaged[spot // 8] ^= 1 << (spot % 8)
        yield f'{bits} bits flipped (variant {i})', None, bytes(damaged)


def sweep_file(cli, path, work, seed, cuts, flips):
    """Returns (variants, packets compared, failures)."""
    failures = []
    clean_status = []
    clean_listing, error = run_cli(cli, ['packets', path], clean_status)
    if error:
        return 0, 0, [f'{path}: the undamaged file: {error}']
    if clean_status[0][0] != 0:
        return 0, 0, [f'{path}: the undamaged file exits {clean_status[0][0]}: {clean_status[0][1]}']
    clean = packets_by_stream(clean_listing)
    ends = payload_ends(path)
    seekable = path.endswith(('.avi', '.mkv'))
    name = os.path.basename(path)
    count = compared = 0
    for what, cut, content in variants(path, seed, cuts, flips):
        count += 1
        variant = os.path.join(work, name)
        with open(variant, 'wb') as f:
            f.write(content)
        status = []
        listing, error = run_cli(cli, ['packets', variant], status)
        if error:
            failures.append(f'{name}, {what}: packets: {error}')
            continue
        # A container cut short says so: a warning with the offset, exit 1.
        if cut is not None and seekable and (status[0][0] != 1 or 'byte offset' not in status[0][1]):
            failures.append(f'{name}, {what}: the damage is not reported (exit {status[0][0]})')
        if cut is not None and ends is not None:
            damaged = packets_by_stream(listing)
            for stream, stream_ends in ends.items():
                expected = clean.get(stream, [])
                before = sum(1 for end in stream_ends if end + SLACK <= cut)
                got = damaged.get(stream, [])
                for i in range(min(before, len(expected))):
                    compared += 1
                    if i >= len(got) or got[i] != expected[i]:
                        failures.append(f'{name}, {what}: stream {stream} packet {i} '
                                        f'{"missing" if i >= len(got) else got[i]} '
                                        f'instead of {expected[i]}')
                        break
        if seekable:
            for time in SEEK_TIMES:
                _, error = run_cli(cli, ['seek', variant, '--time', time, '--count', '20'])
                if error:
                    failures.append(f'{name}, {what}: seek {time}: {error}')
    return count, compared, failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('cli')
    parser.add_argument('source')
    parser.add_argument('--seed', type=int, default=20261207)
    parser.add_argument('--cuts', type=int, default=20)
    parser.add_argument('--flips', type=int, default=20)
    parser.add_argument('--jobs', type=int, default=os.cpu_count() or 2)
    options = parser.parse_args()
    cli = os.path.realpath(options.cli)
    files_dir = tempfile.mkdtemp()
    try:
        subprocess.run([os.path.join(options.source, 'tests/real/make-real-files.sh'), files_dir],
                       check=True, stdout=subprocess.DEVNULL)
        for sample in ('sample.avi', 'sample.mkv', 'sample.h264', 'sample.srt'):
            shutil.copy(os.path.join(options.source, 'samples', sample), files_dir)
        files = sorted(os.path.join(files_dir, f) for f in os.listdir(files_dir)
                       if f.endswith(('.avi', '.mkv', '.h264', '.srt', '.ass')))
        total_variants = total_compared = 0
        failures = []
        with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
            jobs = {}
            for path in files:
                work = tempfile.mkdtemp(dir=files_dir)
                jobs[pool.submit(sweep_file, cli, path, work, options.seed, options.cuts,
                                 options.flips)] = path
            for job in concurrent.futures.as_completed(jobs):
                count, compared, problems = job.result()
                print(f'{os.path.basename(jobs[job])}: {count} variants, '
                      f'{compared} packets compared, {len(problems)} failure(s)', flush=True)
                total_variants += count
                total_compared += compared
                failures += problems
        for failure in failures[:50]:
            print('FAIL:', failure)
        print(f'{len(files)} files, {total_variants} variants, {total_compared} packets '
              f'compared, {len(failures)} failure(s) (seed {options.seed})')
        return 1 if failures else 0
    finally:
        shutil.rmtree(files_dir, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
