// The farm page: polls the state document (only what changed comes back), draws one tile per
// VM, and acts through POST /api/run with the session's CSRF token. Every text from the farm
// is set as text, never as HTML.
'use strict';

const TEXTS = {
  en: {
    all: 'All', running: 'Running', stopped: 'Stopped', unhealthy: 'Unhealthy',
    healthy: 'healthy', checking: 'checking', search: 'Search title or index', start: 'Start', stop: 'Stop',
    restart: 'Restart', screenshot: 'Screenshot', type: 'Type', type_here: 'Text to type',
    select_shown: 'Select shown', select_none: 'Clear', selected: '{n} selected',
    counts: '{vms} VMs, {running} running, {unhealthy} unhealthy',
    no_screen: 'no screen yet', confirm: '{act} {n} VM(s)?', ok: 'ok', reason: 'reason',
    cpu: 'CPU', memory: 'memory', exit_code: 'exit code {code}', failed: 'failed',
    state_running: 'running', state_stopped: 'stopped', loading: 'reading the farm…',
    lost: 'the server does not answer: {why}', session: 'the session has ended: open the address with the token again',
  },
  zh: {
    all: '全部', running: '运行中', stopped: '已停止', unhealthy: '异常',
    healthy: '正常', checking: '检查中', search: '搜索标题或编号', start: '启动', stop: '停止',
    restart: '重启', screenshot: '截图', type: '输入', type_here: '要输入的文字',
    select_shown: '选择显示的', select_none: '清除选择', selected: '已选 {n} 台',
    counts: '共 {vms} 台，运行 {running} 台，异常 {unhealthy} 台',
    no_screen: '暂无画面', confirm: '确定{act} {n} 台模拟器？', ok: '成功', reason: '原因',
    cpu: 'CPU', memory: '内存', exit_code: '退出码 {code}', failed: '失败',
    state_running: '运行中', state_stopped: '已停止', loading: '正在读取…',
    lost: '服务器无应答：{why}', session: '会话已结束：请重新打开带令牌的地址',
  },
};
const LANG = (navigator.languages && navigator.languages[0] || navigator.language || 'en')
  .toLowerCase().startsWith('zh') ? 'zh' : 'en';

function t(key, values) {
  let text = TEXTS[LANG][key] || TEXTS.en[key] || key;
  for (const [name, value] of Object.entries(values || {})) text = text.split('{' + name + '}').join(String(value));
  return text;
}

const $ = (id) => document.getElementById(id);
const CSRF = document.querySelector('meta[name="csrf"]').getAttribute('content');
const POLL_MS = 2000;
// While the service has not yet given the tiles their verdicts (a fresh visit's listing is
// shown, its health round still running), the page asks more often, to draw them at once.
const CHECKING_POLL_MS = 500;

const page = {
  version: null,
  state: null,
  tiles: new Map(),     // index -> {root, img, dot, name, idx, box, vm}
  selected: new Set(),
  filter: 'all',
  search: '',
  focus: null,
  readOnly: true,
  checking: true,
};

function stateOf(vm) {
  if (!vm.started) return 'stopped';
  if (vm.healthy == null) return 'checking';
  return vm.healthy ? 'healthy' : 'unhealthy';
}

function verdictText(vm) {
  const state = stateOf(vm);
  return state === 'checking' ? t('checking') : state === 'healthy' ? t('healthy') : t('unhealthy');
}

function megabytes(bytes) {
  return bytes == null ? '-' : (bytes / 1048576).toFixed(0) + ' MB';
}

function facts(vm) {
  const lines = ['#' + vm.index + '  ' + (vm.started ? t('state_running') : t('state_stopped')) +
    (vm.started ? ', ' + verdictText(vm) : '')];
  if (vm.reason) lines.push(t('reason') + ': ' + vm.reason);
  if (vm.started) {
    lines.push(t('cpu') + ': ' + (vm.cpu_ratio == null ? '-' : (vm.cpu_ratio * 100).toFixed(1) + '%') +
      '  ' + t('memory') + ': ' + megabytes(vm.private_bytes));
  }
  return lines.join('\n');
}

function imageUrl(vm, full) {
  const version = full ? vm.full : vm.thumb;
  return '/api/page/image?vm=' + vm.index + (full ? '&full=1' : '') + '&v=' + version;
}

function makeTile(index) {
  const root = document.createElement('div');
  root.className = 'tile';
  root.dataset.index = String(index);
  const shot = document.createElement('div');
  shot.className = 'shot';
  const none = document.createElement('span');
  none.className = 'none';
  none.textContent = t('no_screen');
  shot.appendChild(none);
  const img = document.createElement('img');
  img.alt = '';
  img.hidden = true;
  shot.appendChild(img);
  const cap = document.createElement('div');
  cap.className = 'cap';
  const box = document.createElement('input');
  box.type = 'checkbox';
  const dot = document.createElement('span');
  dot.className = 'dot';
  const idx = document.createElement('span');
  idx.className = 'idx';
  idx.textContent = String(index);
  const name = document.createElement('span');
  name.className = 'name';
  cap.append(box, dot, idx, name);
  root.append(shot, cap);
  shot.addEventListener('click', () => openView(index));
  box.addEventListener('change', () => {
    if (box.checked) page.selected.add(index); else page.selected.delete(index);
    root.classList.toggle('selected', box.checked);
    drawSelection();
  });
  const tile = { root, img, none, dot, name, box, vm: null };
  page.tiles.set(index, tile);
  return tile;
}

