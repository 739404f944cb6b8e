// The page's worker: it runs the tool, compiled to WebAssembly (createTovrel, defined just before this
// script), away from the page's thread. Every request starts a fresh instance, as a console starts a
// process: the request's files go into its in-memory folder, main runs with the request's arguments,
// and back go the lines it printed (in order), its exit code and every file the run made or replaced.
'use strict';

const kFolder = '/saves';

// A fresh instance of the tool whose printed lines are added to `printed`.
function start(printed) {
  return createTovrel({
    print: (line) => printed.push({ stream: 'out', text: `${line}\n` }),
    printErr: (line) => printed.push({ stream: 'err', text: `${line}\n` }),
  });
}

// What the tool would do with each of `names`: 0 nothing, 1 pack it, 2 unpack it.
async function kinds(names) {
  const tool = await start([]);
  return names.map((name) => tool.ccall('TovrelFileKind', 'number', ['string'], [name]));
}

// Runs the tool with `args` in a folder holding `files` ({name, bytes}).
async function run(args, files) {
  const printed = [];
  const tool = await start(printed);
  const { FS } = tool;
  FS.mkdir(kFolder);
  FS.chdir(kFolder);
  const before = new Map();
  for (const { name, bytes } of files) {
    FS.writeFile(name, new Uint8Array(bytes));
    before.set(name, FS.stat(name).ino);
  }
  const code = tool.callMain(args);
  // made or replaced: a file the tool writes takes its name by a rename, so it is a new node
  const made = [];
  for (const name of FS.readdir(kFolder)) {
    const stat = FS.stat(name);
    if (FS.isFile(stat.mode) && before.get(name) !== stat.ino) {
      made.push({ name, bytes: FS.readFile(name).buffer });
    }
  }
  return { code, printed, made, memory: tool.HEAPU8.length };
}

self.onmessage = async ({ data: { id, request, args, files, names } }) => {
  try {
    if (request === 'kinds') {
      self.postMessage({ id, kinds: await kinds(names) });
    } else {
      const result = await run(args, files);
      self.postMessage({ id, ...result }, result.made.map((file) => file.bytes));
    }
  } catch (error) {
    // the engine aborts when even a small allocation fails, or on a fault of its own
    self.postMessage({ id, failure: String((error && error.message) || error) });
  }
};
