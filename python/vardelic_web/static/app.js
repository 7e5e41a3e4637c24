// The table page: new tables, play, hints, watch and replay, on the server's HTTP API.
import { attackValue, cardElement, describePlay, miniCard } from "./cards.js";

const $ = (id) => document.getElementById(id);
const DEFAULT_SEAT = "ismcts(time_ms=20)";

const state = {
  mode: "play",        // play | watch | replay
  table: null,         // {id, token, human}
  message: null,       // the message on screen
  queue: [],           // pushed messages waiting for their turn on screen
  timer: null,
  socket: null,
  selected: new Set(), // hand slots
  watching: false,
  replay: null,        // {frames, seats, num_players, pos}
  records: [],         // lines of an opened file
};

// ---------------------------------------------------------------- API

async function api(method, path, body) {
  const headers = { "Content-Type": "application/json" };
  if (state.table) headers.Authorization = `Bearer ${state.table.token}`;
  const response = await fetch(path, {
    method, headers, body: body === undefined ? undefined : JSON.stringify(body),
  });
  const text = await response.text();
  const data = text && response.headers.get("content-type")?.includes("json") ? JSON.parse(text) : text;
  if (!response.ok) {
    const detail = typeof data === "object" ? data.detail : data;
    throw new Error(typeof detail === "string" ? detail : JSON.stringify(detail));
  }
  return data;
}

// ---------------------------------------------------------------- setup

function setMode(mode) {
  state.mode = mode;
  stopWatching();
  closeTable();
  for (const tab of document.querySelectorAll("[role=tab]")) {
    tab.setAttribute("aria-selected", String(tab.dataset.mode === mode));
  }
  $("setup").hidden = false;
  $("table").hidden = true;
  $("new-table").hidden = mode === "replay";
  $("replay-open").hidden = mode !== "replay";
  $("setup-title").textContent = mode === "watch" ? "Watch computer players" : "New table";
  $("my-seat-label").hidden = mode === "watch";
  renderSeatSpecs();
}

function renderSeatSpecs() {
  const n = Number($("num-players").value);
  const mine = $("my-seat");
  const keep = Math.min(Number(mine.value || 0), n - 1);
  mine.innerHTML = "";
  for (let p = 0; p < n; p++) mine.add(new Option(`Player ${p + 1}`, String(p), false, p === keep));
  const box = $("seat-specs");
  const old = [...box.querySelectorAll("input")].map((input) => input.value);
  box.innerHTML = "";
  for (let p = 0; p < n; p++) {
    const human = state.mode === "play" && p === keep;
    const label = document.createElement("label");
    label.textContent = `Player ${p + 1}`;
    const input = document.createElement("input");
    input.name = `seat-${p}`;
    input.value = human ? "you" : old[p] && old[p] !== "you" ? old[p] : DEFAULT_SEAT;
    input.disabled = human;
    input.setAttribute("aria-label", `Player ${p + 1} seat`);
    label.append(input);
    box.append(label);
  }
}

async function startTable(event) {
  event.preventDefault();
  $("setup-error").textContent = "";
  const n = Number($("num-players").value);
  const seats = [];
  for (let p = 0; p < n; p++) {
    const input = $("seat-specs").querySelector(`[name=seat-${p}]`);
    seats.push(input.disabled ? "human" : input.value.trim());
  }
  const body = { seats };
  const seedText = $("seed").value.trim();
  if (seedText) body.seed = Number(seedText);
  try {
    state.table = null;
    const created = await api("POST", "/api/tables", body);
    state.table = { id: created.table, token: created.token, human: created.seat };
  } catch (err) {
    $("setup-error").textContent = err.message;
    return;
  }
  openTable();
}

// ---------------------------------------------------------------- a live table

function openTable() {
  $("setup").hidden = true;
  $("table").hidden = false;
  $("watch-controls").hidden = state.mode !== "watch";
  $("replay-controls").hidden = true;
  $("delay-label").hidden = false; // play: the computers' pace; watch: the speed
  $("view-label").hidden = state.mode === "play";
  state.message = null;
  state.queue = [];
  state.selected.clear();
  $("log").innerHTML = "";
  $("hints").hidden = true;
  connect();
  api("GET", `/api/tables/${state.table.id}?${viewSeatParam().slice(1)}`).then(enqueue, (err) => {
    $("status").textContent = err.message;
  });
}

function viewSeatParam() {
  return state.mode === "watch" ? `&seat=${$("view-seat").value || 0}` : "";
}

