#!/usr/bin/env node
// The random-input soak of the desktop program: starts `modrin` (a sanitizer build) on a
// calibrated copy of the house sample on an X display and, for the given time, gives it random
// clicks, Shift-clicks, drags, wheel turns, held mode keys, Delete, menu commands, the view
// configuration overlay and Ctrl+S, closing every window that opens. The actions follow from
// the seed alone, so a seed replays the same run. It fails when the program crashes, stops
// answering, reports a sanitizer error or saves a file modrin-cli cannot read; then, unless
// --no-undo-check, undoing every step and saving must give the starting file back byte for
// byte, and redoing every step and saving the last file saved before.
//
// A hang is a main window that does not answer a _NET_WM_PING within --hang-seconds (the
// answer comes from the program's event loop, so a busy or blocked GUI thread misses it).
//
// node soak.js --modrin PATH --cli PATH --wm PATH --sample DIR --work DIR
//              [--seed N] [--seconds T] [--actions N] [--hang-seconds H] [--no-undo-check]
'use strict';

const childProcess = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

// The layout the soak writes into the settings, so that it knows where each view is: the
// object list and two photo views above, a photo view and the 3D view below.
const kLayout = '(V,47,(H,11,O,(H,48,2,2)),(H,50,2,3))';
// Heights in pixels of the window's fixed parts, as Qt's Fusion style draws them on Xvfb.
const kMenuBar = 24;
const kMainToolBar = 26;
const kStatusBar = 22;
const kFrameToolBar = 36;
const kScrollBar = 15;
const kUndoSteps = 1000000;
// Dialogs whose typed values change the project, by title, with the number of fields the
// soak types into, and what it types: numbers, and text no number field may take.
const kFilledDialogs = {'Set real position': 3, 'Photo parameters': 1, 'Output to HTML': 6};
const kTypedValues = ['0', '1', '-2.5', '12.75', '1e400', '99999999', '0.000001', 'abc', '',
  '-', '1,5', ' 3 '];

// ---------------------------------------------------------------------------------------------
// Arguments, random numbers, helpers.

function parseArguments(argv) {
  const options = {seconds: 600, hangSeconds: 30, undoCheck: true, actions: Infinity};
  const valued = {
    '--modrin': 'modrin', '--cli': 'cli', '--wm': 'wm', '--sample': 'sample', '--work': 'work',
    '--seed': 'seed', '--seconds': 'seconds', '--actions': 'actions',
    '--hang-seconds': 'hangSeconds',
  };
  for (let i = 0; i < argv.length; ++i) {
    if (argv[i] === '--no-undo-check') {
      options.undoCheck = false;
    } else if (valued[argv[i]] && i + 1 < argv.length) {
      options[valued[argv[i]]] = argv[++i];
    } else {
      throw new Error(`unknown argument ${argv[i]}`);
    }
  }
  for (const name of ['modrin', 'cli', 'wm', 'sample', 'work']) {
    if (!options[name]) throw new Error(`--${name} is missing`);
    options[name] = path.resolve(options[name]);  // the program runs in the scratch folder
  }
  for (const name of ['seconds', 'actions', 'hangSeconds']) options[name] = Number(options[name]);
  options.seed = options.seed === undefined || options.seed === ''
    ? crypto.randomInt(1, 2 ** 31)
    : Number(options.seed);
  if (!Number.isInteger(options.seed) || !(options.seconds > 0)) {
    throw new Error('--seed must be an integer and --seconds positive');
  }
  return options;
}

// mulberry32: small, fast and the same on every platform, so a seed replays the same actions.
function makeRandom(seed) {
  let state = seed >>> 0;
  const next = () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  return {
    next,
    int: (lo, hi) => lo + Math.floor(next() * (hi - lo + 1)),  // lo..hi inclusive
    pick: (list) => list[Math.floor(next() * list.length)],
    chance: (p) => next() < p,
  };
}

const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

class SoakFailure extends Error {}

// Runs an X tool; its complaints about windows that closed meanwhile go with the error thrown.
function xtool(tool, ...args) {
  return childProcess.execFileSync(tool, args.map(String), {encoding: 'utf8',
    stdio: ['ignore', 'pipe', 'pipe']});
}

const xdotool = (...args) => xtool('xdotool', ...args);

function sha256(file) {
  return crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');
}

