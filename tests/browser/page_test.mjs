// End-to-end tests of Tovrel.html in each browser engine players use (drivers.mjs), each from disk
// (file://) and from a local HTTP server. Files go in through the page's own inputs or a real drop;
// what it offers is taken through its buttons and compared byte for byte, and what it prints line for
// line, with what the native tool makes and prints for the same files.
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

// What the native tool prints and makes for the save or archive `name` in `dir`, run as the page runs
// it (an archive listed, then unpacked), paths written as the page's in-memory folder is ("/saves/").
function native(dir, name) {
  const inodes = () => new Map(fs.readdirSync(dir).map((file) => [file, fs.statSync(path.join(dir, file)).ino]));
  const before = inodes();
  const seen = { code: 0, out: [], err: '', offered: {} };
  for (const args of name.endsWith('.ssav') ? [['--list', name], [name]] : [[name]]) {
    const run = seen.code === 0 && spawnSync(toolPath, args, { cwd: dir, encoding: 'utf8' });
    if (run) Object.assign(seen, { code: run.status, out: [...seen.out, run.stdout], err: seen.err + run.stderr });
  }
  for (const [file, inode] of inodes()) if (before.get(file) !== inode) seen.offered[file] = fs.readFileSync(path.join(dir, file));
  const local = (text) => text.replaceAll(`${dir}/`, '/saves/');
  return { ...seen, out: local(seen.out.join('\n')), err: local(seen.err) };
}

// The page's state once it has stopped working: its status line, the exit code of the tool's last run,
// what that printed (stdout and stderr apart), the targets it asks to choose from, the names of the
// files it offers and whether the Stop button shows.
const state = () => ({
  status: document.getElementById('status').textContent,
  code: document.body.dataset.exitCode,
  out: [...document.getElementById('console').childNodes].filter((n) => !n.className).map((n) => n.textContent).join(''),
  err: [...document.querySelectorAll('#console .error, #console .note')].map((n) => n.textContent).join(''),
  choices: document.getElementById('choose').hidden ? [] : [...document.querySelectorAll('#targets label')].map((l) => l.textContent.trim()),
  offers: [...document.querySelectorAll('#downloads button')].map((button) => button.textContent),
  stop: !document.getElementById('stop').hidden,
});

