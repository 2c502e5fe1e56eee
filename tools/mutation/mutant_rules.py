"""Finds the places in a C++ source where a small change of meaning can be
planted, one rule at a time, and writes the changed line.

Only code is touched: comments, string and character literals are masked
before any rule looks at a line, and preprocessor lines, static_asserts and
trace statements (which only print) are skipped whole.
"""

import re
from dataclasses import dataclass

MASK = "_"   # stands for every character inside a comment or a literal


@dataclass(frozen=True)
class Mutant:
    path: str        # relative to the tree, e.g. src/events/connection.cpp
    line: int        # 1-based
    rule: str
    original: str    # the whole line, as in the file
    mutated: str     # the whole line after the change

    @property
    def folder(self):
        parts = self.path.split("/")
        return parts[1] if len(parts) > 2 else parts[0]


# ------------------------------------------------------------------ masking

def mask_code(text):
    """The text with the inside of comments and literals replaced by MASK
    (quotes and comment markers kept), so columns still line up."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        two = text[i:i + 2]
        if two == "//":
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append("//" + MASK * (end - i - 2))
            i = end
        elif two == "/*":
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("".join(ch if ch == "\n" else MASK for ch in text[i:end]))
            i = end
        elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum()):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j, n - 1)
            out.append(c + MASK * (j - i - 1) + text[j])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


# ------------------------------------------------------------- skipped lines

SKIPPED_STATEMENTS = re.compile(r"^\s*(static_assert|KZ_TRACE|KzTrace)\b")


def skipped_lines(masked_lines):
    """Indexes of lines no rule may touch: preprocessor lines (with their
    continuations) and statements that only check at compile time or print."""
    skip = set()
    i = 0
    while i < len(masked_lines):
        line = masked_lines[i]
        if line.lstrip().startswith("#"):
            while i < len(masked_lines) and masked_lines[i].rstrip().endswith("\\"):
                skip.add(i)
                i += 1
            skip.add(i)
        elif SKIPPED_STATEMENTS.match(line):
            depth = 0
            while i < len(masked_lines):
                skip.add(i)
                depth += masked_lines[i].count("(") - masked_lines[i].count(")")
                if depth <= 0 and masked_lines[i].rstrip().endswith(";"):
                    break
                i += 1
        i += 1
    return skip


# -------------------------------------------------------------------- rules
# Each rule takes the masked line and yields (start, end, replacement) for
# the columns to change; the same columns are changed in the real line.

def _swap(pattern, table):
    regex = re.compile(pattern)

    def rule(masked, _context):
        for m in regex.finditer(masked):
            yield m.start(1), m.end(1), table[m.group(1)]
    return rule


# Binary operators are written with a space on each side in this project;
# requiring it keeps templates (<T>), arrows, shifts and references out.
relational = _swap(r"(?<=\s)(==|!=)(?=\s)", {"==": "!=", "!=": "=="})
boundary = _swap(r"(?<=\s)(<=|>=|<|>)(?=\s)", {"<": "<=", "<=": "<", ">": ">=", ">=": ">"})
logical = _swap(r"(?<=\s)(&&|\|\|)(?=\s)", {"&&": "||", "||": "&&"})
arithmetic = _swap(r"(?<=\s)(\+|-|\+=|-=)(?=\s)", {"+": "-", "-": "+", "+=": "-=", "-=": "+="})
bitwise = _swap(r"(?<=\s)(&|\||&=|\|=)(?=\s)", {"&": "|", "|": "&", "&=": "|=", "|=": "&="})
increment = _swap(r"(\+\+|--)", {"++": "--", "--": "++"})
boolean = _swap(r"\b(true|false)\b", {"true": "false", "false": "true"})

INTEGER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")


def constant(masked, _context):
    """0 -> 1, 1 -> 0, any other integer n -> n + 1 (same base)."""
    for m in INTEGER.finditer(masked):
        digits = m.group(1)
        hexa = digits[:2].lower() == "0x"
        value = int(digits, 16 if hexa else 10)
        new = {0: 1, 1: 0}.get(value, value + 1)
        if hexa:   # same width and case: 0x0F -> 0x10
            width = len(digits) - 2
            text = digits[:2] + format(new, f"0{width}{'X' if digits[2:].isupper() else 'x'}")
        else:
            text = str(new)
        yield m.start(1), m.end(1), text


NOT = re.compile(r"!(?=[\w(])")


def drop_not(masked, _context):
    for m in NOT.finditer(masked):
        yield m.start(), m.end(), ""


IF = re.compile(r"\bif\s*\(")


def negate_if(masked, _context):
    """if (c) -> if (!(c)), when the whole condition is on the line."""
    for m in IF.finditer(masked):
        open_at = m.end() - 1
        depth = 0
        for j in range(open_at, len(masked)):
            depth += {"(": 1, ")": -1}.get(masked[j], 0)
            if depth == 0:
                yield open_at, j + 1, None   # filled in by apply()
                break


STATEMENT_STARTS = ("if", "for", "while", "switch", "return", "break", "continue", "case", "default", "goto", "using",
                    "typedef", "namespace", "static", "const", "constexpr", "auto",
                    "struct", "class", "enum", "template", "extern", "inline", "delete",
                    "throw", "else", "do")
CALL = re.compile(r"^(::)?[A-Za-z_][\w:]*((\.|->)[A-Za-z_]\w*|\[[^\]]*\])*\s*\(.*\)\s*;$")
ASSIGNMENT = re.compile(r"^[*]?[A-Za-z_][\w:]*((\.|->)[A-Za-z_]\w*|\[[^\]]*\])*\s*"
                        r"(=|\+=|-=|\|=|&=|\^=|<<=|>>=)\s*[^=].*;$")
STEP = re.compile(r"^((\+\+|--)[\w.\->\[\]]+|[\w.\->\[\]]+(\+\+|--))\s*;$")


def starts_a_statement(previous_code):
    """The previous code line ends where a new statement may begin."""
    prev = previous_code.rstrip()
    return prev == "" or prev[-1] in ";{})" or prev.endswith("else") or re.search(
        r"\b(case\s+[^:]+|default)\s*:$", prev) is not None


def delete_statement(masked, context):
    """A call, an assignment or a step that stands alone on its line is
    removed, as is a 'break;', 'continue;' or bare 'return;'."""
    body = masked.strip()
    if not body.endswith(";") or body.count("(") != body.count(")"):
        return
    if not starts_a_statement(context["previous_code"]):
        return
    if body in ("break;", "continue;", "return;"):
        pass
    elif body.split(" ")[0].rstrip("(") in STATEMENT_STARTS:
        return
    elif not (CALL.match(body) or ASSIGNMENT.match(body) or STEP.match(body)):
        return
    start = masked.index(body[0])
    yield start, start + len(body), ";"


RULES = {
    "relational": relational,
    "boundary": boundary,
    "logical": logical,
    "arithmetic": arithmetic,
    "bitwise": bitwise,
    "increment": increment,
    "boolean": boolean,
    "constant": constant,
    "drop-not": drop_not,
    "negate-if": negate_if,
    "delete-statement": delete_statement,
}


def apply(line, start, end, replacement):
    if replacement is None:   # negate-if: wrap the condition
        return line[:start] + "(!" + line[start:end] + ")" + line[end:]
    return line[:start] + replacement + line[end:]


def find_mutants(path, text):
    """Every mutant of one file, in line order, without duplicates."""
    lines = text.split("\n")
    masked_lines = mask_code(text).split("\n")
    skip = skipped_lines(masked_lines)
    found, seen = [], set()
    previous_code = ""
    for index, (line, masked) in enumerate(zip(lines, masked_lines)):
        if index in skip or not masked.strip() or masked.strip().startswith("//"):
            continue
        context = {"previous_code": previous_code}
        for name, rule in RULES.items():
            for start, end, replacement in rule(masked, context):
                mutated = apply(line, start, end, replacement)
                key = (index, mutated)
                if mutated != line and key not in seen:
                    seen.add(key)
                    found.append(Mutant(path, index + 1, name, line, mutated))
        code_part = masked.split("//")[0]
        if code_part.strip():
            previous_code = code_part
    return found
