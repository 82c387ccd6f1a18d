// TarnwelNC for JavaScript: single-microphone noise suppression of Float32Array
// and Int16Array samples, on the WebAssembly build of the C stream adapter
// (one stream record per channel, aligned delivery). This layer only checks
// arguments, moves samples in and out of the module's memory and shapes the
// results; gathering blocks, converting samples and suppressing noise are
// the adapter's.
//
// This entry needs `await init()` before use; the package's main entry
// (index.js) does that on import.
import createEngine from './tarnwelnc_engine.mjs';

// The host layer's accepted values, delivery modes and defaults, read from
// the engine by init(): nothing here repeats them.
export let MIN_RATE;
export let MAX_RATE;
export let MAX_CHANNELS;

const PARAMETERS = ['mode', 'limitDb', 'adaptation', 'smoothing'];
let RANGES = null;    // by the package's names: { minimum, maximum, fallback }
let DELIVERY = null;  // name -> the engine's code
let DEFAULTS = null;

let engine = null;
let loading = null;

function cString(m, ptr) {
  let end = ptr;
  while (m.HEAPU8[end] !== 0) end++;
  return String.fromCharCode(...m.HEAPU8.subarray(ptr, end));
}

// The engine's names (limit_db) as the package spells them (limitDb).
const camel = (name) => name.replace(/_([a-z])/g, (_, c) => c.toUpperCase());

function describe(m) {
  const ranges = {};
  const tmp = m._malloc(64);
  try {
    for (let p = 0; ; p++) {
      const name = m._SpectStream_Range(p, tmp);
      if (!name) break;
      const v = m.HEAPF64.subarray(tmp >> 3, (tmp >> 3) + 5);
      ranges[camel(cString(m, name))] = { minimum: v[0], maximum: v[1], fallback: v[4] };
    }
  } finally {
    m._free(tmp);
  }
  const delivery = {};
  for (let d = 0; ; d++) {
    const name = m._SpectStream_DeliveryName(d);
    if (!name) break;
    delivery[cString(m, name)] = d;
  }
  RANGES = ranges;
  DELIVERY = delivery;
  DEFAULTS = Object.freeze(Object.fromEntries(PARAMETERS.map((k) => [k, ranges[k].fallback])));
  MIN_RATE = ranges.rate.minimum;
  MAX_RATE = ranges.rate.maximum;
  MAX_CHANNELS = ranges.channels.maximum;
}

/** Loads the WebAssembly engine once; resolves when the API is usable. */
export function init() {
  if (!loading) {
    loading = createEngine().then((m) => {
      describe(m);
      engine = m;
    });
  }
  return loading;
}

function need() {
  if (!engine) throw new Error('tarnwelnc: the engine is not loaded yet; await init() first');
  return engine;
}

function typeName(v) {
  if (v === null) return 'null';
  if (typeof v === 'object') return v.constructor ? v.constructor.name : 'object';
  return typeof v;
}

function checkInteger(name, v, lo, hi, what) {
  if (typeof v !== 'number' || !Number.isInteger(v)) {
    if (typeof v === 'number' && Number.isFinite(v)) {
      throw new RangeError(`${name} must be ${what}, got ${v}`);
    }
    throw new TypeError(`${name} must be ${what}, got ${typeof v === 'number' ? v : typeName(v)}`);
  }
  if (v < lo || v > hi) throw new RangeError(`${name} must be ${what}, got ${v}`);
  return v;
}

function checkRate(rate) {
  if (typeof rate !== 'number') throw new TypeError(`rate must be a number of Hz, got ${typeName(rate)}`);
  if (!Number.isInteger(rate)) throw new RangeError(`rate must be a whole number of Hz, got ${rate}`);
  if (rate < MIN_RATE || rate > MAX_RATE) {
    throw new RangeError(`rate must be ${MIN_RATE} to ${MAX_RATE} Hz, got ${rate}`);
  }
  return rate;
}

