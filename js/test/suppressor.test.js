import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { denoise, Suppressor } from '../index.js';
import { BLOCK, noisy, runTestWav, testWavPath } from './helpers.js';

const tool = testWavPath();

describe('the same samples as test_wav', { skip: tool ? false : 'no test_wav: set TNC_TEST_WAV' }, () => {
  for (const rate of [8000, 16000, 44100, 48000]) {
    for (const channels of [1, 2]) {
      test(`${rate} Hz, ${channels} channel(s), every mode`, () => {
        const x = noisy(rate, 1.3, channels, rate + channels), n = x[0].length, B = BLOCK[rate];
        // test_wav drops the last partial block; given the input padded with
        // silence to whole blocks and one more, it writes every sample.
        const padded = x.map((c) => { const p = new Int16Array((Math.floor(n / B) + 2) * B); p.set(c); return p; });
        for (let mode = 0; mode < 4; mode++) {
          const y = channels === 1 ? [denoise(x[0], rate, { mode })] : denoise(x, rate, { mode });
          assert.ok(y[0] instanceof Int16Array);
          const ref = runTestWav(tool, x, rate, mode), full = runTestWav(tool, padded, rate, mode);
          for (let c = 0; c < channels; c++) {
            assert.equal(y[c].length, n);
            assert.deepEqual(y[c].subarray(0, ref[c].length - B), ref[c].subarray(B), `mode ${mode}`);
            assert.deepEqual(y[c], full[c].subarray(B, B + n), `mode ${mode}, padded`);
          }
        }
      });
    }
  }
});

test('chunks of any length give the samples of denoise()', () => {
  const rate = 44100;
  const x = noisy(rate, 3, 2).map((c) => Float32Array.from(c, (v) => v / 32768));
  const ref = denoise(x, rate, { mode: 1 });
  const s = new Suppressor({ rate, channels: 2, mode: 1 });
  assert.deepEqual([s.block, s.latency], [1024, 2047]);
  let seed = 5, at = 0, blocks = 0;
  const out = [[], []];
  const lengths = [0, 1, 1023, 1024, 1025];
  while (at < x[0].length) {
    seed = (Math.imul(seed, 1103515245) + 12345) >>> 0;
    const n = lengths.length ? lengths.shift() : seed % 3000;
    const y = s.process(x.map((c) => c.subarray(at, at + n)));
    const done = Math.min(at + n, x[0].length);
    assert.equal(s.speech[1].length, Math.floor(done / 1024) - Math.floor(at / 1024));
    blocks += s.speech[0].length;
    at = done;
    y.forEach((c, k) => out[k].push(c));
  }
  s.flush().forEach((c, k) => out[k].push(c));
  assert.equal(blocks, Math.floor(x[0].length / 1024));
  for (let k = 0; k < 2; k++) {
    const joined = new Float32Array(x[0].length);
    let p = 0;
    for (const c of out[k]) { assert.ok(c instanceof Float32Array); joined.set(c, p); p += c.length; }
    assert.equal(p, x[0].length);
    assert.deepEqual(joined, ref[k]);
  }
  // The stream is over: more input would be lost, so it is refused.
  assert.throws(() => s.process([x[0].subarray(0, 10), x[1].subarray(0, 10)]), /flush/);
  assert.deepEqual(s.flush().map((c) => c.length), [0, 0]);
  s.free();
  assert.throws(() => s.flush(), /freed/);
});

test('float input on the 16-bit grid is the int16 path; NaN and infinity are silence', () => {
  const [x] = noisy(16000, 2, 1);
  const f = Float32Array.from(x, (v) => v / 32768);
  const y = denoise(x, 16000, { mode: 3 });
  assert.deepEqual(denoise(f, 16000, { mode: 3 }), Float32Array.from(y, (v) => v / 32768));
  const g = f.slice(), h = x.slice();
  g.fill(NaN, 100, 110); h.fill(0, 100, 110);
  g[200] = -Infinity; h[200] = 0;
  g[300] = 5; h[300] = 32767;
  g[400] += 0.4 / 32768;
  assert.deepEqual(denoise(g, 16000, { mode: 3 }), Float32Array.from(denoise(h, 16000, { mode: 3 }), (v) => v / 32768));
});

test('reset changes the parameters from the next block on', () => {
  const rate = 16000, [x] = noisy(rate, 3, 1), cut = 190 * 100;
  const plain = denoise(x, rate);
  const s = new Suppressor({ rate });
  const first = s.process(x.subarray(0, cut));
  s.reset({ mode: 3, limitDb: -30 });
  assert.equal(s.parameters.mode, 3);
  assert.throws(() => s.reset({ adaptation: 2 }), RangeError);
  assert.equal(s.parameters.mode, 3);
  const rest = [s.process(x.subarray(cut)), s.flush()];
  assert.deepEqual(first, plain.subarray(0, first.length));
  assert.notDeepEqual(rest[0].subarray(190), plain.subarray(first.length + 190, first.length + rest[0].length));
});

