// The live page of `nxflow serve`: draws the graph (a box per component, a
// wire per link), lets the boxes be dragged, edits the selected component's
// properties, drives the run and shows the figures the server streams. Every
// display of the graph gets a panel with its live picture, drawn by the
// server; the pointer over a picture goes back to the display as mouse
// events (a read-out under the pointer, the wheel zooms, a drag pans, a
// double click shows the whole range).
//
// The page is the graph's designer too: classes are dragged from the
// palette onto the page, a link is drawn by dragging from a source pin (on
// a box's right) to a sink pin (on the left), a double click on a box's
// name renames it, and Delete removes the selected box or link. The server
// decides every change through the library; the page shows its refusals.
'use strict';

const TOKEN = (() => {
  const script = document.currentScript;
  const from = script ? new URL(script.src).searchParams : new URLSearchParams(location.search);
  return from.get('token') || new URLSearchParams(location.search).get('token') || '';
})();

const SVG = 'http://www.w3.org/2000/svg';
const BOX_WIDTH = 170;
const HEAD = 38;
const PIN_ROW = 16;
const LAYER_GAP = 230;
const ROW_GAP = 28;

const state = { graph: null, boxes: new Map(), selected: null, selectedWire: null, drag: null, palette: [] };

async function api(path, body) {
  const options = { headers: { Authorization: 'Bearer ' + TOKEN } };
  if (body !== undefined) {
    options.method = 'POST';
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  let answer = {};
  try { answer = await response.json(); } catch (e) { answer = {}; }
  if (!response.ok) throw new Error(answer.error || ('HTTP ' + response.status));
  return answer;
}

function say(text, ok) {
  const message = document.getElementById('message');
  message.textContent = text;
  message.className = ok ? 'ok' : '';
}

function element(tag, attributes, parent) {
  const node = document.createElementNS(SVG, tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  if (parent) parent.appendChild(node);
  return node;
}

function boxHeight(component) {
  const sinks = component.pins.filter((p) => p.direction === 'sink').length;
  const sources = component.pins.length - sinks;
  return HEAD + Math.max(1, sinks, sources) * PIN_ROW + 18;
}

// Longest-path layering: a component stands one layer right of the
// furthest component that feeds it, sources at the left, sinks at the right.
function autoLayout(graph) {
  const layer = new Map(graph.components.map((c) => [c.name, 0]));
  for (let pass = 0; pass < graph.components.length; ++pass) {
    let changed = false;
    for (const link of graph.links) {
      if (!layer.has(link.from) || !layer.has(link.to)) continue;
      const wanted = layer.get(link.from) + 1;
      if (layer.get(link.to) < wanted) { layer.set(link.to, wanted); changed = true; }
    }
    if (!changed) break;
  }
  const nextY = new Map();
  const places = new Map();
  for (const component of graph.components) {
    const l = layer.get(component.name);
    const y = nextY.get(l) || 30;
    places.set(component.name, { x: 30 + l * LAYER_GAP, y });
    nextY.set(l, y + boxHeight(component) + ROW_GAP);
  }
  return places;
}

function pinPoint(box, pinName) {
  const pin = box.pins.get(pinName);
  if (!pin) return { x: box.x + BOX_WIDTH / 2, y: box.y + HEAD / 2 };
  return { x: box.x + pin.dx, y: box.y + pin.dy };
}

function drawWires() {
  const layer = document.getElementById('wires');
  layer.replaceChildren();
  for (const link of state.graph.links) {
    const from = state.boxes.get(link.from);
    const to = state.boxes.get(link.to);
    if (!from || !to) continue;
    const a = pinPoint(from, link.fromPin);
    const b = pinPoint(to, link.toPin);
    const bend = Math.max(40, Math.abs(b.x - a.x) / 2);
    const path = element('path', {
      class: 'wire',
      d: `M${a.x},${a.y} C${a.x + bend},${a.y} ${b.x - bend},${b.y} ${b.x},${b.y}`,
    }, layer);
    path.dataset.from = link.from + '.' + link.fromPin;
    path.dataset.to = link.to + '.' + link.toPin;
    if (state.selectedWire && sameLink(state.selectedWire, link)) path.classList.add('selected');
    path.addEventListener('click', (event) => {
      event.stopPropagation();
      selectWire(link);
    });
  }
  fitCanvas();
}

function fitCanvas() {
  const canvas = document.getElementById('canvas');
  let width = Math.max(400, canvas.clientWidth);
  let height = Math.max(300, canvas.clientHeight);
  for (const box of state.boxes.values()) {
    width = Math.max(width, box.x + BOX_WIDTH + 40);
    height = Math.max(height, box.y + box.height + 40);
  }
  const svg = document.getElementById('graph');
  svg.setAttribute('width', width);
  svg.setAttribute('height', height);
}

function placeBox(box) {
  box.node.setAttribute('transform', `translate(${box.x},${box.y})`);
}

function drawGraph(graph) {
  state.graph = graph;
  state.boxes.clear();
  const svg = document.getElementById('graph');
  svg.replaceChildren();
  element('g', { id: 'wires' }, svg);
  const boxesLayer = element('g', { id: 'boxes' }, svg);
  const places = autoLayout(graph);
  for (const component of graph.components) {
    const place = component.x !== undefined ? { x: component.x, y: component.y } : places.get(component.name);
    const height = boxHeight(component);
    const node = element('g', { class: 'box' + (component.sink ? ' sink' : '') }, boxesLayer);
    node.dataset.name = component.name;
    element('rect', { class: 'frame', width: BOX_WIDTH, height }, node);
    element('rect', { class: 'head', x: 1, y: 1, width: BOX_WIDTH - 2, height: HEAD - 4 }, node);
    const name = element('text', { class: 'name', x: 8, y: 15 }, node);
    name.textContent = component.name;
    const cls = element('text', { class: 'class', x: 8, y: 29 }, node);
    cls.textContent = component.class;
    const box = { name: component.name, node, x: place.x, y: place.y, height, pins: new Map() };
    let sinkRow = 0;
    let sourceRow = 0;
    for (const pin of component.pins) {
      const isSink = pin.direction === 'sink';
      const row = isSink ? sinkRow++ : sourceRow++;
      const dy = HEAD + 8 + row * PIN_ROW;
      const dx = isSink ? 0 : BOX_WIDTH;
      const circle = element('circle', { class: 'pin ' + pin.direction, cx: dx, cy: dy, r: 6 }, node);
      circle.dataset.component = component.name;
      circle.dataset.pin = pin.name;
      if (!isSink) circle.addEventListener('pointerdown', (event) => startLink(event, component.name, pin.name));
      const label = element('text', { x: isSink ? 8 : BOX_WIDTH - 8, y: dy + 4, 'text-anchor': isSink ? 'start' : 'end' },
        node);
      label.textContent = pin.name;
      box.pins.set(pin.name, { dx, dy });
    }
    const rate = element('text', { class: 'rate', x: 8, y: height - 6 }, node);
    box.rate = rate;
    placeBox(box);
    state.boxes.set(component.name, box);
    node.addEventListener('pointerdown', (event) => startDrag(event, box));
    node.addEventListener('dblclick', (event) => { event.preventDefault(); startRename(box); });
    if (state.selected === component.name) node.classList.add('selected');
  }
  if (state.selected && !state.boxes.has(state.selected)) state.selected = null;
  if (state.selectedWire && !graph.links.some((l) => sameLink(l, state.selectedWire))) state.selectedWire = null;
  drawWires();
}

function sameLink(a, b) {
  return a.from === b.from && a.fromPin === b.fromPin && a.to === b.to && a.toPin === b.toPin;
}

// ---- the designer

// Redraws the graph as the server now has it.
async function refresh() {
  const graph = await api('/api/graph');
  drawGraph(graph);
  makePanels(graph);
  const fileInput = document.getElementById('file');
  fileInput.hidden = !graph.new;
  document.getElementById('file-label').hidden = !graph.new;
  document.getElementById('undo').disabled = graph.undo === 0;
  document.getElementById('redo').disabled = graph.redo === 0;
  const title = graph.new ? 'new graph' : graph.file;
  document.getElementById('title').textContent = 'nxflow \u2014 ' + title;
  document.title = title + ' \u2014 nxflow serve';
  return graph;
}

// A structure change: sent, then the graph redrawn; a refusal is shown.
async function change(path, body, done) {
  try {
    const answer = await api(path, body);
    await refresh();
    say(done ? done(answer) : 'done', true);
    return answer;
  } catch (error) {
    say(error.message);
    return null;
  }
}

function selectWire(link) {
  state.selectedWire = link;
  state.selected = null;
  for (const box of state.boxes.values()) box.node.classList.remove('selected');
  drawWires();
  say(`link ${link.from}.${link.fromPin} \u2192 ${link.to}.${link.toPin} selected (Delete unlinks it)`, true);
}

async function deleteSelected() {
  if (state.selectedWire) {
    const link = state.selectedWire;
    state.selectedWire = null;
    await change('/api/unlink', link, () => `unlinked ${link.from}.${link.fromPin} \u2192 ${link.to}.${link.toPin}`);
  } else if (state.selected) {
    const name = state.selected;
    await change('/api/delete', { component: name }, () => `deleted ${name} with its links`);
  } else {
    say('select a box or a link first');
  }
}

// Dragging from a source pin draws a provisional wire; let go over a sink
// pin, the link is asked for.
function startLink(event, component, pinName) {
  event.preventDefault();
  event.stopPropagation();
  const box = state.boxes.get(component);
  const svg = document.getElementById('graph');
  const from = pinPoint(box, pinName);
  const line = element('path', { class: 'wire pending', d: '' }, document.getElementById('wires'));
  const move = (e) => {
    const r = svg.getBoundingClientRect();
    const x = e.clientX - r.left;
    const y = e.clientY - r.top;
    line.setAttribute('d', `M${from.x},${from.y} L${x},${y}`);
  };
  const up = async (e) => {
    window.removeEventListener('pointermove', move);
    window.removeEventListener('pointerup', up);
    line.remove();
    const target = document.elementFromPoint(e.clientX, e.clientY);
    if (!target || !target.classList || !target.classList.contains('pin')) return;
    const link = { from: component, fromPin: pinName, to: target.dataset.component, toPin: target.dataset.pin };
    await change('/api/link', link, () => `linked ${link.from}.${link.fromPin} \u2192 ${link.to}.${link.toPin}`);
  };
  window.addEventListener('pointermove', move);
  window.addEventListener('pointerup', up);
}

// The name of a box, edited where it stands.
function startRename(box) {
  const canvas = document.getElementById('canvas');
  const svg = document.getElementById('graph');
  const input = document.createElement('input');
  input.className = 'rename';
  input.value = box.name;
  const r = svg.getBoundingClientRect();
  const c = canvas.getBoundingClientRect();
  input.style.left = (r.left - c.left + canvas.scrollLeft + box.x + 4) + 'px';
  input.style.top = (r.top - c.top + canvas.scrollTop + box.y + 2) + 'px';
  canvas.appendChild(input);
  input.focus();
  input.select();
  let finished = false;
  const finish = async (apply) => {
    if (finished) return;
    finished = true;
    input.remove();
    const name = input.value.trim();
    if (!apply || name === box.name) return;
    const answer = await change('/api/rename', { component: box.name, name }, (a) => `renamed ${box.name} to ${a.name}`);
    if (answer && state.selected === box.name) select(answer.name);
  };
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') finish(true);
    if (event.key === 'Escape') finish(false);
  });
  input.addEventListener('blur', () => finish(true));
}

