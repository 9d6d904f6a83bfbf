"""Build backend for `pip install .` (PEP 517), standard library only.

    pip install .                        # build with CMake and install
    pip install --no-build-isolation .   # the same, without a build environment
    pip wheel . -w dist                  # the wheel only

The wheel is built for the interpreter that runs the backend: CMake is
configured with -DPYTHON=sys.executable in a fresh temporary directory, and
`cmake --install` lays out what lands in site-packages: the five modules,
instrbind.py and the type stubs at the top, and the instrsim package, whose
folder holds the simulated driver libraries and their core.  The modules bind
their drivers by name: the vendor's where the loader finds it, the simulated
ones when instrsim has loaded them first.
On Linux the wheel's platform tag says where it runs: manylinux_2_NN_<arch> when
the libraries ask for no newer glibc and libstdc++ than that tag's reference
system has (Python 3 wheels), else the plain linux_<arch>.

Settings, as `pip ... --config-settings KEY=VALUE` or from the environment:

    build-dir   INSTRBIND_BUILD_DIR    keep the CMake build there (rebuilds are quicker)
    cmake-args  INSTRBIND_CMAKE_ARGS   more CMake options, e.g. -DVISA_LIBRARY=/path/libvisa.so
    jobs        INSTRBIND_JOBS         parallel compile jobs (default: the processor count)

Needs cmake, a C++20 compiler and the interpreter's headers (Debian: cmake g++
python3-dev).  Works on Python 2.7 and 3.
"""
from __future__ import print_function

import base64
import hashlib
import io
import os
import platform
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

def _from_instrbind(*names):
    # binding/instrbind.py (the source's, whatever instrbind is imported) holds them once
    path = os.path.join(ROOT, 'binding', 'instrbind.py')
    space = {'__name__': 'instrbind_source', '__file__': path}
    with open(path) as f:
        exec(compile(f.read(), path, 'exec'), space)
    return [space[n] for n in names]


MODULES, _elf_sections = _from_instrbind('MODULES', '_elf_sections')
GENERATOR = 'instrbind build_backend'


def ext_suffix():
    """This interpreter's extension module suffix (.cpython-311-x86_64-linux-gnu.so; .so on 2.7)."""
    return sysconfig.get_config_var('EXT_SUFFIX') or sysconfig.get_config_var('SO')
SKIP_DIRS = {'.git', 'build', 'dist', '__pycache__', '.hypothesis', '.pytest_cache', '.mypy_cache'}


class BuildError(Exception):
    pass


# ---- project metadata (pyproject.toml [project]) -------------------------------------

def _toml_string(text):
    text = text.strip()
    if len(text) >= 2 and text[0] == text[-1] and text[0] in '"\'':
        body = text[1:-1]
        if text[0] == '"':
            body = re.sub(r'\\(["\\])', r'\1', body)
        return body
    raise BuildError('pyproject.toml: only plain strings and string lists are read '
                     'in [project], got %r' % text)


def project():
    """The [project] table: string values and lists of strings (what this file uses)."""
    with io.open(os.path.join(ROOT, 'pyproject.toml'), encoding='utf-8') as f:
        lines = f.read().splitlines()
    table, out, pending = None, {}, None
    for line in lines:
        line = line.split(' #')[0].strip() if not line.lstrip().startswith('#') else ''
        if not line:
            continue
        if pending is not None:                      # inside a multi-line list
            key, items = pending
            if line.startswith(']'):
                out[key] = items
                pending = None
            else:
                items.extend(_toml_string(x) for x in line.rstrip(',').split(',') if x.strip())
            continue
        if line.startswith('['):
            table = line.strip('[] ')
            continue
        if table != 'project' or '=' not in line:
            continue
        key, value = [x.strip() for x in line.split('=', 1)]
        if value == '[':
            pending = (key, [])
        elif value.startswith('['):
            inner = value.strip('[]').strip()
            out[key] = [_toml_string(x) for x in inner.split(',') if x.strip()]
        else:
            out[key] = _toml_string(value)
    for key in ('name', 'version'):
        if key not in out:
            raise BuildError('pyproject.toml: [project] needs %s' % key)
    return out


def _dist_name(meta):
    return re.sub(r'[-_.]+', '_', meta['name']).lower()


