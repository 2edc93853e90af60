// Opens a web page written by `modrin-cli web` in Debian's headless Chromium (software WebGL)
// and checks what a visitor sees: no console error, the photos in the middle of the canvas and
// the background at its corners, and long drags that stop at the angle limits.
//
// usage: node web_page_check.js PAGE.html RRGGBB H_MIN,H_MAX V_MIN,V_MAX WxH MAX_TEXTURE WHERE
// WxH is the canvas size in CSS pixels. MAX_TEXTURE > 0: the .glb beside the page must pass
// Khronos' validator with no texture side above it. WHERE is "file" (the file:// URL only) or
// "both" (then also from an HTTP server on 127.0.0.1 serving the page's folder).
// Exits 0 when every check passes, 1 otherwise, 77 (skipped) without Chromium.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const url = require('url');

const kChromium = '/usr/bin/chromium';

function serve(folder) {
  const server = http.createServer((request, response) => {
    const file = path.join(folder, decodeURIComponent(new URL(request.url, 'http://x').pathname));
    fs.readFile(file, (error, data) => {
      error = error || !file.startsWith(folder);
      const type = {'.html': 'text/html', '.js': 'text/javascript'}[path.extname(file)];
      response.writeHead(error ? 404 : 200, {'Content-Type': type || 'application/octet-stream'});
      response.end(error ? '' : data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// The RGB pixels of a PNG, decoded by the browser itself on the blank page `decoder`.
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
    const {width, height} = image;
    const rgb = Array.from(context.getImageData(0, 0, width, height).data)
                    .filter((_, i) => i % 4 < 3);
    const at = (x, y) => rgb.slice(3 * (y * width + x), 3 * (y * width + x) + 3);
    return {width, height, rgb,
            corners: [at(2, 2), at(width - 3, 2), at(2, height - 3), at(width - 3, height - 3)]};
  }, png.toString('base64'));
}

const distance = (a, b) => Math.max(...a.map((c, i) => Math.abs(c - b[i])));

// Background at the corners; in the middle fifth hardly any background, and the spread of
// colours a photo has (a model drawn without its textures is one flat colour).
function checkPicture(picture, background, fail) {
  for (const corner of picture.corners) {
    if (distance(corner, background) > 4) fail(`a corner is ${corner}, not the background`);
  }
  const {width, height, rgb} = picture;
  let count = 0, backgroundPixels = 0;
  const colours = new Set();
  for (let y = Math.floor(height * 0.4); y < height * 0.6; ++y) {
    for (let x = Math.floor(width * 0.4); x < width * 0.6; ++x, ++count) {
      const pixel = rgb.slice(3 * (y * width + x), 3 * (y * width + x) + 3);
      if (distance(pixel, background) <= 12) ++backgroundPixels;
      colours.add(pixel.map((c) => c >> 3).join());
    }
  }
  if (backgroundPixels > count * 0.05) {
    fail(`${backgroundPixels} of ${count} middle pixels are background`);
  }
  if (colours.size < 20) fail(`the middle has only ${colours.size} colours: no photo texture`);
}

// Drags from the middle of `box` by (dx, dy) in steps, as a visitor turns the model.
async function drag(page, box, dx, dy) {
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  await page.mouse.move(x, y);
  await page.mouse.down();
  for (let step = 1; step <= 20; ++step) {
    await page.mouse.move(x + dx * step / 20, y + dy * step / 20);
  }
  await page.mouse.up();
}

async function checkPage(browser, decoder, address, expected) {
  const problems = [];
  const fail = (text) => problems.push(`${address}: ${text}`);
  const context = await browser.newContext({viewport: {width: 900, height: 700}});
  const page = await context.newPage();
  page.on('console', (message) => message.type() === 'error' && fail(`console: ${message.text()}`));
  page.on('pageerror', (error) => fail(`script error: ${error.message}`));
  await page.goto(address);
  await page.waitForFunction(() => window.modrinViewer &&
                                   (window.modrinViewer.loaded || window.modrinViewer.error),
                             null, {timeout: 60000});
  const error = await page.evaluate(() => window.modrinViewer.error);
  if (error) fail(`the page shows: ${error}`);
  const canvas = page.locator('#modrin-view');
  const box = await canvas.boundingBox();
  if (error || `${Math.round(box.width)}x${Math.round(box.height)}` !== expected.size) {
    fail(`the canvas is ${box.width} x ${box.height}, not ${expected.size}`);
    await context.close();
    return problems;
  }
  const shot = async () => decodePng(decoder, await canvas.screenshot());
  const angles = () => page.evaluate(() => [modrinViewer.bearing(), modrinViewer.elevation()]);
  const within = ([b, e]) => b >= expected.h[0] - 1e-6 && b <= expected.h[1] + 1e-6 &&
                             e >= expected.v[0] - 1e-6 && e <= expected.v[1] + 1e-6;
  checkPicture(await shot(), expected.background, fail);
  const start = await angles();
  if (!within(start)) fail(`the view starts at ${start}, outside ${expected.h} ${expected.v}`);
  // Far past the limits one way, then the other: the view stops at one corner of the allowed
  // angles, then at the opposite one, and looks different there.
  await drag(page, box, 2000, 1500);
  const [one, first] = [await angles(), await shot()];
  await drag(page, box, -4000, -3000);
  const [other, second] = [await angles(), await shot()];
  const atLimits = (a, b, [low, high]) =>
      Math.abs(Math.min(a, b) - low) < 1e-6 && Math.abs(Math.max(a, b) - high) < 1e-6;
  if (!atLimits(one[0], other[0], expected.h) || !atLimits(one[1], other[1], expected.v)) {
    fail(`the drags ended at ${one} and ${other}, not at the limits ${expected.h} ${expected.v}`);
  }
  let differing = 0;
  for (let i = 0; i < first.rgb.length; i += 3) {
    differing += distance(first.rgb.slice(i, i + 3), second.rgb.slice(i, i + 3)) > 24;
  }
  if (differing < first.rgb.length / 3 * 0.02) fail('the view looks the same after both drags');
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
    if (Math.max(image.width, image.height) > maxSide) {
      problems.push(`${glb}: ${pointer} is ${image.width} x ${image.height}, above ${maxSide}`);
    }
  }
  return problems;
}

async function main() {
  const [page, background, hRange, vRange, size, maxTexture, where] = process.argv.slice(2);
  if (!where) {
    console.error('usage: node web_page_check.js PAGE.html RRGGBB H_MIN,H_MAX V_MIN,V_MAX WxH ' +
                  'MAX_TEXTURE file|both');
    return 2;
  }
  if (!fs.existsSync(kChromium)) {
    console.log(`${kChromium} is not installed: skipped`);
    return 77;
  }
  const expected = {background: [0, 2, 4].map((at) => parseInt(background.substr(at, 2), 16)),
                    h: hRange.split(',').map(Number), v: vRange.split(',').map(Number), size};
  const file = path.resolve(page);
  let problems = Number(maxTexture) > 0 ? await checkModel(file.replace(/\.html?$/, '.glb'),
                                                            Number(maxTexture)) : [];
  const addresses = [url.pathToFileURL(file).href];
  const server = where === 'both' ? await serve(path.dirname(file)) : null;
  if (server) {
    const name = encodeURIComponent(path.basename(file));
    addresses.push(`http://127.0.0.1:${server.address().port}/${name}`);
  }
  const browser = await require('playwright-core').chromium.launch({
    executablePath: kChromium,
    args: ['--no-sandbox', '--enable-unsafe-swiftshader', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  try {
    const decoder = await browser.newPage();
    for (const address of addresses) {
      problems = problems.concat(await checkPage(browser, decoder, address, expected));
      console.log(`checked ${address}`);
    }
  } finally {
    await browser.close();
    if (server) server.close();
  }
  problems.forEach((problem) => console.log(problem));
  return problems.length === 0 ? 0 : 1;
}

main().then((status) => process.exit(status), (error) => {
  console.error(error);
  process.exit(1);
});