test('bad options and samples are refused with a clear error', () => {
  const z = new Int16Array(10);
  const cases = [
    [() => new Suppressor({ rate: 5999 }), RangeError, /6000 to 192000/],
    [() => new Suppressor({ rate: 44100.5 }), RangeError, /whole number/],
    [() => new Suppressor({ rate: '44100' }), TypeError, /rate must be a number/],
    [() => new Suppressor({}), TypeError, /rate/],
    [() => new Suppressor({ rate: 8000, channels: 9 }), RangeError, /channels/],
    [() => new Suppressor({ rate: 8000, mode: 4 }), RangeError, /mode/],
    [() => new Suppressor({ rate: 8000, mode: '2' }), TypeError, /mode/],
    [() => new Suppressor({ rate: 8000, limitDb: 1 }), RangeError, /limitDb/],
    [() => new Suppressor({ rate: 8000, limitDb: NaN }), RangeError, /limitDb/],
    // 0.99999999 is 1.0 in single precision, which the core refuses.
    [() => new Suppressor({ rate: 8000, adaptation: 0.99999999 }), RangeError, /adaptation/],
    [() => new Suppressor({ rate: 8000, smoothing: 0.79 }), RangeError, /smoothing/],
    [() => new Suppressor({ rate: 8000, limitDB: -10 }), TypeError, /unknown option "limitDB"/],
    [() => denoise(new Float64Array(10), 8000), TypeError, /Float32Array.*Int16Array.*Float64Array/],
    [() => denoise([1, 2, 3], 8000), TypeError, /Float32Array/],
    [() => denoise([z, new Float32Array(10)], 8000), TypeError, /one type/],
    [() => denoise([z, new Int16Array(9)], 8000), RangeError, /same number/],
    [() => denoise(Array(9).fill(z), 8000), RangeError, /1 to 8/],
    [() => denoise(z, 8000, { rate: 8000 }), TypeError, /unknown option "rate"/],
    [() => new Suppressor({ rate: 8000, channels: 2 }).process(z), RangeError, /array of 2 channel arrays/],
  ];
  for (const [call, error, words] of cases) assert.throws(call, (e) => e instanceof error && words.test(e.message), String(call));
  assert.deepEqual(denoise(new Int16Array(0), 8000), new Int16Array(0));
});

test("'fixed' and 'blocks' deliveries against denoise()", () => {
  const rate = 8000, [x] = noisy(rate, 1, 1), ref = denoise(x, rate);
  const s = new Suppressor({ rate, delivery: 'fixed' });
  const out = [];
  for (let at = 0; at < x.length; at += 128) {
    const chunk = x.subarray(at, at + 128);
    const y = s.process(chunk);
    assert.equal(y.length, chunk.length);
    out.push(y);
  }
  const tail = s.flush();
  assert.equal(tail.length, s.latency);
  const y = Int16Array.from(out.concat([tail]).flatMap((c) => Array.from(c)));
  assert.deepEqual(y.subarray(0, s.latency), new Int16Array(s.latency));
  assert.deepEqual(y.subarray(s.latency), ref);
  // 'blocks' is the block loop: whole blocks, one block late, nothing at the end.
  const b = new Suppressor({ rate, delivery: 'blocks' });
  const blocks = [];
  for (let at = 0; at < x.length; at += 100) blocks.push(b.process(x.subarray(at, at + 100)));
  assert.equal(b.flush().length, 0);
  const z = Int16Array.from(blocks.flatMap((c) => Array.from(c)));
  assert.equal(z.length, x.length - (x.length % b.block));
  assert.deepEqual(z.subarray(b.block), ref.subarray(0, z.length - b.block));
  // Separate arguments are the channels of one chunk.
  const two = new Suppressor({ rate, channels: 2, delivery: 'fixed' });
  assert.deepEqual(two.process(x.subarray(0, 500), x.subarray(0, 500)).map((c) => c.length), [500, 500]);
  assert.throws(() => new Suppressor({ rate, delivery: 'late' }), RangeError);
});

test('the engine memory grows without disturbing running streams', () => {
  const rate = 16000, [x] = noisy(rate, 2, 1), half = 10000;
  const s = new Suppressor({ rate });
  const first = s.process(x.subarray(0, half));
  // About 90 KB a channel: 240 channels make the engine's memory grow.
  const many = Array.from({ length: 30 }, () => new Suppressor({ rate, channels: 8 }));
  const rest = s.process(x.subarray(half)), tail = s.flush();
  many.forEach((m) => m.free());
  s.free();
  const y = new Int16Array(x.length);
  y.set(first); y.set(rest, first.length); y.set(tail, first.length + rest.length);
  assert.deepEqual(y, denoise(x, rate));
});
