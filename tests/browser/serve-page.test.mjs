// The live page of `nxflow serve` in Debian's headless chromium: the filter
// demo shows a box per component and a wire per link, a property change
// reads back, a refused one shows its one-line message, the figures arrive,
// a dragged box keeps its place through a save, the live panels show the
// displays' pictures and read the trace under the pointer, and Ctrl-C ends the server
// cleanly; then a component's own readings show on its box. Leaves a picture
// of the page in docs/.
//
//   node serve-page.test.mjs [NXFLOW] [SCREENSHOT]
import { spawn } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..', '..');
const nxflow = resolve(process.argv[2] || join(root, 'build', 'nxflow', 'nxflow'));
const screenshot = resolve(process.argv[3] || join(root, 'docs', 'serve-filter-demo.png'));
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';

const failures = [];
function check(condition, what) {
  console.log((condition ? 'ok    ' : 'FAIL  ') + what);
  if (!condition) failures.push(what);
}

const work = mkdtempSync(join(tmpdir(), 'nxflow-serve-page-'));
const graph = join(work, 'filter-demo.xml');
copyFileSync(join(root, 'examples', 'graphs', 'filter-demo.xml'), graph);
let browser = null;
const servers = [];

// Starts `nxflow ARGS` (a serve command): its first line is the page's address.
function serve(args) {
  const child = spawn(nxflow, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  servers.push(child);
  const run = { child, stderr: '' };
  child.stderr.on('data', (chunk) => { run.stderr += chunk; });
  run.exited = new Promise((done) => child.on('exit', (code) => done(code)));
  run.address = new Promise((done, fail) => {
    let stdout = '';
    child.stdout.on('data', (chunk) => {
      stdout += chunk;
      if (stdout.includes('\n')) done(stdout.split('\n')[0]);
    });
    child.on('exit', () => fail(new Error('nxflow serve ended: ' + run.stderr)));
  });
  return run;
}

// The whole test ends within two and a half minutes, whatever hangs, and
// takes the servers and the browser with it.
const guard = setTimeout(() => {
  console.error('the browser test took more than 150 s');
  for (const s of servers) s.kill('SIGKILL');
  if (browser) browser.process()?.kill('SIGKILL');
  process.exit(1);
}, 150000);
const server = serve(['serve', graph, '--port', '0', '--out', join(work, 'out')]);
const address = await server.address;
check(/^http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{64}$/.test(address), 'one line with the address and token');

browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  // Root in a container has no user namespace for the sandbox.
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1500, height: 820 });
  const refused = [];
  page.on('response', (r) => { if (r.status() === 401) refused.push(r.url()); });
  await page.goto(address);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 15000 });
  check(refused.length === 0, 'the page, its script and style all carry the token');
  check(await page.$$eval('g.box', (boxes) => boxes.length) === 15, '15 boxes');
  check(await page.$$eval('path.wire', (wires) => wires.length) === 14, '14 wires');
  const left = async (name) => page.$eval(`g.box[data-name="${name}"]`, (g) => g.getBoundingClientRect().left);
  check(await left('Noise') < await left('Mix') && await left('Mix') < await left('LowPass') &&
        await left('LowPass') < await left('LowPassSpectrum') && await left('LowPassSpectrum') < await left('LowPassView'),
  'sources on the left, sinks on the right');

  // A change reads back; a refused one shows its line.
  const select = async (name) => {
    await page.click(`g.box[data-name="${name}"] text.name`);
    await page.waitForFunction((n) => document.querySelector('#inspector h2')?.textContent === n, {}, name);
  };
  const setValue = async (property, value) => {
    const input = `#inspector input[name="${property}"]`;
    await page.$eval(input, (e) => { e.value = ''; });
    await page.type(input, value);
    await page.keyboard.press('Tab');
  };
  await select('Low');
  await setValue('Amplitude', '0.25');
  await page.waitForFunction(() => document.getElementById('message').textContent.includes('Low.Amplitude = 0.25'));
  await select('Mix');
  await select('Low');
  check(await page.$eval('#inspector input[name="Amplitude"]', (e) => e.value) === '0.25', 'a changed amplitude reads back');
  await select('LowPass');
  await setValue('Order', '-5');
  await page.waitForFunction(() => document.querySelector('#inspector .error:not(:empty)'));
  const error = await page.$eval('#inspector .error:not(:empty)', (e) => e.textContent);
  check(error === 'value -5 of Order is out of range (minimum 0)', 'a refused order shows its line: ' + error);
  check(await page.$eval('#inspector select[name="Window"]', (e) => e.value) === 'wtBlackman', 'enumerations get a list');

  // The figures stream in.
  await page.waitForFunction(() => document.querySelector('g.box[data-name="MixScope"] text.rate')?.textContent
    .includes('samples/s'), { timeout: 10000 });
  check(await page.$eval('#state', (e) => e.textContent) === 'running', 'the graph runs');
  // Each link's figures: a wire that carries buffers says how many and how late.
  await page.waitForFunction(() => document.querySelectorAll('path.wire.flowing').length === 14, { timeout: 10000 });
  const tip = await page.$eval('path.wire[data-from="Mix.OutputPin"][data-to="LowPass.InputPin"] title',
    (t) => t.textContent);
  check(/buf\/s/.test(tip) && /median \d/.test(tip), 'a wire\'s tooltip gives its rate and latency: ' + tip);

  // Every display has a live panel; the scope's picture moves on, and the
  // pointer over it reads the trace.
  check(await page.$$eval('#panels figure.panel', (f) => f.length) === 6, 'six live panels');
  // A picture is read once it has been decoded (the page sets the next
  // address only then), in the same look as its number and address: a new
  // address empties the width until that picture is decoded.
  const shown = async (after) => (await page.waitForFunction((n) => {
    const img = document.querySelector('figure.panel[data-name="MixScope"] img');
    const frames = Number(img?.dataset.frames || 0);
    if (!img || !img.complete || img.naturalWidth === 0 || frames < n) return null;
    return { n: frames, src: img.src, w: img.naturalWidth };
  }, { timeout: 10000 }, after)).jsonValue();
  const first = await shown(1);
  const later = await shown(first.n + 2);
  check(first.w === 480 && later.w === 480,
    'the scope panel\'s pictures are drawn at the panel width: ' + first.w + ', ' + later.w);
  check(later.src !== first.src, 'the scope panel\'s picture changes between two frames');
  const panel = await page.$eval('figure.panel[data-name="MixScope"] img', (img) => {
    const r = img.getBoundingClientRect();
    return { x: r.left + r.width * 0.6, y: r.top + r.height * 0.5 };
  });
  await page.mouse.move(panel.x, panel.y);
  await page.waitForFunction(() => /ms: /.test(document.querySelector('figure.panel[data-name="MixScope"] .readout')
    .textContent), { timeout: 5000 });
  check(true, 'the pointer over the scope reads the trace');
  await select('LowPass');
  await page.screenshot({ path: screenshot });
  console.log('picture: ' + screenshot);

  // A dragged box keeps its place through a save.
  const box = await page.$eval('g.box[data-name="MixScope"] text.name', (t) => {
    const r = t.getBoundingClientRect();
    return { x: r.left + 10, y: r.top + 5 };
  });
  await page.mouse.move(box.x, box.y);
  await page.mouse.down();
  await page.mouse.move(box.x + 60, box.y + 40, { steps: 5 });
  await page.mouse.up();
  await new Promise((r) => setTimeout(r, 300));
  await page.click('#save');
  await page.waitForFunction(() => document.getElementById('message').textContent.startsWith('saved'));
  check(/Layout="MixScope:\d+,\d+"/.test(readFileSync(graph, 'utf8')), 'the saved document holds the box\'s place');
} finally {
  await browser.close();
}

