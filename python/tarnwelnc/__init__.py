"""Single-microphone noise suppression for numpy arrays and audio files.

Samples are int16 arrays or float32 arrays on the scale +-1.0, of shape
(n,) for one channel or (channels, n) for up to 8 channels. Output is
aligned with the input: out[i] is the cleaned samples[i], and an array
comes back as long as it went in.

The suppressor works on 16-bit samples. float32 input is multiplied by
32768, rounded to the nearest integer (ties to even) and saturated to
[-32768, 32767]; NaN and infinite samples are taken as silence. float32
output holds k / 32768 for integers k: 16-bit precision in a float array.

    denoise(samples, rate, ...)       a whole array
    Suppressor(rate, channels, ...)   a stream in chunks of any length
    denoise_file(src, dst, ...)       a file, with the soundfile package
"""
import numbers
import operator

import numpy as np

from . import _core
from ._files import FileResult, denoise_file

__all__ = ["denoise", "Suppressor", "denoise_file", "FileResult",
           "MIN_RATE", "MAX_RATE", "MAX_CHANNELS"]

MIN_RATE = _core.MIN_RATE
MAX_RATE = _core.MAX_RATE
MAX_CHANNELS = _core.MAX_CHANNELS
# Accepted values and defaults of every parameter, as the core defines them.
_RANGES = _core.ranges()
_DEFAULT = {name: r["default"] for name, r in _RANGES.items()}
_MODE, _LIMIT = int(_DEFAULT["mode"]), _DEFAULT["limit_db"]
_ADAPTATION, _SMOOTHING = _DEFAULT["adaptation"], _DEFAULT["smoothing"]


def check_rate(rate):
    """The rate as an int in [MIN_RATE, MAX_RATE]; integral floats pass."""
    if isinstance(rate, numbers.Integral) and not isinstance(rate, bool):
        value = int(rate)
    elif isinstance(rate, numbers.Real) and float(rate).is_integer():
        value = int(rate)
    elif isinstance(rate, numbers.Real):
        raise ValueError(f"rate must be a whole number of Hz, got {rate!r}")
    else:
        raise TypeError(f"rate must be a number of Hz, got {type(rate).__name__}")
    if not MIN_RATE <= value <= MAX_RATE:
        raise ValueError(f"rate must be {MIN_RATE} to {MAX_RATE} Hz, got {value}")
    return value


def _real(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}")
    # Compared as the core sees it: in single precision.
    return np.float32(value)


def check_parameters(mode, limit_db, adaptation, smoothing):
    """The four suppressor parameters, checked by the core, as it takes them."""
    try:
        mode = operator.index(mode)
    except TypeError:
        raise TypeError(f"mode must be an integer 0, 1, 2 or 3, got {mode!r}") from None
    given = (mode, limit_db, adaptation, smoothing)
    values = (mode, _real("limit_db", limit_db), _real("adaptation", adaptation),
              _real("smoothing", smoothing))
    status = _core.check_parameters(*values)
    if status:
        # Statuses name the parameters in this order, from the mode on.
        raise ValueError(f"{_core.message(status)}, got {given[status - _core.BAD_MODE]!r}")
    return mode, float(values[1]), float(values[2]), float(values[3])


def _check_channels(channels):
    if isinstance(channels, bool) or not isinstance(channels, numbers.Integral):
        raise TypeError(f"channels must be an integer, got {channels!r}")
    if not 1 <= channels <= MAX_CHANNELS:
        raise ValueError(f"channels must be 1 to {MAX_CHANNELS}, got {channels}")
    return int(channels)


def _check_format(rate, channels):
    """(rate, channels), checked."""
    return check_rate(rate), _check_channels(channels)


def _clean_frames(read, write, rate, channels, dtype, params):
    """Frames from read(count), (frames, channels) arrays of dtype, cleaned
    on two threads into write(frames); returns the frames read. The output
    lines up with the input and is as long, as denoise() gives it."""
    rate, channels = _check_format(rate, channels)
    return _core.clean(read, write, rate, channels, *params,
                       as_float=np.dtype(dtype) == np.float32)