function drawTile(tile, vm) {
  const previous = tile.vm;
  tile.vm = vm;
  const state = stateOf(vm);
  tile.name.textContent = vm.title;
  tile.dot.className = 'dot ' + state;
  tile.root.classList.toggle('unhealthy', state === 'unhealthy');
  tile.root.dataset.state = state;
  tile.root.title = facts(vm);
  if (vm.thumb != null && (!previous || previous.thumb !== vm.thumb || tile.img.hidden)) {
    tile.img.src = imageUrl(vm, false);
    tile.img.hidden = false;
    tile.none.hidden = true;
  } else if (vm.thumb == null) {
    tile.none.textContent = vm.started ? t('no_screen') : t('state_stopped');
    tile.img.hidden = true;
    tile.img.removeAttribute('src');
    tile.none.hidden = false;
  }
}

function shown(vm) {
  const state = stateOf(vm);
  if (page.filter === 'running' && !vm.started) return false;
  if (page.filter === 'stopped' && vm.started) return false;
  if (page.filter === 'unhealthy' && state !== 'unhealthy') return false;
  const search = page.search.trim().toLowerCase();
  if (search && String(vm.index) !== search && !String(vm.title).toLowerCase().includes(search)) return false;
  return true;
}

function drawFilter() {
  for (const tile of page.tiles.values()) tile.root.hidden = !tile.vm || !shown(tile.vm);
}

function drawSelection() {
  $('selected').textContent = page.selected.size ? t('selected', { n: page.selected.size }) : '';
  for (const button of $('selection').querySelectorAll('button[data-act]')) button.disabled = page.selected.size === 0;
}

function draw(state) {
  page.state = state;
  page.readOnly = !!state.read_only;
  document.body.classList.toggle('read-only', page.readOnly);
  $('selection').hidden = page.readOnly;
  $('view-actions').hidden = page.readOnly;
  for (const box of document.querySelectorAll('.tile .cap input')) box.hidden = page.readOnly;
  const problem = $('problem');
  problem.hidden = !state.problem;
  problem.textContent = state.problem || '';
  const grid = $('grid');
  const seen = new Set();
  let running = 0;
  let unhealthy = 0;
  for (const vm of state.vms) {
    seen.add(vm.index);
    if (vm.started) running++;
    if (stateOf(vm) === 'unhealthy') unhealthy++;
    let tile = page.tiles.get(vm.index);
    if (!tile) {
      tile = makeTile(vm.index);
      tile.box.hidden = page.readOnly;
      grid.appendChild(tile.root);
    }
    drawTile(tile, vm);
  }
  for (const [index, tile] of page.tiles) {
    if (seen.has(index)) continue;
    tile.root.remove();
    page.tiles.delete(index);
    page.selected.delete(index);
  }
  $('counts').textContent = t('counts', { vms: state.vms.length, running, unhealthy });
  drawFilter();
  drawSelection();
  if (page.focus != null) drawView();
}

async function poll() {
  let next = POLL_MS;
  try {
    let url = '/api/page/state';
    const query = [];
    if (page.version != null) query.push('since=' + page.version);
    if (page.focus != null) query.push('focus=' + page.focus);
    if (query.length) url += '?' + query.join('&');
    const response = await fetch(url, { credentials: 'same-origin', cache: 'no-store' });
    if (response.status === 401) {
      say(t('session'), true);
      return;
    }
    if (response.status === 200) {
      const state = await response.json();
      if (page.version == null) say('');
      page.version = state.version;
      page.checking = !!state.checking;
      draw(state);
    } else if (response.status !== 204) {
      say(t('lost', { why: response.status }), true);
    }
    if (page.checking) next = CHECKING_POLL_MS;
    if (page.focus != null) next = Math.min(next, 1000);
  } catch (error) {
    say(t('lost', { why: error.message }), true);
  }
  setTimeout(poll, next);
}

function say(text, bad) {
  const status = $('status');
  status.textContent = text;
  status.classList.toggle('bad', !!bad);
}

// The console's verdict of one /api/run answer: "ok", or why not.
function verdict(document, status) {
  if (document && document.error && document.error.message) return document.error.message;
  if (document && document.ok) return t('ok');
  const failures = [];
  for (const result of (document && document.results) || []) {
    if (!result.ok) failures.push('#' + result.index + ': ' + (result.message || result.error || t('failed')));
  }
  if (failures.length) return failures.join('; ');
  const code = document && document.exit_code != null ? document.exit_code : status;
  return t('exit_code', { code });
}