// The palette: every class the server can make, by category, with a search.
async function loadPalette() {
  state.palette = (await api('/api/palette')).classes;
  showPalette();
}

function showPalette() {
  const words = document.getElementById('search').value.trim().toLowerCase();
  const area = document.getElementById('classes');
  area.replaceChildren();
  const byCategory = new Map();
  for (const entry of state.palette) {
    const text = (entry.class + ' ' + entry.category + ' ' + entry.description).toLowerCase();
    if (words && !words.split(/\s+/).every((w) => text.includes(w))) continue;
    if (!byCategory.has(entry.category)) byCategory.set(entry.category, []);
    byCategory.get(entry.category).push(entry);
  }
  const names = [...byCategory.keys()].sort((a, b) => (a === 'Other') - (b === 'Other') || a.localeCompare(b));
  for (const category of names) {
    const heading = document.createElement('h3');
    heading.textContent = category;
    area.appendChild(heading);
    for (const entry of byCategory.get(category)) {
      const item = document.createElement('div');
      item.className = 'entry';
      item.dataset.class = entry.class;
      const cls = document.createElement('div');
      cls.className = 'cls';
      cls.textContent = entry.class;
      const pins = document.createElement('div');
      pins.className = 'pins';
      const sinks = entry.pins.filter((p) => p.direction === 'sink').map((p) => p.name);
      const sources = entry.pins.filter((p) => p.direction === 'source').map((p) => p.name);
      pins.textContent = (sinks.join(', ') || '\u2014') + ' \u2192 ' + (sources.join(', ') || '\u2014');
      item.append(cls);
      if (entry.description) {
        const desc = document.createElement('div');
        desc.className = 'desc';
        desc.textContent = entry.description;
        item.append(desc);
      }
      item.append(pins);
      item.title = entry.description || entry.class;
      item.addEventListener('pointerdown', (event) => startPlace(event, entry.class));
      area.appendChild(item);
    }
  }
}

