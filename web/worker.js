// The bot's side of the page: the library as WebAssembly, driven through its C API. It runs
// off the page's thread, so a search never freezes the board; the page sends requests and
// draws the states this worker sends back.
'use strict';

const here = self.location.href.replace(/[^/]*$/, '');
importScripts(here + 'tarnwick.js');

const OK = 0, ILLEGAL_MOVE = 2, GAME_OVER = 3;
const CELLS = 42;
const BENCH_POSITIONS = {start: '', midgame: '4453342156'};

let M = null;      // the module
let model = 0;     // tarnwick_model*, shared by every session of the page
let session = 0;   // tarnwick_session* of the match on the board
let out = 0;       // scratch for out-parameters
let cells = 0;     // 42 int32
let text = 0;      // text buffer
const TEXT_CAPACITY = 256;
let colors = [];   // colour of each cell's piece as the session reported it
let lastMove = null;

class TarnwickError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

function check(status, what) {
  if (status === OK) return;
  const detail = M.UTF8ToString(M._tarnwick_last_error()) ||
                 M.UTF8ToString(M._tarnwick_status_text(status));
  throw new TarnwickError(status, `${what}: ${detail}`);
}

const i32 = (p) => M.getValue(p, 'i32');
const pointer = (p) => M.getValue(p, 'i32') >>> 0;
// int64 out-parameters, little-endian; the values here are small.
const i64 = (p) => (M.getValue(p, 'i32') >>> 0) + M.getValue(p + 4, 'i32') * 4294967296;

async function fetchBytes(path) {
  const response = await fetch(here + path);
  if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
}

function copyIn(bytes) {
  const p = M._malloc(Math.max(1, bytes.length));
  if (!p) throw new Error('out of memory');
  M.writeArrayToMemory(bytes, p);
  return p;
}

// The model is an asset of the page: fetched once, loaded from its bytes.
async function loadModel() {
  const [manifest, weights] =
      await Promise.all([fetchBytes('model/model.json'), fetchBytes('model/weights.bin')]);
  const m = copyIn(manifest), w = copyIn(weights);
  try {
    check(M._tarnwick_model_load_memory(m, manifest.length, w, weights.length, out), 'model');
  } finally {
    M._free(m);
    M._free(w);
  }
  return pointer(out);
}

function newSession() {
  check(M._tarnwick_session_new(model, out), 'session');
  return pointer(out);
}

function readText(call, what) {
  check(call(text, TEXT_CAPACITY, out), what);
  return M.UTF8ToString(text);
}

function readFlag(fn, s) {
  check(fn(s, out), 'state');
  return i32(out) !== 0;
}

function state() {
  check(M._tarnwick_session_board(session, cells, CELLS), 'board');
  const board = [];
  for (let i = 0; i < CELLS; ++i) board.push(i32(cells + 4 * i));
  const done = readFlag(M._tarnwick_session_done, session);
  let outcome = null, winning = [];
  if (done) {
    outcome = readText((b, c, l) => M._tarnwick_session_outcome(session, b, c, l), 'outcome');
    check(M._tarnwick_session_winning_cells(session, cells, CELLS, out), 'winning cells');
    for (let i = 0; i < i32(out); ++i) winning.push(i32(cells + 4 * i));
  }
  const moves = readText((b, c, l) => M._tarnwick_session_moves(session, b, c, l), 'moves');
  return {
    type: 'state', board, colors: colors.slice(), done, outcome, winning, moves, lastMove,
    userTurn: !done && readFlag(M._tarnwick_session_is_user_turn, session),
  };
}

// Plays the next move (the user's stored column or the bot's search) and records its colour.
function nextMove() {
  const started = performance.now();
  check(M._tarnwick_session_next_move(session, out), 'move');
  const move = {
    cell: i32(out), column: i32(out + 4), color: i32(out + 8) === 0 ? 'red' : 'yellow',
    number: i32(out + 12), ms: performance.now() - started,
  };
  colors[move.cell] = move.color;
  return move;
}

function botMoves() {
  while (!readFlag(M._tarnwick_session_done, session) &&
         !readFlag(M._tarnwick_session_is_user_turn, session)) {
    postMessage({type: 'thinking'});
    searched = true;
    lastMove = {...nextMove(), by: 'bot'};
    postMessage(state());
  }
}

function newGame({botStarts, sims, level}) {
  check(M._tarnwick_session_new_match(session, 0, 0n, BigInt(sims)), 'new game');
  check(M._tarnwick_session_set_level(session, level), 'level');
  check(M._tarnwick_session_set_bot_starts(session, botStarts ? 1 : 0), 'who starts');
  colors = new Array(CELLS).fill(null);
  lastMove = null;
  postMessage(state());
  botMoves();
}

