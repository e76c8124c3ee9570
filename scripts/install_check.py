"""Checks of an installed Tonemirror tree: a `cmake --install` prefix or a package unpacked by dpkg -x.

layout_problems() looks at the files: the program's folder under lib/tonemirror, relative links in
bin/, manual pages, and the desktop files when the desktop program is there. cli_problems() runs the
installed tonemirror-cli through its bin/ link on a generated library, as a user who cannot write to
the program's folder, so the cache has to land in the per-user data folder.
Every check returns a list of problems in plain words; an empty list means it passed.
"""

import gzip
import importlib.machinery
import importlib.util
import json
import os
import re
import stat
import struct
import subprocess

SCRIPTS = os.path.dirname(os.path.realpath(__file__))
PROGRAM_DIR = os.path.join("lib", "tonemirror")
APP_ID = "io.github.tonemirror.Tonemirror"
PLUGINS = ("compresscodec.so", "mediacodec.so")
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
# Where an installed tree may put files, relative to the prefix.
ALLOWED_PLACES = ("bin/", PROGRAM_DIR + "/", "share/applications/", "share/metainfo/", "share/icons/hicolor/",
                  "share/man/man1/")
# Copies of one song whose audio is the very same stream: any working scan pairs all of them.
SAME_AUDIO_KINDS = ("mp3-128k", "renamed", "retagged", "untagged")
# Unprivileged account used when the check runs as root (root may write anywhere).
NOBODY = 65534


