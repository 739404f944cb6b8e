// Times the page at its real work in one browser engine (tests/browser/drivers.mjs): packing the save
// in SAVE_DIR (BASE.sav and BASE.jpg) and unpacking the archive it makes, each through the page's file
// input, from the moment the files are given to the moment the page says it is done. Checks the archive
// and the unpacked files byte for byte against the native tool's archive (NATIVE_ARCHIVE) and the save.
// Prints the peak resident memory (VmHWM) of the browser's largest process (the one holding the page
// and its worker), in KiB, for one pack and for one unpack, each in a browser of its own
// ("pack-peak-kib N" and the like), then one line per round, "pack SECONDS" and "unpack SECONDS", all
// in one more browser.
//   node bench/browser_bench.mjs ENGINE PAGE SAVE_DIR BASE NATIVE_ARCHIVE ROUNDS
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { drivers } from '../tests/browser/drivers.mjs';

const [engine, pagePath, saveDir, base, nativeArchive, rounds] = process.argv.slice(2);
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

// Gives `files` to the page and returns the seconds until it is done, and what it offers.
async function timed(files) {
  await driver.run(() => { delete document.body.dataset.exitCode; });
  const started = process.hrtime.bigint();
  await driver.give('#files', files);
  let code;
  while ((code = await driver.run(() => document.body.dataset.exitCode ?? null)) === null) await new Promise((ok) => setTimeout(ok, 20));
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  assert.equal(code, '0');
  return { seconds, offers: await driver.run(() => [...document.querySelectorAll('#downloads button')].map((b) => b.textContent)) };
}

const offered = (name, i) => driver.download(`#downloads li:nth-child(${i + 1}) button`, name);
const saveFiles = ['sav', 'jpg'].map((ext) => path.join(saveDir, `${base}.${ext}`));
for (const [step, files] of [['pack', saveFiles], ['unpack', [nativeArchive]]]) {
  await openPage();
  await timed(files);
  console.log(`${step}-peak-kib ${peak()}`);
  await driver.close();
}

await openPage();
for (let round = 0; round < Number(rounds); ++round) {
  const pack = await timed(saveFiles);
  console.log(`pack ${pack.seconds.toFixed(3)}`);
  if (round === 0) assert.ok((await offered(pack.offers[0], 0)).equals(fs.readFileSync(nativeArchive)));
  const unpack = await timed([nativeArchive]);
  console.log(`unpack ${unpack.seconds.toFixed(3)}`);
  for (const [i, offer] of (round === 0 ? unpack.offers : []).entries()) {
    assert.ok((await offered(offer, i)).equals(fs.readFileSync(path.join(saveDir, offer))), offer);
  }
}
await driver.close();