def _dist_info(meta):
    return '%s-%s.dist-info' % (_dist_name(meta), meta['version'].replace('-', '_'))


def metadata_text(meta):
    lines = ['Metadata-Version: 2.1', 'Name: ' + meta['name'], 'Version: ' + meta['version']]
    if meta.get('description'):
        lines.append('Summary: ' + meta['description'])
    if meta.get('requires-python'):
        lines.append('Requires-Python: ' + meta['requires-python'])
    for c in meta.get('classifiers', []):
        lines.append('Classifier: ' + c)
    body = ''
    readme = meta.get('readme')
    if readme and os.path.isfile(os.path.join(ROOT, readme)):
        lines.append('Description-Content-Type: ' +
                     ('text/markdown' if readme.endswith('.md') else 'text/plain'))
        with io.open(os.path.join(ROOT, readme), encoding='utf-8') as f:
            body = '\n' + f.read()
    return '\n'.join(lines) + '\n' + body


# ---- wheel tag ---------------------------------------------------------------------------

def wheel_tag():
    """(python, abi, platform) of the running interpreter, e.g. cp311, cp311, linux_x86_64."""
    if platform.python_implementation() != 'CPython':
        raise BuildError('the modules are CPython extensions; this is %s'
                         % platform.python_implementation())
    py = 'cp%d%d' % sys.version_info[:2]
    soabi = sysconfig.get_config_var('SOABI') or ''
    if soabi.startswith('cpython-'):
        abi = 'cp' + soabi.split('-')[1]             # cp311, cp313t, cp37m, cp311d
    else:                                            # 2.7 has no SOABI
        abi = py + ('d' if hasattr(sys, 'gettotalrefcount') else '')
        if sysconfig.get_config_var('WITH_PYMALLOC') in (1, None):
            abi += 'm'
        if sys.maxunicode == 0x10FFFF:
            abi += 'u'
    plat = re.sub(r'[-.]', '_', sysconfig.get_platform())
    if plat == 'linux_x86_64' and sys.maxsize <= 2 ** 32:
        plat = 'linux_i686'                          # 32-bit interpreter on a 64-bit kernel
    return py, abi, plat


# ---- where the wheel runs (Linux) -----------------------------------------------------------

# The system libraries a manylinux wheel may link, and per manylinux tag the
# newest symbol versions its reference system has (glibc, and the libstdc++
# and libgcc_s of that system's compiler: CentOS 7, AlmaLinux 9).  A wheel
# whose libraries ask for no more runs on every Linux with that glibc or later.
SYSTEM_LIBS = {'libc.so.6', 'libm.so.6', 'libdl.so.2', 'librt.so.1', 'libpthread.so.0',
               'libstdc++.so.6', 'libgcc_s.so.1', 'ld-linux-x86-64.so.2', 'ld-linux.so.2'}
MANYLINUX = [
    ((2, 17), {'GLIBC': (2, 17), 'GLIBCXX': (3, 4, 19), 'CXXABI': (1, 3, 7), 'GCC': (4, 8, 0)}),
    ((2, 34), {'GLIBC': (2, 34), 'GLIBCXX': (3, 4, 29), 'CXXABI': (1, 3, 13), 'GCC': (7, 0, 0)}),
]


def elf_needs(path):
    """(libraries, versions) an ELF shared library asks the dynamic loader for:
    its DT_NEEDED names, and the newest version it needs of each family
    ({'GLIBC': (2, 34), 'GLIBCXX': (3, 4, 29), ...}).  None if not ELF."""
    import struct
    with open(path, 'rb') as f:
        data = f.read()
    if data[:4] != b'\x7fELF' or data[5:6] != b'\x01':          # little-endian only
        return None
    wide, sections = _elf_sections(data)

    def text(table, at):
        start = sections[table][1] + at
        return data[start:data.index(b'\0', start)].decode('ascii', 'replace')

    libraries, versions = [], {}
    for kind, offset, size, link in sections:
        if kind == 6:                                  # SHT_DYNAMIC: DT_NEEDED entries
            step = 16 if wide else 8
            for at in range(offset, offset + size, step):
                tag, value = struct.unpack_from('<qQ' if wide else '<iI', data, at)
                if tag == 0:
                    break
                if tag == 1:
                    libraries.append(text(link, value))
        elif kind == 0x6ffffffe:                       # SHT_GNU_verneed
            need = offset
            while True:
                count, aux, following = struct.unpack_from('<HxxxxII', data, need + 2)
                entry = need + aux
                for _ in range(count):
                    name, step = struct.unpack_from('<II', data, entry + 8)
                    family, _, number = text(link, name).partition('_')
                    if number[:1].isdigit():
                        version = tuple(int(x) for x in re.findall(r'\d+', number))
                        versions[family] = max(versions.get(family, version), version)
                    entry += step
                if not following:
                    break
                need += following
    return libraries, versions


