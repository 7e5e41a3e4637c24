"""Computer players beyond the built-in ones, seated through the Python player protocol.

`ISMCTSPlayer` searches one information-set tree per decision; seat it in a
`vardelic.VardelicGame` like any Python player, or in vardelic-arena as `ismcts(...)`.
"""

from ._native import ISMCTSPlayer

__all__ = ["ISMCTSPlayer"]
