// The page's worker: it runs the tool, compiled to WebAssembly (createTovrel, defined just before this
// script), away from the page's thread. One instance serves one set of files a player gives, as one
// process serves a command line: their names go into its folder, and the tool's plan for them is made
// one run at a time, each run's files supplied just before it runs. Back go the bytes it printed (in
// order, stdout and stderr apart), its exit code and every file it made or replaced. The worker keeps
// no file's bytes between runs: the page holds them, and a folder entry without bytes stands for each.
'use strict';

const kFolder = '/saves';
const kEIO = 29;
// A file the tool writes grows a part at a time, each part as large as what the file holds so far
// (from 16 KiB up to 1 MiB): it is never copied into a larger block, as the in-memory file system
// would copy it each time it outgrew one, and it leaves the worker as the parts it was written in.
const kFirstPart = 16 << 10;
const kLargestPart = 1 << 20;

let tool = null;  // the instance of the files being worked on
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

// Frees the memory of `bytes` (a whole buffer of their own, of no more use) at once, where the browser
// can, rather than whenever its collector comes by: a save's files are large.
function letGo(bytes) {
  if (bytes.buffer.transfer && bytes.byteOffset === 0 && bytes.length === bytes.buffer.byteLength) bytes.buffer.transfer(0);
}

// The index of the part of `node` that holds byte `position` (node.ends[i] is where part i ends).
function partAt(node, position) {
  let low = 0;
  for (let high = node.ends.length - 1; low < high;) {
    const middle = (low + high) >> 1;
    if (node.ends[middle] > position) high = middle;
    else low = middle + 1;
  }
  return low;
}

// Gives `node` parts until it has room for `size` bytes: one part of exactly that size for a file told
// its size before it is written, else parts that grow with the file.
function reserve(node, size, exact) {
  for (let room = node.ends.at(-1) ?? 0; room < size; room = node.ends.at(-1)) {
    const length = exact && room === 0 ? size : Math.min(kLargestPart, Math.max(kFirstPart, room, size - room));
    node.parts.push(new Uint8Array(length));
    node.ends.push(room + length);
  }
}

// Copies `length` bytes between byte `position` of `node` and `buffer` from `offset`: into the file when
// `writing`, out of it otherwise.
function copyParts(node, buffer, offset, length, position, writing) {
  for (let i = partAt(node, position), done = 0; done < length; ++i) {
    const start = node.ends[i] - node.parts[i].length;
    const count = Math.min(length - done, node.ends[i] - position);
    if (writing) node.parts[i].set(buffer.subarray(offset + done, offset + done + count), position - start);
    else buffer.set(node.parts[i].subarray(position - start, position - start + count), offset + done);
    done += count;
    position += count;
  }
}

// The file operations of the tool's folder, over a file's parts. A file whose parts are null stands for
// one the page holds: its size shows, and reading it fails. A file of the player's is let go once the
// tool closes it (no run reads a file twice), and the page gives it again to a run that needs it.
function partsOps(FS) {
  const { llseek } = FS.filesystems.MEMFS.ops_table.file.stream;
  return {
    llseek,
    read(stream, buffer, offset, length, position) {
      const { node } = stream;
      if (!node.parts) throw new FS.ErrnoError(kEIO);
      const count = Math.max(0, Math.min(length, node.usedBytes - position));
      copyParts(node, buffer, offset, count, position, false);
      return count;
    },
    write(stream, buffer, offset, length, position) {
      const { node } = stream;
      reserve(node, position + length, false);
      copyParts(node, buffer, offset, length, position, true);
      node.usedBytes = Math.max(node.usedBytes, position + length);
      node.timestamp = Date.now();
      return length;
    },
    allocate(stream, offset, length) {
      reserve(stream.node, offset + length, true);
      stream.node.usedBytes = Math.max(stream.node.usedBytes, offset + length);
    },
    close(stream) {
      const { node } = stream;
      if (!node.lent) return;
      node.parts.forEach(letGo);
      node.parts = null;
      node.lent = false;
    },
  };
}

// A fresh instance of the tool, its output captured and its files kept in parts.
async function start() {
  const instance = await createTovrel({ stdout: capture('out'), stderr: capture('err') });
  const { FS } = instance;
  const memfs = FS.filesystems.MEMFS;
  const ops = partsOps(FS);
  const create = memfs.createNode;
  memfs.createNode = (...args) => {
    const node = create(...args);
    if (FS.isFile(node.mode)) Object.assign(node, { stream_ops: ops, parts: [], ends: [], usedBytes: 0 });
    return node;
  };
  return instance;
}

