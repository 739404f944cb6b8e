// The page: it takes the player's files, has the worker make every run the tool plans for them, shows
// what the tool printed, exactly, and offers the files the runs made. Which file is a save, what
// belongs to it, which runs there are and what each reads are the tool's decisions, never the page's:
// it asks the engine.

const $ = (id) => document.getElementById(id);

const engine = URL.createObjectURL(new Blob([$('engine').textContent], { type: 'text/javascript' }));
const waiting = new Map();
let worker = null;
let nextId = 0;

function startWorker() {
  worker = new Worker(engine);
  worker.onmessage = ({ data }) => {
    waiting.get(data.id)(data);
    waiting.delete(data.id);
  };
  // its script did not load or run, or an error escaped it: whatever it was doing will never answer
  worker.onerror = (event) => {
    event.preventDefault();
    endWorker({ failure: `the engine failed: ${event.message || 'its script did not load'}` });
  };
}

// Ends the worker, answering every request still waiting with `answer`; the next request starts a
// fresh one.
function endWorker(answer) {
  if (worker !== null) worker.terminate();
  worker = null;
  waiting.forEach((resolve) => resolve(answer));
  waiting.clear();
}

// Sends `message` to the worker and resolves with its answer.
function ask(message, transfer = []) {
  if (worker === null) startWorker();
  return new Promise((resolve) => {
    const id = nextId++;
    waiting.set(id, resolve);
    worker.postMessage({ id, ...message }, transfer);
  });
}

// The engine's memory holds at most 2 GiB (its build sets so): a file of that size could never be
// used, and a browser may refuse to read it or freeze trying. Such a file, or one the browser cannot
// read, goes to the tool without its bytes, and the tool says why it cannot use it if it needs it.
const kMostBytes = 2 ** 31;

// The bytes of the File `file` as {name, parts: [bytes]}, read on this thread, which every browser
// allows (a worker may be refused a File from a page opened from disk); {name} alone when they cannot
// be had.
async function read(file) {
  const { name, size } = file;
  try {
    return size < kMostBytes ? { name, parts: [new Uint8Array(await file.arrayBuffer())] } : { name };
  } catch {
    return { name };
  }
}

// A copy of the file `file` ({parts, size}) as the worker takes it, and the buffers that go with it.
const copyOf = (name, { parts }) => ({ name, parts: parts.map((part) => part.slice()) });
const buffersOf = (files) => files.flatMap(({ parts }) => (parts ? parts.map((part) => part.buffer) : []));

// Shows printed text in the console, stderr's apart from stdout's.
function show(printed) {
  for (const { stream, text } of printed) {
    if (stream === 'out') {
      $('console').append(text);
    } else {
      const span = document.createElement('span');
      span.className = 'stderr';
      span.textContent = text;
      $('console').append(span);
    }
  }
}

let offered = new Map();  // the files on offer: name -> {parts, size}, in their last version
let urls = [];  // the object URLs of files downloaded, released when the next files are taken

// Hands the file `file` ({parts}) to the browser as a download named `name`. The copy a download needs
// is made only when asked for.
function download(name, file) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob(file.parts));
  link.download = name;  // a name the tool wrote into its folder: it holds no separator
  urls.push(link.href);
  link.click();
}

function offer(made) {
  offered = made;
  const names = [...made.keys()].sort();
  $('downloads').replaceChildren();
  $('offer').hidden = names.length === 0;
  for (const name of names) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'download';
    button.textContent = name;
    button.addEventListener('click', () => download(name, offered.get(name)));
    const size = document.createElement('span');
    size.className = 'size';
    size.textContent = ` ${made.get(name).size.toLocaleString('en')} bytes`;
    const item = document.createElement('li');
    item.append(button, size);
    $('downloads').append(item);
  }
  $('zip').hidden = names.length < 2;
  $('save-all').hidden = !('showDirectoryPicker' in window) || names.length === 0;
  $('replace').hidden = true;
}

