#!/usr/bin/env python3
"""Generates equivalent benchmark programs in Quendal, Lua and Python.

Each unit is a few functions with loops, conditionals, arithmetic, calls,
records (tables / dicts), arrays (lists) and formatted strings, built once
as a small statement tree and printed in the three languages, so the
programs match construct for construct. A unit is about 600 bytes of
Quendal; every name carries the unit number, so units can be concatenated
into one script.

    python bench/gen_corpus.py --units 17000 --out bench/corpus   # ~10 MB each
    python bench/gen_corpus.py --size-mb 1 --out /tmp/corpus

writes corpus.q, corpus.lua, corpus.py and unit.q, unit.lua, unit.py (one
unit) into the output directory. The same seed gives the same files.
"""

from __future__ import annotations

import argparse
import random
import sys
from pathlib import Path

LANGS = ("q", "lua", "py")
UNIT_BYTES = 600  # target size of one Quendal unit

# ---------------------------------------------------------------------------
# Expressions: tuples ("num", v) ("var", n) ("bin", op, a, b) ("cmp", op, a, b)
# ("and", a, b) ("field", rec, f) ("index", arr, k) ("call", f, [args])

_POW = {"q": "^", "lua": "^", "py": "**"}
_NEQ = {"q": "!=", "lua": "~=", "py": "!="}


def expr(e, lang: str) -> str:
    kind = e[0]
    if kind == "num":
        return str(e[1])
    if kind == "var":
        return e[1]
    if kind in ("bin", "cmp"):
        op = e[1]
        if op == "^":
            op = _POW[lang]
        elif op == "!=":
            op = _NEQ[lang]
        return f"({expr(e[2], lang)} {op} {expr(e[3], lang)})"
    if kind == "and":
        return f"{expr(e[1], lang)} and {expr(e[2], lang)}"
    if kind == "field":
        return f'{e[1]}["{e[2]}"]' if lang == "py" else f"{e[1]}.{e[2]}"
    if kind == "index":
        return f"{e[1]}[{e[2] + 1}]" if lang == "lua" else f"{e[1]}[{e[2]}]"
    if kind == "call":
        return f"{e[1]}({', '.join(expr(a, lang) for a in e[2])})"
    raise ValueError(kind)


# ---------------------------------------------------------------------------
# Statements


def block(stmts, lang: str, depth: int) -> list[str]:
    out = []
    for s in stmts:
        out.extend(stmt(s, lang, depth))
    if lang == "py" and not stmts:
        out.append("    " * depth + "pass")
    return out


