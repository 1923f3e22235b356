#!/usr/bin/python3
"""Runs the pngcomment program on PNG files built here and checks its output,
its exit status and the files it leaves behind.

usage: cli_test.py --cli PATH [--wine win32|win64]   (--wine: PATH is run through scripts/wine-run)
"""
import argparse, json, os, random, re, resource, stat, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, 'support'))
import pngbytes
from pngbytes import IEND, SIGNATURE, idat, ihdr
args = argparse.ArgumentParser()
args.add_argument('--cli', required=True)
args.add_argument('--wine', choices=('win32', 'win64'))
args.add_argument('--version', required=True, help="the project's version, MAJOR.MINOR.PATCH")
opts = args.parse_args()
WINE = opts.wine is not None
PROGRAM = ([os.path.join(HERE, '..', 'scripts', 'wine-run'), opts.wine] if WINE else []) + [os.path.abspath(opts.cli)]
if WINE and subprocess.run(PROGRAM[:2] + ['--check']).returncode == 77:
    sys.exit(77)  # this machine cannot run the build's programs; wine-run said why
VERSION = tuple(int(part) for part in opts.version.split('.'))
NL = '\r\n' if WINE else '\n'  # the platform's line end for summaries and result lines
TERMINAL = 'cp1252' if WINE else 'utf-8'  # the terminal's set: Wine's code page, or C.UTF-8


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


def capture(command, stdin=b'', env=None, encoding='utf-8', preexec_fn=None):
    # Files rather than pipes: a wineserver started by the program inherits
    # its output and would hold a pipe open for seconds after it ends.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(command, input=stdin, stdout=out, stderr=err, env=env, preexec_fn=preexec_fn).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read(), err.read().decode(encoding, errors='replace').replace('\r\n', '\n')