function play({column}) {
  const status = M._tarnwick_session_user_play(session, column);
  if (status === ILLEGAL_MOVE || status === GAME_OVER) {
    const done = readFlag(M._tarnwick_session_done, session);
    postMessage({
      type: 'refused', column,
      reason: done ? 'The game is over: start a new one.' : `Column ${column + 1} is full.`,
    });
    return;
  }
  check(status, 'your move');
  lastMove = {...nextMove(), by: 'user'};
  postMessage(state());
  botMoves();
}

function undo() {
  const status = M._tarnwick_session_undo(session);
  if (status === ILLEGAL_MOVE) {
    postMessage({type: 'refused', reason: 'There is no move to take back.'});
    return;
  }
  check(status, 'take back');
  lastMove = null;
  postMessage(state());
  // With the bot first, taking back its opening move hands the turn back to it.
  botMoves();
}

// Every legal column ranked for the user; the layout is tarnwick_hint_column's under wasm32:
// three int32, then two doubles from byte 16, 32 bytes each.
const HINT_SIZE = 32;
const VERDICTS = ['unknown', 'win', 'draw', 'loss'];
function hint() {
  const buffer = M._malloc(HINT_SIZE * 7);
  searched = true;
  try {
    check(M._tarnwick_session_hint(session, 200n, buffer, 7, out), 'hint');
    const columns = [];
    for (let i = 0; i < i32(out); ++i) {
      const p = buffer + HINT_SIZE * i;
      columns.push({
        column: i32(p), verdict: VERDICTS[i32(p + 4)] || 'unknown', verdictMoves: i32(p + 8),
        visitShare: M.getValue(p + 16, 'double'), winChance: M.getValue(p + 24, 'double'),
      });
    }
    postMessage({type: 'hint', columns});
  } finally {
    M._free(buffer);
  }
}

// One bot move from `moves` in a fresh bot-against-bot session, as the native bench does it.
function timedMove(moves, sims) {
  const s = newSession();
  const previous = session;
  session = s;
  try {
    check(M._tarnwick_session_new_match(s, 1, 0n, BigInt(sims)), 'bench');
    const p = copyIn(new TextEncoder().encode(moves + '\0'));
    try {
      check(M._tarnwick_session_play_moves(s, p), 'bench position');
    } finally {
      M._free(p);
    }
    return nextMove().ms;
  } finally {
    session = previous;
    M._tarnwick_session_free(s);
  }
}

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Median of `reps` moves after warm-up moves, for each bench position. The browser's optimising
// compiler works in the background at low priority: on a busy machine the moves of the first
// seconds after load ran two to four times slower, so three warm-up moves were not enough (the
// benchmark script also lets the page settle before it asks).
const BENCH_WARM_UP = 10;
function bench({sims, reps}) {
  const result = {type: 'bench', sims, reps};
  for (const [name, moves] of Object.entries(BENCH_POSITIONS)) {
    for (let i = 0; i < BENCH_WARM_UP; ++i) timedMove(moves, sims);
    const times = [];
    for (let i = 0; i < reps; ++i) times.push(timedMove(moves, sims));
    result[name] = median(times);
  }
  postMessage(result);
}

async function init({sims}) {
  const started = performance.now();
  M = await createTarnwick({locateFile: (path) => here + path});
  out = M._malloc(64);
  cells = M._malloc(4 * CELLS);
  text = M._malloc(TEXT_CAPACITY);
  const compiled = performance.now();
  model = await loadModel();
  const loaded = performance.now();
  session = newSession();
  // The first search of a fresh page runs while the browser still compiles the module; one
  // move here keeps the worst of that wait away from the player's first move.
  const firstMove = timedMove(BENCH_POSITIONS.midgame, sims);
  postMessage({
    type: 'ready', version: M.UTF8ToString(M._tarnwick_version()),
    startMs: compiled - started, modelMs: loaded - compiled, firstMoveMs: firstMove,
  });
  setTimeout(() => warmUp(sims, IDLE_WARM_UP), 0);
}

// The browser optimises the hot code in the background, only once it has run for a while: on a
// busy machine the moves after that first one were still three to four times slower. A few more
// warm-up moves run while the player thinks, one task each, and only while no request waits, so
// a click waits for one move at most. The bot's own searches warm it as well and end them.
const IDLE_WARM_UP = 6;
let waiting = 0; // requests received and not yet handled
let searched = false; // the bot has searched for the player
function warmUp(sims, left) {
  if (left === 0 || searched) return;
  if (waiting === 0) {
    try {
      timedMove(BENCH_POSITIONS.midgame, sims);
    } catch (error) {
      return; // a real request will meet and report the same failure
    }
    --left;
  }
  setTimeout(() => warmUp(sims, left), waiting === 0 ? 0 : 100);
}

const handlers = {init, newGame, play, undo, hint, bench};

let queue = Promise.resolve();
self.onmessage = (event) => {
  const request = event.data;
  ++waiting;
  queue = queue.then(() => handlers[request.type](request)).catch((error) => {
    postMessage({type: 'error', message: error.message || String(error)});
  }).finally(() => --waiting);
};
