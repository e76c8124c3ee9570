"""Synthetic songs for the demo library.

A song is planned from a seed (key, scale, tempo, instruments, sections, melodies) and then rendered to
44100 Hz stereo float samples with numpy. Songs differ on purpose in everything a content fingerprint
sees: the overall spectral tilt and brightness, the instrument mix, drum sounds and patterns, and how
the level and texture change from section to section.
"""

import math
import random
from dataclasses import dataclass

import numpy as np

SAMPLE_RATE = 44100
TABLE_SIZE = 4096

SCALES = {
    "major": [0, 2, 4, 5, 7, 9, 11],
    "natural minor": [0, 2, 3, 5, 7, 8, 10],
    "dorian": [0, 2, 3, 5, 7, 9, 10],
    "mixolydian": [0, 2, 4, 5, 7, 9, 10],
    "phrygian": [0, 1, 3, 5, 7, 8, 10],
    "lydian": [0, 2, 4, 6, 7, 9, 11],
    "harmonic minor": [0, 2, 3, 5, 7, 8, 11],
    "major pentatonic": [0, 2, 4, 7, 9],
    "minor pentatonic": [0, 3, 5, 7, 10],
    "blues": [0, 3, 5, 6, 7, 10],
}

NOTE_NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]

# Drum grids, one character per sixteenth note ("x" hit, "o" accent/open, "." rest).
DRUM_PATTERNS_4 = {
    "rock": {"kick": "x.......x.x.....", "snare": "....x.......x...", "hat": "x.x.x.x.x.x.x.x."},
    "four on the floor": {"kick": "x...x...x...x...", "snare": "....x.......x...", "hat": "..o...o...o...o."},
    "breakbeat": {"kick": "x.........x..x..", "snare": "....x..x.x..x...", "hat": "x.xxx.x.x.xxx.x."},
    "half time": {"kick": "x.....x.........", "snare": "........x.......", "hat": "x.x.x.x.x.x.x.x."},
    "bossa": {"kick": "x..x..x.x..x..x.", "snare": "..x..x....x..x..", "hat": "xxxxxxxxxxxxxxxx"},
    "shuffle": {"kick": "x.....x.x.......", "snare": "....x.......x..x", "hat": "x..xx..xx..xx..x"},
}
DRUM_PATTERNS_3 = {
    "waltz": {"kick": "x...........", "snare": "....x...x...", "hat": "x.x.x.x.x.x."},
    "six eight": {"kick": "x.....x.....", "snare": "......x.....", "hat": "x.xx.xx.xx.x"},
}

SECTION_FORMS = [
    ["intro", "verse", "chorus", "verse", "chorus", "bridge", "chorus", "outro"],
    ["intro", "verse", "verse", "chorus", "breakdown", "chorus", "outro"],
    ["verse", "chorus", "verse", "chorus", "chorus"],
    ["intro", "chorus", "breakdown", "verse", "chorus", "outro"],
    ["intro", "verse", "bridge", "chorus", "verse", "chorus", "outro"],
]

# Relative level and instruments of each section kind; plans vary them further per song.
SECTION_KINDS = {
    "intro": {"gain": 0.45, "parts": {"pad", "lead"}, "drums": "light"},
    "verse": {"gain": 0.7, "parts": {"bass", "pad", "lead"}, "drums": "light"},
    "chorus": {"gain": 1.0, "parts": {"bass", "pad", "lead", "arp"}, "drums": "full"},
    "bridge": {"gain": 0.6, "parts": {"pad", "arp", "bass"}, "drums": "none"},
    "breakdown": {"gain": 0.5, "parts": {"bass", "arp"}, "drums": "full"},
    "outro": {"gain": 0.5, "parts": {"pad", "lead"}, "drums": "light"},
}


@dataclass
class Timbre:
    """A tone recipe: harmonic amplitudes for a bright and a dark table, and an envelope."""

    recipe: str
    rolloff: float
    max_harmonics: int
    formant_hz: float
    attack: float
    decay: float
    sustain: float
    release: float
    brightness_decay: float  # seconds for the bright table to fade into the dark one (0 = stays bright)
    vibrato: float  # depth as a frequency ratio
    unison: int
    detune_cents: float
    octave: int
    level: float
    pan: float