// A refusal of the engine in the package's words.
function refusal(status) {
  const text = cString(engine, engine._SpectStream_Message(status));
  return new RangeError(text.replace(/^\w+/, camel));
}

// The four parameters as the core takes them: single precision, checked by
// the engine.
function checkParameters(p) {
  const mode = checkInteger('mode', p.mode, -Infinity, Infinity, 'an integer 0, 1, 2 or 3');
  const real = (name, v) => {
    if (typeof v !== 'number') throw new TypeError(`${name} must be a number, got ${typeName(v)}`);
    return Math.fround(v);
  };
  const values = { mode, limitDb: real('limitDb', p.limitDb), adaptation: real('adaptation', p.adaptation),
    smoothing: real('smoothing', p.smoothing) };
  // A mode beyond 32 bits must not wrap into range on its way in.
  const wide = mode >= -2147483648 && mode <= 2147483647 ? mode : -1;
  const status = need()._SpectStream_CheckParameters(wide, values.limitDb, values.adaptation, values.smoothing);
  if (status !== 0) {
    const e = refusal(status);
    const name = e.message.split(' ')[0];
    e.message += `, got ${p[name]}`;
    throw e;
  }
  return Object.freeze(values);
}

function checkOptions(options, allowed) {
  if (options === undefined) return {};
  if (options === null || typeof options !== 'object' || Array.isArray(options)) {
    throw new TypeError(`options must be an object, got ${typeName(options)}`);
  }
  for (const key of Object.keys(options)) {
    if (!allowed.includes(key)) {
      throw new TypeError(`unknown option "${key}"; the options are ${allowed.join(', ')}`);
    }
  }
  return options;
}

function withDefaults(options, base) {
  const out = {};
  for (const key of PARAMETERS) out[key] = options[key] === undefined ? base[key] : options[key];
  return out;
}

// (channel arrays, whether one bare array was given, its kind) after
// checking them against the channel count.
function asChannels(samples, channels) {
  const bare = ArrayBuffer.isView(samples);
  const list = bare ? [samples] : samples;
  if (!Array.isArray(list)) {
    throw new TypeError(`samples must be a Float32Array or Int16Array, or an array of them (one a channel); got ${typeName(samples)}`);
  }
  if (list.length < 1 || list.length > MAX_CHANNELS) {
    throw new RangeError(`samples must hold 1 to ${MAX_CHANNELS} channel arrays, got ${list.length}`);
  }
  if (channels !== undefined && list.length !== channels) {
    throw new RangeError(bare
      ? `this Suppressor has ${channels} channels: pass an array of ${channels} channel arrays`
      : `expected ${channels} channel array(s), got ${list.length}`);
  }
  const kind = list[0] instanceof Float32Array ? Float32Array : list[0] instanceof Int16Array ? Int16Array : null;
  for (const a of list) {
    if (!(a instanceof Float32Array) && !(a instanceof Int16Array)) {
      throw new TypeError(`samples must be Float32Array (on the scale ±1.0) or Int16Array; got ${typeName(a)}`);
    }
    if (!(a instanceof kind)) throw new TypeError('all channels must be of one type, Float32Array or Int16Array');
    if (a.length !== list[0].length) throw new RangeError('all channels must hold the same number of samples');
  }
  return { list, bare, kind };
}

const registry = typeof FinalizationRegistry === 'function'
  ? new FinalizationRegistry((ptrs) => engine && ptrs.forEach((p) => engine._free(p)))
  : null;

/**
 * A stream of `channels` channels cleaned in chunks of any length.
 * process() returns the cleaned samples that are ready, starting with the
 * first sample given; flush() returns the rest, so that everything returned
 * is as long as everything given and lines up with it.
 */
export class Suppressor {
  #m; #mem = 0; #scratch = 0; #streams = []; #in = 0; #out = 0; #block = 0; #latency = 0;
  #rate; #channels; #params; #delivery; #finished = false; #kind = Int16Array; #bare; #speech;