// A class dragged from the palette and let go over the page becomes a
// component where it was let go.
function startPlace(event, className) {
  event.preventDefault();
  const ghost = document.createElement('div');
  ghost.className = 'ghost';
  ghost.textContent = className;
  document.body.appendChild(ghost);
  const move = (e) => {
    ghost.style.left = (e.clientX + 8) + 'px';
    ghost.style.top = (e.clientY + 8) + 'px';
  };
  move(event);
  const up = async (e) => {
    window.removeEventListener('pointermove', move);
    window.removeEventListener('pointerup', up);
    ghost.remove();
    const canvas = document.getElementById('canvas').getBoundingClientRect();
    if (e.clientX < canvas.left || e.clientX > canvas.right || e.clientY < canvas.top || e.clientY > canvas.bottom) return;
    const r = document.getElementById('graph').getBoundingClientRect();
    const x = Math.max(0, Math.round(e.clientX - r.left - 20));
    const y = Math.max(0, Math.round(e.clientY - r.top - 10));
    await change('/api/add', { class: className, x, y }, (a) => `added ${a.name}`);
  };
  window.addEventListener('pointermove', move);
  window.addEventListener('pointerup', up);
}

function startDrag(event, box) {
  event.preventDefault();
  box.node.setPointerCapture(event.pointerId);
  state.drag = { box, startX: event.clientX, startY: event.clientY, x: box.x, y: box.y, moved: false };
  const move = (e) => {
    const drag = state.drag;
    const dx = e.clientX - drag.startX;
    const dy = e.clientY - drag.startY;
    if (Math.abs(dx) + Math.abs(dy) > 3) drag.moved = true;
    box.x = Math.max(0, drag.x + dx);
    box.y = Math.max(0, drag.y + dy);
    placeBox(box);
    drawWires();
  };
  const up = () => {
    box.node.removeEventListener('pointermove', move);
    box.node.removeEventListener('pointerup', up);
    const drag = state.drag;
    state.drag = null;
    if (drag.moved) {
      api('/api/layout', { component: box.name, x: Math.round(box.x), y: Math.round(box.y) })
        .catch((error) => say(error.message));
    } else {
      select(box.name);
    }
  };
  box.node.addEventListener('pointermove', move);
  box.node.addEventListener('pointerup', up);
}