def as_channels(samples, channels=None):
    """(array of shape (channels, n), C-contiguous, native int16 or float32;
    whether the input was 1-D)."""
    a = np.asarray(samples)
    shape = a.shape
    if a.dtype.kind == "i" and a.dtype.itemsize == 2:
        dtype = np.int16
    elif a.dtype.kind == "f" and a.dtype.itemsize == 4:
        dtype = np.float32
    else:
        raise TypeError(f"samples must be int16, or float32 on the scale +-1.0; got {a.dtype} "
                        f"(convert with .astype(numpy.float32))")
    one_d = a.ndim == 1
    if one_d:
        a = a[np.newaxis, :]
    elif a.ndim != 2:
        raise ValueError(f"samples must be 1-D (n,) or 2-D (channels, n), got shape {a.shape}")
    elif not 1 <= a.shape[0] <= MAX_CHANNELS:
        raise ValueError(
            f"a 2-D array is read as (channels, samples) with 1 to {MAX_CHANNELS} channels; "
            f"got shape {a.shape}. Pass a (samples, channels) array transposed: samples.T")
    if channels is not None and a.shape[0] != channels:
        raise ValueError(f"expected {channels} channel(s), (channels, samples) = "
                         f"({channels}, n); got shape {shape}")
    # A copy only where the layout, byte order or alignment needs one.
    return np.require(a, dtype=dtype, requirements=["C", "A"]), one_d


def denoise(samples, rate, mode=_MODE, limit_db=_LIMIT, adaptation=_ADAPTATION,
            smoothing=_SMOOTHING):
    """Cleans a whole array; returns one of the same dtype and shape in
    which out[i] is the cleaned samples[i].

    samples: int16, or float32 on the scale +-1.0 (NaN and infinities are
        taken as silence); shape (n,) or (channels, n), at most 8 channels.
    rate: sampling rate in Hz, MIN_RATE to MAX_RATE.
    mode: 0, 1, 2 or 3, as test_wav's kindMode.
    limit_db: suppression limit in dB, <= 0 (test_wav's pSdb).
    adaptation: noise adaptation rate in [0.8, 1) (pNn).
    smoothing: musical-noise reduction in [0.8, 1) (pMn).

    For int16 input the samples equal test_wav's output shifted by one
    block; the last partial block is completed with silence. Arrays of
    several seconds are cleaned on two threads, with the same samples.
    """
    a, one_d = as_channels(samples)
    out = _core.denoise(a, check_rate(rate),
                        *check_parameters(mode, limit_db, adaptation, smoothing))
    return out[0] if one_d else out


class Suppressor:
    """A stream of `channels` channels cleaned in chunks of any length.

        s = Suppressor(16000)
        for chunk in chunks:
            play(s.process(chunk))
        play(s.flush())

    process() returns the cleaned samples that are ready, in order, starting
    with the first one given; flush() returns the rest, so that everything
    returned is as long as everything given and lines up with it. Chunks are
    int16 or float32 arrays, (n,) for one channel or (channels, n); flush()
    returns the dtype and number of dimensions of the last chunk. Output
    does not depend on how the input is cut into chunks.

    block: samples per block, the suppressor's unit of work.
    latency: the most samples held back between input and output.
    speech: one flag per block completed by the last process() call, of
        shape (blocks,) after a 1-D chunk or (channels, blocks); empty after
        flush().
    reset(...): new parameters from the next block on; the noise estimate
        is kept.

    One Suppressor serves one thread at a time; a call while another thread
    is inside process() raises RuntimeError.
    """

    def __init__(self, rate, channels=1, mode=_MODE, limit_db=_LIMIT, adaptation=_ADAPTATION,
                 smoothing=_SMOOTHING):
        self._channels = _check_channels(channels)
        self._rate = check_rate(rate)
        self._params = check_parameters(mode, limit_db, adaptation, smoothing)
        self._stream = _core.Stream(self._rate, self._channels, *self._params)
        self._dtype = np.dtype(np.int16)
        self._one_d = self._channels == 1

    @property
    def rate(self):
        return self._rate

    @property
    def channels(self):
        return self._channels

    @property
    def block(self):
        return self._stream.block

    @property
    def latency(self):
        return self._stream.latency

    @property
    def speech(self):
        flags = self._stream.speech
        return flags[0] if self._one_d else flags

    @property
    def parameters(self):
        """(mode, limit_db, adaptation, smoothing) as the core uses them."""
        return self._params

    def process(self, chunk):
        if self._stream.finished:
            raise RuntimeError("the stream was ended by flush(); start a new Suppressor")
        a, one_d = as_channels(chunk, self._channels)
        out = self._stream.process(a)
        self._dtype, self._one_d = a.dtype, one_d
        return out[0] if one_d else out

    def flush(self):
        out = self._stream.flush(self._dtype == np.float32)
        return out[0] if self._one_d else out

    def reset(self, mode=None, limit_db=None, adaptation=None, smoothing=None):
        """Changes the parameters given (the others stay) from the next block on."""
        old = self._params
        params = check_parameters(old[0] if mode is None else mode,
                                  old[1] if limit_db is None else limit_db,
                                  old[2] if adaptation is None else adaptation,
                                  old[3] if smoothing is None else smoothing)
        self._stream.reset(*params)
        self._params = params
