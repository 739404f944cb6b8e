// Times the page at its real work in one browser engine (tests/browser/drivers.mjs): packing the save
// in SAVE_DIR (BASE.sav and BASE.jpg) and unpacking the native tool's archive of it (ARCHIVE, named
// BASE.ssav), each through the page's file input, from the moment the files are given to the moment the
// page says "Done", as a player waits for it. Checks, in the first round, the archive offered against
// ARCHIVE byte for byte and the unpacked files against the save.
// When NATIVE is given ("MEASURE TOOL PACK_DIR UNPACK_DIR": tovrel_measure, the native tool, a folder
// holding a copy of the save and one holding a copy of the archive), every round also runs the native
// tool's pack in PACK_DIR right after the page's pack, and its unpack in UNPACK_DIR right after the
// page's unpack, so that both sides meet the same load.
// Prints the peak resident memory (VmHWM) of the browser's largest process (the one holding the page
// and its worker), in KiB, for one pack and for one unpack, each in a browser of its own
// ("pack-peak-kib N" and the like), with the time of that step, the first of a freshly opened page, as
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

// The peak resident memory (VmHWM), in KiB, of the largest process below this one.
function peak() {
  const parents = new Map([[process.pid, null]]);
  let most = 0;
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name)).map(Number).sort((a, b) => a - b)) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      if (!parents.has(Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]))) continue;
      parents.set(pid, true);
      most = Math.max(most, Number(/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))?.[1] ?? 0));
    } catch {
      // the process ended while it was read
    }
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
  const { seconds } = await timed(files);
  console.log(`${step}-peak-kib ${peak()}`);
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
