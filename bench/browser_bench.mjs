// Times the page at its real work in one browser engine (tests/browser/drivers.mjs): packing the save
// in SAVE_DIR (BASE.sav and BASE.jpg) and unpacking the native tool's archive of it (ARCHIVE, named
// BASE.ssav), each through the page's file input, from the moment the files are given to the moment the
// page says "Done", as a player waits for it. Checks, in the first round, the archive offered against
// ARCHIVE byte for byte and the unpacked files against the save.
// When NATIVE is given ("MEASURE TOOL PACK_DIR UNPACK_DIR": tovrel_measure, the native tool, a folder
// holding a copy of the save and one holding a copy of the archive), every round also runs the native
// tool's pack in PACK_DIR right after the page's pack, and its unpack in UNPACK_DIR right after the
// page's unpack, so that both sides meet the same load.
// Prints, for one pack and for one unpack, each in a browser of its own, the resident memory of the
// browser process that grew most (the one holding the page and its worker) at rest once the page is
// ready, and its peak during the step (VmHWM, reset at rest), in KiB ("pack-idle-kib N",
// "pack-peak-kib N" and the like), with the time of that step, the first of a freshly opened page, as
// a player who opens the page for one save waits for it ("pack-first SECONDS"), then, per round, "pack SECONDS" and "unpack SECONDS" (and
// "native-pack SECONDS KIB", "native-unpack SECONDS KIB"), all rounds in one more browser.
//   node bench/browser_bench.mjs ENGINE PAGE SAVE_DIR BASE ARCHIVE ROUNDS [MEASURE TOOL PACK_DIR UNPACK_DIR]
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { drivers } from '../tests/browser/drivers.mjs';

const [engine, pagePath, saveDir, base, archive, rounds, measure, tool, packDir, unpackDir] = process.argv.slice(2);
let driver;

// Every process below this one (the browser's), with its resident memory (VmRSS) and the peak of it
// (VmHWM), in KiB: pid -> {rss, hwm}.
function processes() {
  const parents = new Map([[process.pid, null]]);
  const found = new Map();
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name)).map(Number).sort((a, b) => a - b)) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      if (!parents.has(Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]))) continue;
      parents.set(pid, true);
      const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
      const [rss, hwm] = ['VmRSS', 'VmHWM'].map((key) => Number(new RegExp(`${key}:\\s+(\\d+)`).exec(status)?.[1] ?? 0));
      found.set(pid, { pid, rss, hwm });
    } catch {
      // the process ended while it was read
    }
  }
  return found;
}

// The browser's processes at rest: each one's peak is set back to what it holds now (clear_refs 5), so
// that a peak read later is that of the step in between.
function atRest() {
  const found = processes();
  for (const pid of found.keys()) {
    try {
      fs.writeFileSync(`/proc/${pid}/clear_refs`, '5');
    } catch {
      // gone, or not ours to reset: its peak then counts from its start
    }
  }
  return found;
}

// The process that grew most since `rest` (atRest's), as {rss at rest, peak above it}, in KiB.
function grown(rest) {
  let most = { rest: 0, above: 0 };
  for (const [pid, { hwm }] of processes()) {
    const before = rest.get(pid)?.rss ?? 0;
    if (hwm - before > most.above) most = { rest: before, above: hwm - before };
  }
  return most;
}

async function openPage() {
  driver = await drivers[engine]({ proxy: '127.0.0.1:9' });
  await driver.open(pathToFileURL(path.resolve(pagePath)).href);
  while (!(await driver.run(() => document.body.dataset.ready === 'true'))) await new Promise((ok) => setTimeout(ok, 20));
}

// Gives `files` to the page and returns the seconds until it says it is done, and what it offers.
async function timed(files) {
  await driver.run(() => { delete document.body.dataset.exitCode; });
  const started = process.hrtime.bigint();
  await driver.give('#files', files);
  let code;
  while ((code = await driver.run(() => document.body.dataset.exitCode ?? null)) === null) await new Promise((ok) => setTimeout(ok, 20));
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  assert.equal(code, '0');
  assert.match(await driver.run(() => document.getElementById('status').textContent), /^Done/);
  return { seconds, offers: await driver.run(() => [...document.querySelectorAll('#downloads button')].map((b) => b.textContent)) };
}

// Runs the native tool on `name` in `dir` under tovrel_measure: "SECONDS KIB".
function native(dir, name) {
  const [seconds, kib, status] = execFileSync(measure, [tool, name], { cwd: dir, encoding: 'utf8' }).trim().split(' ');
  assert.equal(status, '0', `native tool on ${name}`);
  return `${seconds} ${kib}`;
}

const offered = (name, i) => driver.download(`#downloads li:nth-child(${i + 1}) button`, name);
const saveFiles = ['sav', 'jpg'].map((ext) => path.join(saveDir, `${base}.${ext}`));
for (const [step, files] of [['pack', saveFiles], ['unpack', [archive]]]) {
  await openPage();
  await new Promise((ok) => setTimeout(ok, 1000));  // the page at rest: what it holds before any file
  const rest = atRest();
  const { seconds } = await timed(files);
  const { rest: idle, above } = grown(rest);
  console.log(`${step}-idle-kib ${idle}`);
  console.log(`${step}-peak-kib ${idle + above}`);
  console.log(`${step}-first ${seconds.toFixed(3)}`);
  await driver.close();
}

await openPage();
for (let round = 0; round < Number(rounds); ++round) {
  const pack = await timed(saveFiles);
  console.log(`pack ${pack.seconds.toFixed(3)}`);
  if (measure) console.log(`native-pack ${native(packDir, `${base}.sav`)}`);
  if (round === 0) assert.ok((await offered(pack.offers[0], 0)).equals(fs.readFileSync(archive)));
  const unpack = await timed([archive]);
  console.log(`unpack ${unpack.seconds.toFixed(3)}`);
  if (measure) console.log(`native-unpack ${native(unpackDir, `${base}.ssav`)}`);
  for (const [i, offer] of (round === 0 ? unpack.offers : []).entries()) {
    assert.ok((await offered(offer, i)).equals(fs.readFileSync(path.join(saveDir, offer))), offer);
  }
}
await driver.close();
