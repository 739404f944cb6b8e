// The three browser engines players use, each driven through its own protocol (Chromium over CDP with
// playwright-core, Firefox over WebDriver BiDi with puppeteer-core, WebKitGTK over classic WebDriver
// with selenium-webdriver), all behind one small interface, so that what the page's tests and its
// benchmark do is written once. Every engine is Debian's own; no browser is downloaded.
//   const driver = await drivers[engine]({ downloads, proxy });
//   driver.open(url); driver.run(fn, ...args) -> what fn returns in the page (awaited);
//   driver.give(selector, paths): files into a file input; driver.click(selector);
//   driver.download(selector, name, size) -> the bytes offered when that button is clicked;
//   driver.requests: every URL the page asked for, where the driver reports them (WebKit's go to
//   `proxy` instead); driver.folders: whether the driver can pick a folder; driver.close().
// `downloads` is an empty folder where the browser may save what it downloads.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const call = (fn, args) => `(${fn})(...${JSON.stringify(args)})`;

export const drivers = {
  async chromium() {
    const { chromium } = await import('playwright-core');
    const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
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
        assert(file.suggestedFilename() === name, `the browser saved ${file.suggestedFilename()}, not ${name}`);
        return fs.readFileSync(await file.path());
      },
      screenshot: (file) => page.screenshot({ path: file, fullPage: true }),
      close: () => browser.close(),
    };
  },

  async firefox({ downloads }) {
    const { default: puppeteer } = await import('puppeteer-core');
    const browser = await puppeteer.launch({
      browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true,
      extraPrefsFirefox: { 'browser.download.dir': downloads, 'browser.download.folderList': 2, 'browser.download.start_downloads_in_tmp_dir': false },
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
      async download(selector, name, size) {
        await page.click(selector);
        const file = path.join(downloads, name);  // taken away once read, so the next keeps its name
        for (let waited = 0; !(fs.existsSync(file) && fs.statSync(file).size === size && !fs.existsSync(`${file}.part`)); waited += 25) {
          assert(waited < 20000, `the browser saved no ${name} of ${size} bytes`);
          await sleep(25);
        }
        const bytes = fs.readFileSync(file);
        fs.rmSync(file);
        return bytes;
      },
      close: () => browser.close(),
    };
  },

  // Needs a display (xvfb-run).
  async webkit({ downloads, proxy }) {
    const { Builder, By } = await import('selenium-webdriver');
    const port = await new Promise((resolve) => {
      const probe = net.createServer().listen(0, '127.0.0.1', () => probe.close(resolve.bind(null, probe.address().port)));
    });
    const server = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore', env: { ...process.env, HOME: downloads } });
    let browser;
    for (let tries = 0; !browser; ++tries) {  // until the driver listens
      browser = await new Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
        browserName: 'MiniBrowser',
        // classic WebDriver reports no requests: whatever would leave the machine goes to the proxy
        proxy: { proxyType: 'manual', httpProxy: proxy, sslProxy: proxy },
        'webkitgtk:browserOptions': { binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', args: ['--automation'] },
      }).build().catch((error) => (tries < 200 ? sleep(50) : Promise.reject(error)));
    }
    const find = (selector) => browser.findElement(By.css(selector));
    const run = (fn, ...args) => browser.executeScript(`return ${call(fn, args)}`);
    return {
      requests: [],
      folders: false,  // a folder sent to a file input arrives as one empty file
      open: (url) => browser.get(url),
      run,
      give: async (selector, paths) => (await find(selector)).sendKeys(paths.join('\n')),
      click: async (selector) => (await find(selector)).click(),
      // the driver reports no download: the page's own click on its link is caught, and the bytes
      // behind the link read in the page
      async download(selector, name) {
        await run(() => { HTMLAnchorElement.prototype.click = function () { window.offered = [this.download, this.href]; }; });
        await (await find(selector)).click();
        const [saved, url] = await run(async () => {
          const reader = new FileReader();
          reader.readAsDataURL(await (await fetch(window.offered[1])).blob());
          return [window.offered[0], await new Promise((resolve) => { reader.onload = () => resolve(reader.result); })];
        });
        assert(saved === name, `the page offered ${saved}, not ${name}`);
        return Buffer.from(url.slice(url.indexOf(',') + 1), 'base64');
      },
      async close() {
        await browser.quit();
        server.kill();
      },
    };
  },
};

function assert(condition, message) {
  if (!condition) throw new Error(message);
}