@dataclass
class DrumKit:
    kick_start_hz: float
    kick_end_hz: float
    kick_decay: float
    snare_tone_hz: float
    snare_noise_low_hz: float
    snare_noise_high_hz: float
    snare_decay: float
    hat_low_hz: float
    hat_decay: float
    use_clap: bool
    level: float


@dataclass
class Section:
    kind: str
    bars: int
    gain: float
    parts: set
    drums: str  # "none", "light" or "full"
    motif: list  # (step, length in steps, scale degree) for two bars
    progression: list  # chord roots as scale degrees, one per bar


@dataclass
class SongPlan:
    song_id: str
    seed: int
    tempo: float
    beats_per_bar: int
    root_midi: int
    scale_name: str
    drum_pattern: str
    timbres: dict
    kit: DrumKit
    sections: list
    bass_style: str
    arp_style: str
    tilt: float
    lowpass_hz: float
    drive: float
    seconds: float = 0.0

    @property
    def key_name(self):
        return NOTE_NAMES[self.root_midi % 12] + " " + self.scale_name

    @property
    def steps_per_bar(self):
        return self.beats_per_bar * 4

    @property
    def step_seconds(self):
        return 60.0 / self.tempo / 4.0

    @property
    def bar_seconds(self):
        return self.step_seconds * self.steps_per_bar


def _timbre(rng, role):
    recipes = {
        "lead": ["saw", "square", "nasal", "organ", "soft", "fm"],
        "pad": ["saw", "organ", "soft", "hollow", "nasal"],
        "bass": ["soft", "saw", "square", "fm"],
        "arp": ["pluck", "square", "bell", "fm", "nasal"],
    }[role]
    recipe = rng.choice(recipes)
    if role == "pad":
        env = (rng.uniform(0.2, 0.8), rng.uniform(0.3, 1.0), rng.uniform(0.6, 0.9), rng.uniform(0.4, 1.2))
    elif role == "arp":
        env = (0.003, rng.uniform(0.08, 0.3), rng.uniform(0.0, 0.3), rng.uniform(0.05, 0.2))
    elif role == "bass":
        env = (rng.uniform(0.003, 0.02), rng.uniform(0.1, 0.4), rng.uniform(0.4, 0.8), rng.uniform(0.05, 0.15))
    else:
        env = (rng.uniform(0.005, 0.08), rng.uniform(0.1, 0.5), rng.uniform(0.4, 0.85), rng.uniform(0.08, 0.3))
    octave = {"lead": rng.choice([0, 1, 1, 2]), "pad": rng.choice([0, 1]), "bass": rng.choice([-2, -1]),
              "arp": rng.choice([1, 2])}[role]
    pan = {"lead": rng.uniform(-0.3, 0.3), "pad": 0.0, "bass": 0.0, "arp": rng.uniform(-0.6, 0.6)}[role]
    level = {"lead": 0.30, "pad": 0.16, "bass": 0.42, "arp": 0.14}[role] * rng.uniform(0.7, 1.3)
    return Timbre(
        recipe=recipe,
        rolloff=rng.uniform(0.7, 2.6),
        max_harmonics=rng.choice([6, 10, 16, 28, 48]),
        formant_hz=math.exp(rng.uniform(math.log(500), math.log(4000))),
        attack=env[0],
        decay=env[1],
        sustain=env[2],
        release=env[3],
        brightness_decay=rng.choice([0.0, 0.15, 0.4, 1.2]) if role != "pad" else 0.0,
        vibrato=rng.choice([0.0, 0.0, 0.003, 0.006]) if role == "lead" else 0.0,
        unison=rng.choice([1, 2, 3]) if role in ("pad", "lead") else 1,
        detune_cents=rng.uniform(4, 14),
        octave=octave,
        level=level,
        pan=pan,
    )


def _motif(rng, steps_per_bar, scale_len, density):
    """Two bars of melody: onsets on a sixteenth grid, pitches as a random walk over scale degrees."""
    notes = []
    step = 0
    degree = rng.choice([0, 2, 4]) % scale_len
    total = steps_per_bar * 2
    lengths = [1, 2, 2, 3, 4, 4, 6, 8] if density > 0.5 else [2, 4, 4, 6, 8, 8, 12]
    while step < total:
        length = min(rng.choice(lengths), total - step)
        if rng.random() < 0.85:
            notes.append((step, length, degree))
        step += length
        move = rng.choice([-2, -1, -1, 0, 1, 1, 2, 3, -3])
        degree = max(-scale_len, min(int(scale_len * 1.7), degree + move))
    return notes