// ---------------------------------------------------------------------------------------------
// Where the views are: the layout string's leaves as rectangles of the window.

// Parses "(V,47,A,B)" / "(H,47,A,B)" / a leaf kind into a tree.
function parseLayout(text) {
  let at = 0;
  const node = () => {
    if (text[at] !== '(') return {kind: text[at++]};
    const direction = text[at + 1];
    at += 3;
    const comma = text.indexOf(',', at);
    const percent = Number(text.slice(at, comma));
    at = comma + 1;
    const first = node();
    ++at;
    const second = node();
    ++at;
    return {direction, percent, first, second};
  };
  return node();
}

// The leaves of `tree` laid into `rect`: V stacks its parts, H puts them side by side.
function layoutLeaves(tree, rect, leaves = []) {
  if (tree.kind) {
    leaves.push({kind: tree.kind, ...rect});
    return leaves;
  }
  const {x, y, w, h} = rect;
  if (tree.direction === 'V') {
    const top = Math.round((h * tree.percent) / 100);
    layoutLeaves(tree.first, {x, y, w, h: top}, leaves);
    layoutLeaves(tree.second, {x, y: y + top, w, h: h - top}, leaves);
  } else {
    const left = Math.round((w * tree.percent) / 100);
    layoutLeaves(tree.first, {x, y, w: left, h}, leaves);
    layoutLeaves(tree.second, {x: x + left, y, w: w - left, h}, leaves);
  }
  return leaves;
}

// The areas the random actions aim at, in window coordinates.
function windowAreas(width, height) {
  const top = kMenuBar + kMainToolBar;
  const leaves = layoutLeaves(parseLayout(kLayout), {x: 0, y: top, w: width,
    h: height - top - kStatusBar});
  const inner = (leaf, toolBar) => ({x: leaf.x + 2, y: leaf.y + toolBar,
    w: leaf.w - kScrollBar - 4, h: leaf.h - toolBar - kScrollBar - 2});
  return {
    photos: leaves.filter((l) => l.kind === '2').map((l) => inner(l, kFrameToolBar)),
    frameToolBars: leaves.filter((l) => l.kind !== 'O').map((l) => ({x: l.x + 2, y: l.y + 4,
      w: Math.min(l.w - 4, 260), h: kFrameToolBar - 8})),
    view3d: leaves.filter((l) => l.kind === '3').map((l) => inner(l, kFrameToolBar))[0],
    objects: leaves.filter((l) => l.kind === 'O').map((l) => inner(l, 0))[0],
    // From Save on: the Open button is left out, as the menu's Open is.
    mainToolBar: {x: 42, y: kMenuBar + 4, w: 182, h: kMainToolBar - 8},
  };
}

// ---------------------------------------------------------------------------------------------
// The program under test.

class Program {
  // Starts the program through a shell that writes its process id and, once it ends, its exit
  // status (128 + the signal's number after a signal) into the scratch folder: the driver is
  // synchronous and never turns Node's event loop, which would reap the child.
  constructor(options, env, work) {
    this.options = options;
    this.knownWindows = new Map();  // window id -> its _NET_WM_WINDOW_TYPE
    this.pidFile = path.join(work, 'modrin.pid');
    this.statusFile = path.join(work, 'modrin.status');
    const log = fs.openSync(path.join(work, 'modrin.log'), 'w');
    childProcess.spawn('sh', ['-c', '"$0" "$1" & echo $! >"$2"; wait $!; echo $? >"$3"',
      options.modrin, options.project, this.pidFile, this.statusFile],
    {env, cwd: work, stdio: ['ignore', log, log], detached: true}).unref();
    fs.closeSync(log);
    for (let i = 0; i < 100 && !this.pid; ++i) {
      sleep(50);
      if (fs.existsSync(this.pidFile)) this.pid = fs.readFileSync(this.pidFile, 'utf8').trim();
    }
    if (!this.pid) throw new SoakFailure('the program did not start');
  }

  // The exit status once the program has ended, or null.
  ended() {
    if (!fs.existsSync(this.statusFile)) return null;
    const status = fs.readFileSync(this.statusFile, 'utf8').trim();
    return status === '' ? null : Number(status);
  }

  kill() {
    if (this.ended() === null) process.kill(Number(this.pid), 'SIGKILL');
  }