async function select(name) {
  for (const box of state.boxes.values()) box.node.classList.toggle('selected', box.name === name);
  state.selected = name;
  if (state.selectedWire) {
    state.selectedWire = null;
    drawWires();
  }
  const inspector = document.getElementById('inspector');
  try {
    showProperties(await api('/api/component/' + encodeURIComponent(name)));
  } catch (error) {
    inspector.textContent = error.message;
  }
}

function editorFor(property) {
  let input;
  if (property.kind === 'bool') {
    input = document.createElement('input');
    input.type = 'checkbox';
    input.checked = property.value.toLowerCase() === 'true';
    input.read = () => (input.checked ? 'True' : 'False');
  } else if (property.kind === 'enum') {
    input = document.createElement('select');
    for (const value of property.values) input.add(new Option(value, value, false, value === property.value));
    input.read = () => input.value;
  } else if (property.kind === 'set') {
    input = document.createElement('select');
    input.multiple = true;
    const chosen = property.value.replace(/^\[|\]$/g, '').split(',').map((v) => v.trim());
    for (const value of property.values) input.add(new Option(value, value, false, chosen.includes(value)));
    input.read = () => '[' + Array.from(input.selectedOptions, (o) => o.value).join(',') + ']';
  } else {
    input = document.createElement('input');
    if (property.kind === 'integer' || property.kind === 'number') {
      input.type = 'number';
      input.step = property.kind === 'integer' ? '1' : 'any';
      if (property.min !== undefined) input.min = property.min;
      if (property.max !== undefined) input.max = property.max;
    } else {
      input.type = 'text';
    }
    input.value = property.value;
    input.read = () => input.value;
  }
  input.disabled = property.readOnly;
  input.name = property.name;
  return input;
}

