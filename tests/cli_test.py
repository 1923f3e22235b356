#!/usr/bin/python3
"""Runs the pngcomment program on PNG files built here and checks its output,
its exit status and the files it leaves behind.

usage: cli_test.py --cli PATH [--wine win32|win64]   (--wine: PATH is run through scripts/wine-run)
"""
import argparse, os, random, re, resource, stat, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, 'support'))
import pngbytes
from pngbytes import IEND, SIGNATURE, idat, ihdr
args = argparse.ArgumentParser()
args.add_argument('--cli', required=True)
args.add_argument('--wine', choices=('win32', 'win64'))
opts = args.parse_args()
WINE = opts.wine is not None
PROGRAM = ([os.path.join(HERE, '..', 'scripts', 'wine-run'), opts.wine] if WINE else []) + [os.path.abspath(opts.cli)]
if WINE and subprocess.run(PROGRAM[:2] + ['--check']).returncode == 77:
    sys.exit(77)  # this machine cannot run the build's programs; wine-run said why
DESCRIPTION = re.search(r'#define PNGC_DESCRIPTION "(.*)"',
                        open(os.path.join(HERE, '..', 'plugin', 'version.h')).read()).group(1)
NL = '\r\n' if WINE else '\n'  # the platform's line end for summaries and result lines


def big_png(megabytes, texts=()):
    """A PNG whose IDAT holds random, incompressible bytes: for sizes."""
    return pngbytes.big_png(megabytes, text_chunks(texts) + idat([b'\x80' * 3]))


def png(width=3, height=2, texts=()):
    """A true-colour PNG; texts: (kind, keyword, text) put after IHDR."""
    return (SIGNATURE + ihdr(width, height, colour=2) + text_chunks(texts)
            + idat([b'\x80' * 3 * width] * height) + IEND)


def text_chunks(texts):
    """The tEXt and zTXt chunks of (kind, keyword, text) triples, in order."""
    make = {b'tEXt': pngbytes.text, b'zTXt': pngbytes.ztxt}
    return b''.join(make[kind](key, value) for kind, key, value in texts)


def capture(command, stdin=b'', env=None):
    # Files rather than pipes: a wineserver started by the program inherits
    # its output and would hold a pipe open for seconds after it ends.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(command, input=stdin, stdout=out, stderr=err, env=env).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read(), err.read().decode(errors='replace').replace('\r\n', '\n')


def run(*argv, stdin=b'', env=None):
    environment = {k: v for k, v in os.environ.items() if k not in ('VISUAL', 'EDITOR')}
    return capture(PROGRAM + list(argv), stdin, dict(environment, **(env or {})))


def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)


def read(name):
    with open(name, 'rb') as f:
        return f.read()


failures = []


def check(label, condition, detail=''):
    if not condition:
        failures.append(label)
        print('FAIL', label, detail)


def test_help_and_version():
    for command in ([], ['info'], ['get'], ['set'], ['edit'], ['clear']):
        for flag in ('--help', '-h'):
            rc, out, err = run(*command, flag)
            check('help %s %s' % (command, flag),
                  rc == 0 and out.startswith(b'usage: pngcomment ' + ' '.join(command).encode()), (rc, out[:60], err))
    rc, out, _ = run('set', '--help')
    check('set help documents the LF convenience', b'no CR LF' in out and b'LF turned into' in out)
    rc, out, err = run('--version')
    check('version prints the description', rc == 0 and DESCRIPTION.encode() in out, (rc, out, err))
    check('version names the library or its resource',
          (b'file version 1.0.0.0' in out) if WINE else (b'libpngcomment.so' in out), out)


def test_info_and_get():
    write('a.png', png(7, 5, [(b'tEXt', b'Title', b'Hello'), (b'zTXt', b'Note', b'zipped\nline')]))
    write('plain.png', png(2, 9))
    rc, out, err = run('info', 'a.png')
    text = out.decode()
    check('info summary', rc == 0 and 'Pixel Size : 7 x 5' + NL in text and
          'File Size  : %d byte' % len(read('a.png')) in text, (rc, text, err))
    check('info uses the platform line ends', text.count('\r\n') == (text.count('\n') if WINE else 0), text)
    rc, out, err = run('info', 'a.png', 'plain.png')
    text = out.decode()
    check('info of several files', rc == 0 and text.startswith('a.png:' + NL) and
          NL + 'plain.png:' + NL in text and 'Pixel Size : 2 x 9' in text, (rc, text, err))
    rc, out, err = run('get', 'a.png')
    check('get renders the text byte for byte',
          rc == 0 and out == b'[Title]\r\nHello\r\n<Note>\r\nzipped\r\nline\r\n', (rc, out, err))
    rc, out, err = run('get', 'plain.png')
    check('get of a PNG without text', (rc, out, err) == (0, b'', ''), (rc, out, err))


