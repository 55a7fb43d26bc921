"""Tiny deterministic test audio: voiced bursts (harmonic tones whose pitch
and spectral envelope depend on a 'voice') separated by quiet noise."""

import os
import struct

import numpy as np


def voice_signal(voice, seconds, seed, rate=8000):
    rng = np.random.default_rng(seed)
    n = int(seconds * rate)
    t = np.arange(n) / rate
    f0 = 90.0 + 40.0 * voice
    sig = np.zeros(n)
    # Syllable-like envelope: 0.25 s bursts with 0.1 s gaps.
    env = ((t % 0.35) < 0.25).astype(float)
    jitter = 1.0 + 0.05 * np.sin(2 * np.pi * (0.7 + 0.1 * rng.random()) * t)
    phase = 2 * np.pi * np.cumsum(f0 * jitter) / rate
    formant = 500.0 + 300.0 * voice
    for h in range(1, 30):
        fh = f0 * h
        if fh > 3800:
            break
        gain = np.exp(-((fh - formant) / 400.0) ** 2) + 0.3 / h
        sig += gain * np.sin(h * phase + rng.random() * 6.28)
    sig = sig / np.max(np.abs(sig)) * 8000.0 * env
    sig += rng.normal(0, 30.0, n)
    return np.clip(sig, -32768, 32767).astype("<i2")


def write_wav(path, samples, rate=8000):
    data = np.asarray(samples, dtype="<i2").tobytes()
    with open(path, "wb") as fh:
        fh.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        fh.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16))
        fh.write(b"data" + struct.pack("<I", len(data)) + data)


def work_in(testcase, directory):
    """Makes `directory` the working directory until `testcase` ends: the
    engine opens its log file in the working directory."""
    cwd = os.getcwd()
    os.chdir(directory)
    testcase.addCleanup(os.chdir, cwd)
