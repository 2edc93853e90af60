// Opens a web page written by `modrin-cli web` in headless Chromium (Debian's, software WebGL)
// and checks what a visitor sees: the model loads without a console error, the middle of the
// canvas shows the photos and its corners the background, and a long drag turns the view but
// never past the angle limits.
//
// usage: node web_page_check.js PAGE.html RRGGBB H_MIN,H_MAX V_MIN,V_MAX [--file-only]
//          [--size WxH] [--max-texture N]
// The page is opened by its file:// URL and then, unless --file-only, from an HTTP server on
// 127.0.0.1 serving its folder. The canvas must be WxH CSS pixels (default 400x300). With
// --max-texture, the .glb beside the page must pass Khronos' glTF validator and no texture side
// may exceed N. Exits 0 when every check passes, 1 otherwise, 77 (skipped) when
// Chromium is not installed.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const url = require('url');

const kChromium = '/usr/bin/chromium';
const kTypes = {'.html': 'text/html', '.js': 'text/javascript', '.glb': 'model/gltf-binary'};

// Serves the files of `folder` on 127.0.0.1 at a free port; resolves to the server.
function serve(folder) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const file = path.join(folder, path.normalize(name));
    fs.readFile(file, (error, data) => {
      if (error || !file.startsWith(folder)) {
        response.writeHead(404);
        response.end();
        return;
      }
      response.writeHead(200, {'Content-Type': kTypes[path.extname(file)] || 'text/plain'});
      response.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// The RGBA pixels of a PNG screenshot, decoded by the browser itself.
async function decodePng(decoder, png) {
  return decoder.evaluate(async (base64) => {
    const image = new Image();
    image.src = 'data:image/png;base64,' + base64;
    await image.decode();
    const canvas = document.createElement('canvas');
    canvas.width = image.width;
    canvas.height = image.height;
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const data = context.getImageData(0, 0, image.width, image.height).data;
    return {width: image.width, height: image.height, data: Array.from(data)};
  }, png.toString('base64'));
}

function pixel(picture, x, y) {
  const at = 4 * (y * picture.width + x);
  return picture.data.slice(at, at + 3);
}

function distance(a, b) {
  return Math.max(Math.abs(a[0] - b[0]), Math.abs(a[1] - b[1]), Math.abs(a[2] - b[2]));
}

// The checks of one screenshot: background at the four corners; in the middle fifth, photo
// colours: hardly any background, and the spread of colours a photo has (a model drawn without
// its textures would be one flat colour).
function checkPicture(picture, background, fail) {
  const {width, height} = picture;
  for (const [x, y] of [[2, 2], [width - 3, 2], [2, height - 3], [width - 3, height - 3]]) {
    const found = pixel(picture, x, y);
    if (distance(found, background) > 4) fail(`corner (${x}, ${y}) is ${found}, not the background`);
  }
  let backgroundPixels = 0;
  const colours = new Set();
  let count = 0;
  for (let y = Math.floor(height * 0.4); y < height * 0.6; ++y) {
    for (let x = Math.floor(width * 0.4); x < width * 0.6; ++x) {
      const found = pixel(picture, x, y);
      ++count;
      if (distance(found, background) <= 12) ++backgroundPixels;
      colours.add(found.map((c) => c >> 3).join(','));
    }
  }
  if (backgroundPixels > count * 0.05) {
    fail(`${backgroundPixels} of the ${count} middle pixels are background`);
  }
  if (colours.size < 20) fail(`the middle has only ${colours.size} colours: no photo texture`);
}

function differingShare(a, b) {
  let differing = 0;
  for (let i = 0; i < a.data.length; i += 4) {
    if (distance(a.data.slice(i, i + 3), b.data.slice(i, i + 3)) > 24) ++differing;
  }
  return differing / (a.data.length / 4);
}

// Drags the mouse from the middle of `box` by (dx, dy) in steps, as a visitor turns the model.
async function drag(page, box, dx, dy) {
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  await page.mouse.move(x, y);
  await page.mouse.down();
  for (let step = 1; step <= 20; ++step) {
    await page.mouse.move(x + (dx * step) / 20, y + (dy * step) / 20);
  }
  await page.mouse.up();
}

// Decodes a screenshot, keeping it as `name` where MODRIN_SCREENSHOTS asks.
async function screenshot(decoder, canvas, name) {
  const png = await canvas.screenshot();
  if (process.env.MODRIN_SCREENSHOTS) {
    fs.writeFileSync(path.join(process.env.MODRIN_SCREENSHOTS, name + '.png'), png);
  }
  return decodePng(decoder, png);
}

async function checkPage(browser, decoder, address, expected) {
  const problems = [];
  const fail = (text) => problems.push(`${address}: ${text}`);
  const context = await browser.newContext({viewport: {width: 900, height: 700}});
  const page = await context.newPage();
  page.on('console', (message) => {
    if (message.type() === 'error') fail(`console error: ${message.text()}`);
  });
  page.on('pageerror', (error) => fail(`script error: ${error.message}`));
  await page.goto(address);
  await page.waitForFunction(
      () => window.modrinViewer && (window.modrinViewer.loaded || window.modrinViewer.error),
      null, {timeout: 60000});
  const error = await page.evaluate(() => window.modrinViewer.error);
  if (error) {
    fail(`the page shows: ${error}`);
    await context.close();
    return problems;
  }
  const canvas = page.locator('#modrin-view');
  const box = await canvas.boundingBox();
  if (Math.round(box.width) !== expected.width || Math.round(box.height) !== expected.height) {
    fail(`the canvas is ${box.width} x ${box.height}, not ${expected.width} x ${expected.height}`);
  }
  const angles = () => page.evaluate(() => [window.modrinViewer.bearing(),
                                           window.modrinViewer.elevation()]);
  const checkAngles = ([bearing, elevation], when) => {
    const eps = 1e-6;
    if (bearing < expected.h[0] - eps || bearing > expected.h[1] + eps) {
      fail(`${when}: bearing ${bearing} outside ${expected.h}`);
    }
    if (elevation < expected.v[0] - eps || elevation > expected.v[1] + eps) {
      fail(`${when}: elevation ${elevation} outside ${expected.v}`);
    }
  };
  const label = address.split(':')[0];
  const first = await screenshot(decoder, canvas, label + '-start');
  checkPicture(first, expected.background, fail);
  const start = await angles();
  checkAngles(start, 'at the start');

  // Far past both limits one way, then the other: the view stops at one pair of limits, then at
  // the other, and looks different there.
  await drag(page, box, 2000, 1500);
  const one = await angles();
  checkAngles(one, 'after dragging right and down');
  const second = await screenshot(decoder, canvas, label + '-turned');
  await drag(page, box, -4000, -3000);
  const other = await angles();
  checkAngles(other, 'after dragging left and up');
  const third = await screenshot(decoder, canvas, label + '-turned-back');
  const atLimits = (a, b, [low, high]) =>
    Math.abs(Math.min(a, b) - low) < 1e-6 && Math.abs(Math.max(a, b) - high) < 1e-6;
  if (!atLimits(one[0], other[0], expected.h) || !atLimits(one[1], other[1], expected.v)) {
    fail(`the drags ended at ${one} and ${other}, not at the limits ${expected.h} ${expected.v}`);
  }
  if (differingShare(second, third) < 0.02) fail('the view looks the same after both drags');
  await context.close();
  return problems;
}

// The validator's errors and warnings on `glb`, and textures with a side above `maxSide`.
async function checkModel(glb, maxSide) {
  const validator = require('gltf-validator');
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(glb)));
  const problems = report.issues.messages.filter((m) => m.severity <= 1)
                       .map((m) => `${glb}: ${m.code} at ${m.pointer}: ${m.message}`);
  const images = report.info.resources.filter((r) => r.image);
  if (images.length === 0) problems.push(`${glb} has no textures`);
  for (const {pointer, image} of images) {
    if (image.width > maxSide || image.height > maxSide) {
      problems.push(`${glb}: ${pointer} is ${image.width} x ${image.height}, above ${maxSide}`);
    }
  }
  return problems;
}