  visibleWindows() {
    let out = '';
    try {
      out = xdotool('search', '--onlyvisible', '--pid', this.pid);
    } catch (e) { /* none */ }
    return out.split('\n').filter(Boolean);
  }

  windowType(id) {
    if (!this.knownWindows.has(id)) {
      let type = '';
      try {
        type = xtool('xprop', '-id', id, '_NET_WM_WINDOW_TYPE');
      } catch (e) { /* vanished */ }
      this.knownWindows.set(id, type);
    }
    return this.knownWindows.get(id);
  }

  waitForMainWindow(seconds) {
    const deadline = Date.now() + seconds * 1000;
    while (Date.now() < deadline) {
      if (this.ended() !== null) return false;
      const found = this.visibleWindows().find((id) => /NORMAL/.test(this.windowType(id)));
      if (found) {
        this.window = found;
        return true;
      }
      sleep(200);
    }
    return false;
  }

  // True when the event loop answers within `ms`.
  ping(ms) {
    const status = childProcess.spawnSync(this.options.wm, ['ping', this.window, String(ms)]);
    return status.status === 0;
  }

  // Windows other than the main one, newest first; tooltips come and go by themselves.
  extraWindows() {
    return this.visibleWindows()
      .filter((id) => id !== this.window && !/TOOLTIP/.test(this.windowType(id)))
      .reverse();
  }

  geometry() {
    const shell = xdotool('getwindowgeometry', '--shell', this.window);
    const value = (name) => Number(new RegExp(`${name}=(-?\\d+)`).exec(shell)[1]);
    return {x: value('X'), y: value('Y'), width: value('WIDTH'), height: value('HEIGHT')};
  }
}

// ---------------------------------------------------------------------------------------------
// The soak.

class Soak {
  constructor(options) {
    this.options = options;
    this.random = makeRandom(options.seed);
    this.log = [];
    this.counts = {};
    this.editActions = 0;
    this.done = 0;  // random actions given
    this.lastClick = [];  // per photo view
    this.capsLock = 0;  // 1 while Caps Lock is on
    this.saves = [];
    this.work = path.resolve(options.work);
  }

  // Lays out the scratch folder: the calibrated sample, the reference copy, the settings.
  prepare() {
    fs.rmSync(this.work, {recursive: true, force: true});
    const house = path.join(this.work, 'house');
    fs.mkdirSync(this.work, {recursive: true});
    fs.cpSync(this.options.sample, house, {recursive: true});
    this.options.project = path.join(house, 'house.mpj');
    this.start = path.join(this.work, 'start.mpj');

    const config = path.join(this.work, 'config');
    const runtime = path.join(this.work, 'runtime');
    fs.mkdirSync(path.join(config, 'Modrin'), {recursive: true});
    fs.mkdirSync(runtime, {mode: 0o700});
    fs.writeFileSync(path.join(config, 'Modrin', 'Modrin.conf'),
      `[Edit]\nUndoSteps=${kUndoSteps}\n\n[Views]\nConfig="${kLayout}"\n`);
    this.sanitizerLog = path.join(this.work, 'sanitizer');
    // The leak check stays off: Mesa's software renderer unloads its driver before it runs,
    // as for every test that draws with OpenGL.
    this.env = {
      ...process.env, HOME: this.work, XDG_CONFIG_HOME: config, XDG_RUNTIME_DIR: runtime,
      XDG_DATA_HOME: path.join(this.work, 'data'), QT_QPA_PLATFORM: 'xcb', LC_ALL: 'C',
      ASAN_OPTIONS: `detect_leaks=0:halt_on_error=1:log_path=${this.sanitizerLog}`,
      UBSAN_OPTIONS: `print_stacktrace=1:halt_on_error=1:log_path=${this.sanitizerLog}`,
    };
    this.cli(['calibrate', '--all', this.options.project]);
    fs.copyFileSync(this.options.project, this.start);
    this.lastHash = sha256(this.options.project);
    this.lastStat = this.projectStat();
  }

  cli(args) {
    const run = childProcess.spawnSync(this.options.cli, args, {env: this.env, encoding: 'utf8'});
    if (run.status !== 0) {
      throw new SoakFailure(`modrin-cli ${args.join(' ')} failed (status ${run.status}):\n` +
        `${run.stdout}${run.stderr}`);
    }
    return run.stdout;
  }

