#!/usr/bin/env python3
"""Runs one KEL script with kel.exe under Wine and checks it against the
expectations written inside it as comment lines:

    ; expect: <text>          next expected line of stdout (in order). The whole
                              stdout must equal these lines; line ends are
                              normalised and trailing blank lines ignored.
                              No expect lines means stdout must be empty.
    ; expect exit: N          exit status of kel.exe (default 0)
    ; expect stderr: <text>   a substring that must appear in stderr (each one)
    ; args: a b "c d"         script arguments (shell-like quoting; lines add up)
    ; options: --trace x      kel.exe options, put before the script (likewise)
    ; expect file: NAME       the file NAME in the test's scratch folder must
                              exist after the run and hold the "; file:" lines
                              that follow (as a whole; trailing blank lines
                              ignored). Several files may be checked.
    ; file: <text>            next expected line of the file named last
    ; stdin: <line>           one line of standard input (lines add up)
    ; timeout: N              seconds before the run counts as hung (default 120)
    ; mismatch: <text>        harness self-test: the expectations above are
                              deliberately wrong; the test passes only when the
                              harness reports a mismatch whose text contains
                              <text> (each such line must match)

A directive is a whole line: optional blanks, ";", optional blanks, the
keyword. The text after "expect:" (and "file:") loses exactly one leading
blank, so "; expect:" alone expects an empty line.

In "args:" and "options:" the text {temp} stands for the scratch folder as
kel.exe sees it (a Wine path), so a script can be told where to write.

Checked files are normalised before the comparison: an elapsed-time mark
"(123)" at the start of a line or after "--- " reads "(n)", and the scratch
folder and the script's folder read {temp} and {dir}. In an expected file
line, {*} matches any text (for dates, versions and the like); a line {**}
matches any number of lines (for long dumps).

Expectations may also come from a sidecar file (--sidecar) holding the same
directive lines, for scripts such as the examples that should read cleanly.

The script runs with its own directory as the working directory (so relative
#include names and fixture files next to it are found). Scratch files belong
in the folder named by the environment variable KEL_TEST_TEMP, a fresh
per-test folder under the build tree.

Command-line mode (--cli) runs kel.exe with the arguments after "--" instead
of a script, for checks of kel.exe's own usage and file errors.

Exit status: 0 pass, 1 mismatch, 2 the harness could not run the test.
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

DIRECTIVE = re.compile(r'^[ \t]*;[ \t]*(expect exit|expect stderr|expect file|expect|args|options|file|stdin|timeout|'
                       r'mismatch)[ \t]*:(.*)$', re.IGNORECASE)


class HarnessError(Exception):
    """The test could not be run (as opposed to a failed expectation)."""


def decode_script(data):
    """Text of a script file in any of the encodings kel.exe accepts."""
    if data[:2] in (b'\xff\xfe', b'\xfe\xff'):
        return data.decode('utf-16')
    if data[:3] == b'\xef\xbb\xbf':
        return data[3:].decode('utf-8', errors='replace')
    try:
        return data.decode('utf-8')
    except UnicodeDecodeError:
        return data.decode('cp1252', errors='replace')


class Expectations:
    def __init__(self):
        self.stdout = []
        self.stdout_has = []
        self.exit = 0
        self.stderr = []
        self.args = []
        self.options = []
        self.files = []          # [(name, [expected lines])]
        self.stdin = []
        self.timeout = 120
        self.mismatch = []

    def read(self, text, origin):
        for number, line in enumerate(text.splitlines(), 1):
            m = DIRECTIVE.match(line.rstrip('\r'))
            if not m:
                continue
            key = m.group(1).lower()
            value = m.group(2)
            line_text = value[1:] if value.startswith(' ') else value

            def parsed(convert, what):
                try:
                    return convert(value.strip() if convert is int else value)
                except ValueError as e:
                    raise HarnessError(f'{origin}:{number}: "{key}": {what or e}')

            if key == 'expect':
                self.stdout.append(line_text)
            elif key == 'expect exit':
                self.exit = parsed(int, 'needs a number')
            elif key == 'expect stderr':
                self.stderr.append(value.strip())
            elif key == 'args':
                self.args += parsed(shlex.split, None)
            elif key == 'options':
                self.options += parsed(shlex.split, None)
            elif key == 'expect file':
                self.files.append((value.strip(), []))
            elif key == 'file':
                if not self.files:
                    raise HarnessError(f'{origin}:{number}: "file:" before any "expect file:"')
                self.files[-1][1].append(line_text)
            elif key == 'stdin':
                self.stdin.append(line_text)
            elif key == 'timeout':
                self.timeout = parsed(int, 'needs a number')
            elif key == 'mismatch':
                self.mismatch.append(value.strip())


def wine_path(path):
    """A Unix path as Wine's Z: drive spells it."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def normalise_lines(data):
    text = data.decode('utf-8', errors='replace').replace('\r\n', '\n').replace('\r', '\n')
    lines = text.split('\n')
    while lines and lines[-1] == '':
        lines.pop()
    return lines


