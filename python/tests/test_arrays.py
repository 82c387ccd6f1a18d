"""denoise() and Suppressor against test_wav and against each other."""
import subprocess
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import tarnwelnc
from conftest import noisy, read_wav, write_wav

BLOCK = {8000: 120, 16000: 190, 44100: 1024, 48000: 1024}


def run_test_wav(test_wav, tmp_path, samples, rate, mode):
    write_wav(tmp_path / "in.wav", samples, rate)
    subprocess.run([test_wav, str(mode), "-20", "0.95", "0.98", str(tmp_path / "in.wav"),
                    str(tmp_path / "out.wav")], check=True, stdout=subprocess.DEVNULL)
    return read_wav(tmp_path / "out.wav")


@pytest.mark.parametrize("channels", [1, 2])
@pytest.mark.parametrize("rate", [8000, 16000, 44100, 48000])
def test_int16_equals_test_wav_shifted_by_one_block(test_wav, tmp_path, rate, channels):
    x = noisy(rate, 1.3, channels, seed=rate + channels)
    B = BLOCK[rate]
    n = x.shape[1]
    # test_wav drops the last partial block; given the input padded with
    # silence to whole blocks and one more, it writes every sample.
    padded = np.zeros((channels, (n // B + 2) * B), np.int16)
    padded[:, :n] = x
    for mode in range(4):
        y = tarnwelnc.denoise(x if channels > 1 else x[0], rate, mode=mode)
        assert y.dtype == np.int16 and y.shape == (x.shape if channels > 1 else (n,))
        y = y.reshape(channels, n)
        ref = run_test_wav(test_wav, tmp_path, x, rate, mode)
        assert ref.shape[1] == n // B * B
        np.testing.assert_array_equal(y[:, :ref.shape[1] - B], ref[:, B:], f"mode {mode}")
        full = run_test_wav(test_wav, tmp_path, padded, rate, mode)
        np.testing.assert_array_equal(y, full[:, B:B + n], f"mode {mode}, padded")


def test_float_is_the_int16_path_on_the_16_bit_grid():
    x = noisy(16000, 2.0, 2)
    f = x.astype(np.float32) / 32768
    y = tarnwelnc.denoise(x, 16000, mode=3)
    yf = tarnwelnc.denoise(f, 16000, mode=3)
    assert yf.dtype == np.float32
    np.testing.assert_array_equal(yf, y.astype(np.float32) / 32768)

    # Rounding to nearest, saturation, and NaN or infinity as silence.
    g = f.copy()
    g[0, 100:110] = np.nan
    g[1, 200] = np.inf
    g[1, 300] = 5.0
    g[0, 400] += 0.4 / 32768
    h = x.copy()
    h[0, 100:110] = 0
    h[1, 200] = 0
    h[1, 300] = 32767
    np.testing.assert_array_equal(tarnwelnc.denoise(g, 16000, mode=3) * 32768,
                                  tarnwelnc.denoise(h, 16000, mode=3))


def test_layouts_give_the_same_samples():
    x = noisy(8000, 1.0, 2)
    y = tarnwelnc.denoise(x, 8000)
    # Channels are independent streams.
    np.testing.assert_array_equal(y[1], tarnwelnc.denoise(x[1], 8000))
    np.testing.assert_array_equal(y[:1], tarnwelnc.denoise(x[:1], 8000))
    # Views with strides, Fortran order, other byte order, read-only.
    np.testing.assert_array_equal(tarnwelnc.denoise(np.asfortranarray(x), 8000), y)
    np.testing.assert_array_equal(tarnwelnc.denoise(x.T.copy().T, 8000), y)
    np.testing.assert_array_equal(tarnwelnc.denoise(x.astype(">i2"), 8000), y)
    wide = np.repeat(x, 2, axis=1)
    np.testing.assert_array_equal(tarnwelnc.denoise(wide[:, ::2], 8000), y)
    x.flags.writeable = False
    np.testing.assert_array_equal(tarnwelnc.denoise(x, 8000), y)
    assert tarnwelnc.denoise(np.zeros(0, np.int16), 8000).shape == (0,)
    assert tarnwelnc.denoise(np.zeros((2, 5), np.float32), 8000).shape == (2, 5)


@pytest.mark.parametrize("call, error, words", [
    (lambda: tarnwelnc.denoise(np.zeros(100), 16000), TypeError, "float64"),
    (lambda: tarnwelnc.denoise(np.zeros(100, np.int32), 16000), TypeError, "int16"),
    # A (samples, channels) array passed by mistake: refused at once.
    (lambda: tarnwelnc.denoise(np.zeros((480000, 2), np.int16), 48000), ValueError,
     "(channels, samples)"),
    (lambda: tarnwelnc.denoise(np.zeros((9, 10), np.int16), 48000), ValueError, "8 channels"),
    (lambda: tarnwelnc.denoise(np.zeros((0, 10), np.int16), 48000), ValueError, "channels"),
    (lambda: tarnwelnc.denoise(np.zeros((1, 1, 10), np.int16), 48000), ValueError, "2-D"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 5999), ValueError, "6000 to 192000"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 44100.5), ValueError, "whole number"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), "44100"), TypeError, "rate"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 8000, mode=4), ValueError, "mode"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 8000, mode=2.0), TypeError, "mode"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 8000, limit_db=1), ValueError,
     "limit_db"),
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 8000, limit_db=float("nan")),
     ValueError, "limit_db"),
    # 0.99999999 is 1.0 in single precision, which the core refuses.
    (lambda: tarnwelnc.denoise(np.zeros(10, np.int16), 8000, adaptation=0.99999999),
     ValueError, "adaptation"),
    (lambda: tarnwelnc.Suppressor(8000, channels=9), ValueError, "channels"),
    (lambda: tarnwelnc.Suppressor(8000, channels=2).process(np.zeros(10, np.int16)),
     ValueError, "(2, n)"),
    # The extension checks on its own too.
    (lambda: tarnwelnc._core.denoise(np.zeros((1, 10)), 8000, 2, -20, 0.95, 0.98), TypeError,
     "int16"),
    (lambda: tarnwelnc._core.denoise(np.zeros((20, 10), np.int16), 8000, 2, -20, 0.95, 0.98),
     ValueError, "channels"),
    (lambda: tarnwelnc._core.denoise(np.zeros((2, 10), np.int16).T, 8000, 2, -20, 0.95, 0.98),
     ValueError, "channels"),
    (lambda: tarnwelnc._core.denoise(np.zeros((2, 10), np.int16)[:, ::2], 8000, 2, -20, 0.95,
                                     0.98), ValueError, "contiguous"),
    (lambda: tarnwelnc._core.denoise(np.zeros((1, 10), np.int16), 8000, 258, -20, 0.95, 0.98),
     ValueError, "mode"),
    (lambda: tarnwelnc._core.Stream(8000, 10**9, 2, -20, 0.95, 0.98), ValueError, "channels"),
    (lambda: tarnwelnc._core.denoise(np.zeros((1, 10), np.int16), 8000, 2**40, -20, 0.95, 0.98),
     ValueError, "mode"),
    # What the cleaner's callbacks raise comes out of the call.
    (lambda: tarnwelnc._core.clean(lambda count: 1 / 0, print, 8000, 1, 2, -20, 0.95, 0.98,
                                   False), ZeroDivisionError, "division"),
    (lambda: tarnwelnc._core.clean(lambda count: np.zeros((count + 1, 1), np.int16), print,
                                   8000, 1, 2, -20, 0.95, 0.98, False), ValueError, "count"),
])
def test_bad_input_is_refused_with_a_clear_message(call, error, words):
    with pytest.raises(error) as e:
        call()
    assert words in str(e.value)