async function run(argv) {
  const response = await fetch('/api/run', {
    method: 'POST',
    credentials: 'same-origin',
    headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': CSRF },
    body: JSON.stringify({ argv }),
  });
  let document = null;
  try { document = await response.json(); } catch (error) { document = null; }
  return { ok: response.ok && document && document.ok !== false, text: verdict(document, response.status) };
}

const ACTIONS = {
  start: (set) => ['start', set, '--boot'],
  stop: (set) => ['stop', set],
  restart: (set) => ['reboot', set],
};

async function act(name, indexes) {
  if (page.readOnly || !indexes.length) return;
  if ((name === 'stop' || name === 'restart') && !window.confirm(t('confirm', { act: t(name), n: indexes.length }))) return;
  const set = indexes.slice().sort((a, b) => a - b).join(',');
  say(t(name) + ' ' + set + '…');
  try {
    const result = await run(ACTIONS[name](set));
    say(t(name) + ' ' + set + ': ' + result.text, !result.ok);
  } catch (error) {
    say(t(name) + ' ' + set + ': ' + error.message, true);
  }
}

function openView(index) {
  page.focus = index;
  $('view').hidden = false;
  $('view-img').removeAttribute('src');
  drawView();
}

function closeView() {
  page.focus = null;
  $('view').hidden = true;
}

function drawView() {
  const tile = page.tiles.get(page.focus);
  if (!tile || !tile.vm) return;
  const vm = tile.vm;
  $('view-title').textContent = '#' + vm.index + ' ' + vm.title;
  $('view-facts').textContent = facts(vm);
  const img = $('view-img');
  const url = vm.full != null ? imageUrl(vm, true) : vm.thumb != null ? imageUrl(vm, false) : null;
  if (url && img.getAttribute('src') !== url) img.src = url;
  const shot = $('view-shot');
  shot.hidden = vm.full == null;
  shot.href = '/api/page/image?vm=' + vm.index + '&full=1&format=png&download=1';
  shot.setAttribute('download', 'vm-' + vm.index + '.png');
}

async function tap(event) {
  const tile = page.tiles.get(page.focus);
  if (page.readOnly || !tile || !tile.vm || !tile.vm.screen) return;
  const [width, height] = tile.vm.screen;
  const box = event.currentTarget.getBoundingClientRect();
  const x = Math.round((event.clientX - box.left) * width / box.width);
  const y = Math.round((event.clientY - box.top) * height / box.height);
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  const index = tile.vm.index;
  const result = await run(['tap', String(index), String(x), String(y)]);
  say('tap #' + index + ' ' + x + ',' + y + ': ' + result.text, !result.ok);
}

function translate() {
  document.documentElement.lang = LANG === 'zh' ? 'zh-CN' : 'en';
  for (const element of document.querySelectorAll('[data-i18n]')) element.textContent = t(element.dataset.i18n);
  for (const element of document.querySelectorAll('[data-i18n-placeholder]')) element.placeholder = t(element.dataset.i18nPlaceholder);
}

function start() {
  translate();
  say(t('loading'));
  for (const button of $('filters').querySelectorAll('button')) {
    button.addEventListener('click', () => {
      page.filter = button.dataset.filter;
      for (const other of $('filters').querySelectorAll('button')) other.classList.toggle('on', other === button);
      drawFilter();
    });
  }
  $('search').addEventListener('input', (event) => {
    page.search = event.target.value;
    drawFilter();
  });
  for (const button of $('selection').querySelectorAll('button[data-act]')) {
    button.addEventListener('click', () => act(button.dataset.act, [...page.selected]));
  }
  $('select-shown').addEventListener('click', () => {
    for (const [index, tile] of page.tiles) {
      if (tile.root.hidden) continue;
      page.selected.add(index);
      tile.box.checked = true;
      tile.root.classList.add('selected');
    }
    drawSelection();
  });
  $('select-none').addEventListener('click', () => {
    page.selected.clear();
    for (const tile of page.tiles.values()) {
      tile.box.checked = false;
      tile.root.classList.remove('selected');
    }
    drawSelection();
  });
  for (const button of $('view-actions').querySelectorAll('button[data-act]')) {
    button.addEventListener('click', () => act(button.dataset.act, [page.focus]));
  }
  $('view-close').addEventListener('click', closeView);
  $('view').addEventListener('click', (event) => { if (event.target === $('view')) closeView(); });
  document.addEventListener('keydown', (event) => { if (event.key === 'Escape') closeView(); });
  $('view-img').addEventListener('click', tap);
  $('view-type').addEventListener('submit', async (event) => {
    event.preventDefault();
    const text = $('view-text').value;
    if (!text || page.focus == null || page.readOnly) return;
    const index = page.focus;
    const result = await run(['input', String(index), text]);
    say(t('type') + ' #' + index + ': ' + result.text, !result.ok);
    if (result.ok) $('view-text').value = '';
  });
  drawSelection();
  poll();
}

start();