function showProperties(component) {
  const inspector = document.getElementById('inspector');
  inspector.replaceChildren();
  const title = document.createElement('h2');
  title.textContent = component.name;
  const cls = document.createElement('div');
  cls.className = 'class';
  cls.textContent = component.class;
  inspector.append(title, cls);
  for (const property of component.properties) {
    const label = document.createElement('label');
    label.textContent = property.name + ' ';
    const range = document.createElement('span');
    range.className = 'range';
    const limits = [];
    if (property.min !== undefined) limits.push('min ' + property.min);
    if (property.max !== undefined) limits.push('max ' + property.max);
    range.textContent = limits.length ? '(' + limits.join(', ') + ')' : '';
    label.appendChild(range);
    const input = editorFor(property);
    const error = document.createElement('div');
    error.className = 'error';
    input.addEventListener('change', async () => {
      error.textContent = '';
      try {
        const answer = await api('/api/set',
          { component: component.name, property: property.name, value: input.read() });
        if (input.type !== 'checkbox' && input.tagName === 'INPUT') input.value = answer.value;
        say(`${component.name}.${property.name} = ${answer.value}`, true);
      } catch (e) {
        error.textContent = e.message;
        say(e.message);
      }
    });
    inspector.append(label, input, error);
  }
}

function formatRate(value) {
  if (value >= 1e6) return (value / 1e6).toFixed(2) + ' M';
  if (value >= 1e3) return (value / 1e3).toFixed(1) + ' k';
  return value.toFixed(0) + ' ';
}

