// Throughput of the JavaScript package under node: denoise() on whole
// Int16Array and Float32Array signals, and a Suppressor fed 128-sample
// chunks as an AudioWorklet feeds it, at 16 and 48 kHz, mono and stereo.
// Times real time = seconds of audio per second of this process's CPU time
// (user and system), best of the runs; wall time in parentheses.
//
//   node bench/bench_wasm.mjs [--seconds S] [--reps R]
//
// For test_wav under node beside the native one, use bench/run.sh with
// --build wasm=build-wasm/test_wav (a script that runs it through node;
// see the README).
import { denoise, Suppressor } from '../js/index.js';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const i = args.indexOf(name);
  return i >= 0 ? Number(args[i + 1]) : fallback;
};
const seconds = option('--seconds', 60), reps = option('--reps', 5);

function signal(rate, channels) {
  let state = 12345;
  const n = rate * seconds;
  return Array.from({ length: channels }, (_, c) => Int16Array.from({ length: n }, (_, i) => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    const burst = (i / rate) % 1 > 0.6 ? 4000 * Math.sin(i * (0.05 + 0.01 * c)) : 0;
    return Math.round((state / 4294967296 - 0.5) * 2000 + burst);
  }));
}

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

function chunked(x, rate) {
  const s = new Suppressor({ rate, channels: x.length });
  for (let at = 0; at < x[0].length; at += 128) s.process(x.map((c) => c.subarray(at, at + 128)));
  s.flush();
  s.free();
}

console.log(`${seconds} s signals, best of ${reps}; x real time, CPU (wall)`);
console.log('| Input | denoise, Int16Array | denoise, Float32Array | Suppressor, 128-sample Float32Array chunks |');
console.log('|---|---:|---:|---:|');
for (const rate of [16000, 48000]) {
  for (const channels of [1, 2]) {
    const x = signal(rate, channels), f = x.map((c) => Float32Array.from(c, (v) => v / 32768));
    const row = [best(() => denoise(x, rate)), best(() => denoise(f, rate)), best(() => chunked(f, rate))];
    console.log(`| ${rate / 1000} kHz ${channels === 1 ? 'mono' : 'stereo'} | ${row.join(' | ')} |`);
  }
}
