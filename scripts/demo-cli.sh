#!/usr/bin/env bash
# A tour of the ravel program on recordings spoken by espeak-ng: enrol two
# voices, verify a genuine and an impostor recording, identify a speaker,
# diarize a short conversation (report, RTTM and timeline picture).
#   demo-cli.sh WORK_DIR RAVEL DEPLOYMENT_DIR
set -euo pipefail
work=$1 ravel=$2 models=$3
command -v espeak-ng >/dev/null && command -v sox >/dev/null || { echo "espeak-ng or sox missing"; exit 77; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
say() {  # voice, output, text (espeak-ng writes 22,050 Hz; ravel resamples)
  espeak-ng -v "$1" -s 150 -w "$2" "$3"
}
echo "== recordings (espeak-ng) in $work"
say en+m3 "$work/alice-1.wav" "The quick brown fox jumps over the lazy dog. Speaker recognition needs a few seconds of clear speech, so this sentence goes on for a little while longer, and then a little more, until the engine has heard enough of the voice to know it again."
say en+m3 "$work/alice-2.wav" "A second recording of the same voice helps: people sound different from day to day, and two recordings cover more of the way they speak."
say en+f2 "$work/bruno-1.wav" "Please call Stella and ask her to bring these things with her from the store: six spoons of fresh snow peas, five thick slabs of blue cheese, and maybe a snack for her brother Bob."
say en+f2 "$work/bruno-test.wav" "We also need a small plastic snake and a big toy frog for the kids. She can scoop these things into three red bags, and we will go meet her Wednesday at the train station."
say en+m7 "$work/impostor.wav" "Good morning. I am calling about the account, and I would like to check the last three payments before the end of the month, if that is possible today."
# A conversation: the first voice for about 45 seconds, then the second.
long_a="Welcome to the weekly planning meeting. Before we begin, let me go through the agenda. First we look at the numbers from last week, then we talk about the new office, and at the end everybody gets a few minutes for questions. The numbers were better than we expected: sales went up by eight percent, and the support team answered every call within two minutes. That is a record for this time of the year, and I want to thank everybody who worked late to make it happen. Now, about the office: the move is planned for the first week of next month. The new building is closer to the station, it has a larger kitchen, and there is room for the whole team on one floor. We will pack our own desks on the Thursday before, and the movers come on Friday morning at seven."
long_b="Thank you. I have a question about the move. Will the servers be moved during the weekend, or do we need to plan for a day without the network? Last time it took almost two days, and the customers noticed. I would suggest that we move the servers first, test everything on a Saturday, and only then move the desks and the people. We could also keep the old line open for one more week, just in case something goes wrong. If you agree, I will write a short plan and send it to everybody by Friday. One more thing: the printers in the new office are different, so please ask me if you need help with them. And if anybody knows a good place for lunch near the station, let me know, because I am tired of sandwiches."
say en+m3 "$work/turn-a.wav" "$long_a"
say en+f2 "$work/turn-b.wav" "$long_b"
sox "$work/turn-a.wav" "$work/turn-b.wav" "$work/conversation.wav"

run() { echo "\$ ravel $*"; "$ravel" "$@" --models "$models"; }
db=$work/speakers.db
rm -f "$db"
echo "== enrol two voices"
run enrol alice "$work/alice-1.wav" "$work/alice-2.wav" --db "$db"
run enrol bruno "$work/bruno-1.wav" --db "$db"
echo "== verify: a genuine recording, then an impostor claiming to be alice"
run verify "$work/bruno-test.wav" --db "$db" --name bruno
run verify "$work/impostor.wav" --db "$db" --name alice
echo "== identify"
run identify "$work/bruno-test.wav" --db "$db"
echo "== diarize a conversation"
run diarize "$work/conversation.wav" --db "$db" --rttm "$work/conversation.rttm" \
  --plot "$work/conversation.svg"
echo "RTTM: $work/conversation.rttm; timeline picture: $work/conversation.svg"