  record(kind, detail) {
    this.counts[kind] = (this.counts[kind] || 0) + 1;
    const seconds = ((Date.now() - this.startTime) / 1000).toFixed(1);
    const line = `#${this.log.length + 1} ${seconds}s ${kind} ${detail}`;
    this.log.push(line);
    fs.appendFileSync(path.join(this.work, 'actions.log'), line + '\n');
  }

  // ----- input, in screen coordinates of the window's areas

  point(area) {
    return {x: this.geo.x + area.x + this.random.int(0, area.w - 1),
      y: this.geo.y + area.y + this.random.int(0, area.h - 1)};
  }

  near(p, area, spread) {
    const clamp = (v, lo, hi) => Math.max(lo, Math.min(hi, v));
    return {x: clamp(p.x + this.random.int(-spread, spread), this.geo.x + area.x,
      this.geo.x + area.x + area.w - 1),
    y: clamp(p.y + this.random.int(-spread, spread), this.geo.y + area.y,
      this.geo.y + area.y + area.h - 1)};
  }

  click(p, button = 1) { xdotool('mousemove', p.x, p.y, 'click', button); }

  // A drag in steps, so that it passes the platform's drag distance as a hand does.
  drag(from, to, button = 1) {
    const args = ['mousemove', from.x, from.y, 'mousedown', button];
    for (let step = 1; step <= 4; ++step) {
      args.push('mousemove', Math.round(from.x + ((to.x - from.x) * step) / 4),
        Math.round(from.y + ((to.y - from.y) * step) / 4), 'sleep', '0.02');
    }
    args.push('mouseup', button);
    xdotool(...args);
  }

  key(...keys) { xdotool('key', '--delay', '15', ...keys); }

  // ----- the actions: each returns a description for the log

  photoArea() {
    const index = this.random.int(0, this.areas.photos.length - 1);
    return [index, this.areas.photos[index]];
  }

