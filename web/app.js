// The page's side: draws the board the worker reports and turns clicks into requests. Every
// rule and every refusal comes from the library in the worker; the page only decides when to
// ask (never while the bot is thinking).
'use strict';

const COLUMNS = 7, ROWS = 6;
const board = document.getElementById('board');
const statusLine = document.getElementById('status');
const notice = document.getElementById('notice');
const newGameButton = document.getElementById('new-game');
const botStarts = document.getElementById('bot-starts');
const sims = document.getElementById('sims');
const level = document.getElementById('level');
const undoButton = document.getElementById('undo');
const hintButton = document.getElementById('hint');

const worker = new Worker('worker.js');
// busy from a request until the worker hands the turn back, so that a second click cannot
// slip in before the bot's search has even started.
let ready = false, busy = false, current = null;
const pending = [];  // resolvers of bench requests

const cells = [];
for (let i = 0; i < ROWS * COLUMNS; ++i) {
  const cell = document.createElement('div');
  cell.className = 'cell';
  cell.dataset.cell = i;
  cell.dataset.column = i % COLUMNS;
  cell.setAttribute('role', 'gridcell');
  cells.push(cell);
  board.appendChild(cell);
}

function say(text) { statusLine.textContent = text; }
function warn(text) { notice.textContent = text; }

function draw(state) {
  current = state;
  state.board.forEach((owner, i) => {
    const cell = cells[i];
    cell.className = 'cell';
    if (owner !== 0) cell.classList.add(state.colors[i] || (owner > 0 ? 'red' : 'yellow'));
    if (state.lastMove && state.lastMove.by === 'bot' && state.lastMove.cell === i)
      cell.classList.add('last');
    if (state.winning.includes(i)) cell.classList.add('win');
  });
  board.dataset.moves = state.moves;
  if (state.done) say(state.outcome);
  else if (state.userTurn) {
    // The user is player +1; the colour is known once one of their pieces is down.
    const mine = state.board.findIndex((owner, i) => owner > 0 && state.colors[i]);
    say(mine < 0 ? 'Your move: click a column.'
                 : `Your move (${state.colors[mine]}): click a column.`);
  }
}

function setBusy(on) {
  busy = on;
  board.classList.toggle('waiting', on);
}

worker.onmessage = (event) => {
  const message = event.data;
  switch (message.type) {
  case 'ready':
    ready = true;
    window.tarnwickTimings = message;
    startGame();
    break;
  case 'thinking':
    say('Bot is thinking…');
    break;
  case 'state':
    draw(message);
    if (message.done || message.userTurn) setBusy(false);
    break;
  case 'refused':
    setBusy(false);
    warn(message.reason);
    break;
  case 'hint':
    setBusy(false);
    showHint(message.columns);
    break;
  case 'bench':
    pending.shift()(message);
    break;
  case 'error':
    setBusy(false);
    say('Something went wrong: ' + message.message);
    break;
  }
};

function startGame() {
  warn('');
  setBusy(true);
  worker.postMessage({
    type: 'newGame', botStarts: botStarts.checked, sims: Number(sims.value),
    level: Number(level.value),
  });
}

board.addEventListener('click', (event) => {
  const cell = event.target.closest('.cell');
  if (!cell) return;
  const column = Number(cell.dataset.column);
  if (!ready) return warn('The bot is still loading.');
  if (busy) return warn('Wait: the bot is thinking.');
  if (current && current.done) return warn('The game is over: start a new one.');
  warn('');
  setBusy(true);
  worker.postMessage({type: 'play', column});
});

newGameButton.addEventListener('click', () => {
  if (!ready) return warn('The bot is still loading.');
  startGame();
});

// Marks the best column's landing cell and says what the bot and, where it settles the
// position, the exact solver think of it.
function showHint(columns) {
  const best = columns[0];
  if (!best) return;
  const free = cells.filter((c, i) => i % COLUMNS === best.column && current.board[i] === 0);
  if (free.length) free[free.length - 1].classList.add('hint');
  const verdict = best.verdict === 'win' ? `wins in ${best.verdictMoves}`
      : best.verdict === 'loss' ? `loses in ${best.verdictMoves}`
      : best.verdict === 'draw' ? 'draws with best play'
      : `${Math.round(best.winChance * 100)}% win chance`;
  warn(`Hint: column ${best.column + 1} (${verdict}).`);
}

hintButton.addEventListener('click', () => {
  if (!ready) return warn('The bot is still loading.');
  if (busy) return warn('Wait: the bot is thinking.');
  if (!current || current.done || !current.userTurn) return warn('No hint: it is not your move.');
  warn('');
  setBusy(true);
  worker.postMessage({type: 'hint'});
});

// Takes back the user's last move and the bot's reply; the worker says when there is none.
undoButton.addEventListener('click', () => {
  if (!ready) return warn('The bot is still loading.');
  if (busy) return warn('Wait: the bot is thinking.');
  warn('');
  setBusy(true);
  worker.postMessage({type: 'undo'});
});

// For the benchmark script: bot moves timed inside the worker, after the same warm-up.
window.tarnwickBench = (simulations, reps) =>
    new Promise((resolve) => {
      pending.push(resolve);
      worker.postMessage({type: 'bench', sims: simulations, reps});
    });

worker.postMessage({type: 'init', sims: Number(sims.value)});