def run(*argv, stdin=b'', env=None, **options):
    environment = {k: v for k, v in os.environ.items() if k not in ('VISUAL', 'EDITOR')}
    return capture(PROGRAM + list(argv), stdin, dict(environment, **(env or {})), **options)


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
    check('set help documents the safe input', b'byte-order mark' in out and b'becomes CR LF' in out)
    rc, out, _ = run('help', 'get')
    check('help COMMAND', rc == 0 and out.startswith(b'usage: pngcomment get'), out[:40])
    rc, out, err = run('--version')
    check('version prints its own and the description',
          rc == 0 and out.startswith(('pngcomment %d.%d.%d' % VERSION + NL).encode())
          and ('pngcomment %d.%02d: ' % VERSION[:2]).encode() in out, (rc, out, err))
    check('version names the library or its resource',
          ('file version %d.%d.%d.0' % VERSION).encode() in out if WINE else (b'libpngcomment.so' in out), out)


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
        ('empty text with --allow-empty removes the chunks', b'', False, b''),
        ('LF lines appended to CR LF ones are lines', b'[A]\r\nx\r\nmore\n[B]\ny\n', True,
         b'[A]\r\nx\r\nmore\r\n[B]\r\ny\r\n'),
        ("Notepad's byte-order mark goes", b'\xef\xbb\xbf[A]\r\nx\r\n', False, b'[A]\r\nx\r\n'),
    ]
    for label, text, from_stdin, shown in cases:
        write('s.png', png(texts=[(b'tEXt', b'Old', b'old')]))
        write('text.txt', text)
        argv = ['set', 's.png'] + ([] if from_stdin else ['text.txt']) + (['--allow-empty'] if not text else [])
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
    write('empty.txt', b'')
    with open('huge.png', 'wb') as f:  # sparse: refused by its size, never read
        f.write(SIGNATURE)
        f.truncate(2 ** 31)
    os.makedirs('folder.png', exist_ok=True)
    cases = [  # (argv, stderr, exit status)
        (['info', 'notes.txt'], 'notes.txt: not a PNG file', 1),
        (['get', 'short.png'], 'short.png: not a PNG file', 1),
        (['get', 'missing.png'], 'missing.png: cannot read', 1),
        (['info', 'folder.png'], 'folder.png: is a folder (-r reads the PNG files in it)', 1),
        (['info', 'huge.png'], 'huge.png: too large (over 2 GiB)', 1),
        (['set', 'e.png', 'missing.txt'], 'missing.txt: cannot read', 1),
        (['set', 'e.png', 'huge.png'], 'huge.png: too large (over 2 GiB)', 1),
        (['set', 'e.png', 'notes.txt', '-o', 'nodir/out.png'],
         'nodir/out.png: cannot create a file in nodir (no such folder), file left unchanged', 1),
        (['info', 'e.png', 'missing.png'], 'missing.png: cannot read', 1),
        ([], 'pngcomment: no command given', 2),
        (['frob'], "pngcomment: unknown command 'frob'", 2),
        (['edit', 'e.png', 'e.png'], 'pngcomment: edit: too many arguments', 2),
        (['set', 'e.png', 'x.txt', 'y.txt'], 'pngcomment: set: too many arguments (-k or --delete set keywords in several files)', 2),
        (['set', 'e.png', 'notes.txt', '-r'], 'pngcomment: set: -r goes with several FILEs (set: with -k or --delete)', 2),
        (['set', '--json', 'a.json', '-k', 'A=b'], 'pngcomment: set: --json and -k or --delete exclude each other', 2),
        (['clear', 'e.png', '-'], 'pngcomment: clear: FILE - goes alone (its PNG is written to standard output)', 2),
        (['edit', '-'], 'pngcomment: edit: edit needs a file, not standard input', 2),
        (['set', 'e.png', 'f.png', '-k', 'A=b', '-o', 'out.png'], 'pngcomment: set: -o takes one FILE', 2),
        (['set', 'e.png', 'notes.txt'] + ['-o'], 'pngcomment: set: -o needs a file name', 2),
        (['set', 'e.png', 'empty.txt'], "empty.txt: empty text; to remove every text chunk use 'pngcomment clear' (or --allow-empty)", 1),
        (['set', 'e.png', 'e.png'], 'e.png: is a PNG file, not a comment text; nothing written', 1),
        (['set', 'e.png', '-k', 'Bad=a\n[x]'], 'e.png: -k Bad: the line "[x]" would start a section of its own; nothing written', 1),
        (['set', 'e.png', '-k', 'Bad=a\n'], 'e.png: -k Bad: a line feed at the start or end of the text would be lost; nothing written', 1),
        (['get', '-k', 'Missing', 'e.png'], 'e.png: no text chunk with the keyword Missing', 1),
        (['get', '--charset', 'no-such-set', 'e.png'], "pngcomment: unknown character set 'no-such-set'", 1),
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
    check('read-only file', (rc, err) == (
        1, 'e.png: could not be written (read-only, or not writable by you), file left unchanged\n'), (rc, err))
    check('errors change nothing on disk', read('e.png') == before and sorted(os.listdir('.')) == listing)


def text_raw(data):
    """The raw bytes of each tEXt and zTXt chunk, in order."""
    return [raw for kind, _, raw in pngbytes.chunks(data) if kind in (b'tEXt', b'zTXt')]


def test_keywords():
    """set -k / --delete edit single keywords; every other section keeps its chunk's bytes."""
    base = png(texts=[(b'tEXt', b'Title', b'Old'), (b'zTXt', b'Raw profile type exif', b'\nexif\n  12\n'),
                      (b'tEXt', b'Title', b'Second'), (b'tEXt', b'Author', b'Someone')])
    profile = text_raw(base)[1]
    cases = [  # (label, set arguments, stdin, get afterwards)
        ('one keyword in place, its other sections go', ['-k', 'Title=Sunset'], b'',
         b'[Title]\r\nSunset\r\n<Raw profile type exif>\r\n\r\nexif\r\n  12\r\n\r\n[Author]\r\nSomeone\r\n'),
        ('a new keyword goes last, --compressed makes zTXt', ['-k', 'New=a\n\nb', '--compressed'], b'',
         b'[Title]\r\nOld\r\n<Raw profile type exif>\r\n\r\nexif\r\n  12\r\n\r\n[Title]\r\nSecond\r\n'
         b'[Author]\r\nSomeone\r\n<New>\r\na\r\n\r\nb\r\n'),
        ('from standard input, with deletions', ['-k', 'Author', '-', '--delete', 'Title'], b'Me\n',
         b'<Raw profile type exif>\r\n\r\nexif\r\n  12\r\n\r\n[Author]\r\nMe\r\n'),
    ]
    for label, argv, stdin, shown in cases:
        write('k.png', base)
        rc, out, err = run('set', 'k.png', *argv, stdin=stdin)
        check('set -k: ' + label, (rc, out) == (0, ('k.png: written' + NL).encode()), (rc, out, err))
        check('set -k: %s, result' % label, run('get', 'k.png')[1] == shown, run('get', 'k.png')[1])
        check('set -k: %s, the profile keeps its bytes' % label, profile in text_raw(read('k.png')))
    rc, out, err = run('get', '-k', 'Title', 'k.png')
    write('k.png', base)
    rc, out, err = run('get', '-k', 'Title', '-k', 'Author', 'k.png')
    check('get -k prints the texts alone', (rc, out) == (0, ('Old' + NL + 'Second' + NL + 'Someone' + NL).encode()),
          (rc, out, err))


def test_streams_and_json():
    """Several files, standard input and output, and --json beside exiftool's."""
    write('a.png', png(7, 5, [(b'tEXt', b'Title', b'A'), (b'zTXt', b'Note', b'x\ny')]))
    write('b.png', png(2, 9, [(b'tEXt', b'Caf\xe9', b'cr\xe8me')]))
    rc, out, err = run('get', 'a.png', 'b.png')
    check('get of several files marks each', rc == 0 and out == (
        '==> a.png <==' + NL).encode() + b'[Title]\r\nA\r\n<Note>\r\nx\r\ny\r\n' +
        (NL + '==> b.png <==' + NL).encode() + b'[Caf\xe9]\r\ncr\xe8me\r\n', (rc, out, err))
    rc, out, err = run('get', '-', stdin=read('b.png'))
    check('get - reads standard input', (rc, out) == (0, b'[Caf\xe9]\r\ncr\xe8me\r\n'), (rc, out, err))
    rc, out, err = run('set', 'a.png', '-k', 'Title=B', '-o', '-')
    check('set -o - writes standard output', rc == 0 and out[:8] == SIGNATURE and
          [t for t in text_raw(out)] == [pngbytes.text(b'Title', b'B')] + text_raw(read('a.png'))[1:], (rc, err))
    rc, out, err = run('clear', 'a.png', '-o', '-')
    check('clear -o - writes standard output', rc == 0 and text_raw(out) == [] and out[:8] == SIGNATURE, (rc, err))
    rc, out, err = run('info', '--json', 'a.png', 'b.png', 'missing.png')
    records = json.loads(out)
    check('--json: one record per file, an error for a missing one', rc == 1 and
          [r['SourceFile'] for r in records] == ['a.png', 'b.png', 'missing.png'] and 'Error' in records[2], out)
    check('--json: texts in file order, decoded as Latin-1', records[0]['Texts'] == [
        {'keyword': 'Title', 'type': 'tEXt', 'text': 'A'}, {'keyword': 'Note', 'type': 'zTXt', 'text': 'x\ny'}] and
          records[1]['Texts'] == [{'keyword': 'Caf\xe9', 'type': 'tEXt', 'text': 'cr\xe8me'}], records)
    exif = subprocess.run(['exiftool', '-j', '-FileSize#', '-PNG:all', 'a.png', 'b.png'], capture_output=True).stdout
    for ours, theirs in zip(records, json.loads(exif)):
        tags = [t for t in theirs if t not in ('SourceFile', 'FileSize')] + ['SourceFile', 'FileSize']
        check('--json has every tag as exiftool -json has it', all(ours.get(t) == theirs[t] for t in tags),
              (ours, theirs))
    rc, out, err = run('get', '--json', '-k', 'Note', 'a.png')
    check('get --json -k', json.loads(out)[0]['Texts'] == [{'keyword': 'Note', 'type': 'zTXt', 'text': 'x\ny'}], out)


def test_reading_as_chunks_lie():
    """A file is read chunk by chunk, its image data passed over; get, info
    and --json give what the whole file, read from standard input, gives."""
    chunk = pngbytes.chunk
    itxt = chunk(b'iTXt', b'Title\0\0\0fr\0Titre\0Caf\xc3\xa9')
    head = SIGNATURE + ihdr(64, 64, colour=2) + pngbytes.text(b'A', b'a')
    layouts = {
        '8 KiB IDATs': head + b''.join(chunk(b'IDAT', os.urandom(8192)) for _ in range(200)) +
                       pngbytes.ztxt(b'Z', b'z') + itxt + IEND,
        '1 MiB IDATs': head + b''.join(chunk(b'IDAT', os.urandom(1 << 20)) for _ in range(3)) + itxt + IEND,
        'texts among the data': head + chunk(b'IDAT', b'x' * 70000) + pngbytes.text(b'B', b'b') +
                                chunk(b'IDAT', b'y' * 10) + IEND,
        'cut short at the end': head + chunk(b'IDAT', b'x' * 100) + pngbytes.text(b'C', b'cut')[:-3],
        'a broken length': head + chunk(b'IDAT', b'x' * 100) + b'\x80\0\0\0tEXtC\0c' + IEND,
    }
    for label, data in layouts.items():
        write('layout.png', data)
        for argv in (['get'], ['info'], ['get', '--json']):
            by_chunks = run(*argv, 'layout.png')
            whole = run(*argv, '-', stdin=data)
            same = by_chunks[0] == whole[0] and (
                by_chunks[1].replace(b'layout.png', b'standard input') == whole[1])
            check('%s: %s as the whole file' % (label, ' '.join(argv)), same, (by_chunks, whole))


def test_charsets_times_and_itxt():
    latin = png(texts=[(b'tEXt', b'Title', b'Gr\xfc\xdfe')])
    write('l.png', latin)
    if WINE:  # the terminal's set is the system's code page (1252 here)
        cases = [(['get', '--charset', 'latin1', 'l.png'], 0, b'[Title]\r\nGr\xfc\xdfe\r\n', ''),
                 (['get', '--charset', 'shift_jis', 's.png'], 1, b'', 'line 2 holds a character')]
        write('s.png', png(texts=[(b'tEXt', b'K', '\u65e5\u672c'.encode('shift_jis'))]))
    else:
        cases = [(['get', '--charset', 'latin1', 'l.png'], 0, '[Title]\r\nGr\xfc\xdfe\r\n'.encode(), ''),
                 (['get', '--charset', 'latin1', '-k', 'Title', 'l.png'], 0, 'Gr\xfc\xdfe\n'.encode(), ''),
                 (['set', 'l.png', '--charset', 'latin1', '-k', 'Title=Caf\xe9'], 0, b'l.png: written\n', ''),
                 (['set', 'l.png', '--charset', 'shift_jis', '-k', 'Title=ok\n\u00e9'], 1, b'',
                  'line 2 holds a character that cannot be converted')]
    for argv, status, out_want, err_want in cases:
        rc, out, err = run(*argv, env={'LC_ALL': 'C.UTF-8'})
        check('--charset %s' % argv, rc == status and out == out_want and err_want in err, (rc, out, err))
    if not WINE:
        check('--charset: stored as Latin-1', b'Title\0Caf\xe9' in read('l.png'))
        check('--charset: a refusal writes nothing', b'ok' not in read('l.png'))
    # -P keeps the modification time; clear leaves a file without text alone.
    for argv in (['set', 't.png', '-k', 'A=b', '-P'], ['clear', '-P', 't.png']):
        write('t.png', png(texts=[(b'tEXt', b'A', b'a')]))
        os.utime('t.png', (1000000000, 1000000000))
        rc, out, err = run(*argv)
        check('-P keeps the time: %s' % argv[0], rc == 0 and os.stat('t.png').st_mtime == 1000000000, (rc, err))
    write('plain.png', png())
    os.utime('plain.png', (1000000000, 1000000000))
    rc, out, err = run('clear', 'plain.png')
    check('clear of a file without text writes nothing', (rc, out) == (
        0, ('plain.png: no text chunks, nothing written' + NL).encode()) and
          os.stat('plain.png').st_mtime == 1000000000, (rc, out, err))


def exiftool_tags(name):
    return json.loads(subprocess.run(['exiftool', '-j', name], capture_output=True).stdout)[0]


def test_international_text():
    """iTXt chunks, as exiftool writes a value outside ASCII, are texts like the others for -k, --delete,
    clear and --json; the plug-in shows the tEXt and zTXt alone."""
    from PIL import Image
    write('base.png', png(texts=[(b'tEXt', b'Author', b'Me')]))
    subprocess.run(['exiftool', '-q', '-PNG:Title=Caf\u00e9', '-o', 'i.png', 'base.png'], check=True)
    itxt = [body for kind, body, _ in pngbytes.chunks(read('i.png')) if kind == b'iTXt']
    check('exiftool wrote an iTXt', len(itxt) == 1, itxt)
    rc, out, err = run('get', 'i.png')
    check('get: the comment text, the iTXt said', rc == 0 and b'Caf' not in out and
          err == 'i.png: 1 iTXt chunk (international text) kept unchanged, not shown\n', (rc, out, err))
    rc, out, err = run('get', '-k', 'Title', 'i.png', env={'LC_ALL': 'C.UTF-8'} if not WINE else None)
    check('get -k shows an iTXt in the terminal\'s set',
          (rc, out) == (0, ('Caf\u00e9' + NL).encode('cp1252' if WINE else 'utf-8')), (rc, out, err))
    # Pillow: the iTXt with its language, as set -k leaves it.
    info = __import__('PIL.PngImagePlugin', fromlist=['PngInfo']).PngInfo()
    info.add_itxt('Title', 'Titre', lang='fr', tkey='Titel')
    Image.new('RGB', (2, 2)).save('lang.png', pnginfo=info)
    for name in ('i.png', 'lang.png'):
        rc, out, err = run('set', name, '-k', 'Title=Other')
        texts = [(kind, body) for kind, body, _ in pngbytes.chunks(read(name)) if kind in (b'tEXt', b'zTXt', b'iTXt')]
        titles = [body for kind, body in texts if body.startswith(b'Title\0')]
        check('set -k changes the iTXt where it lives: %s' % name, rc == 0 and len(titles) == 1 and
              texts[[b for _, b in texts].index(titles[0])][0] == b'iTXt' and titles[0].endswith(b'\0Other'), texts)
        check('exiftool and Pillow read the new value: %s' % name,
              exiftool_tags(name).get('Title' if name == 'i.png' else 'Title-fr') == 'Other' and
              Image.open(name).text.get('Title') == 'Other', (exiftool_tags(name), Image.open(name).text))
    check('the language and translated keyword stay', b'Title\0\0\0fr\0Titel\0Other' in read('lang.png'))
    shown = subprocess.run(['identify', '-format', '%[Author]', 'i.png'], capture_output=True).stdout
    check('ImageMagick (which reads no iTXt) reads the file and its tEXt', shown == b'Me', shown)
    # New texts as iTXt: asked for, or outside ISO-8859-1 where that is the set.
    rc, out, err = run('set', 'i.png', '--international', '--compressed', '-k', 'Zipped=\u65e5\u672c',
                       '--charset', 'latin1', '-k', 'Plain=caf\u00e9', '-k', 'Wide=\u65e5\u672c',
                       env={'LC_ALL': 'C.UTF-8'} if not WINE else None)
    kinds = {body.split(b'\0')[0]: kind for kind, body, _ in pngbytes.chunks(read('i.png'))}
    if not WINE:  # the command line's set under Wine is cp1252, which holds no 日本
        check('--international, and ISO-8859-1 that cannot hold the value, make iTXt', rc == 0 and
              (kinds.get(b'Zipped'), kinds.get(b'Plain'), kinds.get(b'Wide')) == (b'iTXt', b'iTXt', b'iTXt'),
              (rc, err, kinds))
        tags = exiftool_tags('i.png')
        check('exiftool reads the new iTXt', (tags.get('Zipped'), tags.get('Wide')) == ('\u65e5\u672c',) * 2, tags)
    rc, out, err = run('get', '--json', 'i.png')
    record = json.loads(out)[0]
    check('--json shows the iTXt as a tag and in Texts', record.get('Title') == 'Other' and
          {'keyword': 'Title', 'type': 'iTXt', 'text': 'Other', 'language': '', 'translatedKeyword': '',
           'compressed': False} in record['Texts'], record)
    rc, out, err = run('set', 'i.png', '--delete', 'Title')
    check('--delete removes the iTXt', rc == 0 and 'Title' not in exiftool_tags('i.png'), (rc, err))
    rc, out, err = run('clear', 'i.png')
    check('clear removes every iTXt', rc == 0 and not [k for k, _, _ in pngbytes.chunks(read('i.png'))
                                                       if k in (b'tEXt', b'zTXt', b'iTXt')], (rc, err))


def test_many_files_and_folders():
    """set -k and clear take many files, and -r folders; one line a file, in order; 1 when any failed."""
    for name in ('m1.png', 'm2.png', 'm3.png'):
        write(name, png(texts=[(b'tEXt', b'Title', b'old')]))
    write('notes.txt', b'hello\n')
    rc, out, err = run('set', 'm1.png', 'notes.txt', 'm2.png', 'missing.png', 'm3.png', '-k', 'Title=new')
    check('set -k on many files: each written, each failure named', rc == 1 and
          out.decode().splitlines() == ['m1.png: written', 'm2.png: written', 'm3.png: written'] and
          err.splitlines() == ['notes.txt: not a PNG file', 'missing.png: cannot read'], (rc, out, err))
    check('set -k on many files: the new value in each',
          all(run('get', '-k', 'Title', n)[1] == b'new' + NL.encode() for n in ('m1.png', 'm2.png', 'm3.png')))
    rc, out, err = run('set', 'm1.png', os.path.join('.', 'm1.png'), '-k', 'Title=twice')
    check('a file named twice is saved once', (rc, out) == (0, ('m1.png: written' + NL).encode()), (rc, out, err))
    run('set', 'm1.png', '-k', 'Title=new')
    rc, out, err = run('set', 'm1.png', 'm2.png', '-k', 'Title=new')
    check('set -k of the value a file has leaves it', (rc, out) == (0, ('m1.png: unchanged' + NL +
                                                                      'm2.png: unchanged' + NL).encode()), out)
    os.makedirs(os.path.join('tree', 'sub'), exist_ok=True)
    os.makedirs(os.path.join('tree', '.hidden'), exist_ok=True)
    for name in (os.path.join('tree', 'b.png'), os.path.join('tree', 'sub', 'a.dat'),
                 os.path.join('tree', '.hidden', 'h.png'), os.path.join('tree', 'a.png')):
        write(name, png(texts=[(b'tEXt', b'Title', b'old')]))
    write(os.path.join('tree', 'sub', 'notes.png'), b'not a PNG')
    sep = '\\' if WINE else '/'  # the system's own, joining the folder given and what is in it
    found = ['tree%sa.png' % sep, 'tree%sb.png' % sep, 'tree%ssub%sa.dat' % (sep, sep)]
    rc, out, err = run('set', '-r', 'tree', '-k', 'Title=deep')
    check('set -r: the PNG files below, by signature, dot folders passed over', rc == 0 and
          out.decode().splitlines() == ['%s: written' % n for n in found], (rc, out, err))
    rc, out, err = run('get', '-k', 'Title', os.path.join('tree', '.hidden', 'h.png'))
    check('set -r: a dot folder is left', out == ('old' + NL).encode(), out)
    rc, out, err = run('clear', 'tree')
    check('a folder without -r is refused', rc == 1 and err == 'tree: is a folder (-r reads the PNG files in it)\n',
          (rc, err))
    rc, out, err = run('clear', '-r', 'tree')
    check('clear -r', rc == 0 and out.decode().splitlines() == ['%s: cleared' % n for n in found], (rc, out, err))
    rc, out, err = run('info', '--json', '-r', 'tree')
    check('info -r', [r['SourceFile'] for r in json.loads(out)] == found, out)


def test_pipes_and_json_round_trip():
    """FILE - in, -o - out; get --json, an edit in any JSON tool, set --json."""
    write('p.png', png(texts=[(b'tEXt', b'Title', b'A'), (b'tEXt', b'Warning', b'w')]))
    rc, out, err = run('set', '-', '-k', 'Title=B', '-o', '-', stdin=read('p.png'))
    check('set - -o - through a pipe', rc == 0 and text_chunks_of(out)[0] == (b'tEXt', b'Title', b'B'), (rc, err))
    rc, out, err = run('clear', '-', stdin=read('p.png'))
    check('clear - writes standard output', rc == 0 and out[:8] == SIGNATURE and not text_chunks_of(out), (rc, err))
    if not WINE:
        import pty
        main, secondary = pty.openpty()
        rc = subprocess.run(PROGRAM + ['clear', 'p.png', '-o', '-'], stdout=secondary, stderr=subprocess.PIPE)
        os.close(main)
        os.close(secondary)
        check('a PNG is not written to a terminal', rc.returncode == 1 and b'is a terminal' in rc.stderr, rc)
    rc, out, err = run('get', '--json', 'p.png')
    title = subprocess.run(['jq', '-r', '.[0].Title, .[0].PNGWarning'], input=out, capture_output=True).stdout
    check("a script's jq '.[0].Title'", title == b'A\nw\n', title)
    records = json.loads(out)
    records[0]['Title'] = 'Edited \u00e9'
    records[0]['PNGWarning'] = None
    records[0]['Added'] = 'new'
    rc, out, err = run('set', '--json', '-', stdin=json.dumps(records).encode())
    check('set --json: written', (rc, out) == (0, ('p.png: written' + NL).encode()), (rc, out, err))
    check('set --json: the tags applied', text_chunks_of(read('p.png')) == [
        (b'tEXt', b'Title', b'Edited \xe9'), (b'tEXt', b'Added', b'new')], text_chunks_of(read('p.png')))
    rc, out, err = run('get', '--json', 'p.png')
    rc, out, err = run('set', '--json', '-', stdin=out)
    check('set --json of what get --json printed changes nothing', (rc, out) == (0, ('p.png: unchanged' + NL).encode()),
          (rc, out, err))
    records = json.loads(run('get', '--json', 'p.png')[1])
    records[0]['Texts'][1]['text'] = 'via Texts'
    records.append({'SourceFile': 'missing.png', 'Title': 'x'})
    rc, out, err = run('set', '--json', '-', stdin=json.dumps(records).encode())
    check('set --json: Texts applied, a failing file named', rc == 1 and 'missing.png: cannot read' in err and
          text_chunks_of(read('p.png'))[1] == (b'tEXt', b'Added', b'via Texts'), (rc, err))


def text_chunks_of(data):
    """(type, keyword, text) of each tEXt chunk, and of each zTXt inflated."""
    out = []
    for kind, body, _ in pngbytes.chunks(data):
        if kind in (b'tEXt', b'zTXt'):
            keyword, _, rest = body.partition(b'\0')
            out.append((kind, keyword, rest if kind == b'tEXt' else __import__('zlib').decompress(rest[1:])))
    return out


def test_text_by_its_character_set():
    """The lead-byte rule only for text in a double-byte set; the host works
    on chunks, not on the rendered text."""
    utf8 = {'LC_ALL': 'C.UTF-8'}
    # Sections are never merged: an LF after a byte that would be a Shift_JIS
    # lead byte is a line end in Latin-1 and UTF-8 text.
    cases = [
        ('latin1, converted', ['--charset', 'latin1'], '[Title]\nCafé\n[Author]\nRenée\n'.encode(TERMINAL),
         [(b'tEXt', b'Title', b'Caf\xe9'), (b'tEXt', b'Author', b'Ren\xe9e')]),
        ('latin1, raw', [], b'[Title]\nCaf\xe9\n[Author]\nRen\xe9e\n',
         [(b'tEXt', b'Title', b'Caf\xe9'), (b'tEXt', b'Author', b'Ren\xe9e')]),
        ('UTF-8 ending in 0x91', [], '[Title]\nő\n[Author]\nā\n'.encode(),
         [(b'tEXt', b'Title', 'ő'.encode()), (b'tEXt', b'Author', 'ā'.encode())]),
    ]
    for label, argv, text, chunks in cases:
        write('m.png', png())
        rc, out, err = run('set', 'm.png', *argv, stdin=text, env=utf8)
        check('no merged sections: ' + label, rc == 0 and text_chunks_of(read('m.png')) == chunks,
              (rc, err, text_chunks_of(read('m.png'))))
    if WINE:
        return  # Japanese terminals under Wine: test_saving_under_wine
    # A Japanese line that ends in "]" as a second byte (転: 0x93 0x5D).
    memo_key, memo = 'メモ'.encode('shift_jis'), '[重要] 会議室を移転\n詳細は後日'.encode('shift_jis')
    sjis = ['--charset', 'shift_jis']
    write('j.png', png(texts=[(b'tEXt', memo_key, memo), (b'tEXt', b'Other', b'o')]))
    rc, out, err = run('get', '-k', 'メモ', *sjis, 'j.png', env=utf8)
    check('Japanese: get -k', (rc, out) == (0, '[重要] 会議室を移転\n詳細は後日\n'.encode()), (rc, out, err))
    rc, out, err = run('get', '--json', *sjis, 'j.png', env=utf8)
    check('Japanese: --json', rc == 0 and json.loads(out)[0]['Texts'][0]['text'] == '[重要] 会議室を移転\n詳細は後日',
          (rc, out, err))
    rc, out, err = run('set', 'j.png', *sjis, '-k', 'Other=p', env=utf8)
    check('Japanese: set -k keeps the other chunk whole', rc == 0 and text_chunks_of(read('j.png')) == [
        (b'tEXt', memo_key, memo), (b'tEXt', b'Other', b'p')], (rc, err, text_chunks_of(read('j.png'))))
    rc, out, err = run('set', 'j.png', *sjis, '--delete', 'メモ', env=utf8)
    check('Japanese: --delete', rc == 0 and text_chunks_of(read('j.png')) == [(b'tEXt', b'Other', b'p')],
          (rc, err, text_chunks_of(read('j.png'))))
    # A round trip through a set that maps two codes to one character
    # (code page 932: ED40 and FA5C are both U+7E8A) keeps the bytes.
    write('r.png', png(texts=[(b'tEXt', b'K', b'\xed\x40'), (b'zTXt', b'Z', b'\xfa\x5c')]))
    before = read('r.png')
    rc, shown, err = run('get', '--charset', 'cp932', 'r.png', env=utf8)
    rc2, out, err2 = run('set', 'r.png', '-', '--charset', 'cp932', stdin=shown, env=utf8)
    check('--charset round trip keeps unedited chunks', (rc, rc2) == (0, 0) and
          text_chunks_of(read('r.png')) == text_chunks_of(before) and
          [raw for kind, _, raw in pngbytes.chunks(read('r.png')) if kind in (b'tEXt', b'zTXt')] ==
          [raw for kind, _, raw in pngbytes.chunks(before) if kind in (b'tEXt', b'zTXt')], (err, err2))


def test_every_failure_names_its_cause():
    write('ok.png', png(texts=[(b'tEXt', b'A', b'a')]))
    write('notes.txt', b'hello\n')
    write('cut.png', png(texts=[(b'tEXt', b'A', b'a')])[:-6])
    write('noihdr.png', SIGNATURE + pngbytes.text(b'A', b'a') + IEND)
    # The same outcome, with and without --json: the cause, and exit 1.
    for argv, cause in ((['get', '-k', 'Nope', 'ok.png'], 'no text chunk with the keyword Nope'),
                        (['get', 'notes.txt'], 'not a PNG file')):
        rc, out, err = run(*argv)
        rcj, outj, errj = run(argv[0], '--json', *argv[1:])
        record = json.loads(outj)[0]
        check('%s: cause and status alike' % argv, rc == rcj == 1 and cause in err and
              record.get('Error') == cause, (rc, err, rcj, outj))
    # get -k converts the keyword as set does.
    write('l.png', png(texts=[(b'tEXt', b'Caf\xe9', b'cr\xe8me')]))
    rc, out, err = run('get', '--charset', 'latin1', '-k', 'Café', 'l.png', env={'LC_ALL': 'C.UTF-8'})
    check('get -k converts the keyword', (rc, out) == (0, ('crème' + NL).encode(TERMINAL)), (rc, out, err))
    # --delete of a missing keyword writes nothing.
    before = read('ok.png')
    rc, out, err = run('set', 'ok.png', '--delete', 'NoSuch')
    check('--delete of a missing keyword', rc == 1 and 'no text chunk with that keyword; nothing written' in err
          and read('ok.png') == before, (rc, err))
    # A file cut short is read with a warning; one without IHDR keeps its text.
    rc, out, err = run('get', 'cut.png')
    check('a file cut short', rc == 0 and 'warning: cut short' in err, (rc, err))
    rc, out, err = run('get', '--json', 'cut.png')
    check('a file cut short, in JSON', rc == 0 and 'cut short' in json.loads(out)[0].get('Warning', ''), out)
    before = read('noihdr.png')
    rc, out, err = run('set', 'noihdr.png', '-k', 'A=b')
    check('set refuses a file without IHDR', rc == 1 and 'no IHDR chunk' in err and read('noihdr.png') == before,
          (rc, err))


def test_peers_read_keyword_edits():
    """After set -k on files that exiftool, ImageMagick and Pillow made, each reads the new value and the others."""
    from PIL import Image
    from PIL.PngImagePlugin import PngInfo
    Image.new('RGB', (4, 4), (10, 20, 30)).save('base.png')
    info = PngInfo()
    info.add_text('Title', 'Old')
    info.add_text('Author', 'Someone')
    info.add_text('Description', 'line one\nline two', zip=True)
    Image.open('base.png').save('pil.png', pnginfo=info)
    made = [
        subprocess.run(['exiftool', '-q', '-PNG:Title=Old', '-PNG:Author=Someone', '-o', 'exif.png', 'base.png']),
        subprocess.run(['convert-im6.q16', 'base.png', '-set', 'Title', 'Old', '-set', 'Author', 'Someone', 'im.png']),
    ]
    check('peers made their files', all(p.returncode == 0 for p in made))
    for name in ('pil.png', 'exif.png', 'im.png'):
        rc, out, err = run('set', name, '-k', 'Title=New title', '-k', 'Added=yes')
        check('set -k on %s' % name, rc == 0, (rc, err))
        with Image.open(name) as image:
            image.load()
            texts = dict(image.text)
        check('Pillow reads %s' % name, texts.get('Title') == 'New title' and texts.get('Author') == 'Someone' and
              texts.get('Added') == 'yes', texts)
        tags = json.loads(subprocess.run(['exiftool', '-j', name], capture_output=True).stdout)[0]
        check('exiftool reads %s' % name, (tags.get('Title'), tags.get('Author'), tags.get('Added')) ==
              ('New title', 'Someone', 'yes'), tags)
        shown = subprocess.run(['identify', '-format', '%[Title]|%[Author]|%[Added]', name], capture_output=True)
        check('ImageMagick reads %s' % name, shown.stdout == b'New title|Someone|yes', shown)
    with Image.open('pil.png') as image:
        image.load()
        check('Pillow keeps the untouched zTXt', image.text.get('Description') == 'line one\nline two')


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
    check('edit of a read-only file', rc == 1 and err.startswith('ro.png: could not be written (read-only') and
          not os.path.exists('editor.log'), (rc, err))
    test_refusals_and_leftovers()
    if WINE:
        test_saving_under_wine()
    else:
        test_saving_natively()
    test_killed_saves()


def test_saving_under_wine():
    # Killed past a file size limit (Wine cannot ignore SIGXFSZ for a
    # Windows program): the file stays, and no temporary file.
    write('limit.png', big_png(1, [(b'tEXt', b'K', b'v')]))
    before = read('limit.png')
    rc, out, err = run('set', 'limit.png', '-k', 'K=w',
                       preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536)))
    check('killed past ulimit -f', rc != 0 and read('limit.png') == before and
          not [n for n in os.listdir('.') if '.pngc-' in n], (rc, err))
    # Japanese Windows: code page 932, in which the second byte of 表 (0x95
    # 0x5C) is a backslash. Folders and files whose names end in such a
    # character are found, swept and named whole.
    if 'ja_JP.utf8' not in subprocess.run(['locale', '-a'], capture_output=True, text=True).stdout:
        print('skipped: code page 932 needs the ja_JP.UTF-8 locale (scripts/install-deps makes it)')
        return
    japanese = {'LC_ALL': 'ja_JP.UTF-8'}
    os.makedirs('表示', exist_ok=True)
    write('表示/表.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    write('表示/.pngc-00000000000000aa.tmp', b'left by a killed save')
    os.utime('表示/.pngc-00000000000000aa.tmp', (1000000000, 1000000000))
    rc, out, err = run('clear', '表示/表.png', env=japanese, encoding='cp932')
    check('code page 932: a save in 表示, and its sweep', rc == 0 and os.listdir('表示') == ['表.png'] and
          not [n for n in os.listdir('.') if '.pngc-' in n], (rc, err, os.listdir('表示')))
    rc, out, err = run('set', '表示/表.png', '-k', 'A=b', '-o', '保護/十.png', env=japanese, encoding='cp932')
    check('code page 932: messages name folders whole',
          err == '保護/十.png: cannot create a file in 保護 (no such folder), file left unchanged\n', err)
    # Near MAX_PATH, whatever the name's last character: the temporary file's
    # longer path is no obstacle.
    deep = '長' * 40
    while 2 + len(os.path.abspath(os.path.join(deep, 'x' * 50))) < 248:
        deep = os.path.join(deep, 'x' * 50)
    os.makedirs(deep, exist_ok=True)
    for last in ('表', '真'):
        name = os.path.join(deep, 'n' * (252 - 2 - len(os.path.abspath(deep)) - 5) + last + '.png')
        write(name, png(texts=[(b'tEXt', b'Old', b'x')]))
        rc, out, err = run('clear', name, env=japanese, encoding='cp932')
        check('code page 932: a path of 252 characters ending in %s' % last,
              rc == 0 and run('get', name, env=japanese)[1] == b'', (rc, err))


def test_refusals_and_leftovers():
    """What a save refuses, says and leaves behind, natively and under Wine."""
    os.makedirs('shared', exist_ok=True)
    # A link planted under a temporary file's name is never followed, nor
    # removed; the file it names stays.
    write('thesis.txt', b'years of work')
    os.utime('thesis.txt', (1000000000, 1000000000))
    for name in ('.pngc-fffffffffffffffc.tmp', '.pngc-wfffc-1.tmp'):
        os.symlink(os.path.abspath('thesis.txt'), os.path.join('shared', name))
    write('shared/photo.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    rc, out, err = run('clear', 'shared/photo.png')
    check('a planted link leads the sweep nowhere', rc == 0 and os.path.exists('thesis.txt') and
          read('thesis.txt') == b'years of work' and
          sorted(os.listdir('shared')) == ['.pngc-fffffffffffffffc.tmp', '.pngc-wfffc-1.tmp', 'photo.png'],
          (rc, err, os.listdir('shared')))
    # A link to nowhere is refused, and nothing is made where it points.
    os.symlink('nowhere/missing.png', 'dangling.png')
    rc, out, err = run('set', 'shared/photo.png', '-k', 'A=b', '-o', 'dangling.png')
    check('a link to nowhere', (rc, err) == (1, 'dangling.png: could not be written (a symbolic link to a missing '
                                              'file), file left unchanged\n') and os.path.islink('dangling.png')
          and not os.path.exists('nowhere'), (rc, err))
    # An edit the save does not take is kept, and its file named.
    write('kept.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    spoil = editor('spoil', ("printf '[Title]\\nEdited\\n' > \"$1\"\nchmod 444 kept.png\n",
                             ['echo [Title]>"%~1"', 'attrib +r kept.png']))
    rc, out, err = run('edit', 'kept.png', env={'EDITOR': spoil})
    os.chmod('kept.png', 0o644)
    kept = err.rsplit(' ', 1)[-1].strip()
    check('edit keeps a text the save refused', rc == 1 and 'the edited text is kept in' in err and
          exists(kept), (rc, err))
    if WINE:
        return
    # Reading from a terminal after the image is loaded: another program's
    # change meanwhile, a save included, is never overwritten.
    import pty
    for label, argv, then in (
            ('set FILE -', ['set', 'c.png', '-'], lambda: write('c.png', png(5, 5))),
            ('set FILE -o OUT', ['set', 'c.png', '-', '-o', 'c.png'], lambda: write('c.png', png(5, 5)))):
        write('c.png', png(texts=[(b'tEXt', b'Old', b'x')]))
        main, secondary = pty.openpty()
        with tempfile.TemporaryFile() as err_file:
            waiting = subprocess.Popen(PROGRAM + argv, stdin=secondary, stdout=subprocess.DEVNULL, stderr=err_file)
            os.close(secondary)
            for _ in range(200):  # the prompt comes once the image is read
                time.sleep(0.05)
                err_file.seek(0)
                if b'until end of file' in err_file.read():
                    break
            then()
            changed = read('c.png')
            os.write(main, b'typed\n')
            while waiting.poll() is None:  # Ctrl-D on a line of its own, until it is taken
                time.sleep(0.1)
                os.write(main, b'\x04')
            rc = waiting.returncode
            err_file.seek(0)
            message = err_file.read().decode()
        os.close(main)
        check('%s: a change meanwhile stays' % label, rc == 1 and read('c.png') == changed and
              'c.png: changed by another program meanwhile, nothing written' in message, (rc, message))
    # A reader that goes away leaves no temporary file behind.
    os.makedirs('private-tmp', exist_ok=True)
    write('b.png', big_png(8, [(b'tEXt', b'K', b'v')]))
    subprocess.run(' '.join("'%s'" % p for p in PROGRAM) + " clear b.png -o - 2>/dev/null | head -c 8 >/dev/null",
                   shell=True, env=dict(os.environ, TMPDIR=os.path.abspath('private-tmp')))
    check('a closed pipe leaves no temporary file', os.listdir('private-tmp') == [], os.listdir('private-tmp'))


def test_saving_natively():
    # Past a file size limit the write fails and is reported: no signal.
    write('limit.png', big_png(1, [(b'tEXt', b'K', b'v')]))
    before = read('limit.png')
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(PROGRAM + ['clear', 'limit.png'], stdout=out, stderr=err, preexec_fn=limit).returncode
        err.seek(0)
        check('save past ulimit -f', rc == 1 and b'file left unchanged' in err.read() and
              read('limit.png') == before and not [n for n in os.listdir('.') if '.pngc-' in n], rc)
    if os.geteuid() != 0:
        return
    test_refusals_as_root()
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
              (1, 'closed/open.png: cannot create a file in closed (permission denied), file left unchanged\n'),
              (rc, message))


