"""The code blocks of a document's section, as a reader copies them, so that
the tests can build and run what the documents show: the Wine walk-through
and the MinGW line of docs/WINDOWS-HOSTS.md, the bindings' examples in the
README."""
import re


def section(document, title):
    """The text under the heading TITLE (any level), up to the next heading
    of the same or a higher level; lines inside ``` blocks are no headings."""
    with open(document, encoding="utf-8") as f:
        lines = f.read().split("\n")
    in_block, level, found = False, None, []
    for line in lines:
        heading = None if in_block else re.match(r"(#+) (.*)$", line)
        if line.startswith("```"):
            in_block = not in_block
        if level is None:
            if heading and heading.group(2) == title:
                level = len(heading.group(1))
            continue
        if heading and len(heading.group(1)) <= level:
            break
        found.append(line)
    if level is None:
        raise AssertionError('%s has no section "%s"' % (document, title))
    return "\n".join(found) + "\n"


def blocks(document, title, language):
    """Every ```LANGUAGE block of the section, in order; at least one."""
    found = re.findall(r"^```%s\n(.*?)^```$" % re.escape(language), section(document, title), re.M | re.S)
    if not found:
        raise AssertionError('the section "%s" of %s holds no ```%s block' % (title, document, language))
    return found


def statements(source, comments):
    """The declarations of a source text, comments left out and blanks
    collapsed, split at each ";" outside parentheses and brackets; a leading
    "type" keyword goes. `comments` is a regular expression for them."""
    text = " ".join(re.sub(comments, " ", source, flags=re.S).split())
    found, depth, start = [], 0, 0
    for at, char in enumerate(text):
        depth += (char in "([") - (char in ")]")
        if char == ";" and depth == 0:
            found.append(re.sub(r"^type ", "", text[start:at].strip()) + ";")
            start = at + 1
    return found


def undeclared(shown, source, comments):
    """The declarations of `shown` that the source does not hold as written
    (blanks and comments aside): each must be one of the source's, or end
    one (after an attribute, or the opening of a class)."""
    held = statements(source, comments)
    return [statement for statement in statements(shown, comments)
            if not any(s == statement or s.endswith(" " + statement) for s in held)]
