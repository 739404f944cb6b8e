// End-to-end tests of Tovrel.html in Debian's headless Chromium. The page is opened from disk and given
// files through its real file input; what it offers is downloaded for real and compared byte for byte,
// and what it prints line for line, with what the native tool makes and prints for the same files.
//   TOVREL_PAGE=build-web/Tovrel.html TOVREL_TOOL=build/tovrel node --test tests/browser/page_test.mjs
// TOVREL_SCREENSHOT=<file.png> also saves a picture of the page after the pack.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';

const root = path.resolve(import.meta.dirname, '../..');
const pagePath = path.resolve(root, process.env.TOVREL_PAGE ?? 'build-web/Tovrel.html');
const toolPath = path.resolve(root, process.env.TOVREL_TOOL ?? 'build/tovrel');
const sample = ['autosave1.sav', 'autosave1.jpg', 'autosave1.txt'];
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tovrel-page-'));
const outside = [];  // requests the page made that did not stay on this machine
let browser;
let page;

// What the native tool prints and its exit code when run with `args` in `dir`, its folder's path
// written as the page's in-memory folder is ("/saves/").
function native(dir, ...args) {
  let out = '';
  let err = '';
  let code = 0;
  try {
    out = execFileSync(toolPath, args, { cwd: dir, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (failure) {
    ({ stdout: out, stderr: err, status: code } = failure);
  }
  const local = (text) => text.replaceAll(`${dir}/`, '/saves/');
  return { code, out: local(out), err: local(err) };
}

// Gives `files` to the page's file input and waits for the run to end. Returns its exit code, what it
// printed (stdout and stderr apart), and the files it offers, each downloaded.
async function give(...files) {
  await page.evaluate(() => delete document.body.dataset.exitCode);
  await page.setInputFiles('#files', files);
  await page.waitForFunction(() => document.body.dataset.exitCode !== undefined && !document.body.classList.contains('busy'));
  const { out, err } = await page.$eval('#console', (pre) => ({
    out: [...pre.childNodes].filter((n) => !n.className).map((n) => n.textContent).join(''),
    err: [...pre.querySelectorAll('.error, .note')].map((n) => n.textContent).join(''),
  }));
  const offered = {};
  for (const link of await page.$$('#downloads button')) {
    const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
    offered[download.suggestedFilename()] = fs.readFileSync(await download.path());
  }
  return { code: Number(await page.evaluate(() => document.body.dataset.exitCode)), out, err, offered };
}

// An archive holding `entries` (name -> text), built here byte by byte as the format lays it out.
function archiveOf(entries) {
  const u32 = (value) => { const b = Buffer.alloc(4); b.writeUInt32LE(value); return b; };
  const names = Object.keys(entries).map((name) => Buffer.from(name));
  const streams = Object.values(entries).map((text) => zlib.deflateSync(Buffer.from(text), { level: 6 }));
  const headerSize = 16 + names.reduce((sum, name) => sum + 16 + name.length, 0);
  let offset = headerSize;
  const records = names.map((name, i) => {
    const record = Buffer.concat([u32(name.length), name, u32(offset), u32(streams[i].length), u32(entries[Object.keys(entries)[i]].length)]);
    offset += streams[i].length;
    return record;
  });
  return Buffer.concat([Buffer.from('MXPQ'), u32(headerSize), u32(6), u32(names.length), ...records, ...streams]);
}

before(async () => {
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const context = await browser.newContext({ acceptDownloads: true });
  context.on('request', (request) => {
    if (!/^(file|data|blob):/.test(request.url())) outside.push(request.url());
  });
  page = await context.newPage();
  await page.goto(pathToFileURL(pagePath).href);
  await page.waitForFunction(() => document.body.dataset.ready === 'true');
  assert.match(await page.textContent('#version'), /^Tovrel \d/);
});

after(async () => {
  await browser?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
  assert.deepEqual(outside, [], 'the page reached beyond this machine');
});

test('packs the sample save into the very archive the native tool makes, and unpacks it back', async () => {
  const dir = path.join(scratch, 'sample');
  fs.mkdirSync(dir);
  for (const name of sample) fs.copyFileSync(path.join(root, 'examples', name), path.join(dir, name));
  const packed = await give(...sample.map((name) => path.join(dir, name)));
  const expected = native(dir, 'autosave1.sav');
  assert.deepEqual(packed, { ...expected, offered: { 'autosave1.ssav': fs.readFileSync(path.join(dir, 'autosave1.ssav')) } });
  if (process.env.TOVREL_SCREENSHOT) await page.screenshot({ path: process.env.TOVREL_SCREENSHOT, fullPage: true });

  const unpacked = await give(path.join(dir, 'autosave1.ssav'));
  const list = native(dir, '--list', 'autosave1.ssav');
  const unpack = native(dir, 'autosave1.ssav');
  assert.deepEqual({ ...unpacked, offered: Object.keys(unpacked.offered).sort() },
    { code: 0, out: `${list.out}\n${unpack.out}`, err: '', offered: [...sample].sort() });
  for (const name of sample) assert.ok(unpacked.offered[name].equals(fs.readFileSync(path.join(root, 'examples', name))), name);
});

test('refuses damaged archives and hostile names as the tool does, and offers only what it wrote', async () => {
  const dir = path.join(scratch, 'hostile');
  fs.mkdirSync(dir);
  const files = {
    'bad.ssav': Buffer.concat([Buffer.from('MXPQ'), Buffer.alloc(40, 0xff)]),
    // names that reach out of the folder are refused and count toward no limit; the fourth file is not written
    't.ssav': archiveOf({ '/../evil': 'x', '\\evil': 'x', ':evil': 'x', '.a': 'a', '.b': 'b', '.c': 'c', '.d': 'd' }),
  };
  for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
  for (const [name, offers] of [['bad.ssav', 0], ['t.ssav', 3]]) {
    const got = await give(path.join(dir, name));
    const list = native(dir, '--list', name);
    const unpack = list.code === 0 ? native(dir, name) : { code: list.code, out: '', err: '' };
    const written = fs.readdirSync(dir).filter((file) => !(file in files)).sort();
    assert.deepEqual({ ...got, offered: Object.keys(got.offered).sort() }, {
      code: unpack.code,
      out: list.code === 0 ? `${list.out}\n${unpack.out}` : list.out,
      err: list.err + unpack.err,
      offered: written,
    });
    assert.equal(written.length, offers, name);
    for (const file of written) assert.ok(got.offered[file].equals(fs.readFileSync(path.join(dir, file))), file);
  }
});