// Puts in the instance's folder the file `name` holding `parts` (Uint8Arrays), or standing for one of
// `size` bytes when there are none.
function put(instance, name, parts, size) {
  const { FS } = instance;
  if (!FS.analyzePath(name).exists) FS.close(FS.open(name, 'w'));
  const { node } = FS.lookupPath(name);
  node.parts = parts;
  node.ends = [];
  for (const part of parts || []) node.ends.push((node.ends.at(-1) ?? 0) + part.length);
  node.usedBytes = parts ? node.ends.at(-1) ?? 0 : size;
  node.lent = !!parts;
}

// The parts of the file `node` holds, its bytes only, taken out of it: {parts, size}.
function take(node) {
  const parts = [];
  const size = node.usedBytes;
  for (let i = 0; parts.length < node.parts.length && (node.ends[i] - node.parts[i].length) < size; ++i) {
    const part = node.parts[i];
    parts.push(node.ends[i] <= size ? part : part.subarray(0, size - (node.ends[i] - part.length)));
  }
  node.parts = null;
  return { parts, size };
}

const buffersOf = (files) => [...new Set(files.flatMap(({ parts }) => parts.map((part) => part.buffer)))];

// A new instance, its folder holding a stand-in for each of `files` ({name, size}), the banner printed,
// and the tool's plan for them: {runs: [target...], none}.
async function plan(files, chosen) {
  tool = await start();
  const { FS } = tool;
  FS.mkdir(kFolder);
  FS.chdir(kFolder);
  seen = new Map();
  for (const { name, size } of files) {
    put(tool, name, null, size);
    seen.set(name, FS.lookupPath(name).node);
  }
  tool.ccall('TovrelBanner', null, [], []);
  const names = files.map(({ name }) => name).join('/');
  return { ...JSON.parse(tool.ccall('TovrelPlan', 'string', ['string', 'string'], [names, chosen])), printed: takePrinted() };
}

// Run `index` of the plan with `files` ({name, parts}) in the folder: its exit code, what it printed
// and the files it made ({name, parts, size}), whose parts leave the worker. Afterwards no file in the
// folder holds its bytes.
function run(index, files) {
  const { FS } = tool;
  for (const { name, parts } of files) put(tool, name, parts);
  const code = tool.ccall('TovrelRunInTurn', 'number', ['number'], [index]);
  const made = [];
  for (const name of FS.readdir(kFolder)) {
    const { node } = FS.lookupPath(name);
    if (!FS.isFile(node.mode)) continue;
    // made or replaced: a file the tool writes takes its name by a rename, so it is a new node
    if (seen.get(name) !== node) {
      made.push({ name, ...take(node) });
      seen.set(name, node);
    }
    node.parts = null;
  }
  return { code, printed: takePrinted(), made };
}

// The files `files` ({name, parts}) stored in one zip named `name`, made in a fresh instance: {parts, size}.
async function zip(name, files) {
  const zipper = await start();
  const { FS } = zipper;
  FS.mkdir(kFolder);
  FS.chdir(kFolder);
  for (const file of files) put(zipper, file.name, file.parts);
  if (!zipper.ccall('TovrelZip', 'number', ['string', 'string'], [`/${name}`, files.map((file) => file.name).join('/')])) {
    throw new Error('the zip could not be written');
  }
  return take(FS.lookupPath(`/${name}`).node);
}

self.onmessage = async ({ data: { id, request, files, inspection: chosen, index, name } }) => {
  try {
    if (request === 'version') {
      const versioned = await start();
      const code = versioned.callMain(['--version']);
      self.postMessage({ id, code, printed: takePrinted() });
    } else if (request === 'plan') {
      self.postMessage({ id, plan: await plan(files, chosen) });
    } else if (request === 'reads') {
      self.postMessage({ id, reads: JSON.parse(tool.ccall('TovrelReads', 'string', ['number'], [index])) });
    } else if (request === 'run') {
      const result = run(index, files);
      self.postMessage({ id, ...result }, buffersOf(result.made));
    } else if (request === 'end') {
      tool = null;  // the instance and all its memory go
      self.postMessage({ id });
    } else if (request === 'zip') {
      const made = await zip(name, files);
      self.postMessage({ id, ...made }, buffersOf([made]));
    }
  } catch (error) {
    // the engine aborts when even a small allocation fails, or on a fault of its own: this instance is
    // done for, and a new request starts another
    tool = null;
    self.postMessage({ id, failure: String((error && error.message) || error), printed: takePrinted() });
  }
};
