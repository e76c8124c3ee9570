"""Builds the demo library: synthetic songs written as several copies each (other formats, bit rates,
levels, lead-in, names and tags), a few songs without copies, a few files that are not audio, and
truth.json saying which file is a copy of which song.
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time

import demo_synth

# Bump whenever the synthesis or the layout changes, so an old library is rebuilt rather than reused.
GENERATOR_VERSION = 1

STAMP_NAME = ".tonemirror-demo.stamp"
PARTIAL_MARKER = ".tonemirror-demo.partial"
TRUTH_NAME = "truth.json"

BASE_KIND = "mp3-128k"
# Every song gets the base copy and some of these; each kind appears somewhere in the library.
COPY_KINDS = [
    "mp3-320k",
    "wav",
    "wav-lead-silence",
    "quiet-10dB",
    "mono-22k",
    "renamed",
    "retagged",
    "untagged",
]

ADJECTIVES = ["Amber", "Silent", "Electric", "Hollow", "Golden", "Paper", "Northern", "Velvet", "Broken",
              "Distant", "Neon", "Quiet", "Crimson", "Wandering", "Glass", "Lunar", "Restless", "Copper",
              "Midnight", "Faded"]
NOUNS = ["Harbour", "Lanterns", "Rivers", "Static", "Orchard", "Signals", "Tides", "Engines", "Meadows",
         "Echoes", "Streets", "Comets", "Gardens", "Mirrors", "Winter", "Horizon", "Satellites", "Bridges",
         "Foxes", "Clocks"]
# Titles with letters outside ASCII, so tags and paths carry real Unicode.
UNICODE_TITLES = ["Café Nocturne", "Über den Hügeln", "Déjà Vu Boulevard", "Smörgås Sunrise", "Niño del Mar",
                  "Ærø Ferry", "Łódź at Dawn"]
FIRST_NAMES = ["Ilse", "Tomas", "Mira", "Oskar", "Lena", "Jonah", "Ada", "Felix", "Noor", "Rafael"]
SURNAMES = ["Varga", "Lindqvist", "Okafor", "Brennan", "Moreau", "Castell", "Whitlow", "Sandoval", "Haugen"]


def _title_pool(rng, count):
    titles = set()
    pool = list(UNICODE_TITLES)
    rng.shuffle(pool)
    titles_list = []
    for i in range(count):
        if i % 4 == 1 and pool:
            title = pool.pop()
        else:
            title = None
            while title is None or title in titles:
                form = rng.randrange(3)
                if form == 0:
                    title = f"{rng.choice(ADJECTIVES)} {rng.choice(NOUNS)}"
                elif form == 1:
                    title = f"{rng.choice(NOUNS)} of {rng.choice(NOUNS)}"
                else:
                    title = f"The {rng.choice(ADJECTIVES)} {rng.choice(NOUNS)}"
        titles.add(title)
        titles_list.append(title)
    return titles_list


def _artist(rng, used):
    while True:
        if rng.random() < 0.5:
            name = f"The {rng.choice(ADJECTIVES)} {rng.choice(NOUNS)}"
        else:
            name = f"{rng.choice(FIRST_NAMES)} {rng.choice(SURNAMES)}"
        if name not in used:
            used.add(name)
            return name


def _choose_kinds(rng, songs):
    """Copy kinds per song: round-robin first, so every kind appears even in a small library, then a
    few random extras."""
    kinds = [set() for _ in range(songs)]
    order = list(COPY_KINDS)
    rng.shuffle(order)
    for i, kind in enumerate(order):
        kinds[i % songs].add(kind)
    for chosen in kinds:
        extra = rng.randint(2, 4)
        for kind in rng.sample(COPY_KINDS, len(COPY_KINDS)):
            if len(chosen) >= extra + 1:
                break
            chosen.add(kind)
    # Keep the listed order so file lists are stable.
    return [[k for k in COPY_KINDS if k in chosen] for chosen in kinds]


def _safe(name):
    """A file-name component: no separators, nothing a file system refuses."""
    return "".join("_" if c in '/\\:*?"<>|' else c for c in name).strip(" .") or "untitled"


def plan_library(seed, songs, unrelated):
    """Songs, their files and the non-audio files, without rendering anything."""
    rng = random.Random(f"{seed}:library")
    total = songs + unrelated
    variety = demo_synth.variety(seed, total)
    titles = _title_pool(rng, total * 2)
    used_artists = set()
    artists = [_artist(rng, used_artists) for _ in range(max(1, (songs + 2) // 3))]
    albums = [f"{rng.choice(ADJECTIVES)} {rng.choice(NOUNS)}" for _ in artists]
    kinds = _choose_kinds(rng, songs)

    song_list = []
    files = []
    track_numbers = {}
    for i in range(total):
        copied = i < songs
        song_id = f"s{i + 1:02d}" if copied else f"u{i - songs + 1:02d}"
        group = rng.randrange(len(artists)) if not copied else i % len(artists)
        artist = artists[group]
        album = albums[group] if copied else "Singles"
        track_numbers[album] = track_numbers.get(album, 0) + 1
        track = track_numbers[album]
        title = titles[i]
        song = {"id": song_id, "title": title, "artist": artist, "album": album, "track": track,
                "overrides": variety[i]}
        song_list.append(song)
        tags = {"title": title, "artist": artist, "album": album, "track": str(track)}
        a, t, al = _safe(artist), _safe(title), _safe(album)
        if not copied:
            if i % 2 == 0:
                files.append(_file(f"Music/{a}/Singles/{t}.mp3", song_id, "single-mp3", tags))
            else:
                files.append(_file(f"Rips/Singles/{a} - {t}.wav", song_id, "single-wav", tags))
            continue
        files.append(_file(f"Music/{a}/{al}/{track:02d} - {t}.mp3", song_id, BASE_KIND, tags))
        for kind in kinds[i]:
            if kind == "mp3-320k":
                path = f"Music/{a}/{al} (320k)/{track:02d} - {t}.mp3"
                files.append(_file(path, song_id, kind, tags))
            elif kind == "wav":
                files.append(_file(f"Rips/{al}/{track:02d} {t}.wav", song_id, kind, tags))
            elif kind == "wav-lead-silence":
                files.append(_file(f"Imports/CD {group + 1}/Track{track:02d}.wav", song_id, kind, tags))
            elif kind == "quiet-10dB":
                files.append(_file(f"Phone/Music/{a} - {t}.mp3", song_id, kind, tags))
            elif kind == "mono-22k":
                files.append(_file(f"Archive/mono 22k/{t} (mono).wav", song_id, kind, tags))
            elif kind == "renamed":
                name = rng.choice([f"track{i + 1:02d}", f"AUD-2024{i + 3:02d}{rng.randint(10, 28)}",
                                   f"New Recording {i + 1}"])
                files.append(_file(f"Downloads/{name}.mp3", song_id, kind, tags))
            elif kind == "retagged":
                new_title = titles[total + i]
                new_tags = {"title": new_title, "artist": _artist(rng, used_artists),
                            "album": f"Mixtape {2010 + i}", "track": str(rng.randint(1, 20))}
                files.append(_file(f"Shared/Mixtape {2010 + i}/{_safe(new_title)}.mp3", song_id, kind, new_tags))
            elif kind == "untagged":
                files.append(_file(f"Unsorted/{t}.mp3", song_id, kind, None))

    files.extend(_junk_files(rng, albums))
    paths = [f["path"] for f in files]
    if len(paths) != len(set(paths)):
        raise RuntimeError("demo library plan has two files with the same path")
    return song_list, files


def _file(path, song_id, kind, tags):
    return {"path": path, "song": song_id, "audio": True, "kind": kind, "tags": tags}


def _junk_files(rng, albums):
    """Files a music folder also holds: none of them decodes."""
    noise = rng.randbytes(3000)
    jpeg = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + rng.randbytes(5000) + b"\xff\xd9"
    al = _safe(albums[0])
    return [
        {"path": "Music/notes.txt", "kind": "text",
         "content": "Things to sort out:\n- find the missing tracks\n- remove duplicates\n".encode()},
        {"path": f"Rips/{al}/cover.jpg", "kind": "jpeg-bytes", "content": jpeg},
        {"path": "Downloads/broken.mp3", "kind": "random-bytes", "content": noise},
        {"path": "Downloads/readme.mp3", "kind": "text-named-mp3", "content": b"This is not a song.\n" * 20},
        {"path": "Unsorted/empty.wav", "kind": "empty", "content": b""},
    ]


def _ffmpeg_output_args(kind, tags):
    common = ["-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact"]
    meta = []
    for key, value in (tags or {}).items():
        meta += ["-metadata", f"{key}={value}"]
    # Level 7 encodes about twice as fast as the default and still sounds fine.
    mp3 = ["-c:a", "libmp3lame", "-compression_level", "7", "-id3v2_version", "3" if tags else "0"]
    wav = ["-c:a", "pcm_s16le"]
    if kind in (BASE_KIND, "retagged", "untagged", "single-mp3"):
        return common + mp3 + ["-b:a", "128k"] + meta
    if kind == "mp3-320k":
        return common + mp3 + ["-b:a", "320k"] + meta
    if kind == "quiet-10dB":
        return common + mp3 + ["-b:a", "192k", "-af", "volume=-10dB"] + meta
    if kind in ("wav", "single-wav"):
        return common + wav + meta
    if kind == "wav-lead-silence":
        return common + wav + ["-af", "adelay=2000:all=1"] + meta
    if kind == "mono-22k":
        return common + wav + ["-ac", "1", "-ar", "22050"] + meta
    raise ValueError(f"no encoding for {kind}")


def build_song(song, song_files, seed, root):
    """Renders one song and writes all its files. Runs in a worker process."""
    started = time.monotonic()
    plan = demo_synth.plan_song(song["id"], seed, song["overrides"])
    pcm = demo_synth.to_pcm16(demo_synth.render_song(plan))
    cmd = ["ffmpeg", "-nostdin", "-v", "error", "-y", "-threads", "1", "-f", "s16le", "-ar", "44100", "-ac", "2",
           "-i", "pipe:0"]
    copies = []
    for f in song_files:
        target = os.path.join(root, f["path"])
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if f["kind"] == "renamed":
            copies.append(target)
            continue
        cmd += _ffmpeg_output_args(f["kind"], f["tags"]) + [target]
    result = subprocess.run(cmd, input=pcm, capture_output=True)
    if result.returncode != 0:
        raise RuntimeError(f"ffmpeg failed for {song['id']}: {result.stderr.decode(errors='replace').strip()}")
    if copies:
        base = next(os.path.join(root, f["path"]) for f in song_files if f["kind"] == BASE_KIND)
        for target in copies:
            shutil.copyfile(base, target)
    info = {
        "seconds": round(plan.seconds, 2),
        "tempo": plan.tempo,
        "key": plan.key_name,
        "metre": f"{plan.beats_per_bar}/4",
        "drums": "none" if all(s.drums == "none" for s in plan.sections) else plan.drum_pattern,
        "instruments": {role: t.recipe for role, t in plan.timbres.items()},
        "sections": [s.kind for s in plan.sections],
    }
    return song["id"], info, time.monotonic() - started


def _quiet_interrupts():
    # Ctrl-C is reported once, by the main process; workers simply end, without a traceback each.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def _parameters(seed, songs, unrelated):
    return {"generator": GENERATOR_VERSION, "seed": seed, "songs": songs, "unrelated": unrelated}


def library_is_complete(out_dir, parameters):
    """True when out_dir holds a finished library made with these parameters and none of its files
    has gone missing or changed size."""
    try:
        with open(os.path.join(out_dir, STAMP_NAME), encoding="utf-8") as f:
            stamp = json.load(f)
        with open(os.path.join(out_dir, TRUTH_NAME), "rb") as f:
            truth_bytes = f.read()
        if stamp.get("parameters") != parameters:
            return False
        if stamp.get("truthSha256") != hashlib.sha256(truth_bytes).hexdigest():
            return False
        truth = json.loads(truth_bytes)
        for entry in truth["files"]:
            if os.path.getsize(os.path.join(out_dir, entry["path"])) != entry["bytes"]:
                return False
    except (OSError, ValueError, KeyError, TypeError):
        return False
    return True


def _is_ours(folder, marker):
    return os.path.exists(os.path.join(folder, marker))


def _prepare_work_dir(work):
    if os.path.lexists(work):
        if not (os.path.isdir(work) and _is_ours(work, PARTIAL_MARKER)):
            raise RuntimeError(f"'{work}' exists and is not an unfinished demo library; remove it first")
        shutil.rmtree(work)
    os.makedirs(work)
    with open(os.path.join(work, PARTIAL_MARKER), "w", encoding="utf-8") as f:
        f.write("unfinished demo library\n")


def generate(out_dir, songs=12, seed=1, unrelated=3, jobs=2, log=print):
    """Writes the library to out_dir (replacing an older demo library there). Returns the truth."""
    out_dir = os.path.abspath(out_dir)
    parameters = _parameters(seed, songs, unrelated)
    if os.path.lexists(out_dir):
        if not os.path.isdir(out_dir):
            raise RuntimeError(f"'{out_dir}' is not a folder")
        if os.listdir(out_dir) and not _is_ours(out_dir, STAMP_NAME):
            raise RuntimeError(f"'{out_dir}' is not empty and holds no demo library; choose another folder")
    work = out_dir.rstrip(os.sep) + ".partial"
    _prepare_work_dir(work)

    song_list, files = plan_library(seed, songs, unrelated)
    audio_count = sum(1 for f in files if f.get("audio"))
    log(f"planned {len(song_list)} songs ({songs} with copies, {unrelated} without), "
        f"{audio_count} audio files, {len(files) - audio_count} other files")

    infos = {}
    started = time.monotonic()
    pool = concurrent.futures.ProcessPoolExecutor(max_workers=max(1, jobs), initializer=_quiet_interrupts)
    try:
        futures = [
            pool.submit(build_song, song, [f for f in files if f.get("song") == song["id"]], seed, work)
            for song in song_list
        ]
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            song_id, info, seconds = future.result()
            infos[song_id] = info
            song = next(s for s in song_list if s["id"] == song_id)
            copies = sum(1 for f in files if f.get("song") == song_id)
            log(f"[{done:2d}/{len(song_list)}] {song_id} \"{song['title']}\" by {song['artist']}: "
                f"{info['seconds']:.1f} s, {info['tempo']:.0f} bpm, {info['key']}, {info['drums']}, "
                f"{copies} file{'s' if copies != 1 else ''} ({seconds:.1f} s)")
    except BaseException:
        # Interrupted or failed: do not start the songs still waiting.
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    pool.shutdown()

    for f in files:
        if not f.get("audio"):
            target = os.path.join(work, f["path"])
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(f["content"])

    truth = {
        "parameters": parameters,
        "files": [],
        "songs": [],
    }
    for f in files:
        size = os.path.getsize(os.path.join(work, f["path"]))
        if f.get("audio"):
            truth["files"].append({"path": f["path"], "song": f["song"], "audio": True, "kind": f["kind"],
                                   "tags": f["tags"], "bytes": size})
        else:
            truth["files"].append({"path": f["path"], "song": None, "audio": False, "kind": f["kind"],
                                   "bytes": size})
    for song in song_list:
        entry = {k: song[k] for k in ("id", "title", "artist", "album")}
        entry.update(infos[song["id"]])
        entry["files"] = sum(1 for f in files if f.get("song") == song["id"])
        truth["songs"].append(entry)
    truth_bytes = (json.dumps(truth, indent=2, ensure_ascii=False) + "\n").encode("utf-8")
    with open(os.path.join(work, TRUTH_NAME), "wb") as f:
        f.write(truth_bytes)
    with open(os.path.join(work, STAMP_NAME), "w", encoding="utf-8") as f:
        json.dump({"parameters": parameters, "truthSha256": hashlib.sha256(truth_bytes).hexdigest()}, f)
        f.write("\n")
    os.remove(os.path.join(work, PARTIAL_MARKER))

    if os.path.lexists(out_dir):
        shutil.rmtree(out_dir) if os.listdir(out_dir) else os.rmdir(out_dir)
    os.rename(work, out_dir)
    log(f"wrote {len(files)} files and {TRUTH_NAME} to {out_dir} in {time.monotonic() - started:.1f} s")
    return truth


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="make-demo-library",
        description="Writes a library of synthetic songs and their copies, with truth.json naming the song "
                    "each file is a copy of.")
    parser.add_argument("out_dir", metavar="OUT_DIR")
    parser.add_argument("--songs", type=int, default=12, help="songs with copies (default 12)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--unrelated", type=int, default=3, help="songs without copies (default 3)")
    parser.add_argument("--jobs", type=int, default=min(2, os.cpu_count() or 1), help="parallel songs")
    args = parser.parse_args(argv)
    if args.songs < 1 or args.unrelated < 0 or args.jobs < 1:
        parser.error("--songs and --jobs must be at least 1, --unrelated at least 0")
    if shutil.which("ffmpeg") is None:
        print("make-demo-library: the ffmpeg tool is needed", file=sys.stderr)
        return 1

    parameters = _parameters(args.seed, args.songs, args.unrelated)
    if library_is_complete(args.out_dir, parameters):
        print(f"make-demo-library: {args.out_dir} already holds this library "
              f"({args.songs} songs, seed {args.seed}); skipping")
        return 0
    try:
        generate(args.out_dir, args.songs, args.seed, args.unrelated, args.jobs,
                 log=lambda line: print(line, flush=True))
    except (RuntimeError, OSError) as e:
        print(f"make-demo-library: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("make-demo-library: interrupted; the unfinished library is removed on the next run", file=sys.stderr)
        return 130
    return 0