// The value after `flag` in `flags`, or null.
function flagValue(flags, flag) {
  const at = flags.indexOf(flag);
  return at >= 0 ? flags[at + 1] : null;
}

async function main() {
  const [page, background, hRange, vRange, ...flags] = process.argv.slice(2);
  if (!vRange) {
    console.error('usage: node web_page_check.js PAGE.html RRGGBB H_MIN,H_MAX V_MIN,V_MAX ' +
                  '[--file-only] [--size WxH] [--max-texture N]');
    return 2;
  }
  if (!fs.existsSync(kChromium)) {
    console.log(`${kChromium} is not installed: skipped`);
    return 77;
  }
  const [width, height] = (flagValue(flags, '--size') || '400x300').split('x').map(Number);
  const expected = {
    background: [0, 2, 4].map((at) => parseInt(background.substr(at, 2), 16)),
    h: hRange.split(',').map(Number),
    v: vRange.split(',').map(Number),
    width,
    height,
  };
  const file = path.resolve(page);
  const addresses = [url.pathToFileURL(file).href];
  let server = null;
  if (!flags.includes('--file-only')) {
    server = await serve(path.dirname(file));
    addresses.push(`http://127.0.0.1:${server.address().port}/${encodeURIComponent(path.basename(file))}`);
  }
  const {chromium} = require('playwright-core');
  const browser = await chromium.launch({
    executablePath: kChromium,
    args: ['--no-sandbox', '--enable-unsafe-swiftshader', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  let problems = [];
  const maxSide = flagValue(flags, '--max-texture');
  if (maxSide) problems = await checkModel(file.replace(/\.html?$/, '.glb'), Number(maxSide));
  try {
    const decoder = await (await browser.newContext()).newPage();
    for (const address of addresses) {
      problems = problems.concat(await checkPage(browser, decoder, address, expected));
      console.log(`checked ${address}`);
    }
  } finally {
    await browser.close();
    if (server) server.close();
  }
  for (const problem of problems) console.log(problem);
  return problems.length === 0 ? 0 : 1;
}

main().then((status) => process.exit(status), (error) => {
  console.error(error);
  process.exit(1);
});
