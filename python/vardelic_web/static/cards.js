// Cards drawn with CSS, and what a selection of cards would do against the current enemy.

const SYMBOL = { Spades: "♠", Hearts: "♥", Diamonds: "♦", Clubs: "♣" };
const ATTACK = {
  Jester: 0, Ace: 1, Two: 2, Three: 3, Four: 4, Five: 5, Six: 6, Seven: 7, Eight: 8,
  Nine: 9, Ten: 10, Jack: 10, Queen: 15, King: 20,
};

export const attackValue = (card) => ATTACK[card.value];

function rankText(card) {
  if (card.value === "Jester") return "★";
  return card.text.replace(/^[♠♥♦♣]/, "");
}

// A card element: a <button> when `slot` is given (selectable), else a <div>.
export function cardElement(card, { slot = null, size = "" } = {}) {
  const el = document.createElement(slot === null ? "div" : "button");
  const suit = card.suit ? card.suit.toLowerCase() : "jester";
  el.className = `card ${suit} ${size}`.trim();
  el.setAttribute("aria-label", card.value === "Jester" ? "Jester" : card.text);
  el.dataset.value = card.value;
  if (slot !== null) {
    el.type = "button";
    el.dataset.slot = slot;
    el.setAttribute("aria-pressed", "false");
  }
  const symbol = card.suit ? SYMBOL[card.suit] : "★";
  const royal = ["Jack", "Queen", "King"].includes(card.value);
  el.innerHTML =
    `<span class="corner tl">${rankText(card)}<br>${card.suit ? symbol : ""}</span>` +
    `<span class="face${royal ? " royal" : ""}">${card.value === "Jester" ? "JESTER" : royal ? rankText(card) : symbol}</span>` +
    `<span class="corner br">${rankText(card)}<br>${card.suit ? symbol : ""}</span>`;
  return el;
}

export function miniCard(card) {
  const el = document.createElement("span");
  el.className = `mini ${card.suit ? card.suit.toLowerCase() : "jester"}`;
  el.textContent = card.value === "Jester" ? "★" : card.text;
  return el;
}

// What playing `cards` would do: attack value, damage, the suit powers that act, the outcome.
export function describePlay(cards, enemy) {
  const total = cards.reduce((sum, c) => sum + attackValue(c), 0);
  if (cards.some((c) => c.value === "Jester")) {
    return "Jester: the enemy loses its immunity, no counter-attack; you name who moves next.";
  }
  if (!enemy) return `Attack ${total}.`;
  const blocked = enemy.suit_blocked ? enemy.card.suit : null;
  const suits = [...new Set(cards.map((c) => c.suit))].filter(Boolean);
  const powers = [];
  let damage = total;
  let attack = enemy.attack;
  for (const suit of ["Spades", "Hearts", "Diamonds", "Clubs"]) {
    if (!suits.includes(suit)) continue;
    if (suit === blocked) {
      powers.push(`${SYMBOL[suit]} blocked`);
      continue;
    }
    if (suit === "Spades") { attack = Math.max(0, attack - total); powers.push(`♠ shield ${total}`); }
    if (suit === "Hearts") powers.push(`♥ ${total} from discard to tavern`);
    if (suit === "Diamonds") powers.push(`♦ draw ${total}`);
    if (suit === "Clubs") { damage = 2 * total; powers.push("♣ double damage"); }
  }
  let outcome;
  if (damage > enemy.health) outcome = "defeats it";
  else if (damage === enemy.health) outcome = "defeats it exactly (it joins the tavern)";
  else if (attack === 0) outcome = `leaves ${enemy.health - damage} health; it cannot strike back`;
  else outcome = `leaves ${enemy.health - damage} health; it strikes back for ${attack}`;
  return `Attack ${total}, damage ${damage}${powers.length ? " · " + powers.join(" · ") : ""} · ${outcome}.`;
}
