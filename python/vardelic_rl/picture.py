"""The table as a picture: what the player to move sees, drawn from its observation.

:func:`draw` turns one observation (``vardelic_rl.OBSERVATION_LAYOUT``) into an ``H x W x 3``
uint8 array: the seat's hand card by card, the enemy with its health and attack, the tavern,
castle and discard piles, the cards played against the enemy and the other hands' sizes. The
observation holds exactly what the seat may know, so the picture shows nothing more. The
environments' ``render_mode="rgb_array"`` returns it. Card faces and strings are rasterised
once and pasted after, so a frame costs a few milliseconds, enough for video recording.
"""

from __future__ import annotations

import functools

import numpy as np
from PIL import Image, ImageDraw, ImageFont

import vardelic_rl

WIDTH, HEIGHT = 640, 400  # multiples of 16, as video encoders prefer

_FIELDS = {name: (offset, length) for name, offset, length, _ in vardelic_rl.OBSERVATION_LAYOUT}

SUITS = "SHDC"
# Index 0 of a hand slot's value one-hot is the jester.
VALUES = ("Jester", "A", "2", "3", "4", "5", "6", "7", "8", "9", "10", "J", "Q", "K")
RANKS = ("J", "Q", "K")
FULL_HEALTH = (20, 30, 40)
PHASES = ("Attack or yield", "Discard cards worth at least {owed}", "Name the next player")

FELT = (31, 92, 58)
INK = (240, 240, 232)
DIM = (170, 200, 180)
CARD = (250, 248, 240)
CARD_EDGE = (60, 60, 60)
BACK = (52, 70, 140)
RED = (200, 30, 40)
BLACK = (25, 25, 25)
HEALTH = (210, 60, 50)
GOLD = (235, 190, 60)


@functools.cache
def _font(size: int) -> ImageFont.FreeTypeFont | ImageFont.ImageFont:
    return ImageFont.load_default(size=size)


@functools.cache
def _background() -> Image.Image:
    image = Image.new("RGB", (WIDTH, HEIGHT), FELT)
    pen = ImageDraw.Draw(image)
    pen.rectangle((0, 0, WIDTH, 34), fill=(20, 60, 38))
    pen.line((0, 262, WIDTH, 262), fill=(45, 115, 75), width=2)
    return image


def _field(observation: np.ndarray, name: str) -> np.ndarray:
    offset, length = _FIELDS[name]
    return observation[offset : offset + length]


def _pip(pen: ImageDraw.ImageDraw, x: float, y: float, r: float, suit: int) -> None:
    """A suit sign centred on (x, y), about 2r wide."""
    color = RED if suit in (1, 2) else BLACK
    if suit == 2:  # diamond
        pen.polygon([(x, y - r), (x + 0.75 * r, y), (x, y + r), (x - 0.75 * r, y)], fill=color)
        return
    h = r * 0.5
    if suit == 3:  # club: three leaves and a stem
        for cx, cy in ((x, y - 0.45 * r), (x - 0.5 * r, y + 0.2 * r), (x + 0.5 * r, y + 0.2 * r)):
            pen.ellipse((cx - h, cy - h, cx + h, cy + h), fill=color)
        pen.polygon([(x, y), (x - 0.35 * r, y + r), (x + 0.35 * r, y + r)], fill=color)
        return
    # heart, and the spade as a heart upside down with a stem
    sign = 1 if suit == 1 else -1
    top = y - sign * 0.3 * r
    for cx in (x - h, x + h):
        pen.ellipse((cx - h, top - h, cx + h, top + h), fill=color)
    pen.polygon(
        [(x - r, top + sign * 0.1 * r), (x + r, top + sign * 0.1 * r), (x, y + sign * r)],
        fill=color,
    )
    if suit == 0:
        pen.polygon([(x, y), (x - 0.35 * r, y + r), (x + 0.35 * r, y + r)], fill=color)


