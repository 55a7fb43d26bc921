"""Speakers made from espeak-ng, flite and festival, and their synthesis.

A speaker is a fixed voice with fixed timbre parameters.  Families:
  espeak         built-in espeak-ng variants on the English voice
  espeak-random  variants with randomised parameters, kept in a private data folder
  flite          flite's voices recorded from real people
  festival       festival's voices (English, Czech, Finnish, Italian, Catalan reading English)
"""
import math
import os
import shutil
import subprocess
from dataclasses import dataclass, field, asdict

ESPEAK_SYSTEM_DATA = "/usr/lib/x86_64-linux-gnu/espeak-ng-data"
# espeak-ng 1.51 reads at most this many voice files (lang/ and voices/ together).
ESPEAK_MAX_VOICE_FILES = 349
ESPEAK_DEFAULT_RATE = 175

# Built-in variants left out: duplicates of the default voice (the file "Mr serious", and
# "Mr", "serious" in other releases, fast), copies of klatt (klatt6, caleb), and unvoiced ones
# that carry no speaker timbre.
_ESPEAK_SKIP = {"Mr serious", "Mr", "fast", "serious", "klatt6", "caleb", "whisper", "whisperf"}

# flite kal16 is kal; awb_time only says times of day.
FLITE_VOICES = ["kal", "awb", "rms", "slt"]
# festival kal_diphone is flite's kal and cmu_us_slt_arctic_hts is flite's slt; the Hindi
# voice cannot read English.
FESTIVAL_VOICES = ["ked_diphone", "czech_dita", "czech_machac", "hy_fi_mv_diphone",
                   "suo_fi_lj_diphone", "pc_diphone", "lp_diphone", "upc_ca_ona_hts"]
# festival's Italian voices fail on '?'.
_FESTIVAL_NO_QUESTION = {"pc_diphone", "lp_diphone"}

FAMILIES = ["espeak", "espeak-random", "flite", "festival"]


@dataclass
class Speaker:
    speaker: str          # identifier used in file names and lists
    family: str           # one of FAMILIES
    voice: str            # engine voice name (espeak: "en+m3")
    rate: int = ESPEAK_DEFAULT_RATE   # espeak words per minute
    params: dict = field(default_factory=dict)  # randomised variant parameters
    shift_cents: float = 0.0  # fixed pitch shift making a new speaker from a real voice

    def to_json(self):
        return asdict(self)


def espeak_builtin_variants():
    vdir = os.path.join(ESPEAK_SYSTEM_DATA, "voices", "!v")
    names = sorted(os.listdir(vdir)) if os.path.isdir(vdir) else []
    # Speaker names go into whitespace-separated lists, and espeak-ng's "+variant" cannot
    # name a file with a blank either.
    return [n for n in names if n not in _ESPEAK_SKIP and not any(c.isspace() for c in n)]