  actionTable() {
    const r = this.random;
    const at = (p) => `(${p.x},${p.y})`;
    const edit = (f) => (...a) => { ++this.editActions; return f(...a); };
    return [
      [14, 'photo_click', edit(() => {
        const [i, area] = this.photoArea();
        const p = this.point(area);
        this.click(p);
        this.lastClick[i] = p;
        return `view ${i} ${at(p)}`;
      })],
      [8, 'photo_shift_click', edit(() => {
        const [i, area] = this.photoArea();
        const p = this.point(area);
        xdotool('mousemove', p.x, p.y, 'keydown', 'shift', 'click', 1, 'keyup', 'shift');
        return `view ${i} ${at(p)}`;
      })],
      [8, 'photo_drag', edit(() => {
        const [i, area] = this.photoArea();
        const from = this.point(area);
        const to = this.near(from, area, r.pick([8, 40, 200]));
        this.drag(from, to);
        return `view ${i} ${at(from)}->${at(to)}`;
      })],
      [8, 'photo_held_key', edit(() => {
        const [i, area] = this.photoArea();
        const held = r.pick(['d', 'f', 's']);
        const steps = [];
        const start = this.point(area);
        xdotool('mousemove', start.x, start.y, 'keydown', held);
        try {
          for (let n = r.int(1, 3); n > 0; --n) {
            const p = this.point(area);
            if (r.chance(0.5)) {
              this.click(p);
              steps.push(`click ${at(p)}`);
            } else {
              const to = this.near(p, area, 60);
              this.drag(p, to);
              steps.push(`drag ${at(p)}->${at(to)}`);
            }
          }
        } finally {
          xdotool('keyup', held);
        }
        return `view ${i} hold ${held}: ${steps.join(', ')}`;
      })],
      [5, 'photo_wheel', () => {
        const [i, area] = this.photoArea();
        const p = this.point(area);
        const button = r.pick([4, 5]);
        const turns = r.int(1, 3);
        xdotool('mousemove', p.x, p.y, 'click', '--repeat', turns, '--delay', 30, button);
        return `view ${i} ${at(p)} ${button === 4 ? 'up' : 'down'} x${turns}`;
      }],
      [4, 'photo_keys', edit(() => {
        const keys = [r.pick(['Home', 'Up', 'Down', 'KP_Add', 'KP_Subtract', 'Escape', 'a',
          'g', 'Caps_Lock'])];
        // Caps Lock chains edges until it is pressed again; give it back most of the time.
        if (keys[0] === 'Caps_Lock' && r.chance(0.8)) keys.push('Caps_Lock');
        this.key(...keys);
        this.capsLock ^= keys.filter((k) => k === 'Caps_Lock').length % 2;
        return keys.join(' ');
      })],
      // Half the time on the last click's spot, where that click added or picked a position,
      // so that "Set real position" (the fifth item) has one to set.
      [3, 'photo_context_menu', edit(() => {
        const [i, area] = this.photoArea();
        const p = this.lastClick[i] && r.chance(0.5) ? this.lastClick[i] : this.point(area);
        this.click(p, 3);
        sleep(150);
        const downs = r.chance(0.5) ? 5 : r.int(0, 6);
        const last = r.chance(0.7) ? 'Return' : 'Escape';
        this.key(...Array(downs).fill('Down'), last);
        return `view ${i} ${at(p)} Down x${downs} ${last}`;
      })],
      [4, 'delete_key', edit(() => {
        this.key(r.pick(['Delete', 'BackSpace']));
        return '';
      })],
      [4, 'view3d_drag', () => {
        const area = this.areas.view3d;
        const from = this.point(area);
        const to = this.near(from, area, 150);
        const shift = r.chance(0.35);
        if (shift) xdotool('keydown', 'shift');
        try {
          this.drag(from, to);
        } finally {
          if (shift) xdotool('keyup', 'shift');
        }
        return `${shift ? 'shift ' : ''}${at(from)}->${at(to)}`;
      }],
      [3, 'view3d_wheel', () => {
        const p = this.point(this.areas.view3d);
        const button = r.pick([4, 5]);
        xdotool('mousemove', p.x, p.y, 'click', '--repeat', r.int(1, 4), '--delay', 30, button);
        return `${at(p)} ${button === 4 ? 'up' : 'down'}`;
      }],
      [3, 'view3d_keys', () => {
        this.click(this.point(this.areas.view3d));
        const keys = [r.pick(['Left', 'Right', 'Up', 'Down', 'KP_8', 'KP_2', 'KP_4', 'KP_6',
          'Home', 'ctrl+F10']), r.pick(['End', 'KP_5', 'Home', 'Escape'])];
        this.key(...keys);
        return keys.join(' ');
      }],
      [3, 'object_list', edit(() => {
        const p = this.point(this.areas.objects);
        const how = r.pick(['click', 'double', 'right', 'key']);
        if (how === 'double') xdotool('mousemove', p.x, p.y, 'click', '--repeat', 2, 1);
        else this.click(p, how === 'right' ? 3 : 1);
        let keys = [];
        if (how === 'key') keys = [r.pick(['Delete', 'space', 'Up', 'Down', 'F2', 'Insert'])];
        if (how === 'double' || how === 'right') keys = [r.pick(['Escape', 'Return'])];
        if (keys.length) {
          sleep(100);
          this.key(...keys);
        }
        return `${how} ${at(p)} ${keys.join(' ')}`;
      })],
      [4, 'frame_toolbar_click', () => {
        const index = r.int(0, this.areas.frameToolBars.length - 1);
        const p = this.point(this.areas.frameToolBars[index]);
        this.click(p);
        return `frame ${index} ${at(p)}`;
      }],
      [2, 'main_toolbar_click', () => {
        const p = this.point(this.areas.mainToolBar);
        this.click(p);
        return at(p);
      }],
      // Menu commands by their access keys. File > Exit and the recent files are left out, so
      // that the run keeps its program and its project, and so are Open and Save As: their
      // file dialog, closed without a file, leaves the project without a path, after which
      // Ctrl+S only asks for a name.
      [4, 'menu', () => {
        const keys = r.pick([
          ['alt+f', 'l'], ['alt+f', 'd'], ['alt+f', 'w'],
          ['alt+t', 'p'], ['alt+t', 'm'], ['alt+t', 'a'], ['alt+w', 's'], ['alt+w', 't', 'i'],
          ['alt+w', 't', 'f'], ['alt+w', 't', 'Down', 'Down', 'Return'],
          ['alt+w', 't', 'Down', 'Down', 'Down', 'Return'], ['alt+w', 'v'], ['alt+h', 'c'],
          ['alt+h', 'a'], ['F1'], ['ctrl+shift+d'], ['alt+e', 'Escape'], ['alt+f', 'Escape'],
        ]);
        this.key(keys[0]);
        sleep(200);
        if (keys.length > 1) this.key(...keys.slice(1));
        return keys.join(' ');
      }],
      // The overlay opens modal over the layout; it is walked and closed again, but never
      // reshaped, so that the actions keep aiming at the views they name.
      [2, 'view_configuration', () => {
        this.key('ctrl+w');
        sleep(300);
        const keys = [];
        for (let n = r.int(0, 4); n > 0; --n) {
          keys.push(r.pick(['Page_Down', 'Page_Up', 'Left', 'Right', 'Up', 'Down']));
        }
        if (keys.length) this.key(...keys);
        if (r.chance(0.3)) {
          this.click(this.point(this.areas.photos[0]), 3);
          sleep(200);
          this.key('Escape');
          keys.push('menu Escape');
        }
        const close = r.pick(['Escape', 'Return']);
        this.key(close);
        return [...keys, close].join(' ');
      }],
      [3, 'save', () => {
        this.key('ctrl+s');
        return '';
      }],
      [3, 'undo_redo', () => {
        ++this.editActions;  // a redo gives a step back to undo
        const keys = r.pick(['ctrl+z', 'ctrl+shift+z', 'ctrl+y', 'alt+BackSpace']);
        this.key(keys);
        return keys;
      }],
    ];
  }