function connect() {
  if (state.socket) state.socket.close();
  const { id, token } = state.table;
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  const url = `${scheme}://${location.host}/api/tables/${id}/events?token=${encodeURIComponent(token)}${viewSeatParam()}`;
  const socket = new WebSocket(url);
  state.socket = socket;
  socket.onmessage = (event) => enqueue(JSON.parse(event.data));
  socket.onclose = () => {
    if (state.socket === socket) state.socket = null;
  };
}

function closeTable() {
  if (state.socket) state.socket.close();
  state.socket = null;
  state.table = null;
  clearTimeout(state.timer);
  state.timer = null;
  state.queue = [];
}

// Messages are shown in order; a computer's move waits the chosen delay so it can be followed.
function enqueue(message) {
  const shown = state.message ? state.message.moves : -1;
  const last = state.queue.length ? state.queue[state.queue.length - 1].moves : shown;
  if (message.moves < last || (message.moves === last && message.error === (state.message?.error ?? null))) {
    if (message.moves === shown && !state.queue.length) show(message); // same position, fresher
    return;
  }
  state.queue.push(message);
  pump();
}

function pump() {
  if (state.timer || !state.queue.length) return;
  const next = state.queue[0];
  const computer = state.message && next.log.length && next.log[next.log.length - 1].player !== state.table?.human;
  const delay = state.mode === "play" && computer ? Number($("delay").value) : 0;
  state.timer = setTimeout(() => {
    state.timer = null;
    show(state.queue.shift());
    pump();
  }, delay);
}

function show(message) {
  // A selection belongs to one position of one seat's view.
  const previous = state.message;
  if (!previous || previous.moves !== message.moves || previous.view.player !== message.view.player) {
    state.selected.clear();
    $("hints").hidden = true;
  }
  state.message = message;
  renderSeatChoice(message.seats.length, false);
  renderView(message.view, message.seats, message.human, null);
  renderLog(message.log, message.seats);
  renderStatus(message);
  renderActions(message);
}

// ---------------------------------------------------------------- drawing

function renderSeatChoice(n, allHands) {
  const select = $("view-seat");
  const want = n + (allHands ? 1 : 0);
  if (select.options.length === want) return;
  const keep = select.value;
  select.innerHTML = "";
  for (let p = 0; p < n; p++) select.add(new Option(`Player ${p + 1}'s view`, String(p)));
  if (allHands) select.add(new Option("Every hand open", "all"));
  if ([...select.options].some((o) => o.value === keep)) select.value = keep;
}

function renderView(view, seats, human, openHands) {
  // Other players: seat, hand size (or open hand), whose turn.
  const others = $("others");
  others.innerHTML = "";
  for (let p = 0; p < view.num_players; p++) {
    if (p === view.player && !openHands) continue;
    const box = document.createElement("div");
    box.className = "seat" + (p === view.to_move && !view.over ? " to-move" : "");
    box.dataset.testid = `seat-${p}`;
    const who = p === human ? "you" : seats[p];
    box.innerHTML = `<div class="seat-name">Player ${p + 1} <small>${escapeHtml(who)}</small></div>`;
    const cards = document.createElement("div");
    cards.className = "mini-cards";
    if (openHands) {
      for (const card of openHands[p]) cards.append(miniCard(card));
    } else {
      for (let i = 0; i < view.hand_sizes[p]; i++) {
        const back = document.createElement("span");
        back.className = "back";
        cards.append(back);
      }
      cards.insertAdjacentHTML("beforeend", `<span class="count">${view.hand_sizes[p]} cards</span>`);
    }
    box.append(cards);
    others.append(box);
  }

  // The enemy.
  const enemyBox = $("enemy-box");
  enemyBox.innerHTML = "";
  if (view.enemy) {
    const e = view.enemy;
    const maxHealth = { Jack: 20, Queen: 30, King: 40 }[e.card.value];
    enemyBox.append(cardElement(e.card, { size: "big" }));
    const info = document.createElement("div");
    info.className = "enemy-info";
    const SUIT = { Spades: "♠ Spades", Hearts: "♥ Hearts", Diamonds: "♦ Diamonds", Clubs: "♣ Clubs" };
    const blocked = e.jester ? "none (jester played)" : e.suit_blocked ? SUIT[e.card.suit] : "none";
    info.innerHTML =
      `<div class="enemy-name">${escapeHtml(e.card.text)}</div>` +
      `<div class="bar" role="meter" aria-label="Health" aria-valuemin="0" aria-valuemax="${maxHealth}" aria-valuenow="${e.health}">` +
      `<span></span></div>` +
      `<div>Health <strong data-testid="enemy-health">${e.health}</strong> / ${maxHealth}</div>` +
      `<div>Attack <strong>${e.attack}</strong></div>` +
      `<div>Blocked suit power: ${escapeHtml(blocked)}</div>`;
    enemyBox.append(info);
    info.querySelector(".bar span").style.width = `${(100 * Math.max(0, e.health)) / maxHealth}%`;
  } else {
    enemyBox.innerHTML = `<div class="enemy-info">No enemy left</div>`;
  }
  const castle = view.castle_left;
  $("castle").textContent = `${castle.Jack} J · ${castle.Queen} Q · ${castle.King} K`;
  $("tavern").textContent = `${view.tavern_size} cards`;
  $("discard-count").textContent = `${view.discard.length} cards`;
  $("discard").replaceChildren(...view.discard.map(miniCard));
  $("played").replaceChildren(...view.played.map(miniCard));

  // The hand of the seat whose view this is.
  const hand = $("hand");
  hand.innerHTML = "";
  const handName = view.player === human ? "Your hand" : `Player ${view.player + 1}'s hand`;
  hand.setAttribute("aria-label", handName);
  $("hand-title").textContent = handName;
  const interactive = state.mode === "play" && view.player === human;
  view.hand.forEach((card, slot) => {
    const el = cardElement(card, { slot: interactive ? slot : null });
    if (interactive) {
      el.setAttribute("aria-pressed", String(state.selected.has(slot)));
      el.addEventListener("click", () => toggle(slot));
    }
    hand.append(el);
  });
  $("hand-area").classList.toggle("readonly", !interactive);
  $("over").hidden = !view.over;
  if (view.over) {
    $("result").textContent = view.result === "Won" ? "Won!" : "Lost";
    $("final-score").textContent = String(view.score);
    $("save-record").hidden = state.mode === "replay";
  }
}