def stmt(s, lang: str, depth: int) -> list[str]:
    pad = "    " * depth
    kind = s[0]
    if kind == "let":  # name, expr, mutable
        _, name, value, mutable = s
        if lang == "q":
            return [f"{pad}let {'mut ' if mutable else ''}{name} = {expr(value, lang)};"]
        if lang == "lua":
            return [f"{pad}local {name} = {expr(value, lang)}"]
        return [f"{pad}{name} = {expr(value, lang)}"]
    if kind == "update":  # name, op, expr
        _, name, op, value = s
        if lang == "lua":
            return [f"{pad}{name} = {name} {op} {expr(value, lang)}"]
        end = ";" if lang == "q" else ""
        return [f"{pad}{name} {op}= {expr(value, lang)}{end}"]
    if kind == "while":  # counter, limit, body
        _, counter, limit, body = s
        inner = body + [("update", counter, "+", ("num", 1))]
        if lang == "q":
            head, tail = f"{pad}while {counter} < {expr(limit, lang)} {{", f"{pad}}}"
        elif lang == "lua":
            head, tail = f"{pad}while {counter} < {expr(limit, lang)} do", f"{pad}end"
        else:
            head, tail = f"{pad}while {counter} < {expr(limit, lang)}:", None
        return [head] + block(inner, lang, depth + 1) + ([tail] if tail else [])
    if kind == "for":  # var, limit, body
        _, var, limit, body = s
        if lang == "q":
            head, tail = f"{pad}for {var} in 0..<{expr(limit, lang)} {{", f"{pad}}}"
        elif lang == "lua":
            head, tail = f"{pad}for {var} = 0, {expr(limit, lang)} - 1 do", f"{pad}end"
        else:
            head, tail = f"{pad}for {var} in range({expr(limit, lang)}):", None
        return [head] + block(body, lang, depth + 1) + ([tail] if tail else [])
    if kind == "if":  # cond, then, else
        _, cond, then, other = s
        c = expr(cond, lang)
        if lang == "q":
            lines = [f"{pad}if {c} {{"] + block(then, lang, depth + 1)
            return lines + [f"{pad}}} else {{"] + block(other, lang, depth + 1) + [f"{pad}}}"]
        if lang == "lua":
            lines = [f"{pad}if {c} then"] + block(then, lang, depth + 1)
            return lines + [f"{pad}else"] + block(other, lang, depth + 1) + [f"{pad}end"]
        return [f"{pad}if {c}:"] + block(then, lang, depth + 1) + [f"{pad}else:"] + block(other, lang, depth + 1)
    if kind == "record":  # name, [(field, expr)]
        _, name, fields = s
        if lang == "q":
            body = ", ".join(f"{f}: {expr(v, lang)}" for f, v in fields)
            return [f"{pad}let {name} = ({body});"]
        if lang == "lua":
            body = ", ".join(f"{f} = {expr(v, lang)}" for f, v in fields)
            return [f"{pad}local {name} = {{{body}}}"]
        body = ", ".join(f'"{f}": {expr(v, lang)}' for f, v in fields)
        return [f"{pad}{name} = {{{body}}}"]
    if kind == "array":  # name, [expr]
        _, name, items = s
        body = ", ".join(expr(v, lang) for v in items)
        if lang == "q":
            return [f"{pad}let {name} = [{body}];"]
        if lang == "lua":
            return [f"{pad}local {name} = {{{body}}}"]
        return [f"{pad}{name} = [{body}]"]
    if kind == "format":  # name, [text | (var, spec)]
        _, name, parts = s
        if lang == "q":
            text = "".join(p if isinstance(p, str) else f"$({p[0]}{':' + p[1] if p[1] else ''})" for p in parts)
            return [f"{pad}let {name} = '{text}';"]
        if lang == "lua":
            text = "".join(p if isinstance(p, str) else ("%" + p[1] if p[1] else "%s") for p in parts)
            args = "".join(", " + p[0] for p in parts if not isinstance(p, str))
            return [f'{pad}local {name} = string.format("{text}"{args})']
        text = "".join(p if isinstance(p, str) else f"{{{p[0]}{':' + p[1] if p[1] else ''}}}" for p in parts)
        return [f'{pad}{name} = f"{text}"']
    if kind == "return":
        end = ";" if lang == "q" else ""
        return [f"{pad}return {expr(s[1], lang)}{end}"]
    if kind == "fn":  # name, params, body
        _, name, params, body = s
        ps = ", ".join(params)
        if lang == "q":
            return [f"{pad}fn {name}({ps}) {{"] + block(body, lang, depth + 1) + [f"{pad}}}"]
        if lang == "lua":
            return [f"{pad}function {name}({ps})"] + block(body, lang, depth + 1) + [f"{pad}end"]
        return [f"{pad}def {name}({ps}):"] + block(body, lang, depth + 1)
    if kind == "global":  # name, expr (top-level result)
        _, name, value = s
        if lang == "q":
            return [f"{pad}let {name} = {expr(value, lang)};"]
        return [f"{pad}{name} = {expr(value, lang)}"]
    raise ValueError(kind)


# ---------------------------------------------------------------------------
# Random unit construction

_WORDS = ("total", "count", "acc", "step", "value", "delta", "limit", "scale", "base", "mark", "level", "sum")
_FIELDS = ("left", "right", "width", "height", "weight", "price", "size", "rank")
_TEXT = ("unit", "total", "avg", "item", "result", "ratio", "of", "and", "is")
_ARITH = ("+", "-", "*", "+", "-", "*", "/", "%")
_CMP = ("<", ">", "<=", ">=", "==", "!=")
_FORMATS = ("0.2f", "d", "5.1f", "")


