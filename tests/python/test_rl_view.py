"""Game.view: plain JSON data, only what the seat may know, and the legal moves of the mover."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest
import vardelic_rl as rl
from vardelic_rl._vardelic_rl import _deal_hidden

KINDS = {"Play", "AnimalCombo", "Combo", "Yield", "Discard", "ChangePlayer", "RefillHand"}
SUITS = {"Spades": "♠", "Hearts": "♥", "Diamonds": "♦", "Clubs": "♣"}
NAMES = ["Ace", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine", "Ten"]
SHORT = dict(zip(NAMES, ["A", *map(str, range(2, 11))], strict=True)) | {
    "Jack": "J", "Queen": "Q", "King": "K"
}  # fmt: skip


def positions(num_players, games):
    rng = np.random.default_rng(num_players)
    for seed in range(games):
        game = rl.Game(num_players, seed=1000 + seed)
        while not game.done:
            yield game
            game.step(int(rng.choice(np.flatnonzero(game.action_mask()))))


def cards_in(value):
    """Every card dict anywhere in a view."""
    if isinstance(value, dict):
        if set(value) == {"suit", "value", "text"}:
            yield value
        else:
            for item in value.values():
                yield from cards_in(item)
    elif isinstance(value, list):
        for item in value:
            yield from cards_in(item)


def key(card):
    return (card["suit"], card["value"])


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_a_view_holds_no_hidden_card_and_survives_a_redeal_of_what_is_hidden(num_players):
    redeals_seen_by_others = 0
    for game in positions(num_players, 25):
        views = [game.view(seat) for seat in range(num_players)]
        hands = [{key(c) for c in view["hand"]} for view in views]
        mover = game.current_player()
        assert [c["text"] for c in views[mover]["hand"]] == [
            str(c) for c in game.state().current_hand()
        ]
        for seat, view in enumerate(views):
            assert json.loads(json.dumps(view)) == view
            # Two jesters are one kind of card: one seat's jester says nothing of another's.
            others = set().union(*(h for s, h in enumerate(hands) if s != seat))
            others.discard((None, "Jester"))
            assert not others & {key(c) for c in cards_in(view)}, (seat, view)
            assert view["hand_sizes"][seat] == len(view["hand"])
            redealt = _deal_hidden(game, seat, seed=len(view["discard"]) + seat)
            seen = redealt.view(seat)
            if redealt.done:
                # The re-deal gave the mover a hand that cannot pay the discard it owes: a world
                # the rules end a move earlier, which a game picked up there counts as lost.
                assert seat != mover and view["phase"] == "discard"
                seen.update(over=False, result=None)
            assert seen == view
            redeals_seen_by_others += any(
                redealt.view(s) != views[s] for s in range(num_players) if s != seat
            )
    # The re-deal moved hidden cards (the check above is not met by a copy).
    assert num_players == 1 or redeals_seen_by_others > 0


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_only_the_mover_sees_the_legal_moves_in_id_order(num_players):
    for game in positions(num_players, 10):
        view = game.view()
        assert view["player"] == view["to_move"] == game.current_player()
        ids = [move["id"] for move in view["legal"]]
        assert ids == sorted(game.legal_actions())
        hand = [key(c) for c in view["hand"]]
        for move in view["legal"]:
            assert move["kind"] in KINDS
            assert move["label"] == rl.describe(move["id"], game)
            if 1 <= move["id"] <= 255:  # the id's bits are the slots of the move's cards
                slots = [hand[i] for i in range(len(hand)) if move["id"] >> i & 1]
                assert sorted(map(key, move["cards"]), key=str) == sorted(slots, key=str)
            else:
                assert move["cards"] == []
            if move["cards"]:
                texts = " + ".join(c["text"] for c in move["cards"])
                assert move["label"].endswith(texts)
        for card in view["hand"]:
            expected = (
                "Jester" if card["suit"] is None else SUITS[card["suit"]] + SHORT[card["value"]]
            )
            assert card["text"] == expected and (card["suit"] is None) == (
                card["value"] == "Jester"
            )
        assert rl.state_view(game.state()) == view
        for seat in range(num_players):
            if seat != view["to_move"]:
                assert game.view(seat)["legal"] == []


def test_a_finished_game_says_its_result_and_score():
    game = rl.Game(1, seed=2)
    while not game.done:
        game.step(min(game.legal_actions()))
    view = game.view()
    assert view["over"] and view["legal"] == []
    assert (view["result"], view["score"]) == (game.result.name, game.reward)
    assert sum(view["castle_left"].values()) == 12 - view["level"]


def test_view_texts_carry_no_colour_codes_when_card_texts_do():
    script = (
        "import json, vardelic, vardelic_rl as rl; g = rl.Game(4, seed=1); "
        "print(json.dumps([str(c) for c in g.state().current_hand()])); "
        "print(json.dumps(g.view(), ensure_ascii=False))"
    )
    env = {k: v for k, v in os.environ.items() if k != "NO_COLOR"} | {"CLICOLOR_FORCE": "1"}
    done = subprocess.run(
        [sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True
    )
    coloured, view = done.stdout.splitlines()
    assert "\\u001b[" in coloured  # colours are on in that process
    assert "\x1b" not in view and "\\u001b" not in view and any(s in view for s in "♠♥♦♣")


def test_bad_seats_and_ids_are_refused():
    game = rl.Game(2, seed=1)
    with pytest.raises(ValueError, match="player 2 is not at a table of 2"):
        game.view(2)
    with pytest.raises(TypeError, match="player must be None or an int"):
        game.view("0")
    with pytest.raises(ValueError, match="action id 300 is not legal"):
        rl.describe(300, game)
    with pytest.raises(TypeError):
        rl.describe(1.0, game)
    with pytest.raises(ValueError, match="is not legal"):
        rl.describe(2**70, game)