// The zip's name says what it holds: its first file and how many more.
function zipName(names) {
  return names.length === 2 ? `${names[0]}-and-${names[1]}.zip` : `${names[0]}-and-${names.length - 1}-more.zip`;
}

function setBusy(busy, status) {
  document.body.classList.toggle('busy', busy);
  $('result').setAttribute('aria-busy', String(busy));
  for (const control of document.querySelectorAll('input, button')) control.disabled = busy && control.id !== 'stop';
  $('stop').hidden = !busy;
  $('status').textContent = status;
}

let stopped = false;  // set by Stop while runs go on

// Takes the files the player gave: makes every run the tool plans for them, in its order, each seeing
// what the ones before it made, and offers every file made once all are done (or stopped).
async function take(files) {
  if (files.length === 0 || document.body.classList.contains('busy')) return;
  urls.forEach((url) => URL.revokeObjectURL(url));
  urls = [];
  offer(new Map());
  $('result').hidden = false;
  $('result').scrollIntoView({ block: 'start' });  // on a phone it lies below the fold
  $('console').replaceChildren();
  delete document.body.dataset.exitCode;
  stopped = false;
  const byName = new Map(files.map((file) => [file.name, file]));
  const inspection = new FormData($('pick-form')).get('inspection') ?? '';
  setBusy(true, 'Looking at the files…');
  const started = performance.now();
  const planned = await ask({ request: 'plan', files: [...byName.values()].map(({ name, size }) => ({ name, size })), inspection });
  if (planned.stopped) {
    finish(undefined, 'Stopped: nothing was made. Ready for the next files.', new Map());
    return;
  }
  if (!planned.plan) {
    finish(-1, `Tovrel could not start: ${planned.failure}`, new Map());
    return;
  }
  show(planned.plan.printed);
  const { runs } = planned.plan;
  if (runs.length === 0) {
    $('console').replaceChildren();
    finish(0, planned.plan.none, new Map());
    return;
  }
  const made = new Map();
  let highest = 0;
  for (const [i, target] of runs.entries()) {
    const doing = runs.length > 1 ? `${i + 1} of ${runs.length}: ${target}` : target;
    setBusy(true, `Working on ${doing}…`);
    const { reads } = await ask({ request: 'reads', index: i });
    // a file an earlier run made is read in its new version, and stays on offer as it is
    const inputs = (await Promise.all((reads || []).filter((name) => made.has(name) || byName.has(name))
      .map((name) => (made.has(name) ? copyOf(name, made.get(name)) : read(byName.get(name)))))).filter(({ parts }) => parts);
    const answer = stopped ? { stopped } : await ask({ request: 'run', index: i, files: inputs }, buffersOf(inputs));
    if (answer.stopped) {
      finish(undefined, runs.length > 1 ? `Stopped during ${doing}: nothing of it was made; what the runs before it made is kept.`
        : 'Stopped: nothing was made. Ready for the next files.', made);
      return;
    }
    if (answer.printed) show(answer.printed);
    if (answer.failure) {
      finish(-1, `Tovrel could not go on: ${answer.failure}`, made);
      return;
    }
    for (const { name, parts, size } of answer.made) {
      made.delete(name);  // offered once, in its last version
      made.set(name, { parts, size });
    }
    highest = Math.max(highest, answer.code);
  }
  await ask({ request: 'end' });
  const seconds = ((performance.now() - started) / 1000).toFixed(1);
  finish(highest, highest === 0 ? `Done in ${seconds} s.` : `Tovrel ended with exit code ${highest}.`, made);
}

// Ends the work on the files given: says `status`, offers `made`, and records the exit code (none when
// the work was stopped).
function finish(code, status, made) {
  offer(made);
  setBusy(false, status);
  if (code !== undefined) document.body.dataset.exitCode = String(code);
}

