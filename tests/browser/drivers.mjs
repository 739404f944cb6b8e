// The three browser engines players use, each driven through its own protocol (Chromium over CDP with
// playwright-core, Firefox over WebDriver BiDi with puppeteer-core, WebKitGTK over classic WebDriver
// with selenium-webdriver), all behind one small interface, so that what the page's tests and its
// benchmark do is written once. Every engine is Debian's own; no browser is downloaded.
//   const driver = await drivers[engine]({ downloads, proxy });
//   driver.open(url); driver.run(fn, ...args) -> what fn returns in the page (awaited);
//   driver.give(selector, paths): files into a file input; driver.click(selector);
//   driver.download(selector, name, size) -> the bytes the browser saved when the button was clicked;
//   driver.requests: every URL the page asked for, where the driver reports them (WebKit's go to
//   `proxy` instead); driver.folders: whether the driver can pick a folder; driver.close().
// `downloads` is an empty folder of the caller's where the browser saves what it downloads.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const call = (fn, args) => `(${fn})(...${JSON.stringify(args)})`;

// Clicks and waits until the browser has saved `name`, `size` bytes long, into `dir`; returns its
// bytes and removes it, so that the next download of that name keeps the name.
async function saved(dir, name, size, click) {
  await click();
  const file = path.join(dir, name);
  for (let waited = 0; waited < 20000; waited += 25, await sleep(25)) {
    if (fs.existsSync(file) && fs.statSync(file).size === size && !fs.readdirSync(dir).some((f) => f.endsWith('.part'))) {
      const bytes = fs.readFileSync(file);
      fs.rmSync(file);
      return bytes;
    }
  }
  throw new Error(`the browser saved no ${name} of ${size} bytes; ${dir} holds ${fs.readdirSync(dir)}`);
}

export const drivers = {
  async chromium() {
    const { chromium } = await import('playwright-core');
    const browser = await chromium.launch({
      executablePath: '/usr/bin/chromium',
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update'],
    });
    const context = await browser.newContext({ acceptDownloads: true });
    const page = await context.newPage();
    const requests = [];
    context.on('request', (request) => requests.push(request.url()));
    return {
      requests,
      folders: true,
      open: (url) => page.goto(url),
      run: (fn, ...args) => page.evaluate(call(fn, args)),
      give: (selector, paths) => page.setInputFiles(selector, paths),
      click: (selector) => page.click(selector),
      async download(selector, name) {
        const [file] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
        if (file.suggestedFilename() !== name) throw new Error(`the browser saved ${file.suggestedFilename()}, not ${name}`);
        return fs.readFileSync(await file.path());
      },
      screenshot: (file) => page.screenshot({ path: file, fullPage: true }),
      close: () => browser.close(),
    };
  },

  async firefox({ downloads }) {
    const { default: puppeteer } = await import('puppeteer-core');
    const browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: '/usr/bin/firefox-esr',
      headless: true,
      extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.download.start_downloads_in_tmp_dir': false,
      },
    });
    const page = await browser.newPage();
    const requests = [];
    page.on('request', (request) => requests.push(request.url()));
    return {
      requests,
      folders: false,  // BiDi's setFiles takes files only
      open: (url) => page.goto(url),
      run: (fn, ...args) => page.evaluate(call(fn, args)),
      give: async (selector, paths) => (await page.$(selector)).uploadFile(...paths),
      click: (selector) => page.click(selector),
      download: (selector, name, size) => saved(downloads, name, size, () => page.click(selector)),
      close: () => browser.close(),
    };
  },

  // Needs a display (xvfb-run). MiniBrowser saves downloads into its home folder.
  async webkit({ downloads, proxy }) {
    const { Builder, By } = await import('selenium-webdriver');
    const port = await new Promise((resolve) => {
      const probe = net.createServer().listen(0, '127.0.0.1', () => {
        const { port: free } = probe.address();
        probe.close(() => resolve(free));
      });
    });
    const server = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore', env: { ...process.env, HOME: downloads } });
    const listening = () => new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => resolve(socket.end() !== null)).on('error', () => resolve(false));
    });
    while (!(await listening())) await sleep(50);
    const browser = await new Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
      browserName: 'MiniBrowser',
      // classic WebDriver reports no requests: whatever would leave the machine goes to the proxy
      proxy: { proxyType: 'manual', httpProxy: proxy, sslProxy: proxy },
      'webkitgtk:browserOptions': { binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', args: ['--automation'] },
    }).build();
    const find = (selector) => browser.findElement(By.css(selector));
    return {
      requests: [],
      folders: false,  // a folder sent to a file input arrives as one empty file
      open: (url) => browser.get(url),
      run: (fn, ...args) => browser.executeScript(`return ${call(fn, args)}`),
      give: async (selector, paths) => (await find(selector)).sendKeys(paths.join('\n')),
      click: async (selector) => (await find(selector)).click(),
      download: (selector, name, size) => saved(downloads, name, size, async () => (await find(selector)).click()),
      async close() {
        await browser.quit();
        server.kill();
      },
    };
  },
};