def installed_flite_voices():
    try:
        out = subprocess.run(["flite", "-lv"], capture_output=True, text=True,
                             check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return []
    have = set(out.split(":", 1)[-1].split())
    return [v for v in FLITE_VOICES if v in have]


def installed_festival_voices():
    if shutil.which("festival") is None or shutil.which("text2wave") is None:
        return []
    try:
        out = subprocess.run(["festival", "--pipe"], input="(print (voice.list))\n",
                             capture_output=True, text=True, timeout=60).stdout
    except (OSError, subprocess.SubprocessError):
        return []
    have = set(out.replace("(", " ").replace(")", " ").split())
    return [v for v in FESTIVAL_VOICES if v in have]


# Randomised variant parameters, each drawn as u in [-1, 1] (0 is the default voice).
_RANDOM_DIMS = ["pitch_base", "pitch_range", "tract", "f1", "f2", "f3", "height", "breath",
                "roughness", "rate"]


def _rms(v):
    return math.sqrt(sum(x * x for x in v) / len(v))


def random_variant_params(rng, existing, min_stray):
    """Parameters at least min_stray (RMS of the normalised dims) from the default voice and
    from every variant in `existing` (0.5: a distinct person, 0.25: a near relative)."""
    for _ in range(10000):
        u = [rng.uniform(-1.0, 1.0) for _ in _RANDOM_DIMS]
        if _rms(u) < min_stray:
            continue
        if all(_rms([a - b for a, b in zip(u, e["u"])]) >= min_stray for e in existing):
            return {"u": [round(x, 4) for x in u], "female": rng.random() < 0.5}
    raise RuntimeError("cannot place another random variant this far from the others; "
                       "lower --min-stray or ask for fewer variants")


def variant_file_text(name, params):
    u = dict(zip(_RANDOM_DIMS, params["u"]))
    female = params["female"]
    base = (150 if female else 85) * 2 ** (0.5 * u["pitch_base"])     # +-6 semitones
    prange = (180 if female else 118) * 2 ** (0.7 * u["pitch_range"])
    tract = (110 if female else 100) * (1 + 0.12 * u["tract"])
    lines = ["language variant", f"name {name}", f"gender {'female' if female else 'male'}",
             "", f"pitch {int(round(base))} {int(round(prange))}"]
    height = int(round(100 + 30 * u["height"]))
    for k in range(9):
        per = {1: u["f1"], 2: u["f2"], 3: u["f3"]}.get(k, 0.0)
        freq = int(round(tract * (1 + 0.08 * per)))
        lines.append(f"formant {k} {freq} {height if 1 <= k <= 5 else 100} 100")
    breath = int(round(3 * (u["breath"] + 1)))  # 0..6
    if breath:
        lines.append("breath " + " ".join([str(breath)] * 8))
    lines.append(f"roughness {int(round(2 + 2 * u['roughness']))}")
    return "\n".join(lines) + "\n"


def random_variant_rate(params):
    return int(round(ESPEAK_DEFAULT_RATE * (1 + 0.15 * params["u"][_RANDOM_DIMS.index("rate")])))


# 200 cents or more away from a voice sounds like someone else; 100 like a relative.
SHIFTS = [250.0, -250.0, 500.0, -500.0]


def build_speakers(rng, n_builtin, n_random, use_flite, use_festival, min_stray,
                   shifted_copies=0):
    """Speakers in a fixed order; n_builtin < 0 takes every built-in variant.  Shifted copies
    of flite and festival voices stay in their voice's family, so they are held out with it."""
    speakers = []
    variants = espeak_builtin_variants()
    pool = ["default"] + variants
    if 0 <= n_builtin < len(pool):
        pool = sorted(rng.sample(pool, n_builtin), key=pool.index)
    for v in pool:
        speakers.append(Speaker(f"es-{v}", "espeak", "en" if v == "default" else f"en+{v}"))
    existing = []
    for i in range(n_random):
        p = random_variant_params(rng, existing, min_stray)
        existing.append(p)
        name = f"rv{i + 1:04d}"
        speakers.append(Speaker(f"er-{name}", "espeak-random", f"en+{name}",
                                rate=random_variant_rate(p), params=p))
    if use_flite:
        speakers += [Speaker(f"fl-{v}", "flite", v) for v in installed_flite_voices()]
    if use_festival:
        speakers += [Speaker(f"fe-{v.split('_diphone')[0]}", "festival", v)
                     for v in installed_festival_voices()]
    if shifted_copies > len(SHIFTS):
        raise ValueError(f"at most {len(SHIFTS)} shifted copies per voice")
    real = [s for s in speakers if s.family in ("flite", "festival")]
    for s in real:
        for c in SHIFTS[:shifted_copies]:
            speakers.append(Speaker(f"{s.speaker}-p{int(c):+d}", s.family, s.voice,
                                    shift_cents=c))
    return speakers


def make_espeak_data(path, speakers):
    """Private espeak-ng data folder holding only the English voices and the variants used;
    returns the number of voice files espeak-ng will read."""
    data = os.path.join(path, "espeak-ng-data")
    if os.path.isdir(data):
        shutil.rmtree(data)
    os.makedirs(os.path.join(data, "voices", "!v"))
    os.makedirs(os.path.join(data, "lang"))
    for entry in sorted(os.listdir(ESPEAK_SYSTEM_DATA)):
        if entry not in ("voices", "lang"):
            os.symlink(os.path.join(ESPEAK_SYSTEM_DATA, entry), os.path.join(data, entry))
    # English lives under lang/gmw; the other languages would only eat into the file limit.
    os.symlink(os.path.join(ESPEAK_SYSTEM_DATA, "lang", "gmw"),
               os.path.join(data, "lang", "gmw"))
    vdir = os.path.join(data, "voices", "!v")
    for s in speakers:
        if s.family == "espeak" and "+" in s.voice:
            name = s.voice.split("+", 1)[1]
            shutil.copyfile(os.path.join(ESPEAK_SYSTEM_DATA, "voices", "!v", name),
                            os.path.join(vdir, name))
        elif s.family == "espeak-random":
            name = s.voice.split("+", 1)[1]
            with open(os.path.join(vdir, name), "w") as f:
                f.write(variant_file_text(name, s.params))
    count = sum(len(files) for root, _, files in os.walk(data, followlinks=True)
                if os.sep + "lang" in root or os.sep + "voices" in root)
    if count > ESPEAK_MAX_VOICE_FILES:
        raise RuntimeError(f"{count} espeak-ng voice files, but espeak-ng reads at most "
                           f"{ESPEAK_MAX_VOICE_FILES}; ask for fewer variants")
    return count


def clean_text(speaker, text):
    if speaker.family == "festival" and speaker.voice in _FESTIVAL_NO_QUESTION:
        text = text.replace("?", ".")
    return text


def synthesize(speaker, text, out_wav, espeak_path, rate_factor=1.0):
    """Writes the speaker saying `text` to out_wav at the engine's own sampling rate.
    Returns the tempo factor still to be applied by the channel (engines without a rate
    control get their rate jitter there)."""
    text = clean_text(speaker, text)
    if speaker.family.startswith("espeak"):
        rate = max(80, int(round(speaker.rate * rate_factor)))
        cmd = ["espeak-ng", f"--path={espeak_path}", "-v", speaker.voice, "-s", str(rate),
               "-w", out_wav, text]
        subprocess.run(cmd, check=True, capture_output=True)
        return 1.0
    if speaker.family == "flite":
        subprocess.run(["flite", "-voice", speaker.voice, "-t", text, "-o", out_wav],
                       check=True, capture_output=True)
        return rate_factor
    if speaker.family == "festival":
        txt = out_wav + ".txt"
        with open(txt, "w") as f:
            f.write(text + "\n")
        cmd = ["text2wave", "-eval", f"(voice_{speaker.voice})", "-o", out_wav, txt]
        try:
            r = subprocess.run(cmd, capture_output=True, timeout=300)
            if r.returncode != 0 or not os.path.exists(out_wav):
                # some voices trip over punctuation; plain words and full stops are safe
                with open(txt, "w") as f:
                    f.write("".join(ch if ch.isalnum() or ch == " " else "." for ch in text))
                subprocess.run(cmd, check=True, capture_output=True, timeout=300)
        finally:
            os.remove(txt)
        return rate_factor
    raise ValueError(f"unknown family {speaker.family}")
