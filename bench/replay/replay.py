"""Replays the engine evaluation on the engine's own tokens (bench/tools/token_dump),
fast enough to compare scoring methods that the engine does not have yet.

The message streams are engine_eval's (same groups, same seeded order), and
the counting model with its chi-square and its learning from its own verdicts
is the engine's, so that with the engine's settings it reports engine_eval's
figures. A linear model (L2-regularised logistic regression over the
messages' keys, refitted from the whole learned set) can be scored alone or
mixed with the counting model.

Usage: see bench/replay-engine --help.
"""

import argparse
import json
import math
import sys
from collections import defaultdict

MASK64 = (1 << 64) - 1
GROUPS = {"dev": {"easy-ham-1", "hard-ham-1", "spam-1"}, "acceptance": {"easy-ham-2", "spam-2"}}


def load(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def stream(messages, groups, seed):
    """engine_eval's order: the index order of the chosen groups, shuffled by splitmix64."""
    chosen = [m for m in messages if m["group"] in groups]
    state = (seed * 0x9E3779B97F4A7C15 + 1) & MASK64

    def next_random():
        nonlocal state
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        return z ^ (z >> 31)

    for i in range(len(chosen), 1, -1):
        j = next_random() % i
        chosen[i - 1], chosen[j] = chosen[j], chosen[i - 1]
    return chosen


def one_minus_roca_percent(scores):
    """Area above the ROC curve in percent, ties counted half (as engine_eval)."""
    scores = sorted(scores)
    ham_below = wins = spam = 0.0
    i = 0
    while i < len(scores):
        j = i
        ham_here = spam_here = 0
        while j < len(scores) and scores[j][0] == scores[i][0]:
            if scores[j][1]:
                spam_here += 1
            else:
                ham_here += 1
            j += 1
        wins += spam_here * (ham_below + ham_here / 2)
        ham_below += ham_here
        spam += spam_here
        i = j
    if ham_below == 0 or spam == 0:
        return 0.0
    return 100.0 * (1.0 - wins / (ham_below * spam))


def chi2_survival(chi2, freedom):
    m = chi2 / 2.0
    term = total = math.exp(-m)
    for i in range(1, freedom // 2):
        term *= m / i
        total += term
    return min(total, 1.0)


def log_chi2_survival(chi2, freedom):
    """ln of chi2_survival without underflow: ln(e^-m * sum m^i/i!)."""
    m = chi2 / 2.0
    if m <= 0:
        return 0.0
    log_m = math.log(m)
    logs = [i * log_m - math.lgamma(i + 1) for i in range(freedom // 2)]
    top = max(logs)
    return min(0.0, -m + top + math.log(sum(math.exp(v - top) for v in logs)))


class CountModel:
    """The engine's model: per-key HAM/SPAM message counts, Robinson-Fisher chi-square."""

    def __init__(self, strength=0.1, unknown=0.5, min_deviation=0.4, max_clues=150):
        self.ham = defaultdict(int)
        self.spam = defaultdict(int)
        self.messages = [0, 0]  # HAM, SPAM
        self.strength, self.unknown = strength, unknown
        self.min_deviation, self.max_clues = min_deviation, max_clues
        self.combine, self.scale = "chi", 1.0
        self.evidence = "rates"

    def add(self, keys, is_spam, sign):
        counts = self.spam if is_spam else self.ham
        for key in set(keys):
            counts[key] += sign
        self.messages[1 if is_spam else 0] += sign

    def score(self, keys):
        n_ham, n_spam = self.messages
        clues = []
        for key in keys:
            h, s = self.ham.get(key, 0), self.spam.get(key, 0)
            ham_ratio = h / n_ham if n_ham else 0.0
            spam_ratio = s / n_spam if n_spam else 0.0
            p = self.unknown if ham_ratio + spam_ratio == 0 else spam_ratio / (ham_ratio + spam_ratio)
            n = h + s
            if self.evidence != "counts" and n_ham and n_spam:
                # How many messages' worth of evidence, counted at the rates of
                # the mean (or the smaller) class, as the engine does: in a
                # HAM-heavy model, a token once in thousands of HAM is weak
                # evidence against SPAM.
                size = min(n_ham, n_spam) if self.evidence == "smaller-class" else (n_ham + n_spam) / 2.0
                n = size * (ham_ratio + spam_ratio)
            f = (self.strength * self.unknown + n * p) / (self.strength + n)
            if abs(f - 0.5) >= self.min_deviation:
                clues.append(f)
        if not clues:
            return 0.5
        if len(clues) > self.max_clues:
            clues.sort(key=lambda f: -abs(f - 0.5))
            clues = clues[: self.max_clues]
        log_ham = sum(math.log(f) for f in clues)
        log_spam = sum(math.log1p(-f) for f in clues)
        freedom = 2 * len(clues)
        if self.combine == "log":
            # ln P(clues this spammy | HAM) against ln P(clues this hammy | SPAM):
            # ranks messages with strong clues both ways where (1 + S - H) / 2 is 0.5.
            d = log_chi2_survival(-2.0 * log_ham, freedom) - log_chi2_survival(-2.0 * log_spam, freedom)
            return 1.0 / (1.0 + math.exp(-max(min(d / self.scale, 700.0), -700.0)))
        s = 1.0 - chi2_survival(-2.0 * log_spam, freedom)
        h = 1.0 - chi2_survival(-2.0 * log_ham, freedom)
        return (1.0 + s - h) / 2.0


class LinearModel:
    """Logistic regression over each message's keys (1/sqrt(n) each), refitted from the learned set.

    The fit is liblinear's (converged, L2 with cost c) or a deterministic
    stochastic-gradient one (`passes` passes in digest order at `rate`, the rate
    divided by 1 + decay * pass, each touched weight shrunk by rate * l2 per
    step): the kind an engine could run itself. `bits` < 32 hashes the keys to
    fewer bits, as a compact file would store them. Each message carries a weight
    (a user's own messages can count more than the domain's lesson)."""

    def __init__(self, c, refit_every, solver="liblinear", passes=10, rate=2.0, bits=32, max_keys=0,
                 decay=0.0, l2=0.0):
        self.c, self.refit_every, self.max_keys = c, refit_every, max_keys
        self.solver, self.passes, self.rate, self.shift = solver, passes, rate, 32 - bits
        self.decay, self.l2 = decay, l2
        self.examples = {}  # digest -> (keys, is_spam, weight)
        self.fit_seconds, self.fit_sizes = [], []
        self.changes = 0
        self.weights, self.bias = None, 0.0

    def put(self, digest, keys, is_spam, weight=1.0):
        stored = sorted({k >> self.shift for k in keys})
        if self.max_keys and len(stored) > self.max_keys:
            # A bounded record per message: the smallest keys, an unbiased
            # sample of the message's tokens that the file can store as it is.
            stored = stored[: self.max_keys]
        self.examples[digest] = (stored, is_spam, weight)
        self.changes += 1

    def has_both(self):
        labels = {e[1] for e in self.examples.values()}
        return len(labels) == 2

    def fit(self):
        import time

        started = time.perf_counter()
        if self.solver == "sgd":
            self.fit_sgd()
        else:
            self.fit_liblinear()
        self.fit_seconds.append(time.perf_counter() - started)
        self.fit_sizes.append(len(self.examples))

    def fit_sgd(self):
        import numpy as np

        self.changes = 0
        if not self.has_both():
            self.weights = None
            return
        order = sorted(self.examples)  # digest order: the fit is a function of the set
        columns = {}
        rows = [np.array([columns.setdefault(k, len(columns)) for k in self.examples[d][0]], dtype=np.int64)
                for d in order]
        labels = [1.0 if self.examples[d][1] else 0.0 for d in order]
        counts = [self.examples[d][2] for d in order]
        scales = [1.0 / math.sqrt(len(r)) for r in rows]
        weights = np.zeros(len(columns))
        bias = 0.0
        for n in range(self.passes):
            rate = self.rate / (1.0 + self.decay * n)
            shrink = 1.0 - rate * self.l2
            for row, label, x, u in zip(rows, labels, scales, counts):
                z = bias + x * weights[row].sum()
                p = 1.0 / (1.0 + math.exp(-max(min(z, 35.0), -35.0)))
                g = rate * u * (label - p)
                if self.l2:
                    weights[row] *= shrink
                weights[row] += g * x
                bias += g
        self.weights = {key: weights[col] for key, col in columns.items()}
        self.bias = bias

    def fit_liblinear(self):
        import numpy as np
        from scipy.sparse import csr_matrix
        from sklearn.linear_model import LogisticRegression

        self.changes = 0
        labels = [e[1] for e in self.examples.values()]
        if all(labels) or not any(labels):
            self.weights = None
            return
        columns = {}
        rows, cols, values = [], [], []
        for row, digest in enumerate(sorted(self.examples)):  # a fixed order: the fit is a function of the set
            keys = self.examples[digest][0]
            for key in keys:
                rows.append(row)
                cols.append(columns.setdefault(key, len(columns)))
                values.append(1.0 / math.sqrt(len(keys)))
        x = csr_matrix((values, (rows, cols)), shape=(len(self.examples), len(columns)))
        y = np.array([1 if self.examples[d][1] else 0 for d in sorted(self.examples)])
        w = np.array([self.examples[d][2] for d in sorted(self.examples)])
        model = LogisticRegression(C=self.c, solver="liblinear").fit(x, y, sample_weight=w)
        self.weights = {key: model.coef_[0][col] for key, col in columns.items()}
        self.bias = model.intercept_[0]

    def log_odds(self, keys):
        """The fit's log-odds of SPAM, or None before it knows both classes."""
        if self.changes >= self.refit_every or (self.weights is None and self.changes):
            self.fit()
        if self.weights is None:
            return None
        keys = {k >> self.shift for k in keys}
        return self.bias + sum(self.weights.get(k, 0.0) for k in keys) / math.sqrt(len(keys))

    def score(self, keys):
        z = self.log_odds(keys)
        return 0.5 if z is None else sigmoid(z)


def sigmoid(z):
    return 1.0 / (1.0 + math.exp(-max(min(z, 35.0), -35.0)))


class Engine:
    """What the engine does with a message: judge it, learn it, learn from its own clear verdicts."""

    def __init__(self, args):
        self.args = args
        self.counts = CountModel(args.strength, args.unknown_prob, args.min_deviation, args.max_clues)
        self.counts.combine, self.counts.scale = args.combine, args.scale
        self.counts.evidence = args.evidence
        self.linear = self.domain_linear = None
        if args.linear_weight > 0:
            self.linear = self.new_linear()
            if args.linear_combine == "two":
                self.domain_linear = self.new_linear()
        self.learned = {}  # digest -> is_spam
        self.own = [0, 0]  # the user's own learned HAM, SPAM (the domain's lesson not counted)
        self.spam_taught_as_ham = 0  # SPAM the user never moved, learned as HAM from a verdict
        self.last_counts = 0.5  # the counting model's own score of the last message scored

    def new_linear(self):
        a = self.args
        return LinearModel(a.linear_c, a.refit_every, a.linear_solver, a.linear_passes, a.linear_rate,
                           a.linear_bits, a.linear_max_keys, a.linear_decay, a.linear_l2)

    def linear_score(self, keys):
        """One fit over the lesson and the user's own messages (weighted up), or the domain's fit
        and the user's own mixed in log-odds, the user's share growing with the user's messages."""
        if self.domain_linear is None:
            return self.linear.score(keys)
        z_domain = self.domain_linear.log_odds(keys)
        z_user = self.linear.log_odds(keys)
        if z_user is None:
            return 0.5 if z_domain is None else sigmoid(z_domain)
        if z_domain is None:
            return sigmoid(z_user)
        own = len(self.linear.examples)
        share = own / (own + self.args.user_ramp) if self.args.user_ramp > 0 else self.args.user_share
        return sigmoid((1 - share) * z_domain + share * z_user)

    def says_spam(self, score):
        """SPAM above the threshold, and with --counts-agree only when the counting model leans that way too."""
        return score > self.args.threshold and self.last_counts > self.args.counts_agree

    def is_thin(self):
        return min(self.counts.messages) < self.args.thin_model

    def score(self, message):
        keys = message["keys"]
        score = self.last_counts = self.counts.score(keys)
        if self.is_thin():
            # The engine's thin-model rule: too little of one class gives a
            # middle score, unless the message is nearly SPAM it was taught
            # (most tokens known from SPAM, the sender's tokens all among them).
            spam = self.counts.spam
            self.spam_share = sum(1 for k in keys if spam.get(k, 0) > 0) / len(keys) if keys else 0.0
            sender = message.get("sender_keys", [])
            self.near_duplicate = (score > 0.5 and self.spam_share >= 0.75 and bool(sender)
                                   and all(spam.get(k, 0) > 0 for k in sender))
            if not self.near_duplicate:
                score = self.last_counts = 0.5
            return score
        if self.linear is not None:
            w = self.args.linear_weight
            score = (1 - w) * score + w * self.linear_score(keys)
        return score

    def learn(self, message, is_spam, domain=False):
        digest = message["digest"]
        before = self.learned.get(digest)
        if before == is_spam:
            return
        if before is not None:
            self.counts.add(message["keys"], before, -1)
            if not domain:
                self.own[1 if before else 0] -= 1
        self.counts.add(message["keys"], is_spam, +1)
        self.learned[digest] = is_spam
        if not domain:
            self.own[1 if is_spam else 0] += 1
        if self.linear is not None:
            if domain and self.domain_linear is not None:
                self.domain_linear.put(digest, message["keys"], is_spam)
            else:
                self.linear.put(digest, message["keys"], is_spam, 1.0 if domain else self.args.user_weight)

    def learn_own_verdict(self, message, score):
        a = self.args
        n_ham, n_spam = self.counts.messages
        if a.auto_learn != "on" or message["digest"] in self.learned:
            return
        if self.is_thin():
            # Only HAM, while HAM is short, and only mail unlike the SPAM known.
            if (not self.near_duplicate and n_spam > 0 and n_ham < a.thin_model
                    and self.spam_share < 0.5):
                self.learn(message, False)
            return
        if min(n_ham, n_spam) < 10:
            return
        if score > max(a.auto_spam, a.threshold) and self.says_spam(score):
            self.learn(message, True)
            return
        own_ham, own_spam = self.own if a.ratio_of == "own" else (n_ham, n_spam)
        if a.auto_ratio > 0 and own_ham >= a.auto_ratio * own_spam + a.auto_ratio_slack:
            return
        if score < min(a.auto_ham, a.threshold):
            header, body = message["keys"][: message["header_keys"]], message["keys"][message["header_keys"]:]
            if self.counts.score(header) < a.auto_part and self.counts.score(body) < a.auto_part:
                self.learn(message, False)
                self.spam_taught_as_ham += message["spam"]


def groups_of(selection):
    return GROUPS.get(selection, set(selection.split(",")))


def first_of(messages, group, start, count):
    """bench/train-order's picks: a group's messages by file name, from start."""
    return sorted((m for m in messages if m["group"] == group), key=lambda m: m["file"])[start:start + count]


def taught(messages, args):
    """bench/train-order: teach the first --teach of spam-1 and easy-ham-1, then judge without learning
    the first --judge of spam-2 and easy-ham-2 (held-out), or on the development groups the next
    --judge of spam-1 and easy-ham-1 and all of hard-ham-1."""
    engine = Engine(args)
    for group in ("spam-1", "easy-ham-1"):
        for message in first_of(messages, group, 0, args.teach):
            engine.learn(message, message["spam"])
    if args.groups == "acceptance":
        judged = first_of(messages, "spam-2", 0, args.judge) + first_of(messages, "easy-ham-2", 0, args.judge)
    else:
        judged = (first_of(messages, "spam-1", args.teach, args.judge)
                  + first_of(messages, "easy-ham-1", args.teach, args.judge) + first_of(messages, "hard-ham-1", 0, 10**6))
    false_positives = false_negatives = 0
    scores = []
    for message in judged:
        score = engine.score(message)
        said_spam = engine.says_spam(score)
        scores.append((score, message["spam"]))
        false_positives += said_spam and not message["spam"]
        false_negatives += message["spam"] and not said_spam
    return false_positives, false_negatives, one_minus_roca_percent(scores)


def run(messages, args, seed):
    run.spam_taught_as_ham = 0
    if args.mode == "taught":
        return taught(messages, args)
    engine = Engine(args)
    false_positives = false_negatives = 0
    scores = []
    chosen = stream(messages, groups_of(args.groups), seed)
    if args.mode in ("cold", "site"):
        # engine_eval's cold and site: a new mailbox receives the first --stream
        # messages; the domain's lesson is the development groups under the
        # held-out stream, else the rest of the chosen groups.
        rest, chosen = chosen[args.stream:], chosen[: args.stream]
        if args.mode == "site":
            lesson = rest if args.groups != "acceptance" else [m for m in messages if m["group"] in GROUPS["dev"]]
            for message in lesson:
                engine.learn(message, message["spam"], domain=True)
    for n, message in enumerate(chosen):
        is_spam = message["spam"]
        if args.mode == "filter" and n < args.pretrain:
            engine.learn(message, is_spam)
            continue
        score = engine.score(message)
        said_spam = engine.says_spam(score)
        scores.append((score, is_spam))
        if said_spam != is_spam:
            false_positives += not is_spam
            false_negatives += is_spam
            if args.list_errors and (not is_spam or args.list_errors == "all"):
                n_ham, n_spam = engine.counts.messages
                print("  seed %d #%d %s score %.4f counts %.4f model %d HAM %d SPAM %s" % (
                    seed, n, "SPAM" if is_spam else "HAM", score, engine.last_counts, n_ham, n_spam,
                    message["file"]), file=sys.stderr)
        if args.mode == "everything" or (said_spam != is_spam and not unmoved(message, args.unmoved)):
            engine.learn(message, is_spam)
        else:
            engine.learn_own_verdict(message, score)
    if args.linear_weight > 0 and args.fit_times:
        fits = engine.linear.fit_seconds
        print("  seed %d: %d refits, %.1f ms mean, %.1f ms at %d messages (largest)" % (
            seed, len(fits), 1000 * sum(fits) / max(len(fits), 1), 1000 * (fits[-1] if fits else 0),
            max(engine.linear.fit_sizes or [0])), file=sys.stderr)
    run.spam_taught_as_ham = engine.spam_taught_as_ham
    run.near_misses = sum(1 for score, is_spam in scores if not is_spam and score >= args.near)
    return false_positives, false_negatives, one_minus_roca_percent(scores)


def unmoved(message, percent):
    """A user who leaves this share of missed SPAM where it landed (the same messages on every run)."""
    return message["spam"] and percent > 0 and int(message["digest"][:8], 16) % 100 < percent


def build_parser():
    p = argparse.ArgumentParser(prog="bench/replay-engine")
    p.add_argument("tokens")
    p.add_argument("--groups", default="dev")
    p.add_argument("--seeds", default="1,2,3,4,5")
    p.add_argument("--mode", choices=["filter", "everything", "cold", "site", "taught"], default="filter",
                   help="taught: bench/train-order's static lesson and check (the seed does not matter)")
    p.add_argument("--teach", type=int, default=300, help="taught: SPAM and HAM messages taught")
    p.add_argument("--judge", type=int, default=200, help="taught: SPAM and HAM messages judged")
    p.add_argument("--stream", type=int, default=1000, help="cold and site: the new mailbox's messages")
    p.add_argument("--strength", type=float, default=0.1)
    p.add_argument("--unknown-prob", type=float, default=0.5)
    p.add_argument("--min-deviation", type=float, default=0.4)
    p.add_argument("--max-clues", type=int, default=150)
    p.add_argument("--combine", choices=["chi", "log"], default="chi")
    p.add_argument("--evidence", choices=["rates", "counts", "smaller-class"], default="rates",
                   help="a token's weight against the prior: its rates times the mean class size (the engine's),"
                   " its message counts, or its rates times the smaller class")
    p.add_argument("--scale", type=float, default=1.0, help="--combine log: the log-odds per unit")
    p.add_argument("--thin-model", type=int, default=10,
                   help="messages of each class before the score counts (the engine's; 0: no such rule)")
    p.add_argument("--pretrain", type=int, default=200)
    p.add_argument("--threshold", type=float, default=0.995)
    p.add_argument("--auto-learn", choices=["on", "off"], default="on")
    p.add_argument("--auto-ham", type=float, default=0.45)
    p.add_argument("--auto-part", type=float, default=0.5)
    p.add_argument("--auto-spam", type=float, default=0.995)
    p.add_argument("--auto-ratio", type=float, default=2.0)
    p.add_argument("--linear-weight", type=float, default=0.0, help="share of the linear model's score (0: counts only)")
    p.add_argument("--linear-c", type=float, default=100.0)
    p.add_argument("--linear-solver", choices=["liblinear", "sgd"], default="liblinear")
    p.add_argument("--linear-passes", type=int, default=10)
    p.add_argument("--linear-rate", type=float, default=2.0)
    p.add_argument("--linear-decay", type=float, default=0.0, help="sgd: the rate of pass n is rate / (1 + decay * n)")
    p.add_argument("--linear-l2", type=float, default=0.0, help="sgd: each step shrinks the touched weights by rate * l2")
    p.add_argument("--linear-combine", choices=["one", "two"], default="one",
                   help="site: one fit over the domain's lesson and the user's messages (--user-weight), or the"
                   " domain's fit and the user's own mixed (--user-ramp, --user-share)")
    p.add_argument("--user-weight", type=float, default=1.0, help="one: weight of the user's own messages in the fit")
    p.add_argument("--user-ramp", type=float, default=0.0,
                   help="two: the user's share is n / (n + ramp) at n own messages (0: --user-share)")
    p.add_argument("--user-share", type=float, default=0.5, help="two: the user's fixed share of the log-odds")
    p.add_argument("--ratio-of", choices=["own", "all"], default="all",
                   help="--auto-ratio counts the user's own messages, or all (the domain's lesson too, as merged counts)")
    p.add_argument("--auto-ratio-slack", type=float, default=0.0,
                   help="own HAM verdicts learned while own HAM < ratio * own SPAM + slack")
    p.add_argument("--unmoved", type=float, default=0.0,
                   help="percent of SPAM the user never moves when missed (it may be learned as HAM)")
    p.add_argument("--fit-times", action="store_true", help="print the linear refits' count and time to stderr")
    p.add_argument("--linear-bits", type=int, default=32, help="hash the keys to this many bits")
    p.add_argument("--linear-max-keys", type=int, default=0,
                   help="keep at most this many keys of a learned message for the fit (0: all)")
    p.add_argument("--counts-agree", type=float, default=0.0,
                   help="a SPAM verdict also needs the counting model's own score above this (0: no such guard)")
    p.add_argument("--list-errors", choices=["fp", "all"], help="print the false positives (or every error) to stderr")
    p.add_argument("--refit-every", type=int, default=1, help="refit after this many changes (1: exact)")
    p.add_argument("--near", type=float, default=0.6,
                   help="count the HAM judged at or above this score (near misses: how close false positives come)")
    return p


def main():
    args = build_parser().parse_args()
    messages = load(args.tokens)
    total_fp = total_fn = 0
    rocas = []
    taught_ham = near = 0
    print("seed     FP     FN  (1-ROCA)%%  spam-as-HAM  HAM>=%.2f" % args.near)
    for seed in [int(s) for s in args.seeds.split(",")]:
        fp, fn, roca = run(messages, args, seed)
        total_fp, total_fn = total_fp + fp, total_fn + fn
        rocas.append(roca)
        taught_ham += getattr(run, "spam_taught_as_ham", 0)
        near += getattr(run, "near_misses", 0)
        print("%4d %6d %6d %10.4f %12d %9d" % (seed, fp, fn, roca, getattr(run, "spam_taught_as_ham", 0),
                                              getattr(run, "near_misses", 0)), flush=True)
    print("sum  %6d %6d %10.4f (mean) %5d %9d" % (total_fp, total_fn, sum(rocas) / len(rocas), taught_ham, near))
    return 0


if __name__ == "__main__":
    sys.exit(main())
