"""Shared fixtures: a test_wav built from this tree, and test signals."""
import os
import subprocess
import wave
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def test_wav():
    """test_wav from $TARNWELNC_TEST_WAV, or built from this tree."""
    given = os.environ.get("TARNWELNC_TEST_WAV")
    if given:
        return given
    build = ROOT / "build-python" / "test_wav"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                    "-DBUILD_TESTING=OFF", "-DTARNWELNC_INSTALL=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "--target", "test_wav", "--parallel", "2"],
                   check=True, stdout=subprocess.DEVNULL)
    return str(build / "test_wav")


def noisy(rate, seconds, channels=1, seed=0):
    """(channels, n) int16: white noise with tone bursts that differ per
    channel, n not a whole number of blocks."""
    rng = np.random.default_rng(seed)
    n = int(rate * seconds) + 77
    t = np.arange(n) / rate
    out = np.empty((channels, n), np.int16)
    for c in range(channels):
        bursts = (t % 1.0) > 0.55 + 0.1 * c
        x = rng.normal(0, 500, n) + bursts * 4000 * np.sin(2 * np.pi * (300 + 150 * c) * t)
        out[c] = np.clip(np.round(x), -32768, 32767)
    return out


def write_wav(path, samples, rate):
    """A 16-bit PCM WAV file of (channels, n) int16 samples."""
    with wave.open(str(path), "wb") as w:
        w.setnchannels(samples.shape[0])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(np.ascontiguousarray(samples.T, "<i2").tobytes())


def read_wav(path):
    """(channels, n) int16 samples of a 16-bit PCM WAV file."""
    with wave.open(str(path), "rb") as w:
        data = np.frombuffer(w.readframes(w.getnframes()), "<i2")
        return data.reshape(-1, w.getnchannels()).T
