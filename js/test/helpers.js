// Test signals, WAV files and test_wav for the package's tests.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const BLOCK = { 8000: 120, 16000: 190, 44100: 1024, 48000: 1024 };

// Int16Array channels: noise with tone bursts that differ per channel, the
// length not a whole number of blocks; the same for the same arguments.
export function noisy(rate, seconds, channels = 1, seed = 1) {
  let state = seed >>> 0 || 1;
  const uniform = () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state / 4294967296;
  };
  const n = Math.floor(rate * seconds) + 77;
  const out = [];
  for (let c = 0; c < channels; c++) {
    const x = new Int16Array(n);
    for (let i = 0; i < n; i++) {
      const t = i / rate;
      const noise = (uniform() + uniform() + uniform() - 1.5) * 1000;
      const tone = (t % 1) > 0.55 + 0.1 * c ? 4000 * Math.sin(2 * Math.PI * (300 + 150 * c) * t) : 0;
      x[i] = Math.max(-32768, Math.min(32767, Math.round(noise + tone)));
    }
    out.push(x);
  }
  return out;
}

export function wavBytes(channels, rate) {
  const n = channels[0].length, k = channels.length;
  const b = Buffer.alloc(44 + 2 * n * k);
  b.write('RIFF', 0); b.writeUInt32LE(36 + 2 * n * k, 4); b.write('WAVEfmt ', 8);
  b.writeUInt32LE(16, 16); b.writeUInt16LE(1, 20); b.writeUInt16LE(k, 22);
  b.writeUInt32LE(rate, 24); b.writeUInt32LE(rate * 2 * k, 28); b.writeUInt16LE(2 * k, 32);
  b.writeUInt16LE(16, 34); b.write('data', 36); b.writeUInt32LE(2 * n * k, 40);
  for (let i = 0; i < n; i++) for (let c = 0; c < k; c++) b.writeInt16LE(channels[c][i], 44 + 2 * (i * k + c));
  return b;
}

// Int16Array channels of a 16-bit PCM file, found through its data chunk.
function readWav(b, k) {
  let at = 12;
  while (b.toString('latin1', at, at + 4) !== 'data') at += 8 + b.readUInt32LE(at + 4);
  const n = b.readUInt32LE(at + 4) / (2 * k), out = [];
  for (let c = 0; c < k; c++) {
    const x = new Int16Array(n);
    for (let i = 0; i < n; i++) x[i] = b.readInt16LE(at + 8 + 2 * (i * k + c));
    out.push(x);
  }
  return out;
}

const here = dirname(fileURLToPath(import.meta.url));

// The native test_wav: TNC_TEST_WAV, or the README's build folder. Null
// when neither is there; a TNC_TEST_WAV that names nothing is an error.
export function testWavPath() {
  const given = process.env.TNC_TEST_WAV;
  if (given) {
    if (!existsSync(given)) throw new Error(`TNC_TEST_WAV=${given}: no such file`);
    return resolve(given);
  }
  const built = resolve(here, '../../build/test_wav');
  return existsSync(built) ? built : null;
}

export function runTestWav(tool, channels, rate, mode) {
  const dir = mkdtempSync(join(tmpdir(), 'tarnwelnc-'));
  try {
    const input = join(dir, 'in.wav'), output = join(dir, 'out.wav');
    writeFileSync(input, wavBytes(channels, rate));
    // TNC_TEST_WAV may be a command with words, such as `node test_wav.js`.
    const [cmd, ...pre] = tool.split(' ');
    execFileSync(cmd, [...pre, String(mode), '-20', '0.95', '0.98', input, output], { stdio: 'ignore' });
    return readWav(readFileSync(output), channels.length);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}
