// End-to-end tests of Tovrel.html in each browser engine players use (drivers.mjs), each from disk
// (file://) and from a local HTTP server. Files go in through the page's own inputs or a real drop;
// what it offers is taken through its buttons and compared byte for byte, and what it prints line for
// line, with what the native tool makes and prints for the same files given together. What the page
// shows is asked of the driver as it is rendered. Screenshots of each engine at phone and desktop width
// go to TOVREL_SCREENSHOTS (default build-web/screenshots).
//   TOVREL_PAGE=build-web/Tovrel.html TOVREL_TOOL=build/tovrel [TOVREL_ENGINES=chromium,webkit] \
//     xvfb-run -a node --test tests/browser/
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { pathToFileURL } from 'node:url';
import { drivers } from './drivers.mjs';

const root = path.resolve(import.meta.dirname, '../..');
const toolPath = path.resolve(root, process.env.TOVREL_TOOL ?? 'build/tovrel');
const shots = path.resolve(root, process.env.TOVREL_SCREENSHOTS ?? 'build-web/screenshots');
const sample = ['autosave1.jpg', 'autosave1.sav', 'autosave1.txt'];
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tovrel-page-'));
const site = path.join(scratch, 'site');  // the pages, as opened from disk and as served
const outside = [];  // requests that would have left the machine, as the proxy saw them

