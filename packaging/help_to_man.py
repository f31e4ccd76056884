#!/usr/bin/env python3
"""Turns a program's --help text into a manual page (roff), so that the page never says
anything the program itself does not.

The help text is read in this shape:

    Usage: NAME [options]            -> SYNOPSIS
    paragraphs                       -> DESCRIPTION
    Heading:                         -> a section of its own (OPTIONS, EXAMPLES, ...)
    Heading: text on the same line   -> a section that starts with that text
      --option ARG    what it does   -> a tagged paragraph; lines indented to the text go on it
      other indented lines           -> kept as they stand (command lines of examples)
"""

import argparse
import re
import subprocess
import sys

OPTION = re.compile(r"^ {2}(-\S+)( \S+)?\s{2,}(\S.*)$")
HEADING = re.compile(r"^([A-Z][A-Za-z ]*):(?:\s+(\S.*))?$")


def text(s):
    """Running text: roff's escape character, a control character at a line's start, and
    words that start with a hyphen (options, negative numbers) spelled with real minus signs
    so that they can be copied from the page; other hyphens ("pseudo-terminal") stay."""
    s = s.replace("\\", "\\e")
    s = re.sub(r"(?<![\w-])-[\w-]*", lambda m: m.group().replace("-", "\\-"), s)
    return "\\&" + s if s[:1] in (".", "'") else s


def literal(s):
    """A command or option name: every hyphen is a real minus."""
    return text(s).replace("\\-", "-").replace("-", "\\-")


class Page:
    def __init__(self):
        self.lines = []
        self.mode = None  # "para", "option" or "verbatim"

    def set_mode(self, mode):
        if self.mode == "verbatim" and mode != "verbatim":
            self.lines += [".fi", ".RE"]
        if mode == "verbatim" and self.mode != "verbatim":
            self.lines += [".RS 4", ".nf"]
        self.mode = mode

    def section(self, title):
        self.set_mode(None)
        self.lines.append(".SH " + (title if " " not in title else '"%s"' % title))

    def blank(self):
        if self.mode in ("para", "option"):
            self.mode = None
        elif self.mode == "verbatim":
            self.lines.append("")

    def paragraph_line(self, s):
        if self.mode not in ("para", "option"):
            if self.lines[-1:] and not self.lines[-1].startswith(".SH"):
                self.lines.append(".PP")
            self.set_mode("para")
        self.lines.append(text(s))

    def option(self, name, arg, what):
        self.set_mode("option")
        tag = "\\fB" + literal(name) + "\\fR"
        if arg:
            tag += " \\fI" + literal(arg.strip()) + "\\fR"
        self.lines += [".TP", tag, text(what)]

    def verbatim(self, s):
        self.set_mode("verbatim")
        self.lines.append(literal(s.strip()))


def convert(help_text, name, summary, version, date):
    lines = help_text.rstrip("\n").split("\n")
    usage = re.match(r"^Usage:\s+(\S+)\s*(.*)$", lines[0])
    if not usage:
        raise ValueError("the help text does not start with \"Usage: \"")
    page = Page()
    page.lines = [
        '.TH %s 1 "%s" "%s" "User Commands"' % (name.upper(), date, version),
        ".nh",  # no hyphenation: paths and option names break only at blanks
        ".ad l",
        ".SH NAME",
        "%s \\- %s" % (literal(name), text(summary)),
        ".SH SYNOPSIS",
        "\\fB%s\\fR %s" % (literal(usage.group(1)), literal(usage.group(2))),
        ".SH DESCRIPTION",
    ]
    page.mode = None
    for line in lines[1:]:
        heading = HEADING.match(line)
        option = OPTION.match(line)
        if not line.strip():
            page.blank()
        elif heading:
            page.section(heading.group(1).upper())
            if heading.group(2):
                page.paragraph_line(heading.group(2))
        elif option:
            page.option(*option.groups())
        elif page.mode == "option" and line.startswith("    "):
            page.lines += [".br", text(line.strip())]  # the help's lines stay lines
        elif line.startswith(" "):
            page.verbatim(line)
        else:
            page.paragraph_line(line)
    page.set_mode(None)
    return "\n".join(page.lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--program", required=True, help="the program to ask for --help")
    ap.add_argument("--name", required=True, help="the command's name")
    ap.add_argument("--summary", required=True, help="what it is, for the NAME section")
    ap.add_argument("--version", required=True, help='the footer, e.g. "nimbrel 0.1.0"')
    ap.add_argument("--date", required=True, help="the page's date, YYYY-MM-DD")
    ap.add_argument("--output", required=True)
    args = ap.parse_args()
    help_text = subprocess.run([args.program, "--help"], check=True, capture_output=True,
                               text=True, timeout=30).stdout
    try:
        page = convert(help_text, args.name, args.summary, args.version, args.date)
    except ValueError as e:
        print("help_to_man: %s: %s" % (args.program, e), file=sys.stderr)
        return 1
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