function renderLog(entries, seats) {
  const log = $("log");
  log.innerHTML = "";
  for (const entry of entries) {
    const item = document.createElement("li");
    const who = entry.player === state.table?.human ? "You" : `Player ${entry.player + 1}`;
    item.innerHTML = `<span class="who p${entry.player}">${who}</span> ${escapeHtml(entry.action)}` +
      (entry.outcome ? `<span class="outcome"> — ${escapeHtml(entry.outcome)}</span>` : "");
    log.append(item);
  }
  log.scrollTop = log.scrollHeight;
}

function renderStatus(message) {
  const view = message.view;
  const status = $("status");
  let text;
  let key;
  if (message.error) {
    [text, key] = [message.error, "error"];
  } else if (view.over) {
    [text, key] = [`The game is ${view.result === "Won" ? "won" : "lost"}: score ${view.score}.`, "over"];
  } else if (state.mode === "play" && view.to_move === message.human) {
    if (view.phase === "discard") [text, key] = [`Discard cards worth at least ${view.owed}.`, "discard"];
    else if (view.phase === "jester") [text, key] = ["Choose who moves next.", "jester"];
    else [text, key] = ["Your turn: select cards to attack, or yield.", "play"];
  } else {
    const who = message.seats[view.to_move];
    const owes = view.phase === "discard" ? ` (discarding ${view.owed})` : "";
    [text, key] = [`Player ${view.to_move + 1} (${who}) is to move${owes}…`, "waiting"];
  }
  status.textContent = text;
  status.dataset.state = key;
  status.dataset.moves = String(message.moves);
}

// ---------------------------------------------------------------- acting

function myTurn() {
  const m = state.message;
  return state.mode === "play" && m && !m.view.over && !m.error && m.view.to_move === m.human && !state.queue.length;
}

function toggle(slot) {
  if (state.selected.has(slot)) state.selected.delete(slot);
  else state.selected.add(slot);
  renderActions(state.message);
  for (const el of $("hand").querySelectorAll(".card")) {
    el.setAttribute("aria-pressed", String(state.selected.has(Number(el.dataset.slot))));
  }
}

function selectionId() {
  let id = 0;
  for (const slot of state.selected) id |= 1 << slot;
  return id;
}