def linux_platform(prefix, files, plat):
    """The platform tag the installed files truly satisfy: manylinux_2_NN_<arch>
    when they link only our own and baseline system libraries and need no newer
    versions than a manylinux reference system has, else `plat` unchanged.
    A library the wheel carries (a simulated driver, in instrsim/) counts as
    its own.  Returns (tag, what the libraries need, for messages)."""
    needs, outside = {}, set()
    carried = set(name.rsplit('/', 1)[-1] for name in files)
    for name in files:
        found = elf_needs(os.path.join(prefix, name)) if name.endswith('.so') else None
        if found is None:
            continue
        libraries, versions = found
        outside.update(l for l in libraries if l not in SYSTEM_LIBS and l not in carried)
        for family, version in versions.items():
            needs[family] = max(needs.get(family, version), version)
    wants = ', '.join('%s_%s' % (f, '.'.join(str(x) for x in needs[f]))
                      for f in ('GLIBC', 'GLIBCXX', 'CXXABI') if f in needs)
    if not plat.startswith('linux_') or 'GLIBC' not in needs or outside:
        return plat, wants or 'no glibc symbol versions'
    for glibc, newest in MANYLINUX:
        if all(family in newest and version <= newest[family] for family, version in needs.items()):
            return 'manylinux_%d_%d_%s' % (glibc + (plat[len('linux_'):],)), wants
    return plat, wants


def installed_tag(prefix, files, tag, verbose=False):
    """The wheel tag with the platform the built files satisfy (Python 3 only:
    pip 19, the last here for 2.7, installs no manylinux_2_NN wheel)."""
    py, abi, plat = tag
    if not plat.startswith('linux_'):
        return tag
    found, wants = linux_platform(prefix, files, plat)
    if sys.version_info[0] < 3:
        found = plat
    if verbose:
        print('instrbind: the libraries need %s; wheel platform %s' % (wants, found), file=sys.stderr)
    return py, abi, found


def wheel_text(tag):
    return ('Wheel-Version: 1.0\nGenerator: %s\nRoot-Is-Purelib: false\nTag: %s\n'
            % (GENERATOR, '-'.join(tag)))


# ---- building ----------------------------------------------------------------------------

def _setting(config, key, env):
    value = (config or {}).get(key)
    if isinstance(value, list):                      # pip passes repeated keys as a list
        value = ' '.join(value)
    return value if value not in (None, '') else os.environ.get(env) or None


def _run(cmd, stage):
    # pip -v shows the hook's output as it comes: one line per stage, then CMake's own progress.
    print('instrbind: %s for Python %d.%d ...' % ((stage,) + sys.version_info[:2]), file=sys.stderr)
    print('+ ' + ' '.join(cmd), file=sys.stderr)
    sys.stderr.flush()
    try:
        out = sys.stderr.fileno()            # pip shows the hook's stderr on failure
    except (AttributeError, ValueError, io.UnsupportedOperation):
        out = None
    try:
        rc = subprocess.call(cmd, stdout=out)
    except OSError as e:
        raise BuildError('cannot run %s (%s); on Debian: apt-get install cmake g++ python3-dev'
                         % (cmd[0], e))
    if rc != 0:
        raise BuildError('%s failed with exit code %d' % (' '.join(cmd[:3]), rc))


