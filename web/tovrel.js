// The page: it takes the player's files, has the worker run the tool on them, shows what the tool
// printed, exactly, and offers the files the tool made. Which file is a save, what belongs to it and
// what an archive may write are the tool's decisions, never the page's.

const $ = (id) => document.getElementById(id);

const engine = URL.createObjectURL(new Blob([$('engine').textContent], { type: 'text/javascript' }));
const waiting = new Map();
let worker = null;
let epoch = 0;  // counts the workers ended: a run begun under an earlier one is over
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
  ++epoch;
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
// read, goes to the tool as its size alone, and the tool says why it cannot use it if it needs it.
const kMostBytes = 2 ** 31;

// Reads `files` (File objects) on this thread, which every browser allows (a worker may be refused
// a File from a page opened from disk), into {name, size, bytes} (no bytes: not read).
function read(files) {
  return Promise.all(files.map(async (file) => {
    const { name, size } = file;
    try {
      return size < kMostBytes ? { name, size, bytes: new Uint8Array(await file.arrayBuffer()) } : { name, size };
    } catch {
      return { name, size };
    }
  }));
}

// Runs the tool once for each of `runs` (argument lists) on `files` (File objects), until a run fails;
// resolves with each run's exit code, the lines it printed and the files it made, or with null when
// the run was stopped.
async function runTool(runs, files) {
  const began = epoch;
  const inputs = await read(files);
  const answer = began === epoch
    ? await ask({ request: 'run', runs, files: inputs }, inputs.flatMap(({ bytes }) => (bytes ? [bytes.buffer] : [])))
    : { stopped: true };
  if (answer.stopped) return null;
  if (answer.failure) {
    return [{ code: -1, printed: [{ stream: 'err', text: `error: ${answer.failure}\n` }], made: [] }];
  }
  return answer.results;
}

// Shows printed lines in `pre`, stderr lines marked as such.
function show(pre, printed) {
  for (const { stream, text } of printed) {
    const span = document.createElement('span');
    span.textContent = text;
    if (stream === 'err') span.className = text.startsWith('note: ') ? 'note' : 'error';
    pre.append(span);
  }
}

let offered = [];  // the files on offer: {name, bytes}
let urls = [];  // the object URLs of files downloaded, released when the next run starts

// Hands `bytes` to the browser as a download named `name`. The copy a download needs is made only
// when asked for.
function download(name, bytes) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes]));
  link.download = name;  // a name the tool wrote into its folder: it holds no separator
  urls.push(link.href);
  link.click();
}

function offer(made) {
  offered = made;
  $('downloads').replaceChildren();
  $('offer').hidden = made.length === 0;
  for (const { name, bytes } of made) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'download';
    button.textContent = name;
    button.addEventListener('click', () => download(name, bytes));
    const size = document.createElement('span');
    size.className = 'size';
    size.textContent = ` ${bytes.length.toLocaleString('en')} bytes`;
    const item = document.createElement('li');
    item.append(button, size);
    $('downloads').append(item);
  }
  $('save-all').hidden = !('showDirectoryPicker' in window) || made.length === 0;
}

function setBusy(busy, status) {
  document.body.classList.toggle('busy', busy);
  $('result').setAttribute('aria-busy', String(busy));
  for (const input of document.querySelectorAll('input, button')) input.disabled = busy && input.id !== 'stop';
  $('stop').hidden = !busy;
  $('status').textContent = status;
}

// Makes the tool's `run` on `files` and shows the outcome. An unpack first shows what the archive holds,
// as --list prints it, and needs the archive alone.
async function convert(files, run) {
  urls.forEach((url) => URL.revokeObjectURL(url));
  urls = [];
  offer([]);
  $('choose').hidden = true;
  $('result').hidden = false;
  $('console').replaceChildren();
  setBusy(true, `Working on ${run.target}…`);
  const started = performance.now();
  const results = run.mode === 'unpack'
    ? await runTool([['--list', ...run.args], run.args], files.filter((file) => file.name === run.target))
    : await runTool([run.args], files);
  if (results === null) return;  // stopped: the page has said so
  results.forEach(({ printed }, i) => {
    if (i > 0) $('console').append('\n');
    show($('console'), printed);
  });
  const last = results[results.length - 1];
  offer(last.made);
  const seconds = ((performance.now() - started) / 1000).toFixed(1);
  setBusy(false, last.code === 0 ? `Done in ${seconds} s.`
    : last.code < 0 ? 'Nothing was made: Tovrel could not run.' : `Tovrel ended with exit code ${last.code}.`);
  document.body.dataset.exitCode = String(last.code);
}

// Takes the files the player gave: makes the one run the tool plans for them, or asks which.
async function take(files) {
  const answer = await ask({ request: 'plan', names: files.map((file) => file.name) });
  const runs = answer.plan ? answer.plan.runs : [];
  $('result').hidden = runs.length > 0;
  $('choose').hidden = true;
  if (runs.length === 0) {
    $('console').replaceChildren();
    offer([]);
    setBusy(false, answer.failure ? `Tovrel could not start: ${answer.failure}` : answer.plan.none);
    return;
  }
  if (runs.length === 1) {
    await convert(files, runs[0]);
    return;
  }
  const list = $('targets');
  list.replaceChildren();
  runs.forEach((run, i) => {
    const label = document.createElement('label');
    const radio = document.createElement('input');
    Object.assign(radio, { type: 'radio', name: 'target', value: String(i), checked: i === 0 });
    label.append(radio, ` ${run.target} `, `(${run.mode})`);
    list.append(label);
  });
  $('choose').hidden = false;
  $('choice').onsubmit = (event) => {
    event.preventDefault();
    convert(files, runs[Number(new FormData($('choice')).get('target'))]);
  };
  list.querySelector('input').focus();
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
  endWorker({ stopped: true });
  startWorker();
  offer([]);
  setBusy(false, 'Stopped: nothing was made. Ready for the next files.');
});
$('save-all').addEventListener('click', async () => {
  try {
    const folder = await window.showDirectoryPicker({ mode: 'readwrite' });
    for (const { name, bytes } of offered) {
      const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
      await writable.write(bytes);
      await writable.close();
    }
    $('status').textContent = `Saved ${offered.length} file(s) into the folder ${folder.name}.`;
  } catch (error) {
    if (error.name !== 'AbortError') $('status').textContent = `Could not save into the folder: ${error.message}`;
  }
});

// the version line, as --version prints it; it also tells that the engine runs
startWorker();
runTool([['--version']], []).then(([{ code, printed }]) => {
  const line = printed.filter((p) => p.stream === 'out').pop();
  if (code === 0 && line) {
    $('version').textContent = line.text.trim();
  } else {
    $('result').hidden = false;
    $('status').textContent = `Tovrel could not start: ${printed.map((p) => p.text).join('').replace(/^error: /, '').trim()}`;
  }
  document.body.dataset.ready = 'true';
});