// The files of a dropped folder, without its subfolders.
async function filesOf(directory) {
  const reader = directory.createReader();
  const entries = [];
  for (let batch; (batch = await new Promise((ok, fail) => reader.readEntries(ok, fail))).length > 0;) {
    entries.push(...batch);
  }
  return Promise.all(entries.filter((entry) => entry.isFile).map((entry) => new Promise((ok, fail) => entry.file(ok, fail))));
}

// each input is emptied once its files are taken, so that choosing the same files again is a change
$('files').addEventListener('change', (event) => {
  const files = [...event.target.files];
  event.target.value = '';
  take(files);
});
$('folder').addEventListener('change', (event) => {
  // the chosen folder's own files: "folder/name", not "folder/sub/name"
  const files = [...event.target.files].filter((file) => file.webkitRelativePath.split('/').length === 2);
  event.target.value = '';
  take(files);
});
// a folder can be chosen only where the browser's file input picks folders
$('folder-button').hidden = !('webkitdirectory' in document.createElement('input'));
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('dragging');
});
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  if (document.body.classList.contains('busy')) return;
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  const folder = entries.length === 1 && entries[0] && entries[0].isDirectory ? entries[0] : null;
  take(folder ? await filesOf(folder) : [...event.dataTransfer.files]);
});
$('stop').addEventListener('click', () => {
  stopped = true;
  endWorker({ stopped: true });
});
$('zip').addEventListener('click', async () => {
  const names = [...offered.keys()].sort();
  $('zip').disabled = true;
  $('status').textContent = `Putting ${names.length} files into one .zip…`;
  const files = names.map((name) => copyOf(name, offered.get(name)));
  const answer = await ask({ request: 'zip', name: zipName(names), files }, buffersOf(files));
  $('zip').disabled = false;
  if (answer.parts) {
    download(zipName(names), answer);
    $('status').textContent = `${zipName(names)} holds the ${names.length} files.`;
  } else {
    $('status').textContent = `Could not make the .zip: ${answer.failure || 'it was stopped'}`;
  }
});

// Asks whether the files `names` already in the folder `folder` may be replaced; resolves true or false.
function mayReplace(names, folder) {
  $('replace-text').textContent = `The folder ${folder} already holds ${names.join(', ')}. Replace ${names.length === 1 ? 'it' : 'them'}?`;
  $('replace').hidden = false;
  $('replace-yes').focus();
  return new Promise((resolve) => {
    const answer = (yes) => () => {
      $('replace').hidden = true;
      resolve(yes);
    };
    $('replace-yes').onclick = answer(true);
    $('replace-no').onclick = answer(false);
  });
}

$('save-all').addEventListener('click', async () => {
  try {
    const folder = await window.showDirectoryPicker({ mode: 'readwrite' });
    const names = [...offered.keys()].sort();
    const there = [];
    for (const name of names) {
      try {
        await folder.getFileHandle(name);
        there.push(name);
      } catch (error) {
        if (error.name !== 'NotFoundError') throw error;
      }
    }
    if (there.length > 0 && !(await mayReplace(there, folder.name))) {
      $('status').textContent = `Nothing was saved into the folder ${folder.name}.`;
      return;
    }
    for (const name of names) {
      const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
      await writable.write(new Blob(offered.get(name).parts));
      await writable.close();
    }
    $('status').textContent = `Saved ${names.length} file(s) into the folder ${folder.name}.`;
  } catch (error) {
    if (error.name !== 'AbortError') $('status').textContent = `Could not save into the folder: ${error.message}`;
  }
});

// the version line, as --version prints it; it also tells that the engine runs
ask({ request: 'version' }).then(({ code, printed = [], failure }) => {
  const line = printed.filter((p) => p.stream === 'out').map((p) => p.text).join('').trim().split('\n').pop();
  if (code === 0 && line) {
    $('version').textContent = line;
  } else {
    $('result').hidden = false;
    $('status').textContent = `Tovrel could not start: ${failure || printed.map((p) => p.text).join('').trim()}`;
  }
  document.body.dataset.ready = 'true';
});
