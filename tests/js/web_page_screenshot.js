// Takes a picture of a web page written by `modrin-cli web`, opened from its folder in Debian's
// headless Chromium, for the README.
//
// usage: node web_page_screenshot.js PAGE.html OUT.png WIDTHxHEIGHT
'use strict';
const path = require('path');
const url = require('url');
const {chromium} = require('playwright-core');

(async () => {
  const [page, out, size] = process.argv.slice(2);
  const [width, height] = size.split('x').map(Number);
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--enable-unsafe-swiftshader', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  const tab = await browser.newPage({viewport: {width, height}});
  await tab.goto(url.pathToFileURL(path.resolve(page)).href);
  // The page says it has drawn its first frame of the model.
  await tab.waitForFunction(() => window.modrinViewer && window.modrinViewer.loaded, null,
                            {timeout: 60000});
  await tab.waitForTimeout(500);  // a frame after the load
  await tab.screenshot({path: out});
  await browser.close();
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