def test_stream_in_chunks_equals_denoise():
    # Long enough for denoise() to take the two-thread cleaner.
    rate = 44100
    x = noisy(rate, 9.0, 2).astype(np.float32) / 32768
    ref = tarnwelnc.denoise(x, rate, mode=1)
    s = tarnwelnc.Suppressor(rate, channels=2, mode=1)
    assert (s.block, s.latency) == (1024, 2047)
    rng = np.random.default_rng(5)
    out, at, flags = [], 0, 0
    while at < x.shape[1]:
        n = int(rng.integers(1, 3000))
        before = at // s.block
        out.append(s.process(x[:, at:at + n]))
        at += n
        # One flag per block completed by this call, per channel.
        assert s.speech.shape == (2, min(at, x.shape[1]) // s.block - before)
        flags += s.speech.shape[1]
        assert sum(o.shape[1] for o in out) <= at
    out.append(s.flush())
    assert s.speech.shape == (2, 0)
    y = np.concatenate(out, axis=1)
    assert y.dtype == np.float32
    np.testing.assert_array_equal(y, ref)
    assert flags == x.shape[1] // 1024
    # The stream is over: more input would be lost, so it is refused.
    with pytest.raises(RuntimeError, match="flush"):
        s.process(x[:, :10])
    assert s.flush().shape == (2, 0)


def test_speech_flags_follow_the_bursts():
    rate = 16000
    x = noisy(rate, 4.0, 1)[0]  # noise, with a tone from 0.55 s to 1.0 s of each second
    s = tarnwelnc.Suppressor(rate)
    s.process(x)
    flags = s.speech
    assert flags.shape == (len(x) // 190,) and flags.dtype == bool
    t = (np.arange(len(flags)) + 1) * 190 / rate  # end of each block
    assert not flags[t < 0.5].any()
    assert flags[(t > 0.7) & (t < 1.0)].all()


def test_reset_changes_parameters_and_keeps_the_noise_estimate():
    rate = 16000
    x = noisy(rate, 3.0, 1)[0]
    cut = 190 * 100
    plain = tarnwelnc.denoise(x, rate, mode=2)
    s = tarnwelnc.Suppressor(rate, mode=2)
    first = s.process(x[:cut])
    s.reset(mode=3, limit_db=-30)
    assert s.parameters == (3, -30.0, np.float32(0.95), np.float32(0.98))
    rest = np.concatenate([s.process(x[cut:]), s.flush()])
    y = np.concatenate([first, rest])
    # Output already returned is untouched; later output changes.
    np.testing.assert_array_equal(y[:len(first)], plain[:len(first)])
    assert not np.array_equal(y[cut + 190:], plain[cut + 190:])
    # A fresh stream at the cut would have to learn the noise again.
    fresh = tarnwelnc.denoise(x[cut:], rate, mode=3, limit_db=-30)
    assert not np.array_equal(y[cut:cut + 190 * 20], fresh[:190 * 20])
    # A refused reset changes nothing.
    with pytest.raises(ValueError):
        s.reset(adaptation=2.0)
    assert s.parameters[0] == 3


def test_threads_clean_in_parallel_with_the_same_results():
    arrays = [noisy(16000, 2.0, 1, seed=i)[0] for i in range(6)]
    serial = [tarnwelnc.denoise(a, 16000) for a in arrays]
    with ThreadPoolExecutor(3) as pool:
        threaded = list(pool.map(lambda a: tarnwelnc.denoise(a, 16000), arrays))
    for a, b in zip(serial, threaded):
        np.testing.assert_array_equal(a, b)


def test_one_suppressor_refuses_a_second_thread():
    long = np.tile(noisy(48000, 5.0, 1)[0], 40)  # minutes: the core runs long
    s = tarnwelnc.Suppressor(48000)
    worker = threading.Thread(target=s.process, args=(long,))
    refused = []
    worker.start()
    while worker.is_alive() and not refused:
        try:
            s.reset(mode=1)
        except RuntimeError as e:
            refused.append(str(e))
    worker.join()
    assert refused and "another thread" in refused[0]