def project_version():
    with open(os.path.join(os.path.dirname(SCRIPTS), "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(Tonemirror VERSION ([0-9.]+)", f.read()).group(1)


def commands(prefix):
    """The commands this tree installs: always the CLI, the desktop program when it was built."""
    gui = os.path.exists(os.path.join(prefix, PROGRAM_DIR, "tonemirror"))
    return ["tonemirror-cli"] + (["tonemirror"] if gui else [])


def _is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def _png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def _link_problems(prefix, command):
    link = os.path.join(prefix, "bin", command)
    target = os.path.join(prefix, PROGRAM_DIR, command)
    if not os.path.islink(link):
        return [f"bin/{command} is not a symbolic link"]
    problems = []
    if os.path.isabs(os.readlink(link)):
        problems.append(f"bin/{command} points at an absolute path, which breaks in another root")
    if os.path.realpath(link) != os.path.realpath(target):
        problems.append(f"bin/{command} does not lead to {PROGRAM_DIR}/{command}")
    if not (os.path.isfile(target) and os.access(target, os.X_OK) and _is_elf(target)):
        problems.append(f"{PROGRAM_DIR}/{command} is not an executable program")
    return problems


def _man_problems(prefix, command):
    page = os.path.join(prefix, "share", "man", "man1", command + ".1.gz")
    try:
        with gzip.open(page, "rt", encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        return [f"manual page of {command}: {e}"]
    title = text.split("\n", 1)[0]
    if not title.startswith(f".TH {command.upper()} 1 ") or f'"Tonemirror {project_version()}"' not in title:
        return [f"manual page of {command} has no title line naming this version: {title}"]
    return []


def _desktop_problems(prefix):
    problems = []
    share = os.path.join(prefix, "share")
    for rel in (f"applications/{APP_ID}.desktop", f"metainfo/{APP_ID}.metainfo.xml",
                f"icons/hicolor/scalable/apps/{APP_ID}.svg"):
        if not os.path.isfile(os.path.join(share, rel)):
            problems.append(f"share/{rel} is missing")
    for size in ICON_SIZES:
        png = os.path.join(share, "icons", "hicolor", f"{size}x{size}", "apps", APP_ID + ".png")
        if not os.path.isfile(png):
            problems.append(f"the {size} px icon is missing")
        elif _png_size(png) != (size, size):
            problems.append(f"the {size} px icon is {_png_size(png)} instead")
    return problems


def _tree_problems(prefix):
    """Every link resolves inside the tree; nothing lies outside the expected places."""
    problems = []
    real_prefix = os.path.realpath(prefix)
    for folder, _, files in os.walk(prefix):
        for name in files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, prefix)
            if not rel.startswith(ALLOWED_PLACES):
                problems.append(f"unexpected file {rel}")
            if os.path.islink(path):
                resolved = os.path.realpath(path)
                if not os.path.exists(resolved) or os.path.commonpath([resolved, real_prefix]) != real_prefix:
                    problems.append(f"link {rel} does not resolve inside the tree")
    return problems


def layout_problems(prefix):
    problems = []
    for command in commands(prefix):
        problems += _link_problems(prefix, command)
        problems += _man_problems(prefix, command)
    for plugin in PLUGINS:
        path = os.path.join(prefix, PROGRAM_DIR, plugin)
        if not (os.path.isfile(path) and _is_elf(path)):
            problems.append(f"plug-in {PROGRAM_DIR}/{plugin} is missing")
    if "tonemirror" in commands(prefix):
        problems += _desktop_problems(prefix)
    return problems + _tree_problems(prefix)


def _load_summary():
    loader = importlib.machinery.SourceFileLoader("demo_summary", os.path.join(SCRIPTS, "demo-summary"))
    module_spec = importlib.util.spec_from_loader("demo_summary", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


def make_library(folder):
    """A small demo library: one song in every kind of copy, one song without copies, non-audio files."""
    subprocess.run([os.path.join(SCRIPTS, "make-demo-library"), folder, "--songs", "1", "--unrelated", "1",
                    "--seed", "5"], check=True, stdout=subprocess.DEVNULL)
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            os.chmod(os.path.join(root, name), 0o755 if name in dirs else 0o644)
    os.chmod(folder, 0o755)


class _Unprivileged:
    """Runs commands as a user who cannot write to the program's folder."""

    def __init__(self, program_folder, owned):
        self.program_folder = program_folder
        self.as_root = os.geteuid() == 0
        self.owned = owned

    def __enter__(self):
        if self.as_root:
            for path in self.owned:
                os.chown(path, NOBODY, NOBODY)
        else:
            os.chmod(self.program_folder, 0o555)
        return self

    def __exit__(self, *exc):
        if not self.as_root:
            os.chmod(self.program_folder, 0o755)

    def run(self, cmd, env):
        extra = {"user": NOBODY, "group": NOBODY, "extra_groups": []} if self.as_root else {}
        return subprocess.run(cmd, env=env, capture_output=True, text=True, errors="replace",
                              stdin=subprocess.DEVNULL, **extra)


def _first_of_kind(library, kind):
    with open(os.path.join(library, "truth.json"), encoding="utf-8") as f:
        files = json.load(f)["files"]
    return os.path.join(library, next(e["path"] for e in files if e.get("kind") == kind))


def _scan_pairs(scan_json):
    with open(scan_json, encoding="utf-8") as f:
        return json.load(f)["pairs"]


def _pair_problems(library, pairs):
    summary = _load_summary()
    _, entries = summary.load_truth(os.path.join(library, "truth.json"))
    result = summary.evaluate(entries, pairs)
    problems = [f"reported a pair that is not a copy: {r['pair']['path1']} <-> {r['pair']['path2']}"
                for r in result["false"]]
    for key in result["missed"]:
        if all(entries[k]["kind"] in SAME_AUDIO_KINDS for k in key):
            a, b = sorted(entries[k]["path"] for k in key)
            problems.append(f"missed a pair of identical recordings: {a} <-> {b}")
    if not result["found"]:
        problems.append("the scan found no duplicate at all")
    return problems


def _pair_set(pairs):
    return {(frozenset((p["path1"], p["path2"])), round(p["contentPercent"], 3), round(p["tagsPercent"], 3))
            for p in pairs}


def cli_problems(prefix, workdir, reference_cli=None):
    """Runs the installed CLI through its link and checks where the cache went and which pairs it found.
    The prefix and workdir, and the folders above them, must be open to other users."""
    os.chmod(workdir, 0o755)
    cli = os.path.join(prefix, "bin", "tonemirror-cli")
    program = os.path.join(prefix, PROGRAM_DIR)
    library = os.path.join(workdir, "library")
    data = os.path.join(workdir, "data")
    home = os.path.join(workdir, "home")
    for folder in (data, home):
        os.makedirs(folder)
    make_library(library)
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=data)
    scan_json = os.path.join(data, "scan.json")
    problems = []
    with _Unprivileged(program, (data, home)) as user:
        # A link to the link, as a user's own ~/bin entry would be: the folder is still the resolved one.
        alias = os.path.join(home, "tm")
        os.symlink(cli, alias)
        wav = _first_of_kind(library, "wav")
        info = user.run([alias, "info", wav], env)
        if info.returncode != 0 or json.loads(info.stdout).get("plugin") not in ("mediacodec", "compresscodec"):
            problems.append(f"info through a link found no plug-in: {info.stderr.strip()}")
        version = user.run([cli, "--version"], env)
        expected = f"tonemirror-cli (Tonemirror) {project_version()}"
        if version.returncode != 0 or version.stdout.splitlines()[:1] != [expected]:
            problems.append(f"--version says '{version.stdout.strip()}', expected '{expected}'")
        scan = user.run([cli, "scan", "--method", "both", "--format", "json", "--output", scan_json, "--quiet",
                         library], env)
        if scan.returncode != 0:
            return problems + [f"scan ended with status {scan.returncode}: {scan.stderr.strip()}"]
        stats = user.run([cli, "cache", "stats"], env)
    cache = os.path.join(data, "Tonemirror", "cache.dat")
    if not os.path.isfile(cache):
        problems.append(f"the cache is not in the per-user data folder ({cache})")
    if os.path.exists(os.path.join(program, "cache.dat")):
        problems.append("the cache was written into the program's folder")
    if f"location: {cache}" not in stats.stdout:
        problems.append(f"cache stats names another cache: {stats.stdout.strip()}")
    pairs = _scan_pairs(scan_json)
    problems += _pair_problems(library, pairs)
    if reference_cli:
        ref_json = os.path.join(workdir, "reference.json")
        subprocess.run([reference_cli, "scan", "--method", "both", "--format", "json", "--output", ref_json,
                        "--quiet", "--no-cache", library], check=True, stdin=subprocess.DEVNULL)
        if _pair_set(_scan_pairs(ref_json)) != _pair_set(pairs):
            problems.append(f"the installed CLI reports other pairs than {reference_cli}")
    return problems


def listing(prefix):
    """The tree as `ls -l` shows it, one line a file, links with their targets."""
    lines = []
    for folder, dirs, files in os.walk(prefix):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            info = os.lstat(path)
            rel = os.path.relpath(path, prefix)
            target = f" -> {os.readlink(path)}" if os.path.islink(path) else ""
            lines.append(f"{stat.filemode(info.st_mode)} {info.st_size:>9} {rel}{target}")
    return lines