  // ----- the checks between actions

  projectStat() {
    const s = fs.statSync(this.options.project);
    return `${s.mtimeMs}:${s.size}:${s.ino}`;
  }

  // Keeps a copy of every file a save leaves behind, for modrin-cli to read at the end.
  noteSaves(action) {
    const stat = this.projectStat();
    if (stat === this.lastStat) return false;
    this.lastStat = stat;
    const hash = sha256(this.options.project);
    if (hash === this.lastHash) return false;
    this.lastHash = hash;
    const copy = path.join(path.dirname(this.options.project),
      `saved-${String(this.saves.length + 1).padStart(4, '0')}.mpj`);
    fs.copyFileSync(this.options.project, copy);
    this.saves.push({file: copy, action});
    return true;
  }

  sanitizerReports() {
    return fs.readdirSync(this.work)
      .filter((name) => name.startsWith('sanitizer.'))
      .map((name) => fs.readFileSync(path.join(this.work, name), 'utf8'))
      .filter((text) => text.trim() !== '');
  }

  checkProgram(what) {
    if (this.sanitizerReports().length) {
      // The report is complete once the program has ended.
      for (let i = 0; i < 100 && this.program.ended() === null; ++i) sleep(100);
      const report = this.sanitizerReports()[0].split('\n').slice(0, 80).join('\n');
      throw new SoakFailure(`sanitizer error after ${what}:\n${report}`);
    }
    const ended = this.program.ended();
    if (ended !== null) {
      throw new SoakFailure(`the program ended after ${what} (exit status ${ended}${ended > 128
        ? `, signal ${ended - 128}` : ''})`);
    }
    if (!this.program.ping(this.options.hangSeconds * 1000)) {
      if (this.program.ended() !== null || this.sanitizerReports().length) {
        return this.checkProgram(what);
      }
      throw new SoakFailure(`the program did not answer for ${this.options.hangSeconds} s ` +
        `after ${what}`);
    }
  }

  // Half the time, types random numbers and words into the fields of a dialog that edits
  // the project with typed values, and presses Return: OK, or an error message to close.
  fillDialog(window) {
    const fields = kFilledDialogs[this.windowKind(window).split('"')[1]];
    if (!fields || !this.random.chance(0.5)) return;
    ++this.editActions;
    const values = [];
    xdotool('windowfocus', '--sync', window);
    for (let field = 0; field < fields; ++field) {
      const value = this.random.pick(kTypedValues);
      values.push(JSON.stringify(value));
      this.key('ctrl+a', 'BackSpace');
      if (value) xdotool('type', '--delay', '10', value);
      this.key('Tab');
    }
    this.key('Return');
    this.record('fill_dialog', `${window} ${values.join(' ')} Return`);
    sleep(150);
  }

