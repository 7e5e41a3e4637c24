#pragma once

// Game-independent Monte-Carlo tree search, run by several threads on one lock-free tree.
// Include this header; the engine is split so that each part can be read on its own:
//
//   search/config.h   the configuration contract: what a configuration type M names (state,
//                     evaluator, tree policy, transposition table, evaluations, per-node and
//                     per-thread data) and answers (virtual loss, expansion threshold, node
//                     limit, playout length, cycle behaviour); the engine sees the game only
//                     through M
//   search/node.h     the node and edge layout: SearchNode, its edges (MoveInfo), NodeHandle
//   search/tree.h     SearchTree: the playout, with its expansion and backup
//   search/manager.h  MCTSManager: owns one tree and runs playouts on worker threads
//
// Tree layout. The tree owns the root; every other node is owned by the one edge whose `owned`
// flag is set (or by the orphaned list). Each node is a single allocation holding the node and,
// right behind it, its edges (and, for compact moves, their codes after the last edge), so
// creating a node costs one allocation:
//
//   SearchTree ── root ──> [ SearchNode | MoveInfo 0 | MoveInfo 1 | MoveInfo 2 | codes ]
//                                            │ child (owned)          │ child (owned)
//                                            v                        v
//                                [ SearchNode | MoveInfo 0 ]   [ SearchNode ]  (terminal: no moves)
//
// Nodes are only ever added while the tree exists, so a pointer read from `child` stays valid for
// the whole search; there is no ABA problem and no hazard pointer.
//
// Flow of a parallel run:
//
//   MCTSManager::playout_n_parallel(n, threads)
//     └─ each worker thread, until n playouts are handed out:
//          SearchTree::playout
//            1. descend: at each node M::Policy::choose_child picks an edge (adding a visit and
//               the virtual loss to it) and the state makes its move; the descent stops at a
//               terminal node, after max_playout_length moves, on a cycle, or at a node with no
//               more than visits_before_expansion visits
//            2. expand: an edge without a child gets one node, evaluated by
//               M::Eval::evaluate_new_state and published by a compare-exchange on the edge
//               (or taken from M::Table); a thread that loses the race releases its node
//            3. evaluate: a created node keeps the evaluation it was built with; otherwise
//               evaluate_existing_state evaluates the state where the descent stopped
//            4. back up: every step of the path takes the evaluation's value for the player
//               who moved into it
//     └─ after joining, with more than one thread: edges take their children's statistics
//        (SearchTree::sync_edge_statistics)

#include "search/config.h"
#include "search/manager.h"
#include "search/node.h"
#include "search/tree.h"