function formatSeconds(value) {
  if (value === null || value === undefined) return '-';
  if (value < 1e-3) return (value * 1e6).toFixed(1) + ' \u00b5s';
  if (value < 1) return (value * 1e3).toFixed(2) + ' ms';
  return value.toFixed(2) + ' s';
}

// Each wire's figures in its tooltip (a wire that carries buffers is drawn
// as flowing); a worker's queue on its filter's box; a component's own
// readings (a sound device's underruns ...) on its box (the first three; the
// component counts them because they matter more than its rate), all of them
// with its rate in the box's tooltip, and in the inspector's read-only fields
// of the same name. texts collects each box's line.
function showFlow(flow, texts) {
  if (!flow) return;
  const links = new Map(flow.links.map((l) => [l.from + ' ' + l.to, l]));
  for (const wire of document.querySelectorAll('#wires path')) {
    const link = links.get(wire.dataset.from + ' ' + wire.dataset.to);
    const title = wire.querySelector('title') || element('title', {}, wire);
    title.textContent = `${wire.dataset.from} \u2192 ${wire.dataset.to}\n` + (link
      ? `${link.buffersPerSecond.toFixed(0)} buf/s, ${formatRate(link.samplesPerSecond)}samples/s\n` +
        `latency from the tick: median ${formatSeconds(link.latencyP50)}, 99% ${formatSeconds(link.latencyP99)}`
      : 'no buffers yet');
    wire.classList.toggle('flowing', Boolean(link) && link.buffersPerSecond > 0);
  }
  for (const queue of flow.queues) texts.set(queue.component, `queue ${queue.fill}/${queue.size}, ${queue.dropped} dropped`);
  const readings = new Map();
  for (const r of flow.readings || []) {
    if (!readings.has(r.component)) readings.set(r.component, []);
    readings.get(r.component).push(r);
  }
  for (const [name, list] of readings) {
    const box = state.boxes.get(name);
    if (!box) continue;
    const title = box.node.querySelector(':scope > title') || element('title', {}, box.node);
    title.textContent = [name, texts.get(name), ...list.map((r) => `${r.name}: ${r.value}`)].filter(Boolean).join('\n');
    texts.set(name, list.slice(0, 3).map((r) => `${r.name} ${r.value}`).join(', '));
    if (state.selected === name) {
      for (const r of list) {
        const field = document.querySelector(`#inspector [name="${CSS.escape(r.name)}"]`);
        if (field && field.disabled) field.value = String(r.value);
      }
    }
  }
}

function showFigures(figures) {
  const badge = document.getElementById('state');
  badge.textContent = figures.state + (figures.fault ? ': ' + figures.fault : '');
  if (figures.ended && figures.ended !== state.ended) say('the stream ended: ' + figures.ended, true);
  state.ended = figures.ended;
  badge.className = figures.state;
  document.getElementById('clock').textContent = (figures.streamSeconds || 0).toFixed(1) + ' s';
  const texts = new Map();
  for (const [name, sink] of Object.entries(figures.components || {}))
    texts.set(name, `${sink.buffersPerSecond.toFixed(0)} buf/s, ${formatRate(sink.samplesPerSecond)}samples/s`);
  showFlow(figures.flow, texts);
  for (const [name, text] of texts) {
    const box = state.boxes.get(name);
    if (!box) continue;
    box.rate.textContent = text;
    // A line longer than the box is squeezed to fit it.
    box.rate.removeAttribute('textLength');
    if (box.rate.getComputedTextLength() > BOX_WIDTH - 16) box.rate.setAttribute('textLength', BOX_WIDTH - 16);
  }
  const running = figures.state === 'running';
  const paused = figures.state === 'paused';
  document.getElementById('start').disabled = running || paused;
  document.getElementById('pause').disabled = !running;
  document.getElementById('resume').disabled = !paused;
  document.getElementById('stop').disabled = !running && !paused;
  // The structure changes only while nothing runs: the server says so too.
  document.getElementById('structure-hint').textContent = running || paused
    ? 'The graph runs: stop it to add, link, rename or delete components. Property changes stay live.' : '';
}

