// The three browser engines players use, each driven through its own protocol (Chromium over CDP with
// playwright-core, Firefox over WebDriver BiDi with puppeteer-core, WebKitGTK over classic WebDriver
// with selenium-webdriver), all behind one small interface, so that what the page's tests and its
// benchmark do is written once. Every engine is Debian's own; no browser is downloaded.
//   const driver = await drivers[engine]({ proxy });
//   driver.open(url); driver.run(fn, ...args) -> what fn returns in the page (awaited);
//   driver.give(selector, paths): files into a file input; driver.click(selector);
//   driver.download(selector, name) -> the bytes offered when that button is clicked;
//   driver.visible(selector) -> whether the element is rendered where a person could see it;
//   driver.resize(width, height); driver.screenshot(file): a PNG of the page as it shows;
//   driver.requests: every URL the page asked for, where the driver reports them (WebKit's go to
//   `proxy` instead); driver.folders: whether the driver can pick a folder; driver.close().
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const call = (fn, args) => `(${fn})(...${JSON.stringify(args)})`;

// Where a driver reports no downloads: the page's own click on the link its button makes is caught,
// and the bytes behind the link are read in the page.
async function offered({ run, click }, selector, name) {
  await run(() => {
    window.offered = undefined;
    HTMLAnchorElement.prototype.click = function () { window.offered = [this.download, this.href]; };
  });
  await click(selector);
  const [saved, url] = await run(async () => {
    // a download the page makes first (a .zip) comes a while after the click
    while (!window.offered) await new Promise((resolve) => setTimeout(resolve, 20));
    const reader = new FileReader();
    reader.readAsDataURL(await (await fetch(window.offered[1])).blob());
    return [window.offered[0], await new Promise((resolve) => { reader.onload = () => resolve(reader.result); })];
  });
  assert.equal(saved, name);
  return Buffer.from(url.slice(url.indexOf(',') + 1), 'base64');
}

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
      visible: (selector) => page.isVisible(selector),
      resize: (width, height) => page.setViewportSize({ width, height }),
      screenshot: (file) => page.screenshot({ path: file }),
      async download(selector, name) {
        // Chromium now and then drops one of many downloads clicked in quick succession: click again
        const clicked = (timeout) => Promise.all([page.waitForEvent('download', { timeout }), page.click(selector)]);
        const [file] = await clicked(5000).catch(() => clicked(30000));
        assert.equal(file.suggestedFilename(), name);
        return fs.readFileSync(await file.path());
      },
      close: () => browser.close(),
    };
  },

  async firefox() {
    const { default: puppeteer } = await import('puppeteer-core');
    const browser = await puppeteer.launch({ browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true });
    const page = await browser.newPage();
    const driver = {
      requests: [],
      folders: false,  // BiDi's setFiles takes files only
      open: (url) => page.goto(url),
      run: (fn, ...args) => page.evaluate(call(fn, args)),
      give: async (selector, paths) => (await page.$(selector)).uploadFile(...paths),
      click: (selector) => page.click(selector),
      visible: async (selector) => (await page.$(selector)).isVisible(),
      resize: (width, height) => page.setViewport({ width, height }),
      screenshot: (file) => page.screenshot({ path: file }),
      download: (selector, name) => offered(driver, selector, name),
      close: () => browser.close(),
    };
    page.on('request', (request) => driver.requests.push(request.url()));
    return driver;
  },

  // Needs a display (xvfb-run).
  async webkit({ proxy }) {
    const { Builder, By } = await import('selenium-webdriver');
    const port = await new Promise((resolve) => {
      const probe = net.createServer().listen(0, '127.0.0.1', () => probe.close(resolve.bind(null, probe.address().port)));
    });
    const server = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore' });
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
    const driver = {
      requests: [],
      folders: false,  // a folder sent to a file input arrives as one empty file
      open: (url) => browser.get(url),
      run: (fn, ...args) => browser.executeScript(`return ${call(fn, args)}`),
      give: async (selector, paths) => (await find(selector)).sendKeys(paths.join('\n')),
      click: async (selector) => (await find(selector)).click(),
      visible: async (selector) => (await find(selector)).isDisplayed(),
      // the window's outer size: its inner width comes out a little smaller, as on a phone's browser
      resize: (width, height) => browser.manage().window().setRect({ width, height }),
      screenshot: async (file) => fs.writeFileSync(file, await browser.takeScreenshot(), 'base64'),
      download: (selector, name) => offered(driver, selector, name),
      async close() {
        await browser.quit();
        server.kill();
      },
    };
    return driver;
  },
};