def test_refusals_as_root():
    """Another user's file, a full disk, a system without /proc: each refusal
    says why; what can be saved is."""
    # An edit that the save would refuse is not opened.
    write('theirs.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    os.chown('theirs.png', 5000, 5000)
    os.chmod('theirs.png', 0o664)
    os.chmod('.', 0o777)
    if os.path.exists('editor.log'):
        os.remove('editor.log')
    with tempfile.TemporaryFile() as err:
        rc = subprocess.run(PROGRAM + ['edit', 'theirs.png'], stderr=err, stdout=subprocess.DEVNULL,
                            env=dict(os.environ, EDITOR=editor('never', ('', []))),
                            user=5001, group=5001, extra_groups=[5000]).returncode
        err.seek(0)
        message = err.read().decode()
    check('edit of a file whose owner a save cannot keep', (rc, message) == (
        1, 'theirs.png: could not be written (owned by another user), not opened for editing\n') and
          not os.path.exists('editor.log'), (rc, message))
    # A full disk.
    os.makedirs('small', exist_ok=True)
    if subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=64k', 'tmpfs', 'small']).returncode == 0:
        write('small/full.png', SIGNATURE + ihdr(1, 1) + pngbytes.chunk(b'IDAT', os.urandom(40000)) + IEND)
        rc, out, err = run('set', 'small/full.png', '-k', 'K=v')
        listing = os.listdir('small')
        subprocess.run(['umount', 'small'])
        check('a full disk', (rc, err) == (1, 'small/full.png: could not be written (no space left on device), '
                                              'file left unchanged\n') and listing == ['full.png'], (rc, err))
    # No /proc (a chroot, some containers): the program finds its plug-in,
    # and the save its way.
    write('p.png', png(texts=[(b'tEXt', b'Old', b'x')]))
    hidden = subprocess.run(['unshare', '-m', 'sh', '-c', 'mount --make-rprivate / && umount -l /proc && '
                             'exec "$0" "$@"'] + PROGRAM + ['set', 'p.png', '-k', 'Old=y'], capture_output=True)
    # LeakSanitizer cannot run without /proc, and reads its options from there.
    check('saves without /proc', (hidden.returncode == 0 or b'LeakSanitizer' in hidden.stderr) and
          hidden.stdout == b'p.png: written\n' and run('get', '-k', 'Old', 'p.png')[1] == b'y\n', hidden)


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
                 test_saving, test_keywords, test_streams_and_json, test_reading_as_chunks_lie,
                 test_charsets_times_and_itxt, test_text_by_its_character_set,
                 test_every_failure_names_its_cause,
                 test_peers_read_keyword_edits, test_international_text, test_many_files_and_folders,
                 test_pipes_and_json_round_trip):
        count = len(failures)
        test()
        print('%s %s' % ('ok  ' if len(failures) == count else 'FAIL', test.__name__))
    os.chdir(HERE)
print('%d failed' % len(failures) if failures else 'all passed')
sys.exit(1 if failures else 0)
