"""Session jitter and channel augmentation, ending in 8 kHz 16-bit mono PCM.

Every random choice is drawn up front from the recording's own generator, and sox runs with
-R (no random dither), so one seed gives the same bytes on every run.
"""
import os
import subprocess
import wave

import numpy as np

RATE = 8000


def draw_channel(rng, hard, opts):
    """The jitter and channel of one recording; `opts` holds the ranges (see make_corpus)."""
    p = {"hard": bool(hard), "gain_db": float(rng.uniform(-opts.gain_db, opts.gain_db))}
    if not hard:
        p.update(rate=1.0, cents=0.0)
        return p
    p["rate"] = float(1.0 + rng.uniform(-opts.rate_jitter, opts.rate_jitter))
    p["cents"] = float(rng.uniform(-opts.pitch_cents, opts.pitch_cents))
    p["low"] = int(rng.uniform(150, 400))
    p["high"] = int(rng.uniform(3000, 3700))
    p["tilt_db"] = float(rng.uniform(-6.0, 6.0))
    p["snr_db"] = float(rng.uniform(opts.snr_min, opts.snr_max))
    p["noise"] = ["white", "pink", "brown"][int(rng.integers(3))]
    p["noise_seed"] = int(rng.integers(2**31))
    p["mulaw"] = bool(rng.random() < 0.5)
    p["mp3_kbps"] = int(rng.choice([16, 24, 32])) if rng.random() < opts.mp3_fraction else 0
    if rng.random() < opts.reverb_fraction:
        p["reverb"] = [int(rng.uniform(10, 40)), int(rng.uniform(20, 60))]
    return p


def describe(p):
    if not p["hard"]:
        return f"gain={p['gain_db']:+.1f}"
    parts = [f"rate={p['rate']:.3f}", f"cents={p['cents']:+.0f}", f"band={p['low']}-{p['high']}",
             f"tilt={p['tilt_db']:+.1f}", f"snr={p['snr_db']:.1f}/{p['noise']}",
             f"gain={p['gain_db']:+.1f}"]
    if p.get("reverb"):
        parts.append(f"reverb={p['reverb'][0]}/{p['reverb'][1]}")
    if p["mulaw"]:
        parts.append("mulaw")
    if p["mp3_kbps"]:
        parts.append(f"mp3={p['mp3_kbps']}k")
    return ",".join(parts)


def _sox_effects(p, tempo):
    fx = []
    if abs(tempo - 1.0) > 1e-6:
        fx += ["tempo", "-s", f"{tempo:.4f}"]
    if abs(p.get("cents", 0.0)) > 1e-3:
        fx += ["pitch", f"{p['cents']:.1f}"]
    fx += ["rate", "-v", str(RATE)]
    if p["hard"]:
        if p.get("reverb"):
            rev, room = p["reverb"]
            fx += ["reverb", str(rev), "50", str(room), "100", "0", "-6"]
        fx += ["sinc", f"{p['low']}-{p['high']}"]
        half = p["tilt_db"] / 2
        fx += ["bass", f"{-half:.2f}", "500", "treble", f"{half:.2f}", "1500"]
    return fx


def sox_to_float(in_wav, p, tempo=1.0):
    cmd = ["sox", "-R", "-V1", in_wav, "-t", "raw", "-e", "floating-point", "-b", "32",
           "-c", "1", "-r", str(RATE), "-"] + _sox_effects(p, tempo)
    out = subprocess.run(cmd, check=True, capture_output=True).stdout
    return np.frombuffer(out, dtype=np.float32).astype(np.float64)


def speech_power(x, frame=160):
    n = len(x) // frame
    if n == 0:
        return float(np.mean(x * x)) if len(x) else 0.0
    e = np.mean(x[: n * frame].reshape(n, frame) ** 2, axis=1)
    active = e[e > 1e-3 * e.max()] if e.max() > 0 else e
    return float(np.mean(active))


def make_noise(kind, n, seed):
    g = np.random.default_rng(seed)
    w = g.standard_normal(n)
    if kind == "white" or n < 2:
        return w
    spec = np.fft.rfft(w)
    f = np.arange(len(spec), dtype=np.float64)
    f[0] = 1.0
    spec /= np.sqrt(f) if kind == "pink" else f
    return np.fft.irfft(spec, n)


def add_noise(x, noise, snr_db):
    """x plus noise scaled to snr_db below the power of x's active frames."""
    npow = float(np.mean(noise * noise)) if len(noise) else 0.0
    spow = speech_power(x)
    if npow <= 0 or spow <= 0:
        return x
    return x + noise * np.sqrt(spow / npow * 10 ** (-snr_db / 10))


def mulaw_roundtrip(x, mu=255.0):
    """Companding to 8-bit mu-law and back; x in [-1, 1]."""
    x = np.clip(x, -1.0, 1.0)
    y = np.sign(x) * np.log1p(mu * np.abs(x)) / np.log1p(mu)
    q = np.round((y + 1.0) * 127.5) / 127.5 - 1.0
    return np.sign(q) * ((1.0 + mu) ** np.abs(q) - 1.0) / mu


def to_int16(x):
    return np.clip(np.round(x * 32767.0), -32768, 32767).astype("<i2")


def write_wav(path, pcm):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(np.asarray(pcm, dtype="<i2").tobytes())


def read_wav(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError(f"{path}: not 16-bit")
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        ch = w.getnchannels()
        return w.getframerate(), data.reshape(-1, ch)[:, 0].copy()


def mp3_roundtrip(pcm, kbps, tmp_base):
    src, mp3, dst = tmp_base + ".in.wav", tmp_base + ".mp3", tmp_base + ".out.wav"
    write_wav(src, pcm)
    subprocess.run(["lame", "--quiet", "-b", str(kbps), src, mp3], check=True,
                   capture_output=True)
    subprocess.run(["lame", "--quiet", "--decode", mp3, dst], check=True, capture_output=True)
    rate, out = read_wav(dst)
    if rate != RATE:
        raise RuntimeError(f"lame decoded {rate} Hz instead of {RATE} Hz")
    for f in (src, mp3, dst):
        os.remove(f)
    return out


def apply_channel(in_wav, p, tempo, tmp_base, level_dbfs=-26.0):
    """The synthesised file through jitter and channel; returns int16 samples at 8 kHz."""
    x = sox_to_float(in_wav, p, tempo)
    power = speech_power(x)
    if power > 0:
        x = x * 10 ** ((level_dbfs + p["gain_db"]) / 20) / np.sqrt(power)
    if p["hard"]:
        x = add_noise(x, make_noise(p["noise"], len(x), p["noise_seed"]), p["snr_db"])
        if p["mulaw"]:
            x = mulaw_roundtrip(x)
    pcm = to_int16(x)
    if p["hard"] and p["mp3_kbps"] and len(pcm) > 0:
        pcm = mp3_roundtrip(pcm, p["mp3_kbps"], tmp_base)
    return pcm