def variety(seed, count):
    """Tempo, metre, drum pattern and scale for each of `count` songs, spread so that a small library
    still covers the whole range instead of relying on luck."""
    rng = random.Random(f"{seed}:variety")
    slots = list(range(count))
    rng.shuffle(slots)
    patterns = [(4, p) for p in sorted(DRUM_PATTERNS_4)] + [(3, p) for p in sorted(DRUM_PATTERNS_3)]
    rng.shuffle(patterns)
    scales = sorted(SCALES)
    rng.shuffle(scales)
    result = []
    for i in range(count):
        tempo = 70 + 90 * (slots[i] + rng.random()) / count
        beats, pattern = patterns[i % len(patterns)]
        result.append({"tempo": float(int(tempo)), "beats": beats, "drum_pattern": pattern,
                       "scale_name": scales[i % len(scales)]})
    return result


def plan_song(song_id, seed, overrides=None, min_seconds=40.0, max_seconds=90.0):
    """Everything about a song decided from its seed, before any sample is rendered. `overrides` may
    fix tempo, beats, drum_pattern and scale_name (see variety())."""
    rng = random.Random(f"{seed}:{song_id}")
    overrides = overrides or {}
    beats = rng.choice([4, 4, 4, 3])
    tempo = float(rng.randint(70, 160))
    scale_name = rng.choice(sorted(SCALES))
    root = rng.randint(45, 57)
    beats = overrides.get("beats", beats)
    tempo = overrides.get("tempo", tempo)
    scale_name = overrides.get("scale_name", scale_name)
    patterns = DRUM_PATTERNS_4 if beats == 4 else DRUM_PATTERNS_3
    drum_pattern = rng.choice(sorted(patterns))
    drum_pattern = overrides.get("drum_pattern", drum_pattern)
    kit = DrumKit(
        kick_start_hz=rng.uniform(90, 220),
        kick_end_hz=rng.uniform(38, 60),
        kick_decay=rng.uniform(0.12, 0.45),
        snare_tone_hz=rng.uniform(150, 260),
        snare_noise_low_hz=rng.uniform(400, 2500),
        snare_noise_high_hz=rng.uniform(4000, 12000),
        snare_decay=rng.uniform(0.08, 0.25),
        hat_low_hz=rng.uniform(3000, 9000),
        hat_decay=rng.uniform(0.025, 0.12),
        use_clap=rng.random() < 0.4,
        level=rng.uniform(0.35, 0.8),
    )
    timbres = {role: _timbre(rng, role) for role in ("lead", "pad", "bass", "arp")}
    scale_len = len(SCALES[scale_name])
    density = rng.random()

    steps = beats * 4
    bar_seconds = 60.0 / tempo * beats
    target = rng.uniform(min_seconds + 2, max_seconds - 4)
    total_bars = max(4, int(round(target / bar_seconds)))
    form = list(rng.choice(SECTION_FORMS))
    weights = {"intro": 1, "outro": 1, "bridge": 1.5, "breakdown": 1.5, "verse": 2, "chorus": 2}
    raw = [weights[k] for k in form]
    bars = [max(1, int(round(total_bars * w / sum(raw)))) for w in raw]
    # Keep the rounding error in the last chorus so the song hits its target length.
    diff = total_bars - sum(bars)
    last = max(i for i, k in enumerate(form) if k in ("chorus", "verse"))
    bars[last] = max(1, bars[last] + diff)

    motifs = {}
    progressions = {}
    no_drums = rng.random() < 0.15  # an ambient piece now and then
    sections = []
    for kind, nbars in zip(form, bars):
        base = SECTION_KINDS[kind]
        if kind not in motifs:
            motifs[kind] = _motif(rng, steps, scale_len, density)
            length = rng.choice([2, 4, 4])
            progressions[kind] = [0] + [rng.randrange(scale_len) for _ in range(length - 1)]
        parts = set(base["parts"])
        # A few per-song changes to which instruments play where.
        for role in ("arp", "pad", "lead"):
            if rng.random() < 0.2:
                parts.symmetric_difference_update({role})
        if not parts:
            parts = {"pad"}
        drums = "none" if no_drums else base["drums"]
        if drums == "light" and rng.random() < 0.3:
            drums = "full"
        gain = base["gain"] * rng.uniform(0.8, 1.15)
        sections.append(Section(kind, nbars, min(gain, 1.0), parts, drums, motifs[kind], progressions[kind]))

    plan = SongPlan(
        song_id=song_id,
        seed=seed,
        tempo=tempo,
        beats_per_bar=beats,
        root_midi=root,
        scale_name=scale_name,
        drum_pattern=drum_pattern,
        timbres=timbres,
        kit=kit,
        sections=sections,
        bass_style=rng.choice(["roots", "eighths", "octaves", "walking", "syncopated"]),
        arp_style=rng.choice(["up", "down", "updown", "random"]),
        tilt=rng.uniform(-0.9, 0.5),
        lowpass_hz=math.exp(rng.uniform(math.log(2500), math.log(16000))),
        drive=rng.uniform(1.0, 3.0),
    )
    plan.seconds = total_bars * plan.bar_seconds + 2.0
    return plan