server.child.kill('SIGINT');
const code = await server.exited;
check(code === 0, 'Ctrl-C ends the server with status 0');
check(/12 files written/.test(server.stderr), 'every sink wrote its files: ' + server.stderr.trim());

// A component's own readings (here the test package's recorder's counts)
// show on its box and in the box's tooltip.
const recGraph = join(work, 'rec.xml');
writeFileSync(recGraph, '<NXGraph Version="1" Packages="flowtestpkg"><TFlowGroup Name="G"><_Components>' +
  '<TFlowRamp Name="Ramp" SampleRate="8000" BufferSize="100"/><TFlowRecorder Name="Rec"/>' +
  '</_Components></TFlowGroup><Links><Link From="Ramp" FromPin="OutputPin" To="Rec" ToPin="In"/></Links></NXGraph>');
const recServer = serve(['--packages', join(dirname(nxflow), '..', 'test-packages'), 'serve', recGraph,
  '--port', '0', '--out', join(work, 'rec-out')]);
const recAddress = await recServer.address;
browser = await puppeteer.launch({ executablePath: chromium, headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'] });
try {
  const page = await browser.newPage();
  await page.goto(recAddress);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 15000 });
  const counts = async () => page.$eval('g.box[data-name="Rec"] text.rate', (t) => t.textContent);
  await page.waitForFunction(() => /^Buffers [1-9]\d*, Samples \d+$/.test(
    document.querySelector('g.box[data-name="Rec"] text.rate')?.textContent || ''), { timeout: 10000 });
  const first = Number((await counts()).match(/Buffers (\d+)/)[1]);
  await page.waitForFunction((n) => Number((document.querySelector('g.box[data-name="Rec"] text.rate').textContent
    .match(/Buffers (\d+)/) || [])[1]) > n, { timeout: 10000 }, first);
  check(true, 'the recorder\'s box counts its buffers live');
  const tip = await page.$eval('g.box[data-name="Rec"] > title', (t) => t.textContent);
  check(/^Rec\nBuffers: \d+\nSamples: \d+$/.test(tip), 'its tooltip has every reading: ' + tip.replace(/\n/g, ' | '));
} finally {
  await browser.close();
}
recServer.child.kill('SIGINT');
check(await recServer.exited === 0, 'the recorder\'s server ends with status 0');
rmSync(work, { recursive: true, force: true });
clearTimeout(guard);
if (failures.length) {
  console.error(failures.length + ' failed');
  process.exit(1);
}