ELAPSED = re.compile(r'^(--- )?\(\d+\)')


def normalise_file(data, places):
    """Lines of a checked file: elapsed-time marks and folders made stable."""
    lines = normalise_lines(data.replace(b'\r\n', b'\n'))
    out = []
    for line in lines:
        line = ELAPSED.sub(lambda m: (m.group(1) or '') + '(n)', line)
        for path, name in places:
            line = re.sub(re.escape(path), name, line, flags=re.IGNORECASE)
        out.append(line)
    return out


def file_pattern(want):
    """One regular expression for a whole expected file: {*} in a line is any
    text, a line {**} any number of lines."""
    parts = []
    for line in want:
        if line == '{**}':
            parts.append(r'(?:[^\n]*\n)*')
        else:
            parts.append('[^\n]*'.join(re.escape(p) for p in line.split('{*}')) + r'\n')
    return ''.join(parts)


def line_matches(expected, got):
    return re.fullmatch(file_pattern([expected]), got + '\n') is not None


def compare_files(exp, temp, places):
    problems = []
    for name, want in exp.files:
        path = os.path.join(temp or '', name)
        try:
            with open(path, 'rb') as f:
                got = normalise_file(f.read(), places)
        except OSError:
            problems.append(f'file {name}: missing')
            continue
        while want and want[-1] == '':
            want = want[:-1]
        if re.fullmatch(file_pattern(want), ''.join(g + '\n' for g in got)):
            continue
        diff = []
        for i in range(max(len(got), len(want))):
            w = want[i] if i < len(want) else None
            g = got[i] if i < len(got) else None
            same = w is not None and g is not None and line_matches(w, g)
            diff.append(f'{"  " if same else "! "}{i + 1:3}  expected: {"<none>" if w is None else repr(w)}')
            if not same:
                diff.append(f'         got:      {"<none>" if g is None else repr(g)}')
        problems.append(f'file {name} differs:\n' + '\n'.join(diff))
    return problems


def compare(exp, status, out, err):
    """The list of mismatches between a run and its expectations."""
    problems = []
    got = normalise_lines(out)
    if exp.stdout is not None and got != exp.stdout:
        width = max(len(got), len(exp.stdout))
        diff = []
        for i in range(width):
            e = exp.stdout[i] if i < len(exp.stdout) else None
            g = got[i] if i < len(got) else None
            mark = '  ' if e == g else '! '
            diff.append(f'{mark}{i + 1:3}  expected: {"<none>" if e is None else repr(e)}')
            if e != g:
                diff.append(f'         got:      {"<none>" if g is None else repr(g)}')
        problems.append('stdout differs:\n' + '\n'.join(diff))
    if status != exp.exit:
        problems.append(f'exit status: expected {exp.exit}, got {status}')
    out_text = '\n'.join(got)
    for needle in exp.stdout_has:
        if needle not in out_text:
            problems.append(f'stdout lacks: {needle!r}')
    err_text = err.decode('utf-8', errors='replace').replace('\r\n', '\n')
    for needle in exp.stderr:
        if needle not in err_text:
            problems.append(f'stderr lacks: {needle!r}')
    return problems


