# How the filter starts, ends and fails (the case format: relay.t).

=== quit ends the filter at once; nothing after quit reaches either side; also without pidfd
for P with pidfd|without
env LD_PRELOAD={P:|{nopidfd}}
engine quit 0 readyok
engine quit 550 !exit
> isready
< readyok
> quit
> isready
exit after=150 within=1500
received isready|quit
log #exit

=== an engine that ignores quit, or reads nothing in a search, is ended after TimeQuit: 1000 ms by default, or as set
alone
for T abc|200|abc, without pidfd|abc, deep in a search
env LD_PRELOAD={T:||{nopidfd}|}
engine quit 0 !stay
engine eof 0 !stay
engine go {T:0|0|0|2500} !stay
> setoption name TimeQuit@Kestrowan value {T:abc|200|abc|abc}
> isready
< readyok
> go
> quit
exit after={T:900|150|900|900} within={T:2000|900|2000|2000}

=== an engine that ends on its own is reported at once, after what it wrote whole, though the GUI ignores SIGCHLD
odd
for E a part line last|whole lines|whole lines, without pidfd
env LD_PRELOAD={E:||{nopidfd}}
engine go 0 bestmove e2e4{E:\nbestmove a7\c||}
engine go 0 !exit
> go
< bestmove e2e4
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
log #fds 0 1 2 3|#SigIgn:\t0000000000000000|#SigBlk:\t0000000000000000

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
