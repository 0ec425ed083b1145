#!/usr/bin/env python3
"""Which test cases could go without lowering the suite's coverage of the library.

Runs every test case of a coverage build (scripts/coverage.sh makes one)
alone, records the library arcs (branch edges, finer than lines) it reaches
from the gcda counters, then picks by a greedy weighted set cover the cases
needed to reach every arc the whole suite reaches, preferring short tests.
The others are listed with their size and the kept tests of the same program
that share most of their arcs. Coverage cannot see what a test asserts nor a
race it provokes: the list is where to look, not what to delete.

  scripts/redundant-tests.py [BUILD_DIR [PROGRAM_REGEX]]
      BUILD_DIR defaults to build-cov; every test program takes about 7 min on
      2 cores, PROGRAM_REGEX (matched against test names) narrows it.
A development aid, not part of CI. Reads gcda files of gcc 12 or later.
"""
import collections, glob, json, os, re, shutil, struct, subprocess, sys, tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(os.path.join(ROOT, sys.argv[1] if len(sys.argv) > 1 else 'build-cov'))
PROGRAMS = re.compile(sys.argv[2] if len(sys.argv) > 2 else '')
# Object folders of the library (the scalar reference twins are not counted).
LIBRARY = ('CMakeFiles/nxruntime.dir/', 'packages/nxexamples/CMakeFiles/nxexamples.dir/',
           'nxflow/CMakeFiles/nxflowhost.dir/')
TAG_FUNCTION, TAG_ARCS = 0x01000000, 0x01a10000


def list_cases():
    tests = json.loads(subprocess.run(['ctest', '--show-only=json-v1'], cwd=BUILD, capture_output=True,
                                      text=True, check=True).stdout)['tests']
    cases = []
    for t in tests:
        cmd = t['command']
        if len(cmd) > 1 or not PROGRAMS.search(t['name']):  # > 1: a filtered rerun of a listed program
            continue
        env, wd = {}, BUILD
        for p in t.get('properties', []):
            if p['name'] == 'ENVIRONMENT':
                env.update(kv.split('=', 1) for kv in p['value'])
            elif p['name'] == 'WORKING_DIRECTORY':
                wd = p['value']
        listing = subprocess.run(cmd + ['--gtest_list_tests'], cwd=wd, capture_output=True, text=True,
                                 env={**os.environ, **env}).stdout
        suite = None
        for line in listing.splitlines():
            if not line.strip():
                continue
            if not line.startswith(' '):
                suite = line.split()[0]
            else:
                cases.append((t['name'], cmd[0], wd, env, suite + line.split()[0]))
    return cases


def arcs_reached(root):
    """The (object, function, arc) triples with a nonzero count under root."""
    reached = set()
    for dirpath, _, files in os.walk(root):
        for f in files:
            rel = os.path.relpath(os.path.join(dirpath, f), root)
            if not f.endswith('.gcda') or not rel.startswith(LIBRARY):
                continue
            data = open(os.path.join(dirpath, f), 'rb').read()
            pos, fn = 16, None  # after magic, version, stamp and checksum
            while pos + 8 <= len(data):
                tag, length = struct.unpack_from('<Ii', data, pos)
                pos += 8
                if tag == TAG_FUNCTION:
                    fn = struct.unpack_from('<I', data, pos)[0] if length > 0 else None
                elif tag == TAG_ARCS and length > 0:  # a negative length: all counts zero, none stored
                    counts = struct.unpack_from('<%dq' % (length // 8), data, pos)
                    reached.update((rel, fn, i) for i, v in enumerate(counts) if v)
                pos += max(length, 0)
    return reached


def run_case(case, scratch):
    prog, exe, wd, env, name = case
    root = tempfile.mkdtemp(dir=scratch)
    strip = str(len([p for p in BUILD.split('/') if p]))
    e = {**os.environ, **env, 'GCOV_PREFIX': root, 'GCOV_PREFIX_STRIP': strip, 'NX_TEST_OUTPUT_DIR': root + '/out'}
    os.makedirs(root + '/out')
    rc = subprocess.run(['timeout', '300', exe, '--gtest_filter=' + name], cwd=wd, env=e,
                        capture_output=True).returncode
    reached = arcs_reached(root)
    shutil.rmtree(root, ignore_errors=True)
    return prog, name, rc, reached


def test_sources():
    """(suite, name) -> (file, first line, lines up to the closing brace)."""
    found = {}
    head = re.compile(r'\s*(?:TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\(\s*(\w+)\s*,\s*(\w+)\s*\)')
    for path in glob.glob(os.path.join(ROOT, 'tests', '**', '*.cpp'), recursive=True):
        lines = open(path).read().split('\n')
        for i, line in enumerate(lines):
            m = head.match(line)
            if m:
                end = i
                while end < len(lines) and not lines[end].startswith('}'):
                    end += 1
                found[(m.group(1), m.group(2))] = (os.path.relpath(path, ROOT), i + 1, end - i + 1)
    return found


def source_key(name):
    # Prefix/Suite.Name/param (value-parameterised) and Suite/0.Name (typed).
    suite, test = name.split('.', 1)
    parts = suite.split('/')
    suite = parts[0] if len(parts) == 1 or parts[-1].isdigit() else parts[-1]
    return suite, test.split('/')[0]


def main():
    cases = list_cases()
    print('%d test cases' % len(cases), file=sys.stderr)
    scratch = tempfile.mkdtemp(prefix='nx-arcs-')
    with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        results = list(pool.map(lambda c: run_case(c, scratch), cases))
    shutil.rmtree(scratch, ignore_errors=True)
    for prog, name, rc, _ in results:
        if rc:
            print('failed alone: %s %s (rc %d)' % (prog, name, rc), file=sys.stderr)

    # Instantiations of one parameterised or typed test go or stay together.
    sources = test_sources()
    groups = collections.OrderedDict()
    for prog, name, _, reached in results:
        key = source_key(name)
        g = groups.setdefault((prog, key), dict(prog=prog, key=key, src=sources.get(key, ('?', 0, 1)), arcs=set()))
        g['arcs'] |= reached
    groups = list(groups.values())
    times = collections.Counter(a for g in groups for a in g['arcs'])
    keep, rest = [], []
    for g in groups:  # a test that alone reaches some arc stays
        (keep if any(times[a] == 1 for a in g['arcs']) else rest).append(g)
    essential = len(keep)
    covered = set().union(*(g['arcs'] for g in keep))
    while True:
        best = max(rest, key=lambda g: len(g['arcs'] - covered) / g['src'][2], default=None)
        if best is None or not best['arcs'] - covered:
            break
        keep.append(best)
        covered |= best['arcs']
        rest.remove(best)

    print('%d library arcs reached; %d tests (%d reach an arc no other test does), %d kept, %d not needed '
          '(%d of %d test-body lines)' % (len(times), len(groups), essential, len(keep), len(rest),
                                          sum(g['src'][2] for g in rest), sum(g['src'][2] for g in groups)))
    for g in sorted(rest, key=lambda g: g['src'][:2]):
        peers = sorted((k for k in keep if k['prog'] == g['prog']), key=lambda k: -len(k['arcs'] & g['arcs']))[:3]
        print('%s:%d (%d lines) %s.%s\n    arcs shared most with: %s' % (
            g['src'][0], g['src'][1], g['src'][2], *g['key'],
            ', '.join('%s.%s' % k['key'] for k in peers)))


if __name__ == '__main__':
    main()