def cmake_install(config, prefix):
    """Configure, build and install into `prefix`; returns the files installed."""
    build_dir = _setting(config, 'build-dir', 'INSTRBIND_BUILD_DIR')
    temporary = build_dir is None
    build_dir = tempfile.mkdtemp(prefix='instrbind-build-') if temporary else os.path.abspath(build_dir)
    jobs = _setting(config, 'jobs', 'INSTRBIND_JOBS') or str(_cpu_count())
    extra = shlex.split(_setting(config, 'cmake-args', 'INSTRBIND_CMAKE_ARGS') or '')
    try:
        _run(['cmake', '-S', ROOT, '-B', build_dir, '-DPYTHON=' + sys.executable,
              '-DCMAKE_BUILD_TYPE=Release'] + extra, 'configuring')
        _run(['cmake', '--build', build_dir, '--parallel', jobs],
             'compiling (%s parallel jobs; about 2 minutes on one core)' % jobs)
        _run(['cmake', '--install', build_dir, '--prefix', prefix], 'installing')
        files = _installed(prefix)
        _check(prefix, files, build_dir)
        return files
    finally:
        if temporary:
            shutil.rmtree(build_dir, ignore_errors=True)


def _installed(prefix):
    """Files under `prefix`, as '/'-separated relative paths: the top-level
    files, the instrsim package and the stub-only packages
    (_photonbay-stubs/__init__.pyi, ...)."""
    out = []
    for top, dirs, names in os.walk(prefix):
        rel = os.path.relpath(top, prefix).replace(os.sep, '/')
        out.extend(n if rel == '.' else rel + '/' + n for n in names)
    return sorted(out)


def _cpu_count():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        import multiprocessing
        return multiprocessing.cpu_count()


SIM_PACKAGE = ('instrsim/__init__.py', 'instrsim/__main__.py', 'instrsim/libinstrsim.so', 'instrsim/bench.json')


def _check(prefix, files, build_dir):
    for name in ('instrbind.py',) + SIM_PACKAGE:
        if name not in files:
            raise BuildError('%s was not installed' % name)
    # Nothing the loader searches on its own may hold a simulated driver.
    beside = [f for f in files if '/' not in f and f.startswith('lib') and '.so' in f]
    if beside:
        raise BuildError('libraries beside the modules, where the loader would find them: ' + ', '.join(beside))
    built = [m for m in MODULES if m + ext_suffix() in files]
    if not built:
        raise BuildError('no module was built')
    missing = [m for m in MODULES if m not in built]
    if missing:
        print('note: modules without sources, not in the wheel: ' + ', '.join(missing),
              file=sys.stderr)
    # A build directory reused from before the install rules can keep its
    # build RUNPATH; the wheel must not depend on the build directory.
    stale = ('$ORIGIN:' + build_dir).encode('utf-8')
    for name in files:
        if name.endswith('.so'):
            with open(os.path.join(prefix, name), 'rb') as f:
                if stale in f.read():
                    raise BuildError('%s still has the build RUNPATH; remove %s and build again'
                                     % (name, build_dir))


# ---- writing archives ----------------------------------------------------------------------

def _timestamp():
    epoch = int(os.environ.get('SOURCE_DATE_EPOCH', 315532800))   # 1980-01-01
    return time.gmtime(max(epoch, 315532800))[:6]


def _digest(data):
    return 'sha256=' + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode('ascii')


class _Wheel(object):
    def __init__(self, path, dist_info):
        self.zip = zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED)
        self.dist_info = dist_info
        self.records = []
        self.when = _timestamp()

    def add(self, name, data, executable=False):
        info = zipfile.ZipInfo(name, self.when)
        info.external_attr = (0o100755 if executable else 0o100644) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        self.zip.writestr(info, data)
        self.records.append('%s,%s,%d' % (name, _digest(data), len(data)))

    def close(self):
        record = self.dist_info + '/RECORD'
        text = '\n'.join(self.records + [record + ',,']) + '\n'
        info = zipfile.ZipInfo(record, self.when)
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        self.zip.writestr(info, text.encode('utf-8'))
        self.zip.close()


def _write_metadata(directory, meta, tag):
    dist_info = os.path.join(directory, _dist_info(meta))
    if not os.path.isdir(dist_info):
        os.makedirs(dist_info)
    for name, text in (('METADATA', metadata_text(meta)), ('WHEEL', wheel_text(tag))):
        with io.open(os.path.join(dist_info, name), 'wb') as f:
            f.write(text.encode('utf-8'))
    return os.path.basename(dist_info)


# ---- PEP 517 hooks -------------------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory, project(), wheel_tag())


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    meta, tag = project(), wheel_tag()
    prefix = tempfile.mkdtemp(prefix='instrbind-wheel-')
    try:
        files = cmake_install(config_settings, prefix)
        return write_wheel(wheel_directory, prefix, files, meta, installed_tag(prefix, files, tag, True))
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