  // Closes every window besides the main one, newest first: Escape given to it (Return the
  // fourth time, for a message box without a way out), and when that does not do, the close
  // request of a title bar's button. A dialog that opens another is followed down the chain.
  closeWindows(what) {
    const attempts = new Map();  // window -> the tries to close it
    for (let round = 0; round < 60; ++round) {
      const window = this.program.extraWindows()[0];
      if (!window) return;
      const attempt = attempts.get(window) || 0;
      attempts.set(window, attempt + 1);
      if (attempt === 0) {
        this.record('close_window', `${window} (${this.windowKind(window)})`);
        try {
          this.fillDialog(window);
        } catch (e) { /* closed meanwhile */ }
      } else if (attempt <= 8) {
        try {
          xdotool('windowfocus', '--sync', window);
        } catch (e) { /* closed meanwhile */ }
        xdotool('key', attempt % 4 === 0 ? 'Return' : 'Escape');
      } else if (attempt <= 11) {
        childProcess.spawnSync(this.options.wm, ['close', window]);
      } else {
        throw new SoakFailure(`a window of the program did not close after ${what}: ` +
          this.windowKind(window));
      }
      sleep(150);
      this.checkProgram(`closing a window after ${what}`);
    }
    throw new SoakFailure(`windows of the program kept opening after ${what}: ` +
      this.program.extraWindows().map((id) => this.windowKind(id)).join(', '));
  }

  windowKind(id) {
    let name = '';
    try {
      name = xdotool('getwindowname', id).trim();
    } catch (e) { /* vanished */ }
    const type = (/_NET_WM_WINDOW_TYPE_(\w+)/.exec(this.program.windowType(id)) || [])[1];
    return `"${name}" ${type || ''}`.trim();
  }

  // Gives the main window the keyboard again: without a window manager it does not come back
  // by itself when a dialog closes.
  refocus() {
    try {
      xdotool('windowfocus', '--sync', this.program.window);
    } catch (e) { /* checked next */ }
  }

  // Waits for the answer to input given before, then for a save to reach the disk.
  settleSave(seconds) {
    const deadline = Date.now() + seconds * 1000;
    this.checkProgram('Ctrl+S');
    while (!this.noteSaves('Ctrl+S') && Date.now() < deadline) sleep(100);
  }

  // ----- the phases

  launch() {
    this.startTime = Date.now();
    this.program = new Program(this.options, this.env, this.work);
    if (!this.program.waitForMainWindow(120)) {
      this.checkProgram('start-up');
      throw new SoakFailure('the main window did not show within 120 s');
    }
    this.refocus();
    this.checkProgram('start-up');
    this.geo = this.program.geometry();
    this.areas = windowAreas(this.geo.width, this.geo.height);
  }

  randomPhase() {
    const table = this.actionTable();
    const total = table.reduce((sum, [weight]) => sum + weight, 0);
    const begin = Date.now();
    const end = begin + this.options.seconds * 1000;
    while (Date.now() < end && this.done < this.options.actions) {
      let roll = this.random.next() * total;
      const [, kind, run] = table.find(([weight]) => (roll -= weight) < 0) || table[0];
      const detail = run();
      this.record(kind, detail);
      ++this.done;
      this.checkProgram(`action #${this.log.length} ${kind}`);
      this.closeWindows(`action #${this.log.length}`);
      this.refocus();
      this.noteSaves(`#${this.log.length}`);
    }
    this.randomSeconds = (Date.now() - begin) / 1000;
  }

  // Undo until nothing is left, save, compare; redo until nothing is left, save, compare.
  undoPhase() {
    // With Caps Lock on, xdotool would add Shift to Ctrl+Z to type a small z: redo.
    if (this.capsLock) this.key('Caps_Lock');
    // The 3D view takes the keyboard with a click that edits nothing and has no undo of its
    // own, as a line edit would.
    this.click({x: this.geo.x + this.areas.view3d.x + 5, y: this.geo.y + this.areas.view3d.y + 5});
    this.key('ctrl+s');
    this.settleSave(10);
    const last = fs.readFileSync(this.options.project);
    const presses = this.editActions + 20;
    const press = (key, label) => {
      for (let left = presses; left > 0; left -= 50) {
        xdotool('key', '--delay', '10', ...Array(Math.min(50, left)).fill(key));
        this.checkProgram(label);
        this.closeWindows(label);
      }
      this.record(label, `${presses} presses`);
    };
    press('ctrl+z', 'undo_all');
    this.key('ctrl+s');
    this.settleSave(10);
    this.compare(fs.readFileSync(this.start), 'undoing every step and saving',
      'the file the run started from');
    press('ctrl+shift+z', 'redo_all');
    this.key('ctrl+s');
    this.settleSave(10);
    this.compare(last, 'redoing every step and saving', 'the last file saved before the undo');
  }

