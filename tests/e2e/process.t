# How the filter starts, ends and fails (the case format: relay.t).

=== quit ends the filter at once; nothing after quit reaches either side
engine quit 0 readyok
engine quit 300 !exit
> isready
< readyok
> quit
> isready
exit within=1500
received isready
received quit
log #exit

=== an engine that ignores quit is ended after TimeQuit: 1000 ms by default, or as set
alone
for T setoption name TimeQuit@Kestrowan value abc|setoption name TimeQuit@Kestrowan value 200
engine quit 0 !stay
engine eof 0 !stay
> {T}
> isready
< readyok
> quit
exit after={T:900|150} within={T:2000|900}

=== without pidfd, quit still gives the engine TimeQuit to end by itself
only native
alone
for E quit 300 !exit|quit 0 !stay
env LD_PRELOAD={nopidfd}
engine {E}
engine eof 0 !stay
> quit
exit after={E:200|900} within={E:1500|2000}
log {E:#exit|}

=== an engine that ends on its own is reported at once, after what it wrote whole
for E bestmove e2e4\nbestmove a7\c|bestmove e2e4
engine go 0 {E}
engine go 0 !exit
> go
< bestmove e2e4
stderr Lesefehler
exit within=1000

=== without pidfd, an engine's own end is still seen at once
only native
env LD_PRELOAD={nopidfd}
engine go 0 !exit
> go
stderr Lesefehler
exit within=1000

=== no engine, a missing engine and a file that is no program are start-up errors
for A |{dir}/none|{dir}/text
file text hello
run {A}
stderr {A:Keine Engine angegeben|Engineprozess lässt sich nicht starten|Engineprozess lässt sich nicht starten}
exit

=== the GUI closing the filter's input ends the filter and an engine that holds on
engine eof 0 !stay
engine quit 0 !stay
> go infinite
close-stdin
stderr FEHLER 0; Lesefehler
exit within=1000
gone within=1000

=== the GUI having gone, the filter ends at its next write
no-stdout
> isready
stderr Schreibfehler
exit

=== SIG{S} to the filter ends an engine that holds on within a second
only native
for S TERM|HUP|INT|KILL
engine eof 0 !stay
engine quit 0 !stay
> isready
< readyok
signal {S}
gone within=1000

=== the engine holds descriptors 0, 1 and 2 only and starts with default signals
only native
odd
log #fds 0 1 2 3
log #SigIgn:\t0000000000000000
log #SigBlk:\t0000000000000000

=== the engine gets its path whole and the other arguments split at blanks
for A |"a b" c|one "two three" four
engine-at "my engines/test engine"
run {engine} {A}
argv {A:|a b c|one two three four}
log #argv0 {engine}
log #cwd {enginedir}

=== an engine by relative path starts in its folder, one found in PATH in the filter's
only native
for P sub/engine|engine
engine-at {P:sub/engine|bin/engine}
env PATH={dir}/bin:/usr/bin:/bin
run {P}
log #cwd {dir}{P:/sub|}

=== the command line may have 9998 characters, quotes included, not 9999
for N 9998|9999
engine-at "my engines/test engine"
run {engine} {fill:{N}}
> quit
stderr {N:|Die Kommandozeile ist zu lang}
exit

=== wildcards in unquoted arguments are expanded on Windows
only wine
file wild/a.txt
file wild/b.txt
cwd wild
run {engine} *.txt
argv a.txt b.txt

=== --help and --version answer on standard output
for A --help|--version
run {A}
<~ {A:^Usage: kestrowan |^kestrowan \d+\.\d+\.\d+\r?$}
exit