const panels = new Map();

// A panel per display of the graph, in the graph's order.
function makePanels(graph) {
  const area = document.getElementById('panels');
  for (const [name] of panels) {
    if (graph.components.some((c) => c.name === name && c.display)) continue;
    area.querySelector(`figure[data-name="${CSS.escape(name)}"]`)?.remove();
    panels.delete(name);
  }
  for (const component of graph.components) {
    if (!component.display || panels.has(component.name)) continue;
    const figure = document.createElement('figure');
    figure.className = 'panel';
    figure.dataset.name = component.name;
    const img = document.createElement('img');
    img.alt = component.name;
    img.draggable = false;
    const caption = document.createElement('figcaption');
    const name = document.createElement('span');
    name.textContent = component.name;
    const readout = document.createElement('span');
    readout.className = 'readout';
    caption.append(name, readout);
    figure.append(img, caption);
    area.appendChild(figure);
    const panel = { img, readout, frames: 0, busy: false, pending: null, wanted: 0, shown: 0, shownAt: 0 };
    panels.set(component.name, panel);
    img.addEventListener('load', showNext);
    img.addEventListener('error', showNext);
    wirePointer(component.name, panel);
  }
}

// Pointer events in the picture's own pixels. Moves are sent one at a
// time, the newest kept while one is on its way, so a fast mouse never
// queues requests.
function wirePointer(name, panel) {
  const img = panel.img;
  const at = (event) => {
    const r = img.getBoundingClientRect();
    const sx = img.naturalWidth && r.width ? img.naturalWidth / r.width : 1;
    const sy = img.naturalHeight && r.height ? img.naturalHeight / r.height : 1;
    return { x: Math.max(0, Math.round((event.clientX - r.left) * sx)),
             y: Math.max(0, Math.round((event.clientY - r.top) * sy)) };
  };
  const send = async (body) => {
    if (panel.busy) { if (body.event === 'move') { panel.pending = body; return; } }
    panel.busy = true;
    try {
      const answer = await api('/api/mouse', Object.assign({ component: name }, body));
      panel.readout.textContent = answer.readout || '';
    } catch (error) {
      say(error.message);
    }
    panel.busy = false;
    if (panel.pending) { const next = panel.pending; panel.pending = null; send(next); }
  };
  const keys = (event) => ({ shift: event.shiftKey, ctrl: event.ctrlKey, alt: event.altKey });
  const buttonOf = (event) => ['left', 'middle', 'right'][event.button] || 'left';
  img.addEventListener('mouseenter', () => send({ event: 'enter' }));
  img.addEventListener('mouseleave', () => { panel.readout.textContent = ''; send({ event: 'leave' }); });
  img.addEventListener('mousemove', (event) =>
    send(Object.assign({ event: 'move', held: (event.buttons & 1) === 1 }, at(event), keys(event))));
  img.addEventListener('mousedown', (event) => {
    event.preventDefault();
    send(Object.assign({ event: 'down', button: buttonOf(event), double: event.detail >= 2 }, at(event), keys(event)));
  });
  img.addEventListener('mouseup', (event) =>
    send(Object.assign({ event: 'up', button: buttonOf(event) }, at(event), keys(event))));
  img.addEventListener('contextmenu', (event) => event.preventDefault());
  img.addEventListener('wheel', (event) => {
    event.preventDefault();
    send(Object.assign({ event: event.deltaY < 0 ? 'wheelup' : 'wheeldown' }, at(event), keys(event)));
  }, { passive: false });
}