def write_wheel(wheel_directory, prefix, files, meta, tag):
    """The wheel of the files installed in `prefix` ('/'-separated paths);
    returns its file name."""
    dist_info = _dist_info(meta)
    name = '%s-%s-%s.whl' % (_dist_name(meta), meta['version'].replace('-', '_'), '-'.join(tag))
    if not os.path.isdir(wheel_directory):
        os.makedirs(wheel_directory)
    wheel = _Wheel(os.path.join(wheel_directory, name), dist_info)
    try:
        for f in files:
            path = os.path.join(prefix, *f.split('/'))
            if not os.path.isfile(path):
                raise BuildError('unexpected directory in the install tree: ' + f)
            with open(path, 'rb') as src:
                wheel.add(f, src.read(), executable=f.endswith('.so'))
        wheel.add(dist_info + '/METADATA', metadata_text(meta).encode('utf-8'))
        wheel.add(dist_info + '/WHEEL', wheel_text(tag).encode('utf-8'))
    finally:
        wheel.close()
    return name


def _wanted(path):
    parts = path.split('/')
    return not (any(p in SKIP_DIRS or p.endswith('.egg-info') for p in parts[:-1]) or
                parts[-1].endswith(('.pyc', '.pyo')))


def _source_files():
    """Files of the source tree: git's view (tracked and not ignored) when it
    has one, less build output and caches."""
    if os.path.isdir(os.path.join(ROOT, '.git')):
        try:
            with open(os.devnull, 'w') as null:
                out = subprocess.check_output(['git', '-C', ROOT, 'ls-files', '-z', '--cached',
                                               '--others', '--exclude-standard'], stderr=null)
            names = sorted(set(n for n in out.decode('utf-8').split('\0') if n))
            return [n for n in names if _wanted(n) and os.path.isfile(os.path.join(ROOT, n))]
        except (OSError, subprocess.CalledProcessError):
            pass
    out = []
    for top, dirs, names in os.walk(ROOT):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.endswith('.egg-info'))
        rel = os.path.relpath(top, ROOT).replace(os.sep, '/')
        out.extend(n if rel == '.' else rel + '/' + n for n in sorted(names))
    return [n for n in out if _wanted(n)]


def build_sdist(sdist_directory, config_settings=None):
    meta = project()
    base = '%s-%s' % (_dist_name(meta), meta['version'])
    if not os.path.isdir(sdist_directory):
        os.makedirs(sdist_directory)
    path = os.path.join(sdist_directory, base + '.tar.gz')
    epoch = os.environ.get('SOURCE_DATE_EPOCH')
    mtime = int(epoch) if epoch else None

    def member(info):
        info.uid = info.gid = 0
        info.uname = info.gname = ''
        if mtime is not None:
            info.mtime = mtime
        return info

    tar = tarfile.open(path, 'w:gz', format=tarfile.PAX_FORMAT)
    try:
        for name in _source_files():
            if name == 'PKG-INFO':
                continue
            tar.add(os.path.join(ROOT, name), arcname=base + '/' + name,
                    recursive=False, filter=member)
        data = metadata_text(meta).encode('utf-8')
        info = member(tarfile.TarInfo(base + '/PKG-INFO'))
        info.size, info.mode = len(data), 0o644
        info.mtime = mtime if mtime is not None else time.time()
        tar.addfile(info, io.BytesIO(data))
    finally:
        tar.close()
    return os.path.basename(path)


def _main(argv):
    """python tools/build_backend.py wheel|sdist [DIR]: the hooks without pip."""
    if len(argv) < 2 or argv[1] not in ('wheel', 'sdist'):
        print('usage: %s wheel|sdist [output dir]' % argv[0], file=sys.stderr)
        return 2
    out = argv[2] if len(argv) > 2 else os.path.join(ROOT, 'dist')
    try:
        name = (build_wheel if argv[1] == 'wheel' else build_sdist)(out)
    except BuildError as e:
        print('error: %s' % e, file=sys.stderr)
        return 1
    print(os.path.join(out, name))
    return 0


if __name__ == '__main__':
    sys.exit(_main(sys.argv))