def test_set():
    cases = [  # (label, text, from stdin, what get shows afterwards)
        ('LF-only text from stdin', b'[A]\nx\n<Z>\nzz\n', True, b'[A]\r\nx\r\n<Z>\r\nzz\r\n'),
        # CR LF present: a lone LF stays inside its line, so [B] is no header.
        ('CR LF text from a file kept as is', b'[A]\r\nx\n[B]\ny\r\n', False, b'[A]\r\nx\r\n[B]\r\ny\r\n'),
        ('lines before a header', b'free\n', True, b'[Comment]\r\nfree\r\n'),
        ('empty text removes the chunks', b'', False, b''),
    ]
    for label, text, from_stdin, shown in cases:
        write('s.png', png(texts=[(b'tEXt', b'Old', b'old')]))
        write('text.txt', text)
        argv = ['set', 's.png'] + ([] if from_stdin else ['text.txt'])
        rc, out, err = run(*argv, stdin=text if from_stdin else b'')
        check('set: ' + label, (rc, out, err) == (0, ('s.png: written' + NL).encode(), ''), (rc, out, err))
        check('set then get: ' + label, run('get', 's.png')[1] == shown, run('get', 's.png')[1])
    write('s.png', png(texts=[(b'tEXt', b'Old', b'old')]))
    before = read('s.png')
    rc, out, err = run('set', 's.png', '-', '-o', 'out.png', stdin=b'[New]\nnew\n')
    check('set -o leaves FILE untouched', rc == 0 and read('s.png') == before, (rc, err))
    check('set -o writes OUT', run('get', 'out.png')[1] == b'[New]\r\nnew\r\n')


def test_clear():
    for name in ('c1.png', 'c2.png'):
        write(name, png(texts=[(b'zTXt', b'K', b'v')]))
    write('bad.png', b'GIF89a' + b'\0' * 20)
    rc, out, err = run('clear', 'c1.png', 'bad.png', 'c2.png')
    check('clear goes on after a bad file', rc == 1 and
          out.decode() == 'c1.png: cleared' + NL + 'c2.png: cleared' + NL and
          err == 'bad.png: not a PNG file\n', (rc, out, err))
    check('clear removes the text', run('get', 'c1.png')[1] == b'' and run('get', 'c2.png')[1] == b'')
    check('clear keeps the image', run('info', 'c2.png')[1].startswith(b'PNG(Portable Network Graphics) Image'))


def test_errors():
    write('e.png', png(texts=[(b'tEXt', b'Keep', b'me')]))
    write('short.png', SIGNATURE[:5])
    write('notes.txt', b'hello\n')
    with open('huge.png', 'wb') as f:  # sparse: refused by its size, never read
        f.write(SIGNATURE)
        f.truncate(2 ** 31)
    os.makedirs('folder.png', exist_ok=True)
    cases = [  # (argv, stderr, exit status)
        (['info', 'notes.txt'], 'notes.txt: not a PNG file', 1),
        (['get', 'short.png'], 'short.png: not a PNG file', 1),
        (['get', 'missing.png'], 'missing.png: cannot read', 1),
        (['info', 'folder.png'], 'folder.png: cannot read', 1),
        (['info', 'huge.png'], 'huge.png: too large (over 2 GiB)', 1),
        (['set', 'e.png', 'missing.txt'], 'missing.txt: cannot read', 1),
        (['set', 'e.png', 'huge.png'], 'huge.png: too large (over 2 GiB)', 1),
        (['set', 'e.png', 'notes.txt', '-o', 'nodir/out.png'],
         'nodir/out.png: cannot create a file in nodir, file left unchanged', 1),
        (['info', 'e.png', 'missing.png'], 'missing.png: cannot read', 1),
        ([], 'pngcomment: no command given', 2),
        (['frob'], "pngcomment: unknown command 'frob'", 2),
        (['get', 'e.png', 'e.png'], 'pngcomment: get: too many arguments', 2),
        (['set', 'e.png', '-o'], 'pngcomment: set: -o needs a file name', 2),
        (['clear', '-x', 'e.png'], "pngcomment: clear: unknown option '-x'", 2),
        (['clear'], 'pngcomment: clear: no FILE given', 2),
    ]
    before, listing = read('e.png'), sorted(os.listdir('.'))
    for argv, message, status in cases:
        rc, out, err = run(*argv)
        check('error %s' % argv, rc == status and err.splitlines()[0] == message, (rc, err))
    os.chmod('e.png', stat.S_IRUSR | stat.S_IRGRP)
    rc, out, err = run('clear', 'e.png')
    os.chmod('e.png', stat.S_IRUSR | stat.S_IWUSR)
    check('read-only file', (rc, err) == (1, 'e.png: could not be written, file left unchanged\n'), (rc, err))
    check('errors change nothing on disk', read('e.png') == before and sorted(os.listdir('.')) == listing)