// The site's server, and the proxy that WebKit sends every other request to.
const server = http.createServer((request, response) => {
  // a request to this server names a path alone, one sent through the proxy a whole URL with its host
  const url = new URL(request.url, `http://127.0.0.1:${server.address().port}`);
  const file = path.join(site, path.basename(url.pathname));
  if (url.host !== `127.0.0.1:${server.address().port}`) outside.push(request.url);
  if (outside.includes(request.url) || !fs.existsSync(file)) return response.writeHead(404).end();
  return response.writeHead(200, { 'Content-Type': 'text/html' }).end(fs.readFileSync(file));
}).on('connect', (request, socket) => socket.destroy(outside.push(request.url)));
fs.mkdirSync(site);
fs.mkdirSync(shots, { recursive: true });
fs.copyFileSync(path.resolve(root, process.env.TOVREL_PAGE ?? 'build-web/Tovrel.html'), path.join(site, 'Tovrel.html'));
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
after(() => {
  server.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// A folder of the case's own holding `files`: name -> bytes, or -> a file of examples/ or fuzz/corpus/.
function folder(name, files) {
  const dir = path.join(scratch, 'cases', name);
  fs.mkdirSync(dir, { recursive: true });
  for (const [file, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, file), bytes ?? fs.readFileSync(path.join(root, 'examples', file)));
  return dir;
}
const corpus = (name) => fs.readFileSync(path.join(root, 'fuzz/corpus', name));

// What the native tool prints and makes for the files `names` of `dir` given together, after --list or
// --test when `inspection` says so, paths written as the page's in-memory folder is ("/saves/").
function native(dir, names, inspection = '') {
  const inodes = () => new Map(fs.readdirSync(dir).map((file) => [file, fs.statSync(path.join(dir, file)).ino]));
  const before = inodes();
  const run = spawnSync(toolPath, [...(inspection ? [`--${inspection}`] : []), '--', ...names], { cwd: dir, encoding: 'utf8' });
  const offered = {};
  for (const [file, inode] of inodes()) if (before.get(file) !== inode) offered[file] = fs.readFileSync(path.join(dir, file));
  const local = (text) => text.replaceAll(`${dir}/`, '/saves/');
  return { code: run.status, out: local(run.stdout), err: local(run.stderr), offered };
}

// The members of the zip `bytes`: name -> {utf8: the flag that says the name is UTF-8, bytes}, as
// Python's own zip module reads them.
function unzipped(bytes) {
  const file = path.join(scratch, 'offered.zip');
  fs.writeFileSync(file, bytes);
  const read = spawnSync('python3', ['-c', `import base64, json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print(json.dumps({i.filename: [bool(i.flag_bits & 0x800), base64.b64encode(z.read(i)).decode()] for i in z.infolist()}))`, file], { encoding: 'utf8' });
  assert.equal(read.status, 0, read.stderr);
  return Object.fromEntries(Object.entries(JSON.parse(read.stdout)).map(([name, [utf8, b64]]) => [name, { utf8, bytes: Buffer.from(b64, 'base64') }]));
}

// The page's state once it has stopped working, as its text shows it: its status line, the exit code of
// its runs, what they printed (stdout and stderr apart) and the names of the files it offers.
const state = () => ({
  status: document.getElementById('status').textContent,
  code: document.body.dataset.exitCode,
  out: [...document.getElementById('console').childNodes].filter((n) => n.nodeType === Node.TEXT_NODE).map((n) => n.textContent).join(''),
  err: [...document.querySelectorAll('#console .stderr')].map((n) => n.textContent).join(''),
  offers: [...document.querySelectorAll('#downloads button')].map((button) => button.textContent),
});

for (const engine of (process.env.TOVREL_ENGINES ?? 'chromium,firefox,webkit').split(',')) {
  describe(engine, () => {
    let driver;
    let origin;  // 'file' or 'http'
    let base;  // where the site is: a file: or an http: URL ending in '/'

    // Waits until `fn` (run in the page, or here when `here`) is truthy.
    async function until(fn, here = false) {
      for (let waited = 0; !(await (here ? fn() : driver.run(fn))); waited += 50) {
        assert.ok(waited < 60000, `the page did not get there: ${fn}`);
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
    }
    async function open(page) {
      await driver.open(base + page);
      await until(() => document.body.dataset.ready === 'true');
    }
    // Which of the page's controls a person sees.
    async function shown() {
      const seen = {};
      for (const id of ['stop', 'offer', 'zip', 'save-all', 'replace']) seen[id] = await driver.visible(`#${id}`);
      return seen;
    }
    // Screenshots of the page as it is now, at phone and desktop width (once per engine: over HTTP).
    async function snap(what) {
      if (origin !== 'http') return;
      for (const width of [390, 1100]) {
        await driver.resize(width, 900);
        await driver.screenshot(path.join(shots, `${engine}-${width}-${what}.png`));
      }
    }

    // Does `act` (which gives the page files), waits for the page to stop working, and returns its
    // state with the files it offers taken: {code, out, err, offered: {name: bytes}, shown, ...}.
    async function outcome(act) {
      await driver.run(() => { document.getElementById('status').textContent = ''; });
      await act();
      await until(() => !document.body.classList.contains('busy') && document.getElementById('status').textContent);
      const { offers, ...seen } = await driver.run(state);
      const offered = {};
      for (const [i, name] of offers.entries()) offered[name] = await driver.download(`#downloads li:nth-child(${i + 1}) button`, name);
      return { ...seen, code: Number(seen.code ?? NaN), offered, shown: await shown() };
    }
    const give = (selector, ...paths) => outcome(() => driver.give(selector, paths));
    // a real drop event carrying File objects read from disk (taken by an input of the test's own)
    const drop = (...paths) => outcome(async () => {
      await driver.run(() => document.body.insertAdjacentHTML('beforeend', '<input type="file" multiple id="dropped">'));
      await driver.give('#dropped', paths);
      await driver.run(() => {
        const carried = new DataTransfer();
        for (const file of document.getElementById('dropped').files) carried.items.add(file);
        document.getElementById('dropped').remove();
        document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: carried, bubbles: true, cancelable: true }));
      });
    });
    // the page's outcome, reduced to what the native tool's is compared with
    const asTool = ({ code, out, err, offered }) => ({ code, out, err, offered });
    const choose = (inspection) => driver.click(`input[name="inspection"][value="${inspection}"]`);

    const cases = {
      async 'makes every run of saves and archives dropped together, a damaged or hostile one stopping nothing, and zips what they made'() {
        const files = { ...Object.fromEntries(sample.map((name) => [name])), 'Спасение.sav': 'вторая', 'Спасение.jpg': 'снимок',
          'old.ssav': corpus('tool-sav-and-jpg.ssav'), 'bad.ssav': corpus('bad-stream-cut-by-eof.ssav'),
          'no.ssav': Buffer.concat([Buffer.from('MXPQ'), Buffer.alloc(40, 0xff)]),
          'h.ssav': corpus('hostile-names.ssav'),  // names reaching out of the folder or over the archive
          'five.ssav': corpus('tool-five-members.ssav'),  // two entries past the three files written
          'big.sav': '', 'big.ssav': '' };
        const dir = folder('several', files);
        for (const name of ['big.sav', 'big.ssav']) fs.truncateSync(path.join(dir, name), 2.5 * 2 ** 30);  // sparse
        folder('several/sub', { 'autosave0.sav': 'zero' });  // a subfolder's save is not among the folder's files
        const names = Object.keys(files);
        const page = await drop(...names.map((name) => path.join(dir, name)));
        const folderPage = driver.folders ? await give('#folder', dir) : page;
        const tool = native(dir, names);
        for (const seen of [page, folderPage]) assert.deepEqual(asTool(seen), tool);
        assert.deepEqual([page.out.match(/^==> /gm).length, page.code], [9, 3]);  // the highest exit code
        await snap('done');
        const offered = Object.keys(tool.offered).sort();
        const zip = unzipped(await driver.download('#zip', `${offered[0]}-and-${offered.length - 1}-more.zip`));
        assert.deepEqual(Object.keys(zip).sort(), offered);
        for (const [name, { utf8, bytes }] of Object.entries(zip)) assert.ok(utf8 && bytes.equals(tool.offered[name]), name);
        assert.ok('Спасение.ssav' in zip);
        // the largest file the tool reads does not fit in the engine's memory (the native tool's does)
        fs.truncateSync(folder('max', { 'max.sav': '' }) + '/max.sav', 2 ** 31 - 1);
        const max = await give('#files', path.join(scratch, 'cases/max/max.sav'));
        assert.deepEqual([max.code, max.err], [1, "error: cannot read '/saves/max.sav': not enough memory for its 2147483647 bytes\n"]);
      },

      async 'lists and tests archives as the tool does, intact or damaged, and offers nothing'() {
        const dir = folder('look', { 'old.ssav': corpus('tool-sav-and-jpg.ssav'), 'bad.ssav': corpus('bad-stream-cut-by-eof.ssav'), 'a.sav': 'not looked at' });
        for (const inspection of ['list', 'test']) {
          await choose(inspection);
          const seen = await give('#files', ...['old.ssav', 'bad.ssav', 'a.sav'].map((name) => path.join(dir, name)));
          assert.deepEqual([asTool(seen), seen.shown.offer], [native(dir, ['bad.ssav', 'old.ssav'], inspection), false], inspection);
        }
        await snap('failed');
        // and says so when none of them is an archive, or a save
        assert.equal((await give('#files', path.join(dir, 'a.sav'))).status, 'None of these files is an archive (.ssav).');
        await choose('');
        const nothing = await give('#files', path.join(root, 'examples', 'autosave1.txt'));
        assert.deepEqual([nothing.status, nothing.out], ['None of these files is a save (.sav) or an archive (.ssav).', '']);
      },

      async 'shows Stop only while runs go on, and stopping keeps what the runs before made'() {
        const dir = folder('stop', { 'big.sav': randomBytes(64 << 20), 'autosave1.sav': null });
        await snap('idle');
        assert.deepEqual(await shown(), { stop: false, offer: false, zip: false, 'save-all': false, replace: false });
        await driver.give('#files', [path.join(dir, 'autosave1.sav'), path.join(dir, 'big.sav')]);
        await until(async () => (await driver.visible('#stop')) && (await driver.run(() => document.getElementById('status').textContent.includes('2 of 2'))), true);
        await snap('busy');
        const stopped = await outcome(() => driver.click('#stop'));
        assert.equal(stopped.status, 'Stopped during 2 of 2: big.sav: nothing of it was made; what the runs before it made is kept.');
        assert.deepEqual([stopped.shown.stop, stopped.shown.zip], [false, false]);  // one file: no .zip of it
        fs.rmSync(path.join(dir, 'big.sav'));
        assert.deepEqual(stopped.offered, native(dir, ['autosave1.sav']).offered);
        assert.deepEqual(asTool(await give('#files', path.join(dir, 'autosave1.sav'))), native(dir, ['autosave1.sav']));
      },

      async 'saves into a folder only where the browser can, naming the files it would replace and asking first'() {
        const dir = folder('folder', { 'a.sav': 'a', 'b.sav': 'b' });
        const given = () => give('#files', path.join(dir, 'a.sav'), path.join(dir, 'b.sav'));
        assert.equal((await given()).shown['save-all'], engine === 'chromium');  // the one engine with a folder picker
        // a folder picker of the test's own, whose folder holds a.ssav already
        await driver.run(() => {
          window.written = [];
          window.showDirectoryPicker = async () => ({ name: 'Saves', async getFileHandle(name, { create } = {}) {
            if (!create && name !== 'a.ssav') throw new DOMException(`${name} is not there`, 'NotFoundError');
            return { createWritable: async () => ({ write: async (blob) => window.written.push([name, blob.size]), close: async () => {} }) };
          } });
        });
        await given();
        for (const [answer, written] of [['#replace-no', []], ['#replace-yes', [['a.ssav', 45], ['b.ssav', 45]]]]) {
          await driver.click('#save-all');
          await until(() => driver.visible('#replace'), true);
          assert.equal(await driver.run(() => document.getElementById('replace-text').textContent), 'The folder Saves already holds a.ssav. Replace it?');
          const saved = await outcome(() => driver.click(answer));
          assert.deepEqual([saved.status, await driver.run(() => window.written), saved.shown.replace],
            [written.length ? 'Saved 2 file(s) into the folder Saves.' : 'Nothing was saved into the folder Saves.', written, false]);
        }
      },

      async 'says that the engine could not start, rather than waiting for ever'() {
        // the page with its engine's script damaged, as by a download cut short
        fs.writeFileSync(path.join(site, 'broken.html'), fs.readFileSync(path.join(site, 'Tovrel.html'), 'utf8').replace('id="engine">', '$&)'));
        await open('broken.html');
        const started = await driver.run(state);
        const given = await give('#files', path.join(root, 'examples', 'autosave1.sav'));
        for (const { status } of [started, given]) assert.match(status, /^Tovrel could not start: the engine failed: \S/);
      },
    };

    before(async () => {
      driver = await drivers[engine]({ proxy: `127.0.0.1:${server.address().port}` });
    });
    after(() => driver?.close());
    for (const from of ['file', 'http']) {
      for (const [name, body] of Object.entries(cases)) {
        test(`${from}: ${name}`, async () => {
          origin = from;
          base = from === 'file' ? `${pathToFileURL(site).href}/` : `http://127.0.0.1:${server.address().port}/`;
          fs.rmSync(path.join(scratch, 'cases'), { recursive: true, force: true });
          driver.requests.length = outside.length = 0;
          await driver.resize(1100, 900);
          await open('Tovrel.html');
          assert.match(await driver.run(() => document.getElementById('version').textContent), /^Tovrel \d/);
          await body();
          const left = driver.requests.filter((url) => !/^(file|data|blob):/.test(url) && !url.startsWith(base));
          assert.deepEqual([...left, ...outside], [], 'the page reached beyond this machine');
        });
      }
    }
  });
}