def midi_hz(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def degree_midi(plan, degree, octave=0):
    scale = SCALES[plan.scale_name]
    n = len(scale)
    oct_shift, idx = divmod(degree, n)
    return plan.root_midi + 12 * (octave + oct_shift) + scale[idx]


class Renderer:
    """Renders a SongPlan; caches wavetables and drum sounds so repeated notes cost little."""

    def __init__(self, plan):
        self.plan = plan
        self.np_rng = np.random.default_rng([plan.seed, 7])
        self.tables = {}
        self.notes = {}
        self.length = int(plan.seconds * SAMPLE_RATE) + SAMPLE_RATE
        self.left = np.zeros(self.length, dtype=np.float64)
        self.right = np.zeros(self.length, dtype=np.float64)

    # --- tone generation ---------------------------------------------------------------------------

    def _amplitudes(self, timbre, f0):
        count = max(1, min(timbre.max_harmonics, int(0.45 * SAMPLE_RATE / f0)))
        h = np.arange(1, count + 1, dtype=np.float64)
        recipe = timbre.recipe
        if recipe == "saw" or recipe == "pluck":
            a = h ** -timbre.rolloff
        elif recipe == "square":
            a = np.where(h % 2 == 1, h ** -timbre.rolloff, 0.0)
        elif recipe == "hollow":
            a = np.where(h % 2 == 1, 1.0, 0.25) * h ** -timbre.rolloff
        elif recipe == "organ":
            a = np.zeros(count)
            for harmonic, level in ((1, 1.0), (2, 0.7), (3, 0.5), (4, 0.4), (6, 0.3), (8, 0.25), (10, 0.15)):
                if harmonic <= count:
                    a[harmonic - 1] = level
        elif recipe == "nasal":
            freqs = h * f0
            a = 0.25 * h ** -1.0 + np.exp(-0.5 * (np.log(freqs / timbre.formant_hz) / 0.25) ** 2)
        elif recipe == "soft":
            a = h ** -(timbre.rolloff + 1.5)
        elif recipe in ("bell", "fm"):
            # A plain rolled-off table; their character comes from _tone (inharmonic partial, modulation).
            a = np.exp(-h / (2.0 + timbre.rolloff * 3)) * (1 + (h % 3 == 0))
        else:
            a = h ** -timbre.rolloff
        return h, a

    def _tables(self, timbre, midi):
        key = (id(timbre), midi)
        if key not in self.tables:
            f0 = midi_hz(midi)
            h, a = self._amplitudes(timbre, f0)
            x = np.arange(TABLE_SIZE) / TABLE_SIZE
            phases = np.random.default_rng([self.plan.seed, midi, len(h)]).uniform(0, 2 * np.pi, len(h))
            bright = np.zeros(TABLE_SIZE)
            dark = np.zeros(TABLE_SIZE)
            for hi, ai, ph in zip(h, a, phases):
                if ai == 0:
                    continue
                wave = np.sin(2 * np.pi * hi * x + ph)
                bright += ai * wave
                dark += ai * math.exp(-(hi - 1) / 2.0) * wave
            peak = max(np.max(np.abs(bright)), 1e-9)
            self.tables[key] = (bright / peak, dark / max(np.max(np.abs(dark)), 1e-9))
        return self.tables[key]

    def _envelope(self, timbre, n_gate, n_total):
        t = np.arange(n_total) / SAMPLE_RATE
        a = max(timbre.attack, 0.002)
        env = np.empty(n_total)
        gate_t = n_gate / SAMPLE_RATE
        rising = t < a
        env[rising] = t[rising] / a
        after = ~rising
        env[after] = timbre.sustain + (1 - timbre.sustain) * np.exp(-(t[after] - a) / max(timbre.decay, 1e-3))
        level_at_gate = env[min(n_gate, n_total) - 1] if n_gate > 0 else 0.0
        released = t >= gate_t
        env[released] = level_at_gate * np.exp(-(t[released] - gate_t) / max(timbre.release / 3, 1e-3))
        return env

    def tone(self, timbre, midi, seconds, velocity=1.0):
        n_gate = max(1, int(seconds * SAMPLE_RATE))
        # Melodies, chords and bass lines repeat a lot: render each distinct note once.
        key = (id(timbre), midi, n_gate, velocity)
        cached = self.notes.get(key)
        if cached is None:
            cached = self._tone(timbre, midi, n_gate, velocity).astype(np.float32)
            self.notes[key] = cached
        return cached

    def _tone(self, timbre, midi, n_gate, velocity):
        n_total = n_gate + int(timbre.release * SAMPLE_RATE)
        bright, dark = self._tables(timbre, midi)
        f0 = midi_hz(midi)
        t = np.arange(n_total) / SAMPLE_RATE
        out = np.zeros(n_total)
        for voice in range(timbre.unison):
            spread = 0.0 if timbre.unison == 1 else (voice / (timbre.unison - 1) - 0.5) * 2
            f = f0 * 2 ** (spread * timbre.detune_cents / 1200)
            if timbre.vibrato:
                inst = f * (1 + timbre.vibrato * np.sin(2 * np.pi * 5.3 * t) * np.minimum(t / 0.3, 1))
                phase = np.cumsum(inst) / SAMPLE_RATE
            else:
                phase = f * t
            if timbre.recipe == "fm":
                # Two-operator FM whose index falls with time: bright attack, mellow tail.
                index = 2.5 * np.exp(-t / max(timbre.decay, 0.05)) + 0.3
                phase = phase + index * np.sin(2 * np.pi * 2.0 * phase) / (2 * np.pi)
            idx = ((phase + voice * 0.37) * TABLE_SIZE).astype(np.int64) % TABLE_SIZE
            if timbre.brightness_decay > 0:
                mix = np.exp(-t / timbre.brightness_decay)
                out += mix * bright[idx] + (1 - mix) * dark[idx]
            else:
                out += bright[idx]
        if timbre.recipe == "bell":
            out += 0.5 * np.sin(2 * np.pi * f0 * 2.76 * t) * np.exp(-t / 0.25)
        return out * self._envelope(timbre, n_gate, n_total) * (velocity / timbre.unison ** 0.5)

    def _add(self, signal, start_seconds, level, pan):
        start = int(start_seconds * SAMPLE_RATE)
        if start >= self.length:
            return
        end = min(self.length, start + len(signal))
        part = signal[: end - start] * level
        angle = (pan + 1) * np.pi / 4
        self.left[start:end] += part * math.cos(angle)
        self.right[start:end] += part * math.sin(angle)

    # --- drums -------------------------------------------------------------------------------------

    def _band_noise(self, seconds, low_hz, high_hz):
        n = int(seconds * SAMPLE_RATE)
        spectrum = np.fft.rfft(self.np_rng.standard_normal(n))
        f = np.fft.rfftfreq(n, 1 / SAMPLE_RATE) + 1.0
        gain = 1 / np.sqrt(1 + (low_hz / f) ** 4) / np.sqrt(1 + (f / high_hz) ** 4)
        noise = np.fft.irfft(spectrum * gain, n)
        return noise / max(np.max(np.abs(noise)), 1e-9)

    def drum_sounds(self):
        k = self.plan.kit
        t = np.arange(int(0.6 * SAMPLE_RATE)) / SAMPLE_RATE
        freq = k.kick_end_hz + (k.kick_start_hz - k.kick_end_hz) * np.exp(-t / 0.04)
        kick = np.sin(2 * np.pi * np.cumsum(freq) / SAMPLE_RATE) * np.exp(-t / k.kick_decay)
        ts = t[: int(0.4 * SAMPLE_RATE)]
        snare = 0.5 * np.sin(2 * np.pi * k.snare_tone_hz * ts) * np.exp(-ts / 0.05)
        snare += self._band_noise(0.4, k.snare_noise_low_hz, k.snare_noise_high_hz) * np.exp(-ts / k.snare_decay)
        if k.use_clap:
            clap = self._band_noise(0.4, 900, 5000)
            bursts = sum(np.exp(-np.maximum(ts - d, 0) / 0.008) * (ts >= d) for d in (0.0, 0.011, 0.022))
            snare = 0.5 * snare + clap * (bursts * 0.4 + np.exp(-ts / 0.12) * (ts >= 0.022))
        th = t[: int(0.5 * SAMPLE_RATE)]
        hat_noise = self._band_noise(0.5, k.hat_low_hz, 18000)
        hat = hat_noise * np.exp(-th / k.hat_decay)
        open_hat = hat_noise * np.exp(-th / (k.hat_decay * 4))
        return {"kick": kick, "snare": snare, "hat": hat, "open": open_hat}

    # --- parts -------------------------------------------------------------------------------------

    def render(self):
        plan = self.plan
        drums = self.drum_sounds()
        pattern = (DRUM_PATTERNS_4 if plan.beats_per_bar == 4 else DRUM_PATTERNS_3)[plan.drum_pattern]
        step = plan.step_seconds
        steps = plan.steps_per_bar
        scale_len = len(SCALES[plan.scale_name])
        tm = plan.timbres
        bar_index = 0
        t0 = 0.0
        for section in plan.sections:
            g = section.gain
            for b in range(section.bars):
                bar_start = t0 + b * plan.bar_seconds
                chord_root = section.progression[b % len(section.progression)]
                chord = [chord_root, chord_root + 2, chord_root + 4]
                last_bar = b == section.bars - 1
                if "pad" in section.parts:
                    for d in chord:
                        midi = degree_midi(plan, d, tm["pad"].octave)
                        self._add(self.tone(tm["pad"], midi, plan.bar_seconds * 0.95), bar_start, g * tm["pad"].level,
                                  (d - chord_root - 2) * 0.25)
                if "bass" in section.parts:
                    self._bass(bar_start, chord_root, g)
                if "arp" in section.parts:
                    self._arp(bar_start, chord, g, bar_index)
                if "lead" in section.parts:
                    half = b % 2
                    for s, length, degree in section.motif:
                        if (s >= steps) != bool(half):
                            continue
                        d = degree + (chord_root if b % 4 >= 2 else 0)
                        midi = degree_midi(plan, d % (scale_len * 3), tm["lead"].octave)
                        start = bar_start + (s - half * steps) * step
                        self._add(self.tone(tm["lead"], midi, length * step * 0.9), start, g * tm["lead"].level,
                                  tm["lead"].pan)
                if section.drums != "none":
                    self._drums(section, pattern, drums, bar_start, g, last_bar)
                bar_index += 1
            t0 += section.bars * plan.bar_seconds

    def _bass(self, bar_start, chord_root, g):
        plan = self.plan
        timbre = plan.timbres["bass"]
        step = plan.step_seconds
        steps = plan.steps_per_bar
        style = plan.bass_style
        if style == "roots":
            hits = [(s, 4, 0) for s in range(0, steps, 4)]
        elif style == "eighths":
            hits = [(s, 2, 0) for s in range(0, steps, 2)]
        elif style == "octaves":
            hits = [(s, 2, 7 if (s // 2) % 2 else 0) for s in range(0, steps, 2)]
        elif style == "walking":
            hits = [(s, 4, [0, 2, 4, 5][(s // 4) % 4]) for s in range(0, steps, 4)]
        else:
            hits = [(s, 3, 0) for s in range(0, steps, 3)]
        for s, length, extra in hits:
            if style == "octaves":
                midi = degree_midi(plan, chord_root, timbre.octave) + extra
            else:
                midi = degree_midi(plan, chord_root + extra, timbre.octave)
            self._add(self.tone(timbre, midi, length * step * 0.85), bar_start + s * step, g * timbre.level, 0.0)

    def _arp(self, bar_start, chord, g, bar_index):
        plan = self.plan
        timbre = plan.timbres["arp"]
        step = plan.step_seconds
        notes = chord + [chord[0] + len(SCALES[plan.scale_name])]
        style = plan.arp_style
        order = {"up": notes, "down": notes[::-1], "updown": notes + notes[-2:0:-1]}.get(style)
        rng = random.Random(plan.seed * 1000 + bar_index)
        for i, s in enumerate(range(0, plan.steps_per_bar, 2 if plan.tempo > 120 else 1)):
            d = rng.choice(notes) if order is None else order[i % len(order)]
            midi = degree_midi(plan, d, timbre.octave)
            self._add(self.tone(timbre, midi, step * 0.8), bar_start + s * step, g * timbre.level, timbre.pan)

    def _drums(self, section, pattern, sounds, bar_start, g, last_bar):
        plan = self.plan
        step = plan.step_seconds
        level = plan.kit.level * g
        parts = ("kick", "snare", "hat") if section.drums == "full" else ("kick", "hat")
        for part in parts:
            grid = pattern[part]
            if last_bar and part == "snare":
                grid = grid[: len(grid) // 2] + "x.xx" * (len(grid) // 8)  # a short fill
            for s, c in enumerate(grid):
                if c == ".":
                    continue
                sound = sounds["open"] if (part == "hat" and c == "o") else sounds[part]
                accent = 1.0 if s % 4 == 0 else 0.75
                pan = {"kick": 0.0, "snare": 0.05, "hat": 0.35}[part]
                rel = {"kick": 1.0, "snare": 0.7, "hat": 0.25}[part]
                self._add(sound, bar_start + s * step, level * rel * accent, pan)

    # --- master ------------------------------------------------------------------------------------

    def master(self):
        plan = self.plan
        n = int(plan.seconds * SAMPLE_RATE)
        stereo = np.stack([self.left[:n], self.right[:n]])
        n_fft = _fast_length(n)
        spectrum = np.fft.rfft(stereo, n_fft, axis=1)
        f = np.fft.rfftfreq(n_fft, 1 / SAMPLE_RATE)
        fc = np.maximum(f, 30.0)
        # The song's own tone colour: a tilt around 1 kHz, a low-pass and a gentle low cut.
        gain = (fc / 1000.0) ** plan.tilt / np.sqrt(1 + (f / plan.lowpass_hz) ** 4) / np.sqrt(1 + (35.0 / fc) ** 4)
        stereo = np.fft.irfft(spectrum * gain, n_fft, axis=1)[:, :n].astype(np.float32)
        stereo /= max(np.max(np.abs(stereo)), 1e-9)
        stereo = np.tanh(stereo * plan.drive) / math.tanh(plan.drive)
        fade = np.ones(n, dtype=np.float32)
        fade_n = int(1.5 * SAMPLE_RATE)
        fade[-fade_n:] = np.linspace(1, 0, fade_n)
        fade[:64] = np.linspace(0, 1, 64)
        stereo *= fade
        stereo *= 0.89 / max(np.max(np.abs(stereo)), 1e-9)
        return stereo.astype(np.float32)


def _fast_length(n):
    """Smallest length >= n with no prime factor above 5: FFTs of such lengths are fast."""
    best = 1 << max(0, (n - 1).bit_length())
    p5 = 1
    while p5 < best:
        p35 = p5
        while p35 < best:
            m = p35
            while m < n:
                m *= 2
            best = min(best, m)
            p35 *= 3
        p5 *= 5
    return best


def render_song(plan):
    """44100 Hz stereo float32 samples of a planned song, shape (2, n)."""
    renderer = Renderer(plan)
    renderer.render()
    return renderer.master()


def to_pcm16(stereo):
    """Interleaved little-endian 16-bit PCM bytes of a (channels, n) float array in [-1, 1]."""
    clipped = np.clip(stereo, -1.0, 1.0)
    ints = np.round(clipped.T * 32767.0).astype("<i2")
    return ints.tobytes()
