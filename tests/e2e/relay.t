# Transcript cases, run by run.py against the real filter. A case starts with "=== name".
#   run ARGS          the filter's arguments (default: the scripted engine alone); {engine},
#                     {enginedir}, {dir} (the case's folder), {fill:N} (an argument that makes
#                     the engine's command line N characters long), {c*N} (c, N times)
#   engine W D TEXT   the scripted engine writes TEXT and a line feed (none after a final \c;
#                     "!exit": it ends; "!spawn": it starts a copy of itself that only waits;
#                     "!escape": one that waits 3 s outside its group) D ms after a command
#                     with the first word W came
#   engine-at PATH    the engine is a copy at PATH in the case's folder
#   file PATH TEXT (executable if it starts with #!), cwd PATH, env N=V, odd (start with odd
#   signals and stray descriptors), no-stdout (the GUI has gone), command ARGS (run that
#   instead of the filter),
#   only native|wine|full|any, needs FILES, alone (run after the others, one at a time)
#   > TEXT            the GUI sends a line (>raw: bytes, no line feed); close-stdin,
#                     signal NAME; pause stdout|stderr (the GUI stops reading), resume ...,
#                     close-stdout (what a paused stdout still held is not checked), and
#                     fill stderr (the GUI fills the empty pipe; the check takes that off)
#   < TEXT            the next line of output must be TEXT (<~ REGEX: skip to a match)
#   exit [within=MS] [after=MS]  the filter ends with status 0, timed from the last step that
#                     sent; all output must have been expected (after a last <~: the rest may
#                     follow). Whatever ends it, it must leave its standard output and error
#                     blocking, as the GUI gave them. A case with no exit and no signal ends with "> isready",
#                     "< readyok", "> quit" and "exit".
#   stderr MSG        the one error line (exact if MSG starts with "FEHLER"; else any code)
#   received A|B|...  the lines the engine received, in all and in order
#   argv WORDS, log LINE|..., gone within=MS [but=filter]   the engine's arguments, lines of its
#                     log, the end of every process the case started, at any depth (checked
#                     after every case), the filter aside with but=filter
#   for V A|B|C       a case for each value: {V} is the value, {V:a|b|c} the matching one, in
#                     any step, its first word included
# Texts take \n \r \t \0 \\ \xHH.

=== every uciok comes after the filter's five options
> uci
<~ ^option name Hash type spin$
< option name TimeCurrmove@Kestrowan type spin default 1500 min 0 max 5000
< option name TimeInfo@Kestrowan type spin default 300 min 0 max 5000
< option name TimeQuit@Kestrowan type spin default 1000 min 200 max 1800
< option name RemoveNonUci@Kestrowan type check default true
< option name RemoveStop@Kestrowan type check default true
< uciok
> uci
<~ ^option name RemoveStop@Kestrowan
< uciok

=== by default plain info is held 300 ms after go, currmove info 1500 ms
alone
# Each line is 300 ms or more from the edge of a window that holds it, and the windows start
# before the engine sees go: a late line cannot fall into a window. The engine is up before go,
# so that its start, slow on a loaded machine, takes nothing from the first window.
engine go 0 info depth 1 score cp 20
engine go 550 info depth 2 score cp 25
engine go 1200 info currmove e2e4 currmovenumber 1
engine go 2000 info currmove d2d4 currmovenumber 2\nbestmove d2d4
> isready
< readyok
> go wtime 1000 btime 1000
< info depth 2 score cp 25
< info currmove d2d4 currmovenumber 2
< bestmove d2d4

=== windows of 0 hold nothing; each is its own; a 20-digit value changes nothing; a go in a search moves them
engine go 0 info depth 1\ninfo currmove e2e4 currmovenumber 1
> setoption name TimeInfo@Kestrowan value 0
> setoption name TimeCurrmove@Kestrowan value 0
> go infinite
< info depth 1
< info currmove e2e4 currmovenumber 1
> setoption name TimeCurrmove@Kestrowan value 60000
> setoption name TimeInfo@Kestrowan value 99999999999999999999
> go infinite
< info depth 1
> stop
< bestmove e2e4

=== stop reaches the engine only in a search or with RemoveStop off; own setoptions stay here; a bestmove outside a search ends none
> stop
> setoption name RemoveStop@Kestrowan value false
> setoption name Hash value 32
> setoption name TimeInfo@Kestrowan
> setoption name Style@Kestrowan value 1
> stop
< bestmove e2e4
> setoption name RemoveStop@Kestrowan value true
> go infinite
> go infinite
> stop
< bestmove e2e4
> stop
< bestmove e2e4
> stop
received setoption name Hash value 32|setoption name TimeInfo@Kestrowan|setoption name Style@Kestrowan value 1|stop
received go infinite|go infinite|stop|stop|isready|quit

=== engine chatter and empty lines go while RemoveNonUci is on, but not protocol
engine start 0 Engine 1.0 by nobody\n\ncopyprotection ok\nregistration ok\n id name x
engine say 0 Some text\n
> say
> isready
< copyprotection ok
< registration ok
<  id name x
< readyok
> setoption name RemoveNonUci@Kestrowan value false
> say
> isready
< Some text
< 
< readyok

=== lines lose trailing white space, keep all else, and leave together unchanged
engine go 0 info a  \ninfo b\ninfo c\r\n\ninfo d\t \x0b\x0c\r\ninfo {p*70000} \ninfo x \0a\rb\r\rc\x85\xa0\nbestmove e2e4
> setoption name TimeInfo@Kestrowan value 0
> go
< info a
< info b
< info c
< info d
< info {p*70000}
< info x \0a\rb\r\rc\x85\xa0
< bestmove e2e4
>raw   go depth 5 \r\n
>raw info string \x00a\rb\xe9 \x85\xa0\t\n
> 
>   
received go|  go depth 5|info string \x00a\rb\xe9 \x85\xa0|||isready|quit

=== a line of {N} bytes passes whole both ways
for N 1048576|67108864
only {N:any|full}
engine say 0 info {x*{N}}
> say
> {y*{N}}
< info {x*{N}}
received say|{y*{N}}|isready|quit
