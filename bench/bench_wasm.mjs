// Throughput of the JavaScript package under node: denoise() on whole
// Int16Array and Float32Array signals, and a Suppressor fed 128-sample
// chunks as an AudioWorklet feeds it, at 16 and 48 kHz, mono and stereo;
// then, for each --tool, test_wav (native, or under node) on the same
// signals as WAV files. Times real time = seconds of audio per second of CPU
// time (user and system), best of the runs; wall time in parentheses.
//
//   node bench/bench_wasm.mjs [--seconds S] [--reps R] [--tool LABEL=COMMAND ...]
//   e.g. --tool native=build/test_wav --tool "node=node build-wasm/test_wav.js"
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { denoise, Suppressor } from '../js/index.js';
import { noisy, wavBytes } from '../js/test/helpers.js';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const i = args.indexOf(name);
  return i >= 0 ? Number(args[i + 1]) : fallback;
};
const seconds = option('--seconds', 60), reps = option('--reps', 5);
const tools = args.flatMap((a, i) => (args[i - 1] === '--tool' ? [a.split('=')] : []))
  .map(([label, ...command]) => [label, command.join('=')]);

function best(run) {
  let cpu = Infinity, wall = Infinity;
  for (let r = 0; r < reps; r++) {
    const c0 = process.cpuUsage(), w0 = process.hrtime.bigint();
    run();
    const c = process.cpuUsage(c0), w = Number(process.hrtime.bigint() - w0) / 1e9;
    cpu = Math.min(cpu, (c.user + c.system) / 1e6);
    wall = Math.min(wall, w);
  }
  return `${Math.round(seconds / cpu)} (${Math.round(seconds / wall)})`;
}

// A command's CPU time and wall time, as bash's `time` reports them.
function timed(command, input, output) {
  const r = spawnSync('bash', ['-c', `TIMEFORMAT='%U %S %R'; time ${command} 2 -20 0.95 0.98 "$1" "$2" >/dev/null`, 'bench', input, output], { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`${command} failed: ${r.stderr}`);
  const [user, sys, real] = r.stderr.trim().split('\n').pop().split(' ').map(Number);
  return [user + sys, real];
}

function chunked(x, rate) {
  const s = new Suppressor({ rate, channels: x.length });
  for (let at = 0; at < x[0].length; at += 128) s.process(x.map((c) => c.subarray(at, at + 128)));
  s.flush();
  s.free();
}

console.log(`${seconds} s signals, best of ${reps}; x real time, CPU (wall)`);
console.log(`| Input | denoise, Int16Array | denoise, Float32Array | Suppressor, 128-sample Float32Array chunks |${tools.map(([l]) => ` test_wav, ${l} |`).join('')}`);
console.log(`|---|---:|---:|---:|${tools.map(() => '---:|').join('')}`);
const dir = mkdtempSync(join(tmpdir(), 'bench-wasm-'));
try {
  for (const rate of [16000, 48000]) {
    for (const channels of [1, 2]) {
      const x = noisy(rate, seconds, channels), f = x.map((c) => Float32Array.from(c, (v) => v / 32768));
      const row = [best(() => denoise(x, rate)), best(() => denoise(f, rate)), best(() => chunked(f, rate))];
      const input = join(dir, 'in.wav');
      writeFileSync(input, wavBytes(x, rate));
      for (const [, command] of tools) {
        let cpu = Infinity, wall = Infinity;
        for (let r = 0; r < reps; r++) {
          const [c, w] = timed(command, input, join(dir, 'out.wav'));
          cpu = Math.min(cpu, c);
          wall = Math.min(wall, w);
        }
        row.push(`${Math.round(seconds / cpu)} (${Math.round(seconds / wall)})`);
      }
      console.log(`| ${rate / 1000} kHz ${channels === 1 ? 'mono' : 'stereo'} | ${row.join(' | ')} |`);
    }
  }
} finally {
  rmSync(dir, { recursive: true, force: true });
}
