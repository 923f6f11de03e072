# Real engines from Debian's packages behind the filter, and a real adapter in front of it
# (the case format: relay.t), polyglot and node-uci; the last engine is a copy of Stockfish in a
# folder whose name holds a space, named by its path from the case's folder. A case whose
# programs are not installed is skipped.

=== {E} plays through the filter
only native
for E /usr/games/stockfish|/usr/games/toga2|/usr/games/glaurung|/usr/games/gnuchess --uci|"a folder with a space/stockfish"
needs {E} /usr/games/stockfish
engine-at "a folder with a space/stockfish" /usr/games/stockfish
run {E}
> uci
<~ ^id name
<~ ^option name RemoveStop@Kestrowan type check default true$
< uciok
> setoption name TimeInfo@Kestrowan value 0
> go depth 5
<~ ^info .*depth
<~ ^bestmove [a-h][1-8][a-h][1-8]

=== Stockfish handed a search and quit at once answers with its move
only native
needs /usr/games/stockfish
run /usr/games/stockfish
# TimeQuit runs from the moment quit is passed on, when Stockfish may not even have started:
# on a busy machine, or with its program not yet read from disk, its move has come seconds
# later. The move is the point here, not the kill (process.t times that): -1 sets no limit.
>raw setoption name TimeQuit@Kestrowan value -1\nuci\nposition startpos\ngo depth 12\nquit\n
<~ ^bestmove [a-h][1-8][a-h][1-8]
exit

=== node-uci, a client library from npm, drives Stockfish through the filter
only native
needs /usr/bin/node /usr/games/stockfish {tests}/node/node_modules/node-uci
command {tests}/node/kestrowan.test.js
<~ ^# pass 1$
exit

=== polyglot plays a move through the filter in front of Stockfish
only native
needs /usr/games/polyglot /usr/games/stockfish
file polyglot.ini [PolyGlot]\nEngineDir = {dir}\nEngineCommand = {filter} /usr/games/stockfish\nBook = false\n
command /usr/games/polyglot {dir}/polyglot.ini
> xboard
> protover 2
<~ ^feature option="TimeInfo@Kestrowan -spin
> new
> sd 4
> go
<~ ^move [a-h][1-8][a-h][1-8]
> quit
exit