  constructor(options = {}) {
    const o = checkOptions(options, ['rate', 'channels', 'delivery', ...PARAMETERS]);
    const m = need();
    this.#rate = checkRate(o.rate);
    this.#channels = o.channels === undefined ? 1
      : checkInteger('channels', o.channels, 1, MAX_CHANNELS, `an integer 1 to ${MAX_CHANNELS}`);
    this.#params = checkParameters(withDefaults(o, DEFAULTS));
    this.#delivery = o.delivery === undefined ? 'aligned' : o.delivery;
    if (!Object.prototype.hasOwnProperty.call(DELIVERY, this.#delivery)) {
      const names = Object.keys(DELIVERY).map((k) => `'${k}'`).join(', ');
      throw new RangeError(`delivery must be one of ${names}, got ${String(o.delivery)}`);
    }
    this.#bare = this.#channels === 1;
    const size = m._TncStream_Size();
    const mem = m._malloc(size * this.#channels);
    if (!mem) throw new Error('tarnwelnc: out of memory');
    this.#m = m;
    this.#mem = mem;
    for (let c = 0; c < this.#channels; c++) this.#streams.push(mem + c * size);
    const p = this.#params;
    for (const s of this.#streams) {
      const status = m._SpectStream_Open(s, this.#rate, p.mode, p.limitDb, p.adaptation, p.smoothing,
        DELIVERY[this.#delivery]);
      if (status !== 0) {
        this.free();
        throw refusal(status);
      }
    }
    this.#block = m._SpectStream_Block(this.#streams[0]);
    this.#latency = m._SpectStream_Latency(this.#streams[0]);
    // One block of input and the most a flush returns, as floats: at most a
    // block is given a call.
    const scratch = m._malloc(4 * 3 * this.#block);
    if (!scratch) {
      this.free();
      throw new Error('tarnwelnc: out of memory');
    }
    this.#scratch = scratch;
    this.#in = scratch;
    this.#out = scratch + 4 * this.#block;
    this.#speech = this.#shape(this.#streams.map(() => new Uint8Array(0)));
    if (registry) registry.register(this, [mem, scratch], this);
  }

  get rate() { return this.#rate; }
  get channels() { return this.#channels; }
  /** 'aligned' (output starts with the first input sample) or 'fixed' (as many samples out as in, `latency` late). */
  get delivery() { return this.#delivery; }
  /** Samples per block, the suppressor's unit of work. */
  get block() { return this.#block; }
  /** The most samples held back between input and output; the delay of 'fixed' delivery. */
  get latency() { return this.#latency; }
  /** (mode, limitDb, adaptation, smoothing) as the core uses them. */
  get parameters() { return this.#params; }
  /** Speech flags (0 or 1), one per block completed by the last process(). */
  get speech() { return this.#speech; }
  get finished() { return this.#finished; }

  #live() {
    if (!this.#mem) throw new Error('this Suppressor was freed');
  }

  #shape(list) { return this.#bare ? list[0] : list; }

  /**
   * Cleans a chunk: a Float32Array or Int16Array, or one per channel (as an
   * array, or as separate arguments).
   */
  process(...chunk) {
    this.#live();
    if (this.#finished) throw new Error('the stream was ended by flush(); start a new Suppressor');
    const { list, bare, kind } = asChannels(chunk.length === 1 ? chunk[0] : chunk, this.#channels);
    const m = this.#m, n = list[0].length, isFloat = kind === Float32Array;
    const out = [], flags = [];
    let count = -1;
    for (let c = 0; c < this.#channels; c++) {
      const s = this.#streams[c], x = list[c];
      const y = new kind(n + this.#block - 1);
      const f = [];
      let got = 0;
      // At most one block a call, cut at block ends so that every completed
      // block's speech flag is read.
      for (let at = 0; at < n;) {
        const k = Math.min(n - at, m._SpectStream_ToBlockEnd(s));
        let r;
        if (isFloat) {
          m.HEAPF32.set(x.subarray(at, at + k), this.#in >> 2);
          r = m._SpectStream_ProcessFloat(s, this.#in, k, this.#out);
          y.set(m.HEAPF32.subarray(this.#out >> 2, (this.#out >> 2) + r), got);
        } else {
          m.HEAP16.set(x.subarray(at, at + k), this.#in >> 1);
          r = m._SpectStream_Process16(s, this.#in, k, this.#out);
          y.set(m.HEAP16.subarray(this.#out >> 1, (this.#out >> 1) + r), got);
        }
        got += r;
        at += k;
        if (m._SpectStream_ToBlockEnd(s) === this.#block) f.push(m._SpectStream_Speech(s));
      }
      if (count >= 0 && got !== count) throw new Error('channels went out of step');
      count = got;
      out.push(y.slice(0, got));
      flags.push(Uint8Array.from(f));
    }
    this.#kind = kind;
    this.#bare = bare;
    this.#speech = this.#shape(flags);
    return this.#shape(out);
  }

  /** Ends the stream and returns the rest, typed and shaped as the last chunk. */
  flush() {
    this.#live();
    const m = this.#m, isFloat = this.#kind === Float32Array, out = [];
    let count = -1;
    for (const s of this.#streams) {
      const r = isFloat ? m._SpectStream_FlushFloat(s, this.#out) : m._SpectStream_Flush16(s, this.#out);
      if (r > 2 * this.#block) throw new Error('stream flushed more samples than it held');
      if (count >= 0 && r !== count) throw new Error('channels went out of step');
      count = r;
      out.push(isFloat ? m.HEAPF32.slice(this.#out >> 2, (this.#out >> 2) + r)
        : m.HEAP16.slice(this.#out >> 1, (this.#out >> 1) + r));
    }
    this.#finished = true;
    this.#speech = this.#shape(this.#streams.map(() => new Uint8Array(0)));
    return this.#shape(out);
  }

  /** New parameters (those given; the others stay) from the next block on; the noise estimate is kept. */
  reset(options = {}) {
    this.#live();
    const p = checkParameters(withDefaults(checkOptions(options, PARAMETERS), this.#params));
    // The layer refuses by the values alone: a refusal comes at the first
    // channel, before any has changed.
    for (const s of this.#streams) {
      const status = this.#m._SpectStream_Retune(s, p.mode, p.limitDb, p.adaptation, p.smoothing);
      if (status !== 0) throw refusal(status);
    }
    this.#params = p;
  }

  /** Gives the memory back to the engine; the Suppressor is unusable after. */
  free() {
    if (!this.#mem) return;
    if (registry) registry.unregister(this);
    this.#m._free(this.#mem);
    if (this.#scratch) this.#m._free(this.#scratch);
    this.#mem = 0;
    this.#scratch = 0;
  }
}

/**
 * Cleans whole arrays: `samples` as for Suppressor.process(); returns the
 * same type and shape in which out[i] is the cleaned samples[i] (the block
 * delay removed, the last partial block completed with silence).
 */
export function denoise(samples, rate, options) {
  const o = checkOptions(options, PARAMETERS);
  const { list, bare } = asChannels(samples);
  const s = new Suppressor({ ...o, rate, channels: list.length });
  try {
    const n = list[0].length;
    const head = s.process(bare ? list[0] : list), tail = s.flush();
    const parts = bare ? [[head, tail]] : head.map((h, c) => [h, tail[c]]);
    const out = parts.map(([h, t]) => {
      if (h.length + t.length !== n) throw new Error('stream returned a different number of samples than it was given');
      const y = new h.constructor(n);
      y.set(h);
      y.set(t, h.length);
      return y;
    });
    return bare ? out[0] : out;
  } finally {
    s.free();
  }
}