for (const engine of (process.env.TOVREL_ENGINES ?? 'chromium,firefox,webkit').split(',')) {
  describe(engine, () => {
    let driver;
    let base;  // where the site is: a file: or an http: URL ending in '/'

    // Waits until `fn` (run in the page) is truthy.
    async function until(fn) {
      for (let waited = 0; !(await driver.run(fn)); waited += 50) {
        assert.ok(waited < 60000, `the page did not get there: ${fn}`);
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
    }
    async function open(page) {
      await driver.open(base + page);
      await until(() => document.body.dataset.ready === 'true');
    }

    // Does `act` (which gives the page files), waits for the page to stop working, and returns its
    // state with the files it offers taken: {code, out, err, offered: {name: bytes}, ...}.
    async function outcome(act) {
      await driver.run(() => { delete document.body.dataset.exitCode; document.getElementById('status').textContent = ''; });
      await act();
      await until(() => !document.body.classList.contains('busy') && (document.getElementById('status').textContent || !document.getElementById('choose').hidden));
      const { offers, ...seen } = await driver.run(state);
      const offered = {};
      for (const [i, name] of offers.entries()) offered[name] = await driver.download(`#downloads li:nth-child(${i + 1}) button`, name);
      return { ...seen, code: Number(seen.code ?? NaN), offered };
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

    const cases = {
      async 'packs the sample save into the very archive the native tool makes, and unpacks it back when dropped'() {
        const dir = folder('sample', Object.fromEntries(sample.map((name) => [name])));
        assert.deepEqual(asTool(await give('#files', ...sample.map((name) => path.join(dir, name)))), native(dir, 'autosave1.sav'));
        for (const name of sample) fs.rmSync(path.join(dir, name));
        const unpacked = await drop(path.join(dir, 'autosave1.ssav'));
        assert.deepEqual(asTool(unpacked), native(dir, 'autosave1.ssav'));
        assert.deepEqual(Object.keys(unpacked.offered).sort(), sample);
        for (const name of sample) assert.ok(unpacked.offered[name].equals(fs.readFileSync(path.join(root, 'examples', name))), name);
      },

      async 'refuses damaged, hostile and too large archives and saves as the tool does, offering only what it wrote'() {
        const dir = folder('hostile', {
          'bad.ssav': Buffer.concat([Buffer.from('MXPQ'), Buffer.alloc(40, 0xff)]),
          'h.ssav': corpus('hostile-names.ssav'),  // names reaching out of the folder or over the archive
          'five.ssav': corpus('tool-five-members.ssav'),  // two entries past the three files written
        });
        for (const [name, size] of [['big.sav', 2.5 * 2 ** 30], ['big.ssav', 2.5 * 2 ** 30], ['max.sav', 2 ** 31 - 1]]) {
          fs.truncateSync(folder('hostile', { [name]: '' }) + `/${name}`, size);  // sparse
        }
        for (const name of ['bad.ssav', 'h.ssav', 'five.ssav', 'big.sav', 'big.ssav']) {
          assert.deepEqual(asTool(await give('#files', path.join(dir, name))), native(dir, name), name);
        }
        // the largest file the tool reads does not fit in the engine's memory (the native tool's does)
        const max = await give('#files', path.join(dir, 'max.sav'));
        assert.deepEqual([max.code, max.err], [1, "error: cannot read '/saves/max.sav': not enough memory for its 2147483647 bytes\n"]);
      },

      async 'asks which save or archive to convert when given several, of the files or of a folder, and says when there is none'() {
        const dir = folder('several', { 'autosave1.sav': null, 'autosave1.jpg': null, 'autosave2.sav': 'two', 'old.ssav': corpus('tool-sav-and-jpg.ssav') });
        folder('several/sub', { 'autosave0.sav': 'zero' });
        const choices = ['autosave1.sav (pack)', 'autosave2.sav (pack)', 'old.ssav (unpack)'];
        assert.deepEqual((await give('#files', ...['autosave1.sav', 'autosave1.jpg', 'autosave2.sav', 'old.ssav'].map((f) => path.join(dir, f)))).choices, choices);
        if (driver.folders) assert.deepEqual((await give('#folder', dir)).choices, choices);  // not the subfolder's save
        const chosen = await outcome(async () => {
          await driver.click('#targets label:nth-child(2) input');
          await driver.click('#choice button');
        });
        assert.deepEqual(asTool(chosen), native(dir, 'autosave2.sav'));
        // and says so when none of them is a save or an archive
        const none = await give('#files', path.join(dir, 'autosave1.jpg'));
        assert.deepEqual([none.status, none.out, none.offered], ['None of these files is a save (.sav) or an archive (.ssav).', '', {}]);
      },

      async 'stops a long pack at once, makes nothing, and packs the next save'() {
        const dir = folder('stop', { 'big.sav': randomBytes(64 << 20), 'autosave1.sav': null });
        await driver.give('#files', [path.join(dir, 'big.sav')]);
        await until(() => !document.getElementById('stop').hidden);
        const stopped = await outcome(() => driver.click('#stop'));
        assert.deepEqual([stopped.status, stopped.offered, stopped.stop], ['Stopped: nothing was made. Ready for the next files.', {}, false]);
        assert.deepEqual(asTool(await give('#files', path.join(dir, 'autosave1.sav'))), native(dir, 'autosave1.sav'));
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
    for (const origin of ['file', 'http']) {
      for (const [name, body] of Object.entries(cases)) {
        test(`${origin}: ${name}`, async () => {
          base = origin === 'file' ? `${pathToFileURL(site).href}/` : `http://127.0.0.1:${server.address().port}/`;
          fs.rmSync(path.join(scratch, 'cases'), { recursive: true, force: true });
          driver.requests.length = outside.length = 0;
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
