"""ClairvoyantPlayer, the yardstick that sees every card, and the ISMCTSPlayer re-deal setting."""

import io
import statistics

import pytest
from rich.console import Console
from vardelic_arena import evaluate, parse_team
from vardelic_arena.report import SEES_HIDDEN_NOTE, print_summary
from vardelic_arena.teams import ClairvoyantSeat, ISMCTSSeat, TeamError, check_team

vardelic = pytest.importorskip("vardelic")
agents = pytest.importorskip("vardelic_agents")


def moves(make, seed, players=2):
    """Every (legal actions, chosen action) of one game seated with make(seat)."""
    turns = []

    class Logged:
        def __init__(self, player):
            self.player = player

        def play(self, state):
            action = self.player.play(state)
            turns.append((state.action_space(), action))
            return action

    game = vardelic.VardelicGame([Logged(make(i)) for i in range(players)], seed)
    game.playout()
    return game.reward(), turns


def test_clairvoyant_moves_are_legal_and_repeat_with_a_seed():
    def make(i):
        return agents.ClairvoyantPlayer(iterations=40, seed=i)

    reward, turns = moves(make, 3)
    assert turns and all(action in legal for legal, action in turns)
    assert [str(a) for _, a in moves(make, 3)[1]] == [str(a) for _, a in turns]


def test_clairvoyant_is_its_own_class_and_honest_players_cannot_ask_for_it():
    player = agents.ClairvoyantPlayer(iterations=5)
    assert not isinstance(player, agents.ISMCTSPlayer)
    assert repr(player).startswith("ClairvoyantPlayer(iterations=5,")
    assert "yardstick" in type(player).__doc__
    assert "redeal='pooled'" in repr(agents.ISMCTSPlayer(redeal="pooled"))
    for bad in ("none", "all"):
        with pytest.raises(ValueError, match="redeal must be 'hidden' or 'pooled'"):
            agents.ISMCTSPlayer(redeal=bad)
    with pytest.raises(TypeError):
        agents.ClairvoyantPlayer(redeal="hidden")
    with pytest.raises(TypeError):
        agents.ISMCTSPlayer(sees="hands")
    assert "sees='hands'" in repr(agents.ClairvoyantPlayer(sees="hands"))
    with pytest.raises(ValueError, match="sees must be 'all' or 'hands'"):
        agents.ClairvoyantPlayer(sees="deck")


def test_clairvoyant_beats_random_play_on_a_few_deals():
    def mean_score(make):
        return statistics.mean(moves(make, 700 + seed)[0] for seed in range(5))

    seeing = mean_score(lambda i: agents.ClairvoyantPlayer(iterations=300, seed=i))
    random = mean_score(lambda i: vardelic.players.RandomPlayer(seed=i))
    assert seeing >= random + 3, (seeing, random)


@pytest.mark.parametrize(
    "text, seat",
    [
        ("clairvoyant", ClairvoyantSeat()),
        ("Clairvoyant(time_ms=20)", ClairvoyantSeat((("time_ms", 20.0),))),
        ("ismcts(redeal=Pooled)", ISMCTSSeat((("redeal", "pooled"),))),
        ("ismcts(partners=Heuristic)", ISMCTSSeat((("partners", "heuristic"),))),
        ("ismcts(branch=Enemy)", ISMCTSSeat((("branch", "enemy"),))),
        (
            "clairvoyant(sees=Hands,iterations=9)",
            ClairvoyantSeat((("iterations", 9), ("sees", "hands"))),
        ),
    ],
)
def test_seats_parse_and_round_trip(text, seat):
    team = parse_team(text)
    assert team.seats == (seat,)
    assert parse_team(team.name) == team
    assert team.sees_hidden == isinstance(seat, ClairvoyantSeat)
    assert ClairvoyantSeat() != ISMCTSSeat()


@pytest.mark.parametrize(
    "text, message",
    [
        ("clairvoyant(redeal=hidden)", "takes no redeal"),
        ("clairvoyant(depth=2)", "unknown ismcts setting"),
        ("ismcts(redeal=never)", "redeal must be 'hidden' or 'pooled'"),
        ("ismcts(partners=oracle)", "partners must be 'search' or 'heuristic'"),
        ("ismcts(branch=hand)", "branch must be 'none' or 'enemy'"),
        ("clairvoyant(sees=deck)", "must be all or hands"),
        ("clairvoyant(sees=all,sees=hands)", "given twice"),
        ("ismcts(sees=hands)", "unknown ismcts setting"),
    ],
)
def test_bad_seats_are_refused_before_any_game(text, message):
    with pytest.raises(TeamError, match=message):
        check_team(parse_team(text))


def test_the_arena_marks_a_team_that_sees_hidden_cards():
    run = evaluate(
        ["ismcts(iterations=20)", "clairvoyant(iterations=20)"],
        2,
        seed=5,
        workers=0,
        progress=False,
    )
    assert all(r["error"] is None for r in run.records)
    assert [t.sees_hidden for t in run.summary.teams] == [False, True]
    assert run.summary.to_dict()["teams"][1]["sees_hidden"] is True
    out = io.StringIO()
    print_summary(run.summary, Console(file=out, width=200))
    text = out.getvalue()
    assert "clairvoyant(iterations=20) †" in text and SEES_HIDDEN_NOTE in text
    assert "ismcts(iterations=20) †" not in text
