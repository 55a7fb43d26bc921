"""Random English sentences, so that no two recordings of a voice share their text."""

_SUBJECTS = [
    "the old farmer", "my neighbour", "a young doctor", "the tall engineer", "our teacher",
    "the quiet girl", "his brother", "the postman", "a tired driver", "the small child",
    "every student", "the captain", "her mother", "the baker", "a stranger", "the manager",
    "my cousin", "the pilot", "the gardener", "a musician", "the nurse", "the lawyer",
]
_VERBS = [
    "carried", "painted", "opened", "found", "borrowed", "repaired", "watched", "described",
    "ordered", "cleaned", "measured", "forgot", "delivered", "followed", "counted", "moved",
    "bought", "sold", "washed", "checked", "wrote about", "talked about", "looked at",
]
_OBJECTS = [
    "a heavy wooden box", "the broken window", "seven yellow apples", "an old bicycle",
    "the evening paper", "a bright red kettle", "the garden fence", "two empty bottles",
    "the kitchen table", "a long letter", "the blue umbrella", "a bag of potatoes",
    "the silver spoon", "a stack of books", "the village map", "a warm blanket",
    "the rusty gate", "a basket of fish", "the morning train", "a bottle of milk",
]
_PLACES = [
    "near the river", "behind the station", "in the market", "at the harbour",
    "on the hill", "beside the church", "under the bridge", "in the garden", "at the office",
    "across the valley", "by the lake", "in the north", "on the third floor",
]
_TIMES = [
    "yesterday", "last winter", "on Monday morning", "before lunch", "after the storm",
    "every Friday", "in the afternoon", "at midnight", "twice a week", "three years ago",
]
_NUMBERS = ["one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten",
            "twelve", "fifteen", "twenty", "forty", "a hundred"]
_QUESTIONS = ["why", "when", "how often", "where exactly"]


def sentence(rng):
    """One sentence; rng is a random.Random."""
    c = rng.choice
    kind = rng.random()
    if kind < 0.5:
        s = f"{c(_SUBJECTS)} {c(_VERBS)} {c(_OBJECTS)} {c(_PLACES)} {c(_TIMES)}."
    elif kind < 0.7:
        s = (f"{c(_TIMES)}, {c(_SUBJECTS)} {c(_VERBS)} {c(_NUMBERS)} things "
             f"and {c(_VERBS)} {c(_OBJECTS)}.")
    elif kind < 0.85:
        s = f"{c(_QUESTIONS)} {c(['did', 'has'])} {c(_SUBJECTS)} {c(_VERBS)} {c(_OBJECTS)}?"
    else:
        s = f"{c(_SUBJECTS)} said that {c(_SUBJECTS)} {c(_VERBS)} {c(_OBJECTS)} {c(_PLACES)}."
    return s[0].upper() + s[1:]


def text_for_seconds(rng, seconds, words_per_second=2.6):
    """Enough sentences to last about `seconds` at an ordinary reading rate."""
    words_wanted = max(1, int(seconds * words_per_second))
    out, words = [], 0
    while words < words_wanted:
        w = sentence(rng).split()
        if words + len(w) > words_wanted + 3:
            w = w[: max(2, words_wanted - words)]
            w[-1] = w[-1].rstrip(",.?") + "."
        out.append(" ".join(w))
        words += len(w)
    return " ".join(out)