def is_old_or_new(data, old, new):
    return data == old or data == new


def test_saving():
    """What a save keeps and refuses, as a user meets it."""
    os.makedirs('photos', exist_ok=True)
    # Through a symbolic link: the link stays, the file it names changes.
    write('photos/holiday.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    os.symlink('photos/holiday.png', 'holiday.png')
    rc, out, err = run('clear', 'holiday.png')
    check('save through a link', rc == 0 and os.path.islink('holiday.png') and
          run('get', 'photos/holiday.png')[1] == b'', (rc, err))
    # The permissions stay: a private file is never made readable by others.
    for mode in (0o600, 0o644):
        write('m.png', png(texts=[(b'tEXt', b'Old', b'x')]))
        os.chmod('m.png', mode)
        rc, out, err = run('clear', 'm.png')
        check('save keeps mode %o' % mode, rc == 0 and stat.S_IMODE(os.stat('m.png').st_mode) == mode,
              (rc, err, oct(os.stat('m.png').st_mode)))
    # Long names: the temporary file's name does not add to them.
    deep = os.path.join(*(['d' * 50] * 3)) if WINE else '.'
    os.makedirs(deep, exist_ok=True)
    name = os.path.join(deep, 'n' * (250 - len(os.path.abspath(deep)) if WINE else 251) + '.png')
    write(name, png(texts=[(b'tEXt', b'Old', b'x')]))
    rc, out, err = run('clear', name)
    check('save of a long name', rc == 0 and run('get', name)[1] == b'', (rc, err))
    # A file that cannot be written is not opened in an editor.
    if os.path.exists('editor.log'):
        os.remove('editor.log')
    write('ro.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    os.chmod('ro.png', 0o444)
    rc, out, err = run('edit', 'ro.png', env={'EDITOR': editor('never', ('', []))})
    check('edit of a read-only file', rc == 1 and err.startswith('ro.png: is read-only') and
          not os.path.exists('editor.log'), (rc, err))
    if not WINE:
        test_saving_natively()
    test_killed_saves()


def test_saving_natively():
    # Past a file size limit the write fails and is reported: no signal.
    write('limit.png', big_png(1))
    before = read('limit.png')
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(PROGRAM + ['clear', 'limit.png'], stdout=out, stderr=err, preexec_fn=limit).returncode
        err.seek(0)
        check('save past ulimit -f', rc == 1 and b'file left unchanged' in err.read() and
              read('limit.png') == before and not [n for n in os.listdir('.') if '.pngc-' in n], rc)
    if os.geteuid() != 0:
        return
    # Another user whose folder does not let him create a file is told so.
    os.makedirs('closed', exist_ok=True)
    write('closed/open.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    os.chmod('closed/open.png', 0o666)
    os.chmod('.', 0o755)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(PROGRAM + ['clear', 'closed/open.png'], stdout=out, stderr=err,
                            user=5001, group=5001, extra_groups=[]).returncode
        err.seek(0)
        message = err.read().decode()
        check('folder without write permission', (rc, message) ==
              (1, 'closed/open.png: cannot create a file in closed, file left unchanged\n'), (rc, message))


def test_killed_saves(kills=4):
    """A save killed at any moment leaves the whole old or the whole new file,
    and no temporary file once the next save has run."""
    random.seed(11)
    old = big_png(64, [(b'tEXt', b'Old', b'x')])
    write('big.png', old)
    write('new.txt', b'[New]\nnew\n')
    rc, out, err = run('set', 'big.png', 'new.txt', '-o', 'expected.png')
    new = read('expected.png')
    started = time.monotonic()
    run('set', 'big.png', 'new.txt', '-o', 'timed.png')
    took = time.monotonic() - started
    for k in range(kills):
        write('big.png', old)
        with open(os.devnull, 'wb') as null:
            save = subprocess.Popen(PROGRAM + ['set', 'big.png', 'new.txt'], stdout=null, stderr=null)
            time.sleep(random.uniform(0, took))
            save.kill()
            save.wait()
        check('killed save %d leaves old or new' % k, is_old_or_new(read('big.png'), old, new))
    rc, out, err = run('set', 'big.png', 'new.txt')
    check('no temporary file left after killed saves', rc == 0 and
          not [n for n in os.listdir('.') if '.pngc-' in n], (rc, err, os.listdir('.')))


def editor(name, body):
    """An editor script that logs the file it was given, then runs `body`."""
    if WINE:
        lines = ['@echo off', 'echo %~1>>editor.log'] + body[1]
        write(name + '.cmd', '\r\n'.join(lines).encode() + b'\r\n')
        return 'cmd /c ' + name + '.cmd'  # a value with its own arguments
    write(name + '.sh', ('echo "$1" >> editor.log\n' + body[0]).encode())
    return 'sh ' + name + '.sh'


def exists(path):
    if WINE:
        path = capture(PROGRAM[:2] + ['winepath', '-u', path])[1].decode().strip()
    return os.path.exists(path)


def test_edit():
    modify = editor('modify', ("printf '[Title]\\nEdited\\n' > \"$1\"\n",
                               ['echo [Title]>"%~1"', 'echo Edited>>"%~1"']))
    same = editor('same', ('', []))
    fail = editor('fail', ("echo junk > \"$1\"\nexit 3\n", ['echo junk>"%~1"', 'exit /b 3']))
    cases = [  # (label, environment, exit status, stdout, get afterwards: None = file bytes unchanged)
        ('editor changes the text', {'EDITOR': modify}, 0, 'ed.png: written', b'[Title]\r\nEdited\r\n'),
        ('VISUAL before EDITOR', {'VISUAL': modify, 'EDITOR': fail}, 0, 'ed.png: written',
         b'[Title]\r\nEdited\r\n'),
        ('editor leaves it', {'EDITOR': same}, 0, 'ed.png: unchanged', None),
        ('editor fails', {'EDITOR': fail}, 1, '', None),
    ]
    for label, env, status, shown, text in cases:
        write('ed.png', png(texts=[(b'tEXt', b'Old', b'text')]))
        before = read('ed.png')
        if os.path.exists('editor.log'):
            os.remove('editor.log')
        rc, out, err = run('edit', 'ed.png', env=env)
        check('edit: ' + label, rc == status and out.decode() == (shown + NL if shown else ''), (rc, out, err))
        if status:
            check('edit: %s names the file' % label, err.startswith('ed.png: '), err)
        check('edit: %s result' % label, read('ed.png') == before if text is None
              else run('get', 'ed.png')[1] == text)
        given = read('editor.log').decode().split()
        check('edit: %s removes its temporary file' % label, len(given) == 1 and not exists(given[0]), given)
    # Another program changes the file while the editor is open: its change
    # stays, and the edited text is kept in the file named.
    write('other.png', png(5, 5))
    meanwhile = editor('meanwhile', ("printf '[Title]\\nEdited\\n' > \"$1\"\ncp other.png ed.png\n",
                                     ['echo [Title]>"%~1"', 'copy /y other.png ed.png >nul']))
    write('ed.png', png(texts=[(b'tEXt', b'Old', b'text')]))
    os.remove('editor.log')
    rc, out, err = run('edit', 'ed.png', env={'EDITOR': meanwhile})
    kept = err.rsplit(' ', 1)[-1].strip()
    check('edit: a change made meanwhile is kept', rc == 1 and read('ed.png') == read('other.png') and
          'changed by another program' in err, (rc, err))
    given = read('editor.log').decode().split()
    check('edit: the edited text is kept for the user', len(given) == 1 and exists(given[0]) and
          kept == given[0], (given, err))
    if given and exists(given[0]):
        os.remove(given[0] if not WINE else capture(PROGRAM[:2] + ['winepath', '-u', given[0]])[1].decode().strip())


with tempfile.TemporaryDirectory() as folder:
    os.chdir(folder)
    for test in (test_help_and_version, test_info_and_get, test_set, test_clear, test_errors, test_edit,
                 test_saving):
        count = len(failures)
        test()
        print('%s %s' % ('ok  ' if len(failures) == count else 'FAIL', test.__name__))
    os.chdir(HERE)
print('%d failed' % len(failures) if failures else 'all passed')
sys.exit(1 if failures else 0)