@functools.lru_cache(maxsize=256)
def _card_sprite(value: str, suit: int | None, width: int, height: int) -> Image.Image:
    """A face-up card, drawn once per kind and size (RGBA: the corners are clear)."""
    sprite = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    pen = ImageDraw.Draw(sprite)
    pen.rounded_rectangle(
        (0, 0, width - 1, height - 1), radius=max(3, width // 10), fill=CARD, outline=CARD_EDGE
    )
    if suit is None:
        pen.text(
            (width / 2, height / 2),
            "JESTER",
            font=_font(max(9, width // 5)),
            fill=(120, 40, 140),
            anchor="mm",
        )
        return sprite
    color = BLACK if suit in (0, 3) else RED
    pen.text((width * 0.1, width * 0.06), value, font=_font(max(10, int(width * 0.38))), fill=color)
    _pip(pen, width / 2, height * 0.66, width * 0.22, suit)
    return sprite


def _card(image: Image.Image, box, value: str, suit: int | None) -> None:
    """A face-up card in ``box``; ``suit`` None for the jester."""
    x0, y0, x1, y1 = box
    sprite = _card_sprite(value, suit, x1 - x0, y1 - y0)
    image.paste(sprite, (x0, y0), sprite)


@functools.lru_cache(maxsize=1024)
def _text_mask(text: str, size: int, anchor: str) -> tuple[Image.Image, int, int]:
    font = _font(size)
    left, top, right, bottom = font.getbbox(text, anchor=anchor)
    mask = Image.new("L", (max(1, right - left), max(1, bottom - top)), 0)
    ImageDraw.Draw(mask).text((-left, -top), text, font=font, fill=255, anchor=anchor)
    return mask, left, top


def _text(image: Image.Image, xy, text: str, size: int, color, anchor: str = "la") -> None:
    """Text at ``xy``; each string is rasterised once (most repeat from frame to frame)."""
    mask, left, top = _text_mask(text, size, anchor)
    image.paste(color, (int(xy[0]) + left, int(xy[1]) + top), mask)


def _back(pen, box) -> None:
    pen.rounded_rectangle(box, radius=3, fill=BACK, outline=(200, 200, 220))


def _kind(kind: int) -> tuple[str, int | None]:
    """(value text, suit) of a card kind: suit * 13 + value - 1, 52 for the jester."""
    if kind == 52:
        return VALUES[0], None
    return VALUES[kind % 13 + 1], kind // 13


def _kinds(counts: np.ndarray) -> list[int]:
    return [int(k) for k in np.flatnonzero(counts) for _ in range(int(counts[k]))]


def draw(observation: np.ndarray, player: int = 0, outcome: str | None = None) -> np.ndarray:
    """The table as ``player`` sees it in ``observation``; ``outcome`` ("Won", "Lost") once over.

    Returns a fresh ``HEIGHT x WIDTH x 3`` uint8 array.
    """
    obs = np.asarray(observation, dtype=np.float32)
    if obs.shape != (vardelic_rl.OBSERVATION_SIZE,):
        raise ValueError(
            f"observation must have shape ({vardelic_rl.OBSERVATION_SIZE},), got {obs.shape}"
        )
    image = _background().copy()
    pen = ImageDraw.Draw(image)
    num_players = int(np.argmax(_field(obs, "num_players"))) + 1
    score = int(_field(obs, "enemies_defeated")[0])

    # Header: whose view, and the score.
    plural = "s" if num_players > 1 else ""
    _text(
        image, (12, 17), f"Player {player} to move  ·  {num_players} player{plural}", 17, INK, "lm"
    )
    _text(image, (WIDTH - 12, 17), f"Enemies defeated {score} / 12", 17, GOLD, "rm")

    # The enemy: its card, health and attack, immunity.
    _text(image, (20, 44), "Enemy", 15, DIM)
    if _field(obs, "enemy_present")[0]:
        rank, suit = divmod(int(np.argmax(_field(obs, "enemy_card"))), 4)
        _card(image, (20, 64, 110, 190), RANKS[rank], suit)
        health = float(_field(obs, "enemy_health")[0])
        _text(image, (122, 68), f"Health {health:g}", 16, INK)
        pen.rectangle((122, 92, 202, 100), outline=INK)
        pen.rectangle((122, 92, 122 + 80 * min(1.0, health / FULL_HEALTH[rank]), 100), fill=HEALTH)
        _text(image, (122, 110), f"Attack {int(_field(obs, 'enemy_attack')[0])}", 16, INK)
        if _field(obs, "enemy_jester_applied")[0]:
            _text(image, (122, 140), "jester: no immunity", 13, DIM)
        else:
            _text(image, (122, 140), "immune to", 13, DIM)
            _pip(pen, 196, 148, 8, suit)
    else:
        _text(image, (20, 80), "none", 16, INK)

    # The piles and the cards played against the enemy.
    tavern, discard, attack_count, castle = (int(v) for v in _field(obs, "pile_sizes"))
    jacks, queens, kings = (int(v) for v in _field(obs, "enemies_left_by_rank"))
    x = 236
    _text(image, (x, 44), f"Tavern deck  {tavern}", 15, INK)
    _text(image, (x, 65), f"Castle  {castle} enemies, this one included", 15, INK)
    _text(image, (x, 86), f"to beat: J {jacks}   Q {queens}   K {kings}", 14, DIM)
    _text(image, (x, 107), f"Discard pile  {discard}", 15, INK)
    _text(image, (x, 134), f"Played against the enemy  {attack_count}", 15, INK)
    played = _kinds(_field(obs, "attack_cards"))
    for i, kind in enumerate(played[:7]):
        _card(image, (x + 34 * i, 156, x + 32 + 34 * i, 204), *_kind(kind))
    if len(played) > 7:
        _text(image, (x + 34 * 7 + 2, 180), f"+{len(played) - 7}", 15, INK, "lm")

    # The other hands, by seat.
    _text(image, (490, 44), "Other hands" if num_players > 1 else "Solo", 15, DIM)
    sizes = _field(obs, "other_hand_sizes")
    for k in range(1, num_players):
        y = 66 + 44 * (k - 1)
        count = int(sizes[k - 1])
        cards = "card" if count == 1 else "cards"
        _text(image, (490, y), f"Player {(player + k) % num_players}: {count} {cards}", 14, INK)
        for c in range(count):
            pen.rounded_rectangle(
                (490 + 14 * c, y + 19, 501 + 14 * c, y + 35),
                radius=2,
                fill=BACK,
                outline=(200, 200, 220),
            )
    if num_players == 1:
        _text(image, (490, 66), f"Refills left: {int(_field(obs, 'refills_left')[0])}", 14, INK)
    yielded = int(_field(obs, "times_yielded")[0])
    if yielded:
        _text(image, (490, 200), f"Yields in a row: {yielded}", 13, DIM)

    # What is owed now, then the hand.
    if outcome is None:
        phase = int(np.argmax(_field(obs, "phase")))
        owed = int(_field(obs, "discard_owed")[0])
        _text(image, (20, 226), PHASES[phase].format(owed=owed), 18, GOLD)
    hand_value = int(_field(obs, "hand_value")[0])
    _text(image, (20, 270), f"Hand of player {player}  (attack value {hand_value})", 15, DIM)
    slots = _field(obs, "hand_slots").reshape(8, 18)
    for slot in range(int(_field(obs, "hand_size")[0])):
        bits = slots[slot]
        suit = int(np.argmax(bits[:4])) if bits[:4].any() else None
        x0 = 20 + 76 * slot
        _card(image, (x0, 294, x0 + 68, 392), VALUES[int(np.argmax(bits[4:]))], suit)

    if outcome is not None:
        pen.rounded_rectangle(
            (150, 140, 490, 250), radius=10, fill=(20, 40, 30), outline=GOLD, width=3
        )
        _text(image, (320, 178), outcome, 32, GOLD, "mm")
        _text(image, (320, 222), f"{score} of 12 enemies defeated", 17, INK, "mm")
    return np.asarray(image)


def draw_game(game: vardelic_rl.Game, player: int | None = None) -> np.ndarray:
    """The picture of ``game`` from ``player``'s seat (default: the player to move)."""
    seat = game.current_player() if player is None else player
    outcome = None if game.result is None else game.result.name  # "Won" or "Lost"
    return draw(game.observation(seat), seat, outcome)
