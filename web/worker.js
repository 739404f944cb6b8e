// The page's worker: it runs the tool, compiled to WebAssembly (createTovrel, defined just before this
// script), away from the page's thread. One instance serves one set of files a player gives, as one
// process serves a command line: their names go into its folder, and the tool's plan for them is made
// one run at a time, each run's files supplied just before it runs. Back go the bytes it printed (in
// order, stdout and stderr apart), its exit code and every file it made or replaced. The worker keeps
// no file's bytes between runs: the page holds them, and a folder entry without bytes stands for each.
'use strict';

const kFolder = '/saves';
const kEIO = 29;

let tool = null;  // the instance of the files being worked on
let given = '';  // their names, '/'-joined, and what is to be done with them
let inspection = '';
let printed = [];  // what the current step printed: [{stream, bytes: [...]}]
let seen = new Map();  // name -> the folder entry (node) each file had when last looked at

// A byte the tool wrote to `stream`, kept in order with the other stream's.
function capture(stream) {
  return (byte) => {
    if (byte === null) return;
    const last = printed[printed.length - 1];
    if (last && last.stream === stream) last.bytes.push(byte);
    else printed.push({ stream, bytes: [byte] });
  };
}

// What was printed since the last call, as text.
function takePrinted() {
  const decoder = new TextDecoder();
  const text = printed.map(({ stream, bytes }) => ({ stream, text: decoder.decode(new Uint8Array(bytes)) }));
  printed = [];
  return text;
}

// A fresh instance of the tool, its output captured.
async function start() {
  const instance = await createTovrel({ stdout: capture('out'), stderr: capture('err') });
  // The in-memory file system grows a file by an eighth at a time once it passes 1 MiB: a 64 MiB
  // archive written in 16 KiB pieces would be copied some 35 times. Doubling copies it twice in all,
  // but holds the old storage and twice as much at its last step; past 16 MiB a quarter more at a
  // time keeps that peak and the room left over small, for a few more copies.
  const memfs = instance.FS.filesystems && instance.FS.filesystems.MEMFS;
  if (memfs && memfs.expandFileStorage) {
    const expand = memfs.expandFileStorage;
    memfs.expandFileStorage = (node, wanted) => {
      const capacity = node.contents ? node.contents.length : 0;
      if (wanted > capacity) expand(node, Math.max(wanted, capacity < 16 << 20 ? 2 * capacity : capacity + (capacity >> 2)));
    };
  }
  return instance;
}

// Makes the node of `name` stand for a file of `size` bytes it does not hold: its size shows, and
// every read of it fails. The bytes it held, if any, are let go.
function standIn(name, size) {
  const { FS } = tool;
  const { node } = FS.lookupPath(name);
  node.contents = null;
  node.usedBytes = size;
  node.stream_ops = { ...node.stream_ops, read: () => { throw new FS.ErrnoError(kEIO); } };
}

// Gives the node of `name` the bytes `bytes`, used where they are, until the tool closes the file:
// then they are let go (no run reads a file of the player's twice), and the page holds the file.
function fill(name, bytes) {
  const { FS } = tool;
  const { node } = FS.lookupPath(name);
  node.stream_ops = { ...FS.filesystems.MEMFS.ops_table.file.stream, close: () => standIn(name, bytes.length) };
  node.contents = bytes;
  node.usedBytes = bytes.length;
}

// The bytes of the file `node`, taken out of it: only its bytes, not the room it grew into, uncopied
// where the browser can shorten the storage in place.
function takeBytes(node) {
  const { contents, usedBytes } = node;
  if (!contents) return new Uint8Array(0);
  if (contents.length === usedBytes && contents.byteOffset === 0 && contents.buffer.byteLength === usedBytes) return contents;
  if (contents.byteOffset === 0 && contents.buffer.transfer) return new Uint8Array(contents.buffer.transfer(usedBytes));
  return contents.slice(0, usedBytes);
}

// A new instance, its folder holding a stand-in for each of `files` ({name, size}), the banner printed,
// and the tool's plan for them: {runs: [target...], none}.
async function plan(files, chosen) {
  tool = await start();
  const { FS } = tool;
  FS.mkdir(kFolder);
  FS.chdir(kFolder);
  seen = new Map();
  for (const { name, size } of files) {
    FS.writeFile(name, new Uint8Array(0));
    standIn(name, size);
    seen.set(name, FS.lookupPath(name).node);
  }
  given = files.map(({ name }) => name).join('/');
  inspection = chosen;
  tool.ccall('TovrelBanner', null, [], []);
  return { ...JSON.parse(tool.ccall('TovrelPlan', 'string', ['string', 'string'], [given, inspection])), printed: takePrinted() };
}

// Run `index` of the plan with `files` ({name, bytes}) in the folder: its exit code, what it printed
// and the files it made ({name, bytes}), whose bytes leave the worker. Afterwards no file in the folder
// holds its bytes.
function run(index, files) {
  const { FS } = tool;
  for (const { name, bytes } of files) fill(name, bytes);
  const code = tool.ccall('TovrelRunInTurn', 'number', ['string', 'string', 'number'], [given, inspection, index]);
  const made = [];
  for (const name of FS.readdir(kFolder)) {
    const { node } = FS.lookupPath(name);
    if (!FS.isFile(node.mode)) continue;
    // made or replaced: a file the tool writes takes its name by a rename, so it is a new node
    if (seen.get(name) !== node) {
      made.push({ name, bytes: takeBytes(node) });
      seen.set(name, node);
    }
    if (node.contents) standIn(name, node.usedBytes);
  }
  return { code, printed: takePrinted(), made };
}

// The files `files` ({name, bytes}) stored in one zip named `name`, in a fresh instance.
async function zip(name, files) {
  const zipper = await start();
  const { FS } = zipper;
  FS.mkdir(kFolder);
  FS.chdir(kFolder);
  for (const file of files) FS.writeFile(file.name, file.bytes, { canOwn: true });
  if (!zipper.ccall('TovrelZip', 'number', ['string', 'string'], [`/${name}`, files.map((file) => file.name).join('/')])) {
    throw new Error('the zip could not be written');
  }
  return FS.readFile(`/${name}`);
}

const buffersOf = (files) => [...new Set(files.map(({ bytes }) => bytes.buffer))];

self.onmessage = async ({ data: { id, request, files, inspection: chosen, index, name } }) => {
  try {
    if (request === 'version') {
      const versioned = await start();
      const code = versioned.callMain(['--version']);
      self.postMessage({ id, code, printed: takePrinted() });
    } else if (request === 'plan') {
      self.postMessage({ id, plan: await plan(files, chosen) });
    } else if (request === 'reads') {
      self.postMessage({ id, reads: JSON.parse(tool.ccall('TovrelReads', 'string', ['string', 'string', 'number'], [given, inspection, index])) });
    } else if (request === 'run') {
      const result = run(index, files);
      self.postMessage({ id, ...result }, buffersOf(result.made));
    } else if (request === 'zip') {
      const bytes = await zip(name, files);
      self.postMessage({ id, bytes }, [bytes.buffer]);
    }
  } catch (error) {
    // the engine aborts when even a small allocation fails, or on a fault of its own: this instance is
    // done for, and a new request starts another
    tool = null;
    self.postMessage({ id, failure: String((error && error.message) || error), printed: takePrinted() });
  }
};