// Pictures are fetched one at a time for the whole page, each once the one
// before it has been shown: news of a newer picture replaces news not yet
// acted on, so a slow browser shows fewer pictures instead of falling
// behind, and the page holds one connection for pictures.
let fetching = null;
function showFrame(frame) {
  const panel = panels.get(frame.name);
  if (!panel) return;
  if (frame.error) { panel.readout.textContent = frame.error; return; }
  panel.wanted = frame.serial;
  if (!fetching) showNext();
}

function showNext() {
  fetching = null;
  for (const [name, panel] of panels) {
    if (!panel.wanted || panel.wanted === panel.shown) continue;
    // The least recently shown first: no panel waits behind a busy one.
    if (!fetching || panel.shownAt < panels.get(fetching).shownAt) fetching = name;
  }
  if (!fetching) return;
  const panel = panels.get(fetching);
  panel.shown = panel.wanted;
  panel.shownAt = performance.now();
  panel.img.src = '/api/picture/' + encodeURIComponent(fetching) + '?serial=' + panel.wanted +
    '&token=' + encodeURIComponent(TOKEN);
  panel.frames += 1;
  panel.img.dataset.frames = String(panel.frames);
}

function listen() {
  const events = new EventSource('/api/events?token=' + encodeURIComponent(TOKEN));
  events.onmessage = (event) => showFigures(JSON.parse(event.data));
  events.addEventListener('frame', (event) => showFrame(JSON.parse(event.data)));
}

async function control(action) {
  try {
    const answer = await api('/api/control', { action });
    say('graph ' + answer.state, true);
    if (action === 'stop' || action === 'start') await refresh();
  } catch (error) {
    say(error.message);
  }
}

async function main() {
  for (const action of ['start', 'pause', 'resume', 'stop'])
    document.getElementById(action).addEventListener('click', () => control(action));
  // Two seconds of what every thread does, saved as a file for a trace viewer.
  document.getElementById('timeline').addEventListener('click', async (event) => {
    const button = event.currentTarget;
    button.disabled = true;
    say('recording two seconds of the threads...', true);
    try {
      const response = await fetch('/api/trace?seconds=2', { headers: { Authorization: 'Bearer ' + TOKEN } });
      if (!response.ok) throw new Error((await response.json().catch(() => ({}))).error || 'HTTP ' + response.status);
      const link = document.createElement('a');
      link.href = URL.createObjectURL(await response.blob());
      link.download = 'nxflow-timeline.json';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      say('timeline saved as nxflow-timeline.json', true);
    } catch (e) {
      say(e.message);
    } finally {
      button.disabled = false;
    }
  });
  document.getElementById('save').addEventListener('click', async () => {
    try {
      const fileInput = document.getElementById('file');
      const body = state.graph && state.graph.new ? { file: fileInput.value.trim() } : {};
      if (state.graph && state.graph.new && !body.file) {
        fileInput.focus();
        say('a new graph needs a file name (inside the folder the server was started in)');
        return;
      }
      say('saved ' + (await api('/api/save', body)).saved, true);
      await refresh();
    } catch (error) {
      say(error.message);
    }
  });
  document.getElementById('undo').addEventListener('click', () => change('/api/undo', {}, () => 'undone'));
  document.getElementById('redo').addEventListener('click', () => change('/api/redo', {}, () => 'redone'));
  document.getElementById('delete').addEventListener('click', deleteSelected);
  document.getElementById('search').addEventListener('input', showPalette);
  document.addEventListener('keydown', (event) => {
    if (event.target.tagName === 'INPUT' || event.target.tagName === 'SELECT') return;
    if (event.key === 'Delete' || event.key === 'Backspace') deleteSelected();
    if ((event.ctrlKey || event.metaKey) && event.key === 'z') change('/api/undo', {}, () => 'undone');
    if ((event.ctrlKey || event.metaKey) && event.key === 'y') change('/api/redo', {}, () => 'redone');
  });
  try {
    await refresh();
    await loadPalette();
    document.body.dataset.ready = 'true';
  } catch (error) {
    say(error.message);
  }
  listen();
}

main();