def run(cmd, exp, cwd, env):
    """Runs cmd; returns (status or None on timeout, stdout bytes, stderr bytes).

    The streams go through files, not pipes: the first Wine program of a
    session starts Wine's background services, which inherit the standard
    handles and would hold a pipe open long after kel.exe has ended."""
    feed = ''.join(line + '\r\n' for line in exp.stdin).encode('utf-8')
    with tempfile.TemporaryFile() as fin, tempfile.TemporaryFile() as fout, \
            tempfile.TemporaryFile() as ferr:
        fin.write(feed)
        fin.seek(0)
        try:
            p = subprocess.Popen(cmd, stdin=fin, stdout=fout, stderr=ferr, cwd=cwd, env=env)
        except OSError as e:
            raise HarnessError(f'cannot start {cmd[0]}: {e}')
        try:
            status = p.wait(timeout=exp.timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            status = None
        fout.seek(0)
        ferr.seek(0)
        return status, fout.read(), ferr.read()


def main():
    ap = argparse.ArgumentParser(description='Run one KEL script test.')
    ap.add_argument('--runner', required=True, help='program that runs Windows executables (tools/wine-run)')
    ap.add_argument('--kel', required=True, help='path of kel.exe')
    ap.add_argument('--sidecar', help='file with further directive lines')
    ap.add_argument('--temp', help='scratch folder for the test (emptied first)')
    ap.add_argument('--cli', action='store_true', help='run kel.exe with the arguments after -- (no script)')
    ap.add_argument('--expect-exit', type=int, default=None)
    ap.add_argument('--expect-stderr', action='append', default=[])
    ap.add_argument('--expect', action='append', default=[], help='expected stdout line (--cli)')
    ap.add_argument('--expect-stdout-has', action='append', default=[], help='stdout substring (--cli)')
    ap.add_argument('--cwd', help='working directory (--cli)')
    ap.add_argument('script', nargs='?')
    ap.add_argument('rest', nargs=argparse.REMAINDER)
    a = ap.parse_args()

    try:
        exp = Expectations()
        env = dict(os.environ)
        if a.temp:
            shutil.rmtree(a.temp, ignore_errors=True)
            os.makedirs(a.temp, exist_ok=True)
            env['KEL_TEST_TEMP'] = wine_path(a.temp)

        if a.cli:
            args = a.rest[1:] if a.rest[:1] == ['--'] else a.rest
            if a.script is not None:
                args = ([] if a.script == '--' else [a.script]) + args
            exp.stdout = a.expect if a.expect or not a.expect_stdout_has else None
            exp.stdout_has = a.expect_stdout_has
            exp.exit = 2 if a.expect_exit is None else a.expect_exit
            exp.stderr = a.expect_stderr
            cmd = [a.runner, a.kel] + args
            cwd = a.cwd or os.getcwd()
            label = 'kel ' + ' '.join(args)
        else:
            if not a.script:
                raise HarnessError('no script given')
            try:
                with open(a.script, 'rb') as f:
                    exp.read(decode_script(f.read()), a.script)
                if a.sidecar:
                    with open(a.sidecar, 'rb') as f:
                        exp.read(decode_script(f.read()), a.sidecar)
            except OSError as e:
                raise HarnessError(str(e))
            temp_path = wine_path(a.temp) if a.temp else ''
            exp.args = [x.replace('{temp}', temp_path) for x in exp.args]
            exp.options = [x.replace('{temp}', temp_path) for x in exp.options]
            cmd = [a.runner, a.kel] + exp.options + [wine_path(a.script)] + exp.args
            cwd = os.path.dirname(os.path.abspath(a.script))
            label = a.script

        status, out, err = run(cmd, exp, cwd, env)
        if status is None:
            problems = [f'timed out after {exp.timeout} s']
        else:
            problems = compare(exp, status, out, err)
            if not a.cli:
                places = [(wine_path(a.script and os.path.dirname(os.path.abspath(a.script))), '{dir}')]
                if a.temp:
                    places.insert(0, (wine_path(a.temp), '{temp}'))
                problems += compare_files(exp, a.temp, places)
    except HarnessError as e:
        print(f'harness: {e}', file=sys.stderr)
        return 2

    report = '\n'.join(problems)
    if exp.mismatch:
        # Self-test of the harness: the mismatch must be found and described.
        missing = [m for m in exp.mismatch if m not in report]
        if problems and not missing:
            print(f'PASS (mismatch detected as intended): {label}\n{report}')
            return 0
        print(f'FAIL: {label}: the harness did not report the intended mismatch')
        for m in missing:
            print(f'  not reported: {m!r}')
        print(report or '  (the run matched every expectation)')
        return 1

    if not problems:
        return 0
    print(f'FAIL: {label}')
    print(report)
    print('---- stdout ----')
    print(out.decode('utf-8', errors='replace').rstrip())
    print('---- stderr ----')
    print(err.decode('utf-8', errors='replace').rstrip())
    return 1


if __name__ == '__main__':
    sys.exit(main())
