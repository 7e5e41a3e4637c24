"""Computer players beyond the built-in ones, seated through the Python player protocol.

`ISMCTSPlayer` searches one information-set tree per decision; seat it in a
`vardelic.VardelicGame` like any Python player, or in vardelic-arena as `ismcts(...)`.

`ClairvoyantPlayer` is the same search on the true state, every hidden card seen: a
yardstick of how far the honest player is from what perfect information reaches
(vardelic-arena: `clairvoyant(...)`), not a player to seat against people.
"""

from ._native import ClairvoyantPlayer, ISMCTSPlayer

__all__ = ["ClairvoyantPlayer", "ISMCTSPlayer"]