  compare(expected, what, which) {
    const actual = fs.readFileSync(this.options.project);
    if (actual.equals(expected)) return;
    const expectedFile = path.join(this.work, 'expected.mpj');
    fs.writeFileSync(expectedFile, expected);
    const diff = childProcess.spawnSync('diff', [expectedFile, this.options.project],
      {encoding: 'utf8'}).stdout.split('\n').slice(0, 30).join('\n');
    throw new SoakFailure(`${what} did not give ${which} back byte for byte:\n${diff}`);
  }

  checkSaves() {
    for (const save of this.saves) {
      try {
        this.cli(['info', save.file]);
      } catch (e) {
        throw new SoakFailure(`the file saved after ${save.action} (${save.file}) is not ` +
          `readable: ${e.message}`);
      }
    }
  }

  // File > Exit, "No" to the save question if it comes; the program must end cleanly.
  quit() {
    this.refocus();
    this.key('alt+f');
    sleep(300);
    this.key('x');
    const deadline = Date.now() + 60000;
    while (Date.now() < deadline) {
      const ended = this.program.ended();
      if (ended !== null) {
        const reports = this.sanitizerReports();
        if (reports.length) throw new SoakFailure(`sanitizer error at exit:\n${reports[0]}`);
        if (ended !== 0) throw new SoakFailure(`the program ended with status ${ended} at exit`);
        return;
      }
      const question = this.program.extraWindows()[0];
      if (question) {
        try {
          xdotool('windowfocus', '--sync', question, 'key', 'n');
        } catch (e) { /* closed meanwhile */ }
      }
      sleep(300);
    }
    throw new SoakFailure('the program did not end within 60 s of File > Exit');
  }

  report() {
    const seconds = this.randomSeconds || (Date.now() - this.startTime) / 1000;
    const actions = this.done;
    console.log(`soak: seed ${this.options.seed}, ${actions} actions in ${seconds.toFixed(0)} s ` +
      `(${(actions / seconds).toFixed(2)} per second), ${this.saves.length} files saved`);
    for (const [kind, count] of Object.entries(this.counts).sort((a, b) => b[1] - a[1])) {
      console.log(`  ${kind.padEnd(22)} ${count}`);
    }
  }

  // The same run again, stopped after the action that failed.
  replayCommand() {
    const o = this.options;
    const flags = [`--actions ${this.done}`, ...(o.undoCheck ? [] : ['--no-undo-check'])];
    return `make soak SEED=${o.seed} SECONDS=${o.seconds} SOAK_FLAGS="${flags.join(' ')}"`;
  }
}

function main() {
  let options;
  try {
    options = parseArguments(process.argv.slice(2));
  } catch (e) {
    console.error(`soak: ${e.message}`);
    process.exit(2);
  }
  const soak = new Soak(options);
  console.log(`soak: seed ${options.seed}, ${options.seconds} s, undo check ` +
    `${options.undoCheck ? 'on' : 'off'}, scratch folder ${soak.work}`);
  try {
    soak.prepare();
    soak.launch();
    soak.randomPhase();
    if (options.undoCheck) soak.undoPhase();
    soak.checkSaves();
    soak.quit();
    soak.report();
    console.log('soak: passed');
  } catch (e) {
    if (soak.program) soak.program.kill();
    soak.report();
    console.error(`\nSOAK FAILED with seed ${options.seed}: ${e instanceof SoakFailure ? '' :
      'driver error: '}${e instanceof SoakFailure ? e.message : e.stack}`);
    console.error(`\nThe last actions (all of them in ${path.join(soak.work, 'actions.log')}):`);
    console.error(soak.log.slice(-40).join('\n'));
    const programLog = path.join(soak.work, 'modrin.log');
    if (fs.existsSync(programLog)) {
      const tail = fs.readFileSync(programLog, 'utf8').split('\n').slice(-40).join('\n');
      if (tail.trim()) console.error(`\nThe program's output (the end):\n${tail}`);
    }
    console.error(`\nReplay: ${soak.replayCommand()}`);
    process.exit(1);
  }
}

main();