class UnitBuilder:
    def __init__(self, rng: random.Random, unit: int):
        self.rng = rng
        self.unit = unit
        self.serial = 0

    def fresh(self, stem: str) -> str:
        self.serial += 1
        return f"{stem}{self.serial}"

    # scope: dict with lists "nums", "muts", "records" [(name, fields)], "arrays" [(name, n)]
    def number(self, scope, depth=0):
        r = self.rng.random()
        if depth >= 2 or r < 0.25:
            if scope["nums"] and self.rng.random() < 0.7:
                return ("var", self.rng.choice(scope["nums"]))
            return ("num", self.rng.randint(1, 99))
        if r < 0.35 and scope["records"]:
            name, fields = self.rng.choice(scope["records"])
            return ("field", name, self.rng.choice(fields))
        if r < 0.45 and scope["arrays"]:
            name, n = self.rng.choice(scope["arrays"])
            return ("index", name, self.rng.randrange(n))
        op = self.rng.choice(_ARITH)
        return ("bin", op, self.number(scope, depth + 1), self.number(scope, depth + 1))

    def condition(self, scope):
        c = ("cmp", self.rng.choice(_CMP), self.number(scope, 1), self.number(scope, 2))
        if self.rng.random() < 0.25:
            c = ("and", c, ("cmp", self.rng.choice(_CMP), self.number(scope, 2), ("num", self.rng.randint(0, 9))))
        return c

    def child(self, scope):
        return {k: list(v) for k, v in scope.items()}

    def statements(self, scope, budget: int, depth: int):
        out = []
        while budget > 0:
            budget -= 1
            r = self.rng.random()
            if r < 0.22 or not scope["muts"]:
                name = self.fresh(self.rng.choice(_WORDS))
                out.append(("let", name, self.number(scope), True))
                scope["nums"].append(name)
                scope["muts"].append(name)
            elif r < 0.42:
                op = self.rng.choice(("+", "-", "*"))
                out.append(("update", self.rng.choice(scope["muts"]), op, self.number(scope, 1)))
            elif r < 0.52 and depth < 2:
                counter = self.fresh("i")
                out.append(("let", counter, ("num", 0), True))
                inner = self.child(scope)
                inner["nums"].append(counter)
                body = self.statements(inner, 2, depth + 1)
                out.append(("while", counter, ("num", self.rng.randint(3, 12)), body))
                scope["nums"].append(counter)
            elif r < 0.62 and depth < 2:
                var = self.fresh("j")
                inner = self.child(scope)
                inner["nums"].append(var)
                limit = ("num", self.rng.randint(2, 9)) if self.rng.random() < 0.5 else ("var", self.rng.choice(scope["nums"]))
                out.append(("for", var, limit, self.statements(inner, 2, depth + 1)))
            elif r < 0.74 and depth < 2:
                then = self.statements(self.child(scope), 1, depth + 1)
                other = self.statements(self.child(scope), 1, depth + 1)
                out.append(("if", self.condition(scope), then, other))
            elif r < 0.84:
                name = self.fresh("rec")
                fields = self.rng.sample(_FIELDS, self.rng.randint(2, 4))
                out.append(("record", name, [(f, self.number(scope, 1)) for f in fields]))
                scope["records"].append((name, fields))
            elif r < 0.94:
                name = self.fresh("xs")
                n = self.rng.randint(3, 6)
                out.append(("array", name, [self.number(scope, 2) for _ in range(n)]))
                scope["arrays"].append((name, n))
            else:
                name = self.fresh("msg")
                parts = []
                for _ in range(self.rng.randint(1, 2)):
                    parts.append(self.rng.choice(_TEXT) + " ")
                    parts.append((self.rng.choice(scope["nums"]), self.rng.choice(_FORMATS)))
                    parts.append(" ")
                out.append(("format", name, parts))
        return out

    def function(self, name: str, callees: list[str], budget: int):
        params = ["a", "b"]
        scope = {"nums": list(params), "muts": [], "records": [], "arrays": []}
        body = self.statements(scope, budget, 0)
        result = self.number(scope, 1)
        if callees:
            call = ("call", self.rng.choice(callees), [self.number(scope, 2), self.number(scope, 2)])
            result = ("bin", "+", result, call)
        body.append(("return", result))
        return ("fn", name, params, body)

    def unit_tree(self, budget: int):
        names = []
        out = []
        for k in range(2):
            name = f"f{self.unit}_{k}"
            out.append(self.function(name, names, budget))
            names.append(name)
        call = ("call", names[-1], [("num", self.rng.randint(1, 9)), ("num", self.rng.randint(1, 9))])
        out.append(("global", f"result{self.unit}", call))
        return out


def render_unit(tree, lang: str) -> str:
    return "\n".join(block(tree, lang, 0)) + "\n"


def make_unit(seed: int, unit: int):
    """One unit in the three languages, sized to about UNIT_BYTES of Quendal:
    a few statement budgets are tried and the closest size is kept."""
    best = None
    for attempt, budget in enumerate((5, 4, 6, 3, 7)):
        rng = random.Random(f"{seed}/{unit}/{attempt}")
        tree = UnitBuilder(rng, unit).unit_tree(budget)
        size = len(render_unit(tree, "q"))
        if best is None or abs(size - UNIT_BYTES) < abs(best[0] - UNIT_BYTES):
            best = (size, tree)
        if abs(size - UNIT_BYTES) <= UNIT_BYTES // 6:
            break
    return {lang: render_unit(best[1], lang) for lang in LANGS}


def generate(units: int, seed: int = 1):
    """The three corpora as strings, keyed by language ('q', 'lua', 'py')."""
    parts = {lang: [] for lang in LANGS}
    for u in range(units):
        texts = make_unit(seed, u)
        for lang in LANGS:
            parts[lang].append(texts[lang])
    return {lang: "".join(p) for lang, p in parts.items()}


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    size = p.add_mutually_exclusive_group()
    size.add_argument("--units", type=int, help="number of units (default: enough for --size-mb)")
    size.add_argument("--size-mb", type=float, default=10.0, help="approximate Quendal corpus size (default 10)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--out", default=str(Path(__file__).resolve().parent / "corpus"))
    args = p.parse_args(argv)
    units = args.units if args.units is not None else max(1, int(args.size_mb * 1_000_000 / UNIT_BYTES))
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    corpus = generate(units, args.seed)
    one = make_unit(args.seed, 0)
    for lang in LANGS:
        (out / f"corpus.{lang}").write_text(corpus[lang], encoding="utf-8")
        (out / f"unit.{lang}").write_text(one[lang], encoding="utf-8")
    sizes = ", ".join(f"{lang} {len(corpus[lang].encode()) / 1e6:.2f} MB" for lang in LANGS)
    print(f"{units} units -> {out}: {sizes}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
