// Times the page at its real work in headless Chromium: packing the save in SAVE_DIR (BASE.sav and
// BASE.jpg) and unpacking the archive it makes, each through the page's file input, from the moment
// the files are given to the moment the page offers its downloads. Checks the archive and the
// unpacked files byte for byte against the native tool's archive (NATIVE_ARCHIVE) and the save.
// Prints the peak resident memory of the page's renderer process and of the browser process, in KiB,
// for one pack and for one unpack, each in a browser of its own ("pack-renderer-kib N" and the like),
// then one line per timed round, "pack SECONDS" and "unpack SECONDS", all in one more browser.
//   node bench/browser_bench.mjs PAGE SAVE_DIR BASE NATIVE_ARCHIVE ROUNDS
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

// playwright-core as the browser tests install it
const { chromium } = createRequire(new URL('../tests/browser/package.json', import.meta.url))('playwright-core');
const [pagePath, saveDir, base, nativeArchive, rounds] = process.argv.slice(2);

// The peak resident memory (VmHWM) of the process `pid`, in KiB.
const peakOf = (pid) => Number(/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);

// The descendants of this process, each with its command line, parents before children.
function descendants() {
  const found = new Map([[process.pid, '']]);
  const pids = fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name)).map(Number).sort((a, b) => a - b);
  for (const pid of pids) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (found.has(parent)) found.set(pid, fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'));
    } catch {
      // the process ended while it was read
    }
  }
  found.delete(process.pid);
  return [...found];
}

let browser;
let page;

// Starts a browser of its own with the page open and its engine ready.
async function openPage() {
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  page = await (await browser.newContext({ acceptDownloads: true })).newPage();
  await page.goto(pathToFileURL(path.resolve(pagePath)).href);
  await page.waitForFunction(() => document.body.dataset.ready === 'true');
}

// Gives `files` to the page and returns the seconds until it is done and what it offers.
async function timed(files) {
  await page.evaluate(() => delete document.body.dataset.exitCode);
  const started = process.hrtime.bigint();
  await page.setInputFiles('#files', files);
  await page.waitForFunction(() => document.body.dataset.exitCode !== undefined, null, { timeout: 600000 });
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  assert.equal(await page.evaluate(() => document.body.dataset.exitCode), '0');
  return { seconds, links: await page.$$('#downloads button') };
}

async function download(link, to) {
  const [file] = await Promise.all([page.waitForEvent('download'), link.click()]);
  await file.saveAs(path.join(to, file.suggestedFilename()));
  return file.suggestedFilename();
}

const saveFiles = ['sav', 'jpg'].map((ext) => path.join(saveDir, `${base}.${ext}`));
for (const [step, files] of [['pack', saveFiles], ['unpack', [nativeArchive]]]) {
  await openPage();
  await timed(files);
  const chromiums = descendants().filter(([, cmdline]) => cmdline.includes('chrom'));
  const peak = (pick) => Math.max(...chromiums.filter(([, cmdline]) => pick(cmdline)).map(([pid]) => peakOf(pid)));
  console.log(`${step}-renderer-kib ${peak((cmdline) => cmdline.includes('--type=renderer'))}`);
  console.log(`${step}-browser-kib ${peak((cmdline) => !cmdline.includes('--type='))}`);
  await browser.close();
}

await openPage();
const scratch = fs.mkdtempSync(path.join(path.dirname(nativeArchive), 'browser-'));
for (let round = 0; round < Number(rounds); ++round) {
  const pack = await timed(saveFiles);
  console.log(`pack ${pack.seconds.toFixed(3)}`);
  if (round === 0) {
    assert.equal(await download(pack.links[0], scratch), `${base}.ssav`);
    assert.ok(fs.readFileSync(path.join(scratch, `${base}.ssav`)).equals(fs.readFileSync(nativeArchive)));
  }
  const unpack = await timed([nativeArchive]);
  console.log(`unpack ${unpack.seconds.toFixed(3)}`);
  if (round === 0) {
    for (const link of unpack.links) {
      const name = await download(link, scratch);
      assert.ok(fs.readFileSync(path.join(scratch, name)).equals(fs.readFileSync(path.join(saveDir, name))), name);
    }
  }
}
await browser.close();
fs.rmSync(scratch, { recursive: true, force: true });
