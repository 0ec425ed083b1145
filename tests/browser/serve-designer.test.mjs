// The designer of `nxflow serve` in Debian's headless chromium: from an
// empty page a sine, a gain and a scope are dragged from the palette and
// linked pin to pin, the last link is undone and redone, a link the pins
// refuse is not made and the page shows why, a box is renamed in place and
// another deleted, and the graph is saved under a new name; `nxflow check`
// accepts the file and `nxflow run` of it writes the scope's picture.
// Leaves a picture of the page, with the refused link's reason, in docs/.
//
//   node serve-designer.test.mjs [NXFLOW] [SCREENSHOT]
import { spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..', '..');
const nxflow = resolve(process.argv[2] || join(root, 'build', 'nxflow', 'nxflow'));
const screenshot = resolve(process.argv[3] || join(root, 'docs', 'serve-designer.png'));
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';

const failures = [];
function check(condition, what) {
  console.log((condition ? 'ok    ' : 'FAIL  ') + what);
  if (!condition) failures.push(what);
}

// The server starts in a folder of its own: a new graph is saved inside it.
const work = mkdtempSync(join(tmpdir(), 'nxflow-serve-designer-'));
const server = spawn(nxflow, ['serve', '--port', '0', '--out', join(work, 'out')],
  { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] });
let browser = null;
const guard = setTimeout(() => {
  console.error('the designer test took more than 120 s');
  server.kill('SIGKILL');
  if (browser) browser.process()?.kill('SIGKILL');
  process.exit(1);
}, 120000);
let stderr = '';
server.stderr.on('data', (chunk) => { stderr += chunk; });
const exited = new Promise((done) => server.on('exit', (code) => done(code)));
const address = await new Promise((done, fail) => {
  let stdout = '';
  server.stdout.on('data', (chunk) => {
    stdout += chunk;
    if (stdout.includes('\n')) done(stdout.split('\n')[0]);
  });
  server.on('exit', () => fail(new Error('nxflow serve ended: ' + stderr)));
});

browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1500, height: 820 });
  await page.goto(address);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 15000 });
  check(await page.$$eval('g.box', (b) => b.length) === 0, 'an empty page to design on');
  const categories = await page.$$eval('#palette h3', (h) => h.map((e) => e.textContent));
  check(['Generators', 'Filters', 'Displays', 'Processing'].every((c) => categories.includes(c)),
    'the palette groups the classes by category: ' + categories.join(', '));
  check(await page.$eval('#palette .entry[data-class="TNXGain"]', (e) => e.textContent.includes('InputPin')
    && e.textContent.includes('Multiplies')), 'an entry shows its pins and description');
  await page.type('#search', 'scope');
  check(await page.$$eval('#palette .entry', (e) => e.map((x) => x.dataset.class).join()) === 'TNXScopeView',
    'the search keeps the matching classes');
  await page.$eval('#search', (e) => { e.value = ''; e.dispatchEvent(new Event('input')); });

  const middle = async (selector) => page.$eval(selector, (e) => {
    e.scrollIntoView({ block: 'center' });
    const r = e.getBoundingClientRect();
    return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
  });
  const drag = async (from, to) => {
    await page.mouse.move(from.x, from.y);
    await page.mouse.down();
    await page.mouse.move(to.x, to.y, { steps: 8 });
    await page.mouse.up();
  };
  // The page redraws the graph after every change: a box found just before
  // a redraw (its handle then detached, or no longer an element) is clicked
  // again once it stands anew.
  const clickBox = async (name, options) => {
    for (let attempt = 0; ; ++attempt) {
      try {
        await page.click(`g.box[data-name="${name}"] text.name`, options);
        return;
      } catch (error) {
        if (attempt === 4 || !/detached|not clickable|No element|not of type 'Element'/.test(error.message)) throw error;
        await page.waitForSelector(`g.box[data-name="${name}"]`);
      }
    }
  };
  const message = async (part) => {
    await page.waitForFunction((p) => document.getElementById('message').textContent.includes(p), { timeout: 5000 }, part);
    return page.$eval('#message', (e) => e.textContent);
  };
  const canvas = await page.$eval('#canvas', (e) => {
    const r = e.getBoundingClientRect();
    return { x: r.left, y: r.top };
  });
  const place = async (cls, x, y, name) => {
    await drag(await middle(`#palette .entry[data-class="${cls}"]`), { x: canvas.x + x, y: canvas.y + y });
    await page.waitForSelector(`g.box[data-name="${name}"]`, { timeout: 5000 }).catch(async (error) => {
      throw new Error(`no box ${name} (${await page.$eval('#message', (e) => e.textContent)}): ${error.message}`);
    });
  };
  await place('TNXSineGenerator', 40, 60, 'NXSineGenerator1');
  await place('TNXGain', 300, 60, 'NXGain1');
  await place('TNXScopeView', 560, 60, 'NXScopeView1');
  await place('TRGProcessingManager', 300, 300, 'RGProcessingManager1');
  check(true, 'four classes dragged onto the page, named as a form designer names them');

  const pin = (component, name) => `circle.pin[data-component="${component}"][data-pin="${name}"]`;
  const wires = async (n) => page.waitForFunction((k) => document.querySelectorAll('path.wire:not(.pending)').length === k,
    { timeout: 5000 }, n).then(() => true, () => false);
  await drag(await middle(pin('NXSineGenerator1', 'OutputPin')), await middle(pin('NXGain1', 'InputPin')));
  check(await wires(1), 'a source pin dragged to a sink pin links them');
  await drag(await middle(pin('NXGain1', 'OutputPin')), await middle(pin('NXScopeView1', 'InputPin')));
  check(await wires(2), 'the gain linked to the scope');
  await page.click('#undo');
  check(await wires(1), 'undo takes the last link back');
  await page.click('#redo');
  check(await wires(2), 'redo makes it again');

  await drag(await middle(pin('RGProcessingManager1', 'ProcessingPin')), await middle(pin('NXScopeView1', 'InputPin')));
  const refused = await message('cannot be linked');
  check(refused === 'The pins "ProcessingPin" and "InputPin" cannot be linked', 'a refused link shows why: ' + refused);
  check(await wires(2), 'and is not made');
  await page.screenshot({ path: screenshot });
  console.log('picture: ' + screenshot);

  await clickBox('RGProcessingManager1');
  await page.click('#delete');
  await page.waitForFunction(() => !document.querySelector('g.box[data-name="RGProcessingManager1"]'), { timeout: 5000 });
  check(true, 'a selected box is deleted');

  await clickBox('NXGain1', { clickCount: 2 });
  await page.waitForSelector('input.rename');
  await page.$eval('input.rename', (e) => { e.value = ''; });
  await page.type('input.rename', 'Gain');
  await page.keyboard.press('Enter');
  await page.waitForSelector('g.box[data-name="Gain"]', { timeout: 5000 });
  check(await wires(2), 'a box renamed in place keeps its links');

  await page.type('#file', 'designed.xml');
  await page.click('#save');
  const saved = await message('saved');
  check(saved.endsWith('designed.xml'), 'saved under the name given: ' + saved);
  const file = join(work, 'designed.xml');
  check(existsSync(file) && /<TNXGain Name="Gain"/.test(readFileSync(file, 'utf8')), 'the document holds the graph');

  // The page starts the graph it designed; a structure change is refused then.
  await page.click('#start');
  await page.waitForFunction(() => document.getElementById('state').textContent === 'running', { timeout: 10000 });
  await clickBox('Gain');
  await page.click('#delete');
  const stopFirst = await message('stop the graph first');
  check(stopFirst.startsWith('stop the graph first'), 'a running graph keeps its structure: ' + stopFirst);
  await page.click('#stop');
  await page.waitForFunction(() => document.getElementById('state').textContent === 'stopped', { timeout: 10000 });
} catch (error) {
  check(false, 'the page went through: ' + error.message);
} finally {
  await browser.close();
}
server.kill('SIGINT');
check(await exited === 0, 'Ctrl-C ends the server with status 0');

const checked = spawnSync(nxflow, ['check', join(work, 'designed.xml')], { encoding: 'utf8' });
check(checked.status === 0, 'nxflow check accepts the saved graph: ' + (checked.stdout + checked.stderr).trim());
const ran = spawnSync(nxflow, ['run', join(work, 'designed.xml'), '--seconds', '1', '--out', join(work, 'run')],
  { encoding: 'utf8' });
const pictures = existsSync(join(work, 'run')) ? readdirSync(join(work, 'run')).filter((f) => f.endsWith('.png')) : [];
check(ran.status === 0 && pictures.length === 1, 'nxflow run of it writes the scope\'s picture: ' + pictures.join());
rmSync(work, { recursive: true, force: true });
clearTimeout(guard);
if (failures.length) {
  console.error(failures.length + ' failed');
  process.exit(1);
}
