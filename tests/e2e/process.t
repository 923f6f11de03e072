# How the filter starts, ends and fails (the case format: relay.t).

=== quit ends the filter once the engine has gone, after its last words; nothing after quit reaches the engine; also without pidfd
for P with pidfd|without
env LD_PRELOAD={P:|{nopidfd}}
engine quit 0 readyok
engine quit 550 !exit
> isready
< readyok
> quit
> isready
< readyok
exit after=150 within=1500
received isready|quit
log #exit

=== a script handed over at once gets every answer in order, {E}, its last line without a line feed
for E with quit|without quit
engine uci 150 id name late\nuciok
engine isready 150 readyok
engine quit 150 !exit
engine eof 150 !exit
>raw uci\n{E:isready\nquit|isready}
close-stdin
< id name late
<~ ^option name RemoveStop@Kestrowan
< uciok
< readyok
stderr {E:|Lesefehler}
exit within=1500

=== a GUI that closes its end of the output after {E} hears of no error
for E quit|its end of input
engine uci 300 id name late\nuciok
engine quit 400 !exit
engine eof 400 !exit
> uci
{E:> quit|close-stdin}
close-stdout
stderr {E:|Lesefehler}
exit within=1500

=== {E} ends the filter in TimeQuit and 300 ms, its error line included, though the GUI reads nothing and every pipe is full
for E quit|the engine's own end|the end of input
engine go 0 id {x*100000}
engine {E:go|none|go} 0 id {y*2000000}
engine {E:none|go|none} 0 !exit
engine eof 0 !stay
> isready
< readyok
pause stdout
> go infinite
{E:> quit|> setoption name TimeInfo@Kestrowan value 0|close-stdin}
stderr {E:|Lesefehler|Lesefehler}
exit after=900 within=3000

=== an engine that ignores quit or the end of its input, or reads nothing in a search behind a full input pipe, is ended after TimeQuit, 1000 ms by default or as set, and not before
alone
for T abc|200|abc, without pidfd|abc, deep in a search|abc, input closed|200, input closed
env LD_PRELOAD={T:||{nopidfd}|||}
engine quit 0 !stay
engine eof 0 !stay
engine stop 0 !stay
engine go {T:0|0|0|60000|0|0} !stay
> setoption name TimeQuit@Kestrowan value {T:abc|200|abc|abc|abc|200}
> isready
< readyok
> go
> position startpos moves {a*1500000}
> stop
{T:> quit|> quit|> quit|> quit|close-stdin|close-stdin}
stderr {T:||||FEHLER 0; Lesefehler|FEHLER 0; Lesefehler}
exit after={T:900|150|900|900|900|150} within={T:2000|900|2000|2000|2000|900}
gone within=1000

=== an engine that ends on its own is reported at once, after what it wrote whole, though the GUI ignores SIGCHLD
odd
for E a part line last|whole lines|whole lines, without pidfd|whole lines, a process it started holding its output|whole lines, a process that left its group holding its output
only {E:any|any|any|any|native}
env LD_PRELOAD={E:||{nopidfd}||}
engine start 0 {E:!stay|!stay|!stay|!spawn|!escape}
engine go 0 bestmove e2e4{E:\nbestmove a7\c||||}
engine go 0 !exit
> go
< bestmove e2e4
stderr Lesefehler
exit within=1000

=== an engine that ends on its own while the GUI still sends has all it wrote passed on first, then its end
engine go 0 info {i*900000}\nbestmove e2e4
engine go 0 !exit
> setoption name TimeQuit@Kestrowan value 1800
> setoption name TimeInfo@Kestrowan value 0
pause stdout
> go
gone within=1000 but=filter
> isready
resume stdout
< info {i*900000}
< bestmove e2e4
stderr Lesefehler
exit within=2000