function renderActions(message) {
  const view = message.view;
  const live = myTurn();
  const legal = live ? view.legal : [];
  const byId = new Map(legal.map((a) => [a.id, a]));
  const cards = [...state.selected].sort((a, b) => a - b).map((s) => view.hand[s]).filter(Boolean);
  const confirm = $("confirm");
  const preview = $("preview");
  const id = selectionId();
  const chosen = cards.length ? byId.get(id) : undefined;

  $("actions").hidden = state.mode !== "play" || view.over;
  $("next-player").hidden = !(live && view.phase === "jester");
  if (live && view.phase === "discard") {
    const total = cards.reduce((s, c) => s + attackValue(c), 0);
    confirm.textContent = "Discard";
    confirm.disabled = !chosen;
    preview.textContent = `Selected ${total} of ${view.owed} owed` + (chosen ? ": enough." : total >= view.owed ? " (not a legal discard)." : ".");
    preview.dataset.legal = String(Boolean(chosen));
  } else if (live && view.phase === "play") {
    confirm.textContent = "Play";
    confirm.disabled = !chosen;
    if (!cards.length) preview.textContent = "Select one card, an Ace with one card, or 2–4 cards of one value worth 10 at most.";
    else if (chosen) preview.textContent = `${chosen.label}: ${describePlay(cards, view.enemy)}`;
    else preview.textContent = "Not a legal play: one card, an Ace with one other card, or 2–4 cards of one value worth 10 at most.";
    preview.dataset.legal = String(Boolean(chosen));
  } else {
    confirm.disabled = true;
    preview.textContent = "";
  }
  $("yield").disabled = !(live && byId.has(0) && view.phase === "play");
  const refill = legal.find((a) => a.kind === "RefillHand");
  $("refill").hidden = view.num_players !== 1;
  $("refill").disabled = !refill;
  $("refill").textContent = `Refill (${view.refills_left} left)`;
  $("hint").disabled = !live || view.phase === "jester";

  const next = $("next-player");
  next.innerHTML = "";
  if (live && view.phase === "jester") {
    for (const action of legal.filter((a) => a.kind === "ChangePlayer")) {
      const button = document.createElement("button");
      button.textContent = action.label;
      button.addEventListener("click", () => act(action.id));
      next.append(button);
    }
  }
}

async function act(id) {
  if (!myTurn()) return;
  try {
    enqueue(await api("POST", `/api/tables/${state.table.id}/actions`, { action: id }));
  } catch (err) {
    $("status").textContent = err.message;
  }
}

async function hint() {
  const list = $("hints");
  list.hidden = false;
  list.innerHTML = "<li>Searching…</li>";
  try {
    const { ranked } = await api("POST", `/api/tables/${state.table.id}/hint`);
    list.innerHTML = "";
    for (const item of ranked.slice(0, 6)) {
      const li = document.createElement("li");
      li.innerHTML = `<span>${escapeHtml(item.label)}</span><span class="num">${item.visits} visits</span><span class="num">mean ${item.mean_score.toFixed(2)}</span>`;
      li.title = "Select these cards";
      li.addEventListener("click", () => {
        state.selected = new Set([...Array(8).keys()].filter((s) => item.id < 256 && item.id >> s & 1));
        renderView(state.message.view, state.message.seats, state.message.human, null);
        renderActions(state.message);
      });
      list.append(li);
    }
  } catch (err) {
    list.innerHTML = `<li class="error">${escapeHtml(err.message)}</li>`;
  }
}

async function saveRecord() {
  const text = await api("GET", `/api/tables/${state.table.id}/record`);
  download(typeof text === "string" ? text : JSON.stringify(text), `vardelic-${state.table.id.slice(0, 8)}.json`);
}

