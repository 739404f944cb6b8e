// The page's worker: it runs the tool, compiled to WebAssembly (createTovrel, defined just before this
// script), away from the page's thread. Every request starts a fresh instance, as a console starts a
// process: the request's files go into its in-memory folder, main runs with the request's arguments,
// and back go the lines it printed (in order), its exit code and every file the run made or replaced.
'use strict';

const kFolder = '/saves';

// A fresh instance of the tool whose printed lines are added to `printed`.
async function start(printed) {
  const tool = await createTovrel({
    print: (line) => printed.push({ stream: 'out', text: `${line}\n` }),
    printErr: (line) => printed.push({ stream: 'err', text: `${line}\n` }),
  });
  // The in-memory file system grows a file by an eighth at a time once it passes 1 MiB: a 64 MiB
  // archive written in 16 KiB pieces would be copied some 35 times. Doubling copies it twice in all.
  const memfs = tool.FS.filesystems && tool.FS.filesystems.MEMFS;
  if (memfs && memfs.expandFileStorage) {
    const expand = memfs.expandFileStorage;
    memfs.expandFileStorage = (node, wanted) => {
      const capacity = node.contents ? node.contents.length : 0;
      if (wanted > capacity) expand(node, Math.max(wanted, 2 * capacity));
    };
  }
  return tool;
}

// The tool's plan for the files `names` given together: the runs to make ({mode, target, args}) and,
// when there is none, why.
async function plan(names) {
  const tool = await start([]);
  return JSON.parse(tool.ccall('TovrelPlanFiles', 'string', ['string'], [names.join('/')]));
}

// Runs the tool once with `args` in a folder holding `files` ({name, size, bytes}), which it may only
// read. A file without bytes (the page could not read it) has its size, and every read of it fails.
async function run(args, files) {
  const printed = [];
  const tool = await start(printed);
  const { FS } = tool;
  FS.mkdir(kFolder);
  FS.chdir(kFolder);
  const before = new Map();
  for (const { name, size, bytes } of files) {
    FS.writeFile(name, bytes || new Uint8Array(0), { canOwn: true });  // the file uses the bytes where they are
    const { node } = FS.lookupPath(name);
    if (!bytes) {
      node.usedBytes = size;
      node.stream_ops = { ...node.stream_ops, read: () => { throw new FS.ErrnoError(29); } };  // EIO
    }
    before.set(name, node.id);
  }
  const code = tool.callMain(args);
  // made or replaced: a file the tool writes takes its name by a rename, so it is a new node
  const made = [];
  for (const name of FS.readdir(kFolder)) {
    const { node } = FS.lookupPath(name);
    if (FS.isFile(node.mode) && before.get(name) !== node.id) {
      // the file's own bytes, handed over uncopied when the answer goes back; a file that grew by
      // doubling may have room for twice its bytes, and only its bytes are kept
      const bytes = node.contents ? node.contents.subarray(0, node.usedBytes) : new Uint8Array(0);
      made.push({ name, bytes: bytes.length === bytes.buffer.byteLength ? bytes : bytes.slice() });
    }
  }
  return { code, printed, made };
}

// Runs the tool once for each of `runs` (argument lists) on `files` (as run takes them), each run in a
// fresh instance, until one fails.
async function runEach(runs, files) {
  const results = [];
  for (const args of runs) {
    results.push(await run(args, files));
    if (results[results.length - 1].code !== 0) break;
  }
  return results;
}

self.onmessage = async ({ data: { id, request, runs, files, names } }) => {
  try {
    if (request === 'plan') {
      self.postMessage({ id, plan: await plan(names) });
    } else {
      const results = await runEach(runs, files);
      const buffers = new Set(results.flatMap(({ made }) => made.map(({ bytes }) => bytes.buffer)));
      self.postMessage({ id, results }, [...buffers]);
    }
  } catch (error) {
    // the engine aborts when even a small allocation fails, or on a fault of its own
    self.postMessage({ id, failure: String((error && error.message) || error) });
  }
};