=== an engine that reads quit late has TimeQuit from then on: its answers arrive, and the filter ends with it
engine go 0 id busy
engine go 600 !stay
engine quit 700 bestmove e2e4
engine quit 700 !exit
> go infinite
< id busy
> quit
< bestmove e2e4
exit within=2000
log #exit

=== after quit the engine's input ends, so that an engine that waits for that ends at once
engine quit 0 !stay
engine eof 0 !exit
> isready
< readyok
> quit
exit within=700
log #exit

=== no engine, a missing engine and a file that is no program are start-up errors
for A |{dir}/none|{dir}/text
file text hello
run {A}
stderr {A:Keine Engine angegeben|Engineprozess lässt sich nicht starten|Engineprozess lässt sich nicht starten}
exit

=== after a clean quit, nothing that the engine started is left
engine start 0 !spawn
> quit
exit within=1000
gone within=1000

=== an engine that starts a child and then hangs goes with the child, after {E}
for E quit, behind a launch script|Lesefehler, behind a launch script|SIGTERM, behind a launch script|quit|SIGKILL
only {E:native|native|native|any|wine}
file launch #!/bin/sh\ncd "$(dirname "$0")"\n"{engine}"\n
run {E:{dir}/launch|{dir}/launch|{dir}/launch|{engine}|{engine}}
engine start 0 !spawn
engine go 60000 !stay
engine quit 0 !stay
engine eof 0 !stay
> isready
< readyok
> go infinite
{E:> quit|close-stdin|signal TERM|> quit|signal KILL}
stderr {E:|Lesefehler|||}
{E:exit|exit|gone|exit|gone} within=2500
gone within=2500

=== the GUI having gone, the filter ends at its next write, the engine before its line, which waits for a full standard error until the GUI {E}
for E reads it|ends the filter
no-stdout
pause stderr
fill stderr
> isready
gone within=1000 but=filter
{E:resume stderr|signal TERM}
stderr Schreibfehler
{E:exit|gone}

=== SIG{S} to the filter ends an engine that holds on within a second
only native
for S TERM|HUP|INT|KILL
engine eof 0 !stay
engine quit 0 !stay
> isready
< readyok
signal {S}
gone within=1000

=== the engine holds descriptors 0, 1 and 2 only, {P}, and the signals ignored for the filter (SIGHUP, as under nohup) stay ignored for both
only native
odd
for P with close_range|without close_range
needs {P:/|{noclose}}
env LD_PRELOAD={P:|{noclose}}
> isready
< readyok
signal HUP
> isready
< readyok
> quit
exit
log #fds 0 1 2 3|#SigIgn:\t0000000000010201|#SigBlk:\t0000000000000000

=== the engine gets its path whole and the other arguments split at blanks, in any script
for A |"a b" c|one "two three" four|café "Дмитрий 引擎" 🐎
engine-at "{A:my engines|Дмитрий движки|引擎 文件夹|🐎 engines}/test engine"
run {engine} {A}
argv {A:|a b c|one two three four|café Дмитрий 引擎 🐎}
log #argv0 {engine}|#cwd {enginedir}

=== an engine by relative path starts in its folder, one found in PATH in the filter's
only native
for P sub/engine|engine
engine-at {P:sub/engine|bin/engine}
env PATH={dir}/bin:/usr/bin:/bin
run {P}
log #cwd {dir}{P:/sub|}

=== the command line may have 9998 characters, quotes included, not 9999 (UTF-16 units on Windows)
for N 9998|9999
engine-at "my engines 🐎/test engine"
run {engine} {fill:{N}}
> quit
stderr {N:|Die Kommandozeile ist zu lang}
exit

=== wildcards in unquoted arguments are expanded on Windows
only wine
file wild/a.txt
file wild/引擎🐎.txt
cwd wild
run {engine} *.txt
argv a.txt 引擎🐎.txt

=== --help and --version answer on standard output
for A --help|--version
run {A}
<~ {A:^Usage: kestrowan |^kestrowan \d+\.\d+\.\d+\r?$}
exit