function download(text, name) {
  const url = URL.createObjectURL(new Blob([text + "\n"], { type: "application/json" }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

// ---------------------------------------------------------------- watch

async function watchStep() {
  if (!state.table || state.message?.view.over) return false;
  try {
    const message = await api("POST", `/api/tables/${state.table.id}/step${viewSeatParam().replace("&", "?")}`);
    enqueue(message);
    return !message.view.over;
  } catch (err) {
    $("status").textContent = err.message;
    return false;
  }
}

async function watchPlay() {
  if (state.watching) return;
  state.watching = true;
  while (state.watching && (await watchStep())) {
    await new Promise((resolve) => setTimeout(resolve, Number($("delay").value)));
  }
  state.watching = false;
}

function stopWatching() {
  state.watching = false;
}

// ---------------------------------------------------------------- replay

async function readRecordFile() {
  const file = $("record-file").files[0];
  if (!file) return;
  const lines = (await file.text()).split("\n").map((l) => l.trim()).filter(Boolean);
  state.records = lines;
  const select = $("record-game");
  select.innerHTML = "";
  lines.forEach((line, index) => {
    let label = `Game ${index + 1}`;
    try {
      const r = JSON.parse(line);
      label += `: ${(r.seats || []).join(", ")} · seed ${r.seed} · score ${r.score}`;
    } catch { label += " (not JSON)"; }
    select.add(new Option(label, String(index)));
  });
  $("record-game-label").hidden = lines.length < 2;
}

async function openRecord() {
  $("replay-error").textContent = "";
  const line = state.records[Number($("record-game").value || 0)];
  if (!line) {
    $("replay-error").textContent = "Choose a record file first.";
    return;
  }
  try {
    state.table = null;
    const replay = await api("POST", "/api/replays", { record: line });
    state.replay = { ...replay, pos: 0 };
  } catch (err) {
    $("replay-error").textContent = err.message;
    return;
  }
  $("setup").hidden = true;
  $("table").hidden = false;
  $("watch-controls").hidden = true;
  $("replay-controls").hidden = false;
  $("delay-label").hidden = true;
  $("view-label").hidden = false;
  $("hints").hidden = true;
  state.message = null;
  $("view-seat").innerHTML = "";
  renderSeatChoice(state.replay.num_players, true);
  $("view-seat").value = "all";
  $("r-slider").max = String(state.replay.frames.length - 1);
  showFrame(0);
}

function showFrame(pos) {
  const r = state.replay;
  r.pos = Math.max(0, Math.min(pos, r.frames.length - 1));
  const frame = r.frames[r.pos];
  const choice = $("view-seat").value;
  const all = choice === "all";
  const seat = all ? (frame.views[0].over ? 0 : frame.views[0].to_move) : Number(choice);
  const view = frame.views[seat];
  renderView(view, r.seats, null, all ? frame.views.map((v) => v.hand) : null);
  const log = r.frames.slice(1, r.pos + 1).map((f) => f.log);
  renderLog(log, r.seats);
  const status = $("status");
  status.dataset.state = view.over ? "over" : "replay";
  status.textContent = view.over
    ? `The game is ${view.result === "Won" ? "won" : "lost"}: score ${view.score}.`
    : `Player ${view.to_move + 1} (${r.seats[view.to_move] ?? ""}) is to move.`;
  $("actions").hidden = true;
  $("next-player").hidden = true;
  $("preview").textContent = "";
  $("r-pos").textContent = `move ${r.pos} / ${r.frames.length - 1}`;
  $("r-slider").value = String(r.pos);
}

// ---------------------------------------------------------------- wiring

function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

function init() {
  for (const tab of document.querySelectorAll("[role=tab]")) {
    tab.addEventListener("click", () => setMode(tab.dataset.mode));
  }
  $("num-players").addEventListener("change", renderSeatSpecs);
  $("my-seat").addEventListener("change", renderSeatSpecs);
  $("new-table").addEventListener("submit", startTable);
  $("confirm").addEventListener("click", () => act(selectionId()));
  $("yield").addEventListener("click", () => act(0));
  $("refill").addEventListener("click", () => act(256));
  $("hint").addEventListener("click", hint);
  $("save-record").addEventListener("click", saveRecord);
  $("again").addEventListener("click", () => setMode(state.mode === "replay" ? "replay" : state.mode));
  $("delay").addEventListener("input", () => { $("delay-out").textContent = `${$("delay").value} ms`; });
  $("w-play").addEventListener("click", watchPlay);
  $("w-pause").addEventListener("click", stopWatching);
  $("w-step").addEventListener("click", () => { stopWatching(); watchStep(); });
  $("view-seat").addEventListener("change", () => {
    if (state.mode === "replay") showFrame(state.replay.pos);
    else if (state.table) connect();
  });
  $("record-file").addEventListener("change", readRecordFile);
  $("open-record").addEventListener("click", openRecord);
  $("r-first").addEventListener("click", () => showFrame(0));
  $("r-back").addEventListener("click", () => showFrame(state.replay.pos - 1));
  $("r-forward").addEventListener("click", () => showFrame(state.replay.pos + 1));
  $("r-last").addEventListener("click", () => showFrame(Infinity));
  $("r-slider").addEventListener("input", () => showFrame(Number($("r-slider").value)));
  document.addEventListener("keydown", (event) => {
    if (state.mode !== "replay" || !state.replay || $("table").hidden) return;
    if (event.key === "ArrowLeft") showFrame(state.replay.pos - 1);
    if (event.key === "ArrowRight") showFrame(state.replay.pos + 1);
  });
  setMode("play");
}

init();
